#include "email/HtmlHelp.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(HtmlHelpTest, MetaCharsetIsReadFromTheContentTypeDeclaration) {
    EXPECT_EQ(HtmlHelp::getMetaCharset("<html><head><META HTTP-EQUIV=\"Content-Type\" "
                                       "CONTENT=\"text/html; charset=iso-8859-1\"></head>"),
              "iso-8859-1");
    EXPECT_EQ(HtmlHelp::getMetaCharset("<meta http-equiv=content-type "
                                       "content='text/html;CHARSET=utf-8'>"),
              "utf-8");
    EXPECT_EQ(HtmlHelp::getMetaCharset("<meta http-equiv=\"content-type\" content=\"text/html\" "
                                       "charset=\"koi8-r\">"),
              "koi8-r");
    EXPECT_EQ(HtmlHelp::getMetaCharset("<html><body>no meta</body></html>"), "");
    // Other META tags are passed over; a '>' inside quotes does not end the tag.
    EXPECT_EQ(HtmlHelp::getMetaCharset("<meta name=\"a>b\" content=\"charset=x\">"
                                       "<meta http-equiv=\"Content-Type\" "
                                       "content=\"text/html; charset=windows-1252\">"),
              "windows-1252");
}

TEST(HtmlHelpTest, RemovingTakesOutOnlyCharsetDeclarations) {
    std::string html = "<head><meta name=\"x\" content=\"y\">"
                       "<META http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
                       "<title>t</title></head>";
    HtmlHelp::removeMetaCharset(html);
    EXPECT_EQ(html, "<head><meta name=\"x\" content=\"y\"><title>t</title></head>");
    std::string none = "<p>nothing</p>";
    HtmlHelp::removeMetaCharset(none);
    EXPECT_EQ(none, "<p>nothing</p>");
}

TEST(HtmlHelpTest, InsertingIntoAFragmentBuildsTheSkeleton) {
    std::string html = "Hello";
    HtmlHelp::insertMetaCharset(html, "utf-8");
    EXPECT_EQ(html, "<html><head><META http-equiv=\"Content-Type\" "
                    "content=\"text/html;charset=utf-8\"></head><body>Hello</body></html>");
}

TEST(HtmlHelpTest, SkeletonCompletesWhatIsMissing) {
    std::string withBody = "<HTML><BODY>x</BODY></HTML>";
    HtmlHelp::ensureHtmlSkeleton(withBody);
    EXPECT_EQ(withBody, "<html><head></head><body>x</BODY></HTML>");

    std::string withHead = "<html><head><title>t</title></head>x</html>";
    HtmlHelp::ensureHtmlSkeleton(withHead);
    EXPECT_EQ(withHead, "<html><head><title>t</title></head><body>x</body></html>");

    std::string complete = "<html><head></head><body>x</body></html>";
    HtmlHelp::ensureHtmlSkeleton(complete);
    EXPECT_EQ(complete, "<html><head></head><body>x</body></html>");
}

TEST(HtmlHelpTest, InsertingGoesRightAfterAnUpperCaseHead) {
    std::string html = "<HTML><HEAD><TITLE>t</TITLE></HEAD><BODY>x</BODY></HTML>";
    HtmlHelp::insertMetaCharset(html, "iso-8859-2");
    EXPECT_EQ(html, "<HTML><head><META http-equiv=\"Content-Type\" "
                    "content=\"text/html;charset=iso-8859-2\"><TITLE>t</TITLE></HEAD>"
                    "<BODY>x</BODY></HTML>");
}
