#include "email/Html.h"

#include "common/FileAccess.h"
#include "email/EmailHtml.h"
#include "support/TestDirs.h"
#include "unit/email/EmailTestSupport.h"

#include <gtest/gtest.h>

using namespace norvane;
using Strings = std::vector<std::string>;

namespace {

Strings domainsOf(std::string_view text) {
    Strings list;
    Html::linkedDomains(text, list);
    return list;
}

} // namespace

TEST(HtmlTest, HttpUrlsGiveTheirHost) {
    EXPECT_EQ(domainsOf("see http://www.example.com/path?q=1 and HTTP://Other.org, bye"),
              (Strings{"http://www.example.com", "http://Other.org"}));
    // Quoted: the user part goes, the host ends at the first path or query character.
    EXPECT_EQ(domainsOf("<a title=\"http://user:pw@host.example.net/x\">"),
              (Strings{"http://host.example.net"}));
    EXPECT_EQ(domainsOf("(http://paren.example.com) 'http://quote.example.com'"),
              (Strings{"http://paren.example.com", "http://quote.example.com"}));
    // Hosts without a dot are not hosts.
    EXPECT_EQ(domainsOf("http://localhost/ http:// mailto:nobody"), Strings{});
}

TEST(HtmlTest, HrefValuesGiveTheirHostAndRelativeNames) {
    EXPECT_EQ(domainsOf("<a href=\"http://joe@shop.example.com/cart?id=2\">x</a>"),
              (Strings{"http://shop.example.com"}));
    // A relative link to a file name with a dot counts as a host.
    EXPECT_EQ(domainsOf("<a HREF=\"page.html\">x</a>"), (Strings{"http://page.html"}));
    EXPECT_EQ(domainsOf("<a href=\"index\">x</a>"), Strings{});
}

TEST(HtmlTest, MailtoGivesTheAddress) {
    EXPECT_EQ(domainsOf("<a href=mailto:ann@example.com>Ann</a> mailto:bob@example.org?subject=x"),
              (Strings{"ann@example.com", "bob@example.org?subject=x"}));
    EXPECT_EQ(domainsOf("write to MAILTO:carl@example.com, please"), (Strings{"carl@example.com"}));
}

TEST(HtmlTest, EachEntryOnceInTheOrderFirstFound) {
    EXPECT_EQ(domainsOf("http://b.example.com http://a.example.com <a "
                        "href=\"http://b.example.com/\">b</a> http://a.example.com/2"),
              (Strings{"http://b.example.com", "http://a.example.com"}));
    Strings list{"http://a.example.com"};
    Html::linkedDomains("http://a.example.com http://c.example.com", list);
    EXPECT_EQ(list, (Strings{"http://a.example.com", "http://c.example.com"}));
}

TEST(HtmlTest, UnescapingDecodesOnlySevenBitPercentAndDecimalReferences) {
    EXPECT_EQ(Html::unescape("%41%62c"), "Abc");
    EXPECT_EQ(Html::unescape("%8A%zz%4"), "%8A%zz%4");
    // The byte after the digits is kept, whatever it is.
    EXPECT_EQ(Html::unescape("a&#46;b&#46x&amp;&#;&#0;&#300;"), "a.;b.x&amp;&#;&#0;&#300;");
    // Escaped hosts are found unescaped.
    EXPECT_EQ(domainsOf("http://www%2Eexample&#46com/"), (Strings{"http://www.example.com"}));
    // Only inside tags.
    EXPECT_EQ(Html::unescapeTags("%41<a href=\"%41\">%41</a>"), "%41<a href=\"A\">%41</a>");
    EXPECT_EQ(Html::unescapeTags("x<%42"), "x<B");
}

class EmailHtmlTest : public test::DeterministicEmailTest {};

