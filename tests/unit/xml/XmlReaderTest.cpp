#include "xml/XmlReader.h"
#include "common/Logger.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

#include <string>

using namespace norvane;
using norvane::test::logText;

namespace {

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

// The tree as text: tag[attr=value|...]{content}(children), "#" before CDATA content.
std::string shape(const TreeNode* n) {
    if (!n)
        return "<none>";
    std::string s(n->tag());
    const AttributeSet& at = n->attributes();
    for (size_t i = 0; i < at.numAttributes(); ++i)
        s.append(i ? "|" : "[").append(at.nameAt(i)).append("=").append(at.valueAt(i));
    if (at.numAttributes())
        s += "]";
    if (n->hasContent())
        s.append(n->hasCdata() ? "#{" : "{").append(n->content()).append("}");
    for (size_t i = 0; i < n->numChildren(); ++i)
        s.append(i ? "," : "(").append(shape(n->getChild(i)));
    if (n->numChildren())
        s += ")";
    return s;
}

} // namespace

TEST(XmlReaderTest, ReadsTheMimeMessageFormWithAnyLineEndsAndIndentation) {
    Logger log;
    auto root = parseXml(kMimeXml, log, true);
    const std::string tree = "mime_message(header(subject{=?8bit?Q?caf=C3=A9?=},content-type["
                             "charset=utf-8|format=flowed]{text/plain}),body#{line one\r\nline "
                             "<two> & three})";
    EXPECT_EQ(shape(root.get()), tree);
    ASSERT_TRUE(root);
    std::string version;
    EXPECT_TRUE(root->treeInfo().declaration().getAttribute("version", version));
    EXPECT_EQ(version, "1.0");
    EXPECT_EQ(root->treeInfo().root(), root.get());
    EXPECT_EQ(log.entryCount(), 0u);
    // Line ends between tags change; the CR LF inside the CDATA section stays.
    std::string crlf;
    for (size_t i = 0; i < kMimeXml.size(); ++i) {
        if (kMimeXml[i] == '\n' && kMimeXml[i - 1] != '\r')
            crlf += "\r\n\t  ";
        else
            crlf += kMimeXml[i];
    }
    EXPECT_EQ(shape(parseXml(crlf, log, true).get()), tree);
}

TEST(XmlReaderTest, DocumentsGiveTheExpectedTreeAndLog) {
    struct Case {
        std::string xml;
        bool trim;
        std::string tree;
        std::vector<std::string> logged; // none: nothing may be logged
    };
    const Case cases[] = {
        // Only the five entities are decoded, in text and attributes.
        {"<a x='&lt;&amp;lt;&#65;&quot;'>&lt;b&gt; &amp;amp; &apos;&quot; &#x41; &nbsp; "
         "&unknown; & alone</a>",
         true,
         "a[x=<&lt;&#65;\"]{<b> &amp; '\" &#x41; &nbsp; &unknown; & alone}",
         {}},
        // Text pieces around children are joined with one space, trimmed or not.
        {"<a>  one  <b/>\n two\t<c>x</c>three</a>", true, "a{one two three}(b,c{x})", {}},
        {"<a>  one  <b/>\n two\t<c>x</c>\n</a>", false, "a{  one   \n two\t}(b,c{x})", {}},
        // CDATA is kept byte for byte and appended without a separator.
        {"<a>x<![CDATA[ <not a tag> &amp; ]]]]><![CDATA[>]]></a>",
         true,
         "a#{x <not a tag> &amp; ]]>}",
         {}},
        // An end tag of another name closes the open element without error.
        {"<a><b>text</c><d/></a>", true, "a(b{text},d)", {}},
        {"<a>x<!-- never closed <b/>", true, "a{x}", {"Unclosed comment"}},
        {"<!DOCTYPE a [<!ENTITY e \"boom\"> <!ELEMENT a ANY>]><!-- c --><a>&e;<!-- <b/> --></a>",
         true,
         "a{&e;}",
         {}},
        {"<!DOCTYPE a [<!ENTITY e \"x\">", true, "<none>", {"Failed to parse DTD"}},
        // b is closed by the '<' inside its end tag; c becomes a child of a.
        {"<a><b>x</b <c>y</c></a>", true, "a(b{x},c{y})", {"Error in closing tag", "error_tag: b"}},
        {"<a one=\"1 'q'\" two='2 \"q\"' three=3 four\tfive = \"5\"/>",
         true,
         "a[one=1 'q'|two=2 \"q\"|three=3|four=|five=5]",
         {}},
        {"<a><b x=1/><c/></a>", true, "a(b[x=1],c)", {}},
        {"<a>1 < 2</a>", true, "a{1 < 2}", {}},
        // Content after the root's end stays in the tree.
        {"<a>x</a><b>y</b>tail", true, "a{x tail}(b{y})", {}},
        {"", true, "<none>", {}},
        {"just text", true, "<none>", {}},
        {"<?xml version='1.0'?><!-- only a comment -->", true, "<none>", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        Logger log;
        auto root = parseXml(c.xml, log, c.trim);
        EXPECT_EQ(shape(root.get()), c.tree);
        if (c.logged.empty()) {
            EXPECT_EQ(log.entryCount(), 0u) << logText(log);
        }
        for (const std::string& text : c.logged)
            EXPECT_NE(logText(log).find(text), std::string::npos) << logText(log);
    }
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
