#include "mime/xml/XmlReader.h"
#include "common/Logger.h"

#include <gtest/gtest.h>

#include <string>

using namespace norvane;

namespace {

std::string logText(const Logger& log) {
    StringBuffer sb;
    log.getLastErrorText(sb);
    return sb.str();
}

// The e-mail XML form as the writer produces it (one part, two header fields).
constexpr std::string_view kMimeXml = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                                      "<mime_message>\n"
                                      "<header>\n"
                                      "<subject>=?8bit?Q?caf=C3=A9?=</subject>\n"
                                      "<content-type charset=\"utf-8\" format=\"flowed\">\n"
                                      "text/plain</content-type>\n"
                                      "</header>\n"
                                      "<body>\n"
                                      "<![CDATA[line one\r\nline <two> & three]]>\n"
                                      "</body>\n"
                                      "</mime_message>\n";

} // namespace

TEST(XmlReaderTest, ReadsTheMimeMessageForm) {
    Logger log;
    auto root = parseXml(kMimeXml, log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->tag(), "mime_message");
    EXPECT_EQ(root->numChildren(), 2u);
    TreeNode* header = root->getChildWithTag("header");
    ASSERT_TRUE(header);
    ASSERT_EQ(header->numChildren(), 2u);
    EXPECT_EQ(header->getChild(0)->content(), "=?8bit?Q?caf=C3=A9?=");
    TreeNode* ct = header->getChild(1);
    EXPECT_EQ(ct->tag(), "content-type");
    EXPECT_EQ(ct->content(), "text/plain");
    ASSERT_EQ(ct->attributes().numAttributes(), 2u);
    EXPECT_EQ(ct->attributes().nameAt(0), "charset");
    EXPECT_EQ(ct->attributes().valueAt(0), "utf-8");
    EXPECT_EQ(ct->attributes().nameAt(1), "format");
    EXPECT_EQ(ct->attributes().valueAt(1), "flowed");
    TreeNode* body = root->getChildWithTag("body");
    ASSERT_TRUE(body);
    EXPECT_TRUE(body->hasCdata());
    EXPECT_EQ(body->content(), "line one\r\nline <two> & three");
    std::string version;
    EXPECT_TRUE(root->treeInfo().declaration().getAttribute("version", version));
    EXPECT_EQ(version, "1.0");
    EXPECT_EQ(root->treeInfo().root(), root.get());
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST(XmlReaderTest, SameResultWhetherFedWithCrLfOrLfAndWhateverTheIndentation) {
    // Line ends between tags change; the CR LF inside the CDATA section stays.
    std::string crlf;
    for (size_t i = 0; i < kMimeXml.size(); ++i) {
        if (kMimeXml[i] == '\n' && kMimeXml[i - 1] != '\r')
            crlf += "\r\n\t  ";
        else
            crlf += kMimeXml[i];
    }
    LogNull log;
    auto a = parseXml(kMimeXml, log, true);
    auto b = parseXml(crlf, log, true);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->getChildWithTag("header")->getChild(1)->content(), "text/plain");
    EXPECT_EQ(a->getChildWithTag("body")->content(), b->getChildWithTag("body")->content());
}

TEST(XmlReaderTest, DecodesOnlyTheFiveEntitiesInTextAndAttributes) {
    LogNull log;
    auto root = parseXml("<a x='&lt;&amp;lt;&#65;&quot;'>&lt;b&gt; &amp;amp; &apos;&quot; &#x41; "
                         "&nbsp; &unknown; & alone</a>",
                         log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->content(), "<b> &amp; '\" &#x41; &nbsp; &unknown; & alone");
    std::string x;
    ASSERT_TRUE(root->attributes().getAttribute("x", x));
    EXPECT_EQ(x, "<&lt;&#65;\"");
}

TEST(XmlReaderTest, TextPiecesAroundChildrenAreJoinedWithOneSpace) {
    LogNull log;
    auto trimmed = parseXml("<a>  one  <b/>\n two\t<c>x</c>three</a>", log, true);
    ASSERT_TRUE(trimmed);
    EXPECT_EQ(trimmed->content(), "one two three");
    EXPECT_EQ(trimmed->numChildren(), 2u);

    auto kept = parseXml("<a>  one  <b/>\n two\t<c>x</c>\n</a>", log, false);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->content(), "  one   \n two\t");
    EXPECT_FALSE(kept->getChild(0)->hasContent());
}

TEST(XmlReaderTest, CdataIsKeptByteForByteAndAppendedWithoutSeparator) {
    LogNull log;
    auto root = parseXml("<a>x<![CDATA[ <not a tag> &amp; ]]]]><![CDATA[>]]></a>", log, true);
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->hasCdata());
    EXPECT_EQ(root->content(), "x <not a tag> &amp; ]]>");
}