TEST_F(EmailHtmlTest, LinkedDomainsOfPlainAndHtmlBodies) {
    Email2 e;
    e.setBody("Visit http://plain.example.com or mailto:desk@example.com", false);
    e.addAlternative(Email2::makeHtmlAlternativePart(
        "<a href=\"http://html.example.com/x\">x</a> <a href=\"http&#58;//plain.example.com\">",
        e.charset()));
    Strings list;
    email_html::linkedDomainsOf(e, list);
    EXPECT_EQ(list,
              (Strings{"http://plain.example.com", "desk@example.com", "http://html.example.com"}));

    Email2 none;
    none.setBody("No links at all. Just text.", false);
    Strings empty;
    email_html::linkedDomainsOf(none, empty);
    EXPECT_TRUE(empty.empty());
}

TEST_F(EmailHtmlTest, MhtOfPlainTextIsEscapedHtmlWithoutAttachments) {
    Email2 e;
    e.setHeaderField("subject", "Mht");
    e.setBody("a < b & c > d\n<script>alert(1)</script>\n", false);
    LogNull log;
    const std::string mime = email_html::tempMhtCopy(e, log);
    auto back = Email2::fromMime(mime, log);
    EXPECT_TRUE(sb::equalsNoCase(back->contentType(), "text/html"));
    EXPECT_EQ(back->getBody().toString(),
              "<html><head/><body><pre>a &lt; b &amp; c &gt; d\r\n&lt;script&gt;alert(1)&lt;/"
              "script&gt;\r\n</pre></body></html>");
    EXPECT_EQ(mime.find("<script>"), std::string::npos);
    EXPECT_EQ(e.getBody().toString(), "a < b & c > d\n<script>alert(1)</script>\n");

    // Attachments are left out; the text they were attached to stays as it was.
    (void)e.addDataAttachment("big.bin", DataBuffer(std::string_view("0123456789")), "");
    auto without = Email2::fromMime(email_html::tempMhtCopy(e, log), log);
    EXPECT_EQ(without->numAttachments(), 0);
    EXPECT_EQ(without->getBody().toString(), "a < b & c > d\n<script>alert(1)</script>\n");
    EXPECT_EQ(e.numAttachments(), 1);
}

TEST_F(EmailHtmlTest, MhtOfAlternativeWithoutHtmlGainsAnHtmlAlternative) {
    Email2 e;
    e.setBody("x", false);
    (void)e.makeAlternative();
    ASSERT_NE(e.findAlternativeNode(), nullptr);
    e.plainTextNode()->setBodyBytes(DataBuffer(std::string_view("1 < 2")));
    LogNull log;
    auto back = Email2::fromMime(email_html::tempMhtCopy(e, log), log);
    ASSERT_NE(back->htmlNode(), nullptr);
    EXPECT_NE(back->htmlNode()->body().toString().find("<pre>1 &lt; 2</pre>"), std::string::npos);
    ASSERT_NE(back->plainTextNode(), nullptr);
    EXPECT_EQ(back->plainTextNode()->body().toString(), "1 < 2");

    // An HTML body is left as it is.
    Email2 html;
    html.setHtmlBody("<p>kept</p>");
    auto same = Email2::fromMime(email_html::tempMhtCopy(html, log), log);
    EXPECT_EQ(same->getBody().toString(), html.getBody().toString());
}

TEST_F(EmailHtmlTest, TempMhtFileIsWrittenUnderTheGivenOrAFreshName) {
    Email2 e;
    e.setBody("text", false);
    LogNull log;
    const std::string expected = email_html::tempMhtCopy(e, log);
    test::TempDir dir;
    const std::string given = dir.file("view.mht");
    EXPECT_EQ(email_html::writeTempMht(e, "  " + given + " ", log), given);
    EXPECT_EQ(test::readFile(given), expected);

    const std::string fresh = email_html::writeTempMht(e, "", log);
    ASSERT_FALSE(fresh.empty());
    EXPECT_TRUE(fresh.starts_with(file::tempDirectory() + "/tmpMht")) << fresh;
    EXPECT_TRUE(fresh.ends_with(".mht")) << fresh;
    EXPECT_EQ(test::readFile(fresh), expected);
    EXPECT_TRUE(file::deleteFile(fresh, nullptr));

    EXPECT_EQ(email_html::writeTempMht(e, dir.file("missing/dir/x.mht"), log), "");
}