TEST(XmlReaderTest, EndTagOfAnotherNameClosesTheOpenElementWithoutError) {
    Logger log;
    auto root = parseXml("<a><b>text</c><d/></a>", log, true);
    ASSERT_TRUE(root);
    ASSERT_EQ(root->numChildren(), 2u);
    EXPECT_EQ(root->getChild(0)->tag(), "b");
    EXPECT_EQ(root->getChild(0)->content(), "text");
    EXPECT_EQ(root->getChild(1)->tag(), "d");
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST(XmlReaderTest, UnclosedCommentIsLogged) {
    Logger log;
    auto root = parseXml("<a>x<!-- never closed <b/>", log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->numChildren(), 0u);
    EXPECT_EQ(root->content(), "x");
    EXPECT_NE(logText(log).find("Unclosed comment"), std::string::npos);
}

TEST(XmlReaderTest, CommentsAndDoctypeAreSkipped) {
    Logger log;
    auto root = parseXml("<!DOCTYPE a [<!ENTITY e \"boom\"> <!ELEMENT a ANY>]><!-- c --><a>&e;<!-- "
                         "<b/> --></a>",
                         log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->tag(), "a");
    EXPECT_EQ(root->content(), "&e;");
    EXPECT_EQ(root->numChildren(), 0u);
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST(XmlReaderTest, UnbalancedDoctypeIsLogged) {
    Logger log;
    auto root = parseXml("<!DOCTYPE a [<!ENTITY e \"x\">", log, true);
    EXPECT_FALSE(root);
    EXPECT_NE(logText(log).find("Failed to parse DTD"), std::string::npos);
}

TEST(XmlReaderTest, LessThanInsideAClosingTagIsLoggedWithTheOpenTag) {
    Logger log;
    auto root = parseXml("<a><b>x</b <c>y</c></a>", log, true);
    ASSERT_TRUE(root);
    std::string text = logText(log);
    EXPECT_NE(text.find("Error in closing tag"), std::string::npos);
    EXPECT_NE(text.find("error_tag: b"), std::string::npos);
    // b was closed; c became a child of a.
    ASSERT_EQ(root->numChildren(), 2u);
    EXPECT_EQ(root->getChild(1)->tag(), "c");
}

TEST(XmlReaderTest, AttributeForms) {
    LogNull log;
    auto root = parseXml("<a one=\"1 'q'\" two='2 \"q\"' three=3 four\tfive = \"5\"/>", log, true);
    ASSERT_TRUE(root);
    const AttributeSet& at = root->attributes();
    ASSERT_EQ(at.numAttributes(), 5u);
    EXPECT_TRUE(at.hasAttributeWithValue("one", "1 'q'"));
    EXPECT_TRUE(at.hasAttributeWithValue("two", "2 \"q\""));
    EXPECT_TRUE(at.hasAttributeWithValue("three", "3"));
    EXPECT_TRUE(at.hasAttributeWithValue("four", ""));
    EXPECT_TRUE(at.hasAttributeWithValue("five", "5"));
    EXPECT_FALSE(at.hasAttributeWithValue("five", "5 "));
    EXPECT_FALSE(at.hasAttribute("Five"));

    auto unquoted = parseXml("<a><b x=1/><c/></a>", log, true);
    ASSERT_TRUE(unquoted);
    ASSERT_EQ(unquoted->numChildren(), 2u);
    EXPECT_TRUE(unquoted->getChild(0)->attributes().hasAttributeWithValue("x", "1"));
}

TEST(XmlReaderTest, LoneLessThanIsText) {
    LogNull log;
    auto root = parseXml("<a>1 < 2</a>", log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->content(), "1 < 2");
    EXPECT_EQ(root->numChildren(), 0u);
}

TEST(XmlReaderTest, ContentAfterTheRootEndsStaysInTheTree) {
    LogNull log;
    auto root = parseXml("<a>x</a><b>y</b>tail", log, true);
    ASSERT_TRUE(root);
    ASSERT_EQ(root->numChildren(), 1u);
    EXPECT_EQ(root->getChild(0)->content(), "y");
    EXPECT_EQ(root->content(), "x tail");
}

TEST(XmlReaderTest, NoElementGivesNoRoot) {
    LogNull log;
    EXPECT_FALSE(parseXml("", log, true));
    EXPECT_FALSE(parseXml("just text", log, true));
    EXPECT_FALSE(parseXml("<?xml version='1.0'?><!-- only a comment -->", log, true));
}

TEST(XmlReaderTest, TruncatedInputNeverReadsPastTheEnd) {
    // Every prefix of a document parses without fault (ASan would catch an overrun).
    LogNull log;
    std::string doc(kMimeXml);
    doc += "<x a='1' b=\"2\" c=3/><!DOCTYPE z [<!ENTITY q 'r'>]><?pi x?>";
    for (size_t n = 0; n <= doc.size(); ++n) {
        auto root = parseXml(std::string_view(doc).substr(0, n), log, n % 2 == 0);
        if (n > std::string_view("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<m").size()) {
            EXPECT_TRUE(root) << n;
        }
    }
}

TEST(XmlReaderTest, NestingDeeperThanTheLimitIsRefused) {
    XmlReaderLimits limits;
    limits.maxDepth = 50;
    std::string ok, deep;
    for (int i = 0; i < 50; ++i)
        ok += "<e>";
    for (int i = 0; i < 51; ++i)
        deep += "<e>";
    Logger log;
    auto root = parseXml(ok, log, true, limits);
    ASSERT_TRUE(root);
    EXPECT_EQ(log.entryCount(), 0u);
    EXPECT_FALSE(parseXml(deep, log, true, limits));
    EXPECT_NE(logText(log).find("nested too deeply"), std::string::npos);
}

TEST(XmlReaderTest, DefaultDepthLimitStopsAMillionOpenTagsQuickly) {
    std::string deep;
    for (int i = 0; i < 1000000; ++i)
        deep += "<a>";
    LogNull log;
    EXPECT_FALSE(parseXml(deep, log, true));
    std::string wide = "<r>";
    for (int i = 0; i < 100000; ++i)
        wide += "<a/>";
    auto root = parseXml(wide, log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(root->numChildren(), 100000u);
}

TEST(XmlReaderTest, DecodeXmlEntitiesDecodesOnceInOnePass) {
    EXPECT_EQ(decodeXmlEntities("&amp;lt; &lt;&gt;&quot;&apos;&amp;"), "&lt; <>\"'&");
    EXPECT_EQ(decodeXmlEntities("&am &"), "&am &");
    EXPECT_EQ(decodeXmlEntities(""), "");
}
