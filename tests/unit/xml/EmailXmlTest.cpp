// The XML form of MIME trees and e-mails: the exact text written, and what reading it back
// gives.

#include "store/EmailXml.h"

#include "charset/ContentCoding.h"
#include "common/Logger.h"
#include "email/Email2.h"
#include "store/MailBundle.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

#include <string>

using namespace norvane;
using norvane::test::logText;

namespace {

std::string xmlOf(std::string_view mime) {
    LogNull log;
    MimeMessage2 tree;
    tree.loadFromText(mime, log);
    std::string out;
    EmailXml::mimeToXml(tree, out);
    return out;
}

std::unique_ptr<MimeMessage2> readBack(std::string_view xml) {
    LogNull log;
    return EmailXml::mimeFromXml(xml, "mime_message", log);
}

// One header field of a MIME tree or an e-mail; "<none>" when there is no such field.
template <class Message>
std::string field(const Message& m, std::string_view name) {
    StringBuffer v;
    return m.getHeaderField(name, v) ? v.str() : "<none>";
}

} // namespace

TEST(EmailXmlTest, TextBodyWithLineBreaksIsWrittenInCdataAndParametersBecomeAttributes) {
    const std::string xml = xmlOf("Subject: Hello & <you>\r\n"
                                  "Content-Type: text/plain; charset=us-ascii; format=flowed\r\n"
                                  "Content-Transfer-Encoding: 7bit\r\n"
                                  "\r\n"
                                  "line one\r\nline two\r\n");
    EXPECT_EQ(xml, "<mime_message>\n"
                   "<header>\n"
                   "<subject>Hello &amp; &lt;you&gt;</subject>\n"
                   "<content-type charset=\"us-ascii\" format=\"flowed\">\n"
                   "text/plain\n"
                   "</content-type>\n"
                   "<content-transfer-encoding>7bit</content-transfer-encoding>\n"
                   "</header>\n"
                   "<body>\n"
                   "<![CDATA[line one\r\nline two\r\n]]>\n"
                   "</body>\n"
                   "</mime_message>\n");

    auto back = readBack(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "subject"), "Hello & <you>");
    EXPECT_EQ(back->contentType(), "text/plain");
    EXPECT_EQ(field(*back, "content-type"), "text/plain; charset=\"us-ascii\"; format=\"flowed\"");
    EXPECT_EQ(back->body().view(), "line one\r\nline two\r\n");
    LogNull log;
    auto email = EmailXml::emailFromXml(xml, log);
    ASSERT_TRUE(email);
    EXPECT_TRUE(email->formatFlowed());
    EXPECT_EQ(email->charset().getCodePage(), 20127);
}

TEST(EmailXmlTest, BareOrCdataBodyDependsOnWhatTheTextHolds) {
    const std::string head = "Content-Type: text/plain\r\n\r\n";
    EXPECT_NE(xmlOf(head + "one line only").find("<body>\none line only\n</body>"),
              std::string::npos);
    EXPECT_NE(xmlOf(head + "a < b").find("<![CDATA[a < b]]>"), std::string::npos);
    EXPECT_NE(xmlOf(head + "a & b").find("<![CDATA[a & b]]>"), std::string::npos);
    EXPECT_NE(xmlOf(head + "tab\there").find("<![CDATA[tab\there]]>"), std::string::npos);
    // Bare text is trimmed by the reader: white space at either end needs CDATA to survive.
    const std::string spaced = xmlOf(head + "  indented");
    EXPECT_NE(spaced.find("<![CDATA[  indented]]>"), std::string::npos);
    auto back = readBack(spaced);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->body().view(), "  indented");
}

TEST(EmailXmlTest, BodyHoldingCdataEndIsWrittenAsBase64AndThePartSaysSo) {
    const std::string body = "before ]]> after\r\n";
    const std::string xml = xmlOf("Content-Type: text/plain\r\n"
                                  "Content-Transfer-Encoding: 7bit\r\n"
                                  "\r\n" +
                                  body);
    std::string b64;
    ContentCoding::base64EncodeLines(body, b64);
    EXPECT_NE(xml.find("<content-transfer-encoding>base64</content-transfer-encoding>"),
              std::string::npos);
    EXPECT_EQ(xml.find("7bit"), std::string::npos);
    EXPECT_NE(xml.find("<![CDATA[" + b64 + "]]>"), std::string::npos);
    auto back = readBack(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->transferEncoding(), "base64");
    EXPECT_EQ(back->body().view(), body);
}

TEST(EmailXmlTest, EightBitHeaderTextIsOneEightBitWordAndReadsBackToTheSameBytes) {
    // A Received field is written raw, whatever its bytes.
    const std::string text = "from h\xC3\xA9te by m\xC3\xBC";
    const std::string xml = xmlOf("Received: " + text + "\r\nContent-Type: text/plain\r\n\r\nx");
    std::string word;
    ContentCoding::encodeWordQ(text, "8bit", word);
    EXPECT_EQ(word.rfind("=?8bit?Q?", 0), 0u);
    EXPECT_NE(xml.find("<received>" + word + "</received>\n"), std::string::npos);
    auto back = readBack(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->header().findField("received")->value(), text);
}

TEST(EmailXmlTest, AddressFieldsBecomeAddressElementsAndReadBackAsQuotedNames) {
    const std::string xml = xmlOf("From: \"Ann Lee\" <ann@example.com>\r\n"
                                  "To: \"Bob <B>\" <bob@example.com>, carl@example.com\r\n"
                                  "Message-ID: <id@host>\r\n"
                                  "Content-Type: text/plain\r\n\r\nx");
    EXPECT_NE(xml.find("<from>\n<address>\n\t<addr>ann@example.com</addr>\n\t<name>Ann "
                       "Lee</name>\n</address>\n</from>\n"),
              std::string::npos);
    EXPECT_NE(xml.find("<to>\n<address>\n\t<addr>bob@example.com</addr>\n\t<name>Bob "
                       "&lt;B&gt;</name>\n</address><address>\n\t<addr>carl@example.com</addr>\n"
                       "\t<name/>\n</address>\n</to>\n"),
              std::string::npos);
    EXPECT_NE(xml.find("<message-id>\n&lt;id@host&gt;\n</message-id>\n"), std::string::npos);

    LogNull log;
    auto root = parseXml(xml, log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(EmailXml::headerTextOf(*root->getChildWithTag("header")),
              "from: \"Ann Lee\" <ann@example.com>\n"
              "to: \"Bob <B>\" <bob@example.com>,\n\t<carl@example.com>\n"
              "message-id: <id@host>\n"
              "content-type: text/plain\n");
}

TEST(EmailXmlTest, ReadingRebuildsFieldsFromAttributesAndSkipsEmptyOnes) {
    LogNull log;
    auto root = parseXml("<header><content-type charset='utf-8' x='' ='y' name='a &quot;b&quot;'>"
                         "TEXT/plain</content-type><x-a>  v  </x-a><cc><description>undisclosed"
                         "</description></cc><to><address><addr>a@b.c</addr></address></to>"
                         "</header>",
                         log, true);
    ASSERT_TRUE(root);
    EXPECT_EQ(EmailXml::headerTextOf(*root),
              "content-type: TEXT/plain; charset=\"utf-8\"; name=\"a \"b\"\"\n"
              "x-a: v\n"
              "cc: undisclosed\n"
              "to: \n");
}

TEST(EmailXmlTest, ValuesThatAreNoParameterListStayWhole) {
    // Cut at ';' these would come back changed: "Hello; how; are; you", a="b" quoted.
    const std::string xml = xmlOf("Subject: Hello; how are you\r\n"
                                  "DKIM-Signature: v=1; a=rsa-sha256; d=example.com\r\n"
                                  "Comments: one; two\r\n"
                                  "Content-Type: text/plain\r\n\r\nx");
    EXPECT_NE(xml.find("<subject>Hello; how are you</subject>"), std::string::npos);
    EXPECT_NE(xml.find("<dkim-signature>v=1; a=rsa-sha256; d=example.com</dkim-signature>"),
              std::string::npos);
    // Where cutting changes nothing it is done as written.
    EXPECT_NE(xml.find("<comments>one; two</comments>"), std::string::npos);
    auto back = readBack(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "subject"), "Hello; how are you");
    EXPECT_EQ(field(*back, "dkim-signature"), "v=1; a=rsa-sha256; d=example.com");
}

TEST(EmailXmlTest, ParameterFieldsKeepQuotedSeparatorsAndEscapeAttributeValues) {
    const std::string xml = xmlOf("Content-Type: application/pdf; name=\"a;b 'c' <d>.pdf\"\r\n"
                                  "Content-Disposition: attachment; filename=\"x&y.pdf\"\r\n"
                                  "Content-Transfer-Encoding: base64\r\n\r\nAAAA\r\n");
    EXPECT_NE(xml.find("<content-type name=\"a;b &apos;c&apos; &lt;d&gt;.pdf\">\n"
                       "application/pdf\n</content-type>\n"),
              std::string::npos);
    EXPECT_NE(xml.find("<content-disposition filename=\"x&amp;y.pdf\">attachment"
                       "</content-disposition>\n"),
              std::string::npos);
    auto back = readBack(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name(), "a;b 'c' <d>.pdf");
    EXPECT_EQ(back->filename(), "x&y.pdf");
    EXPECT_EQ(back->body().view(), std::string(3, '\0'));
}

TEST(EmailXmlTest, AddressFieldWithoutAddressKeepsItsText) {
    const std::string xml = xmlOf("To: undisclosed-recipients:;\r\n"
                                  "From: nobody at all\r\n"
                                  "Content-Type: text/plain\r\n\r\nx");
    EXPECT_NE(xml.find("<to>\n<description>undisclosed-recipients:;</description>\n</to>"),
              std::string::npos);
    EXPECT_NE(xml.find("<from>\n<description>nobody at all</description>\n</from>"),
              std::string::npos);
    auto back = readBack(xml);
    ASSERT_TRUE(back);
    EXPECT_EQ(field(*back, "to"), "undisclosed-recipients:;");
    EXPECT_EQ(field(*back, "from"), "nobody at all");
}

TEST(EmailXmlTest, MultipartWritesSubpartsAndNodesWithoutFieldsWriteNothing) {
    const std::string mime = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                             "--b\r\nContent-Type: text/plain\r\n\r\none\r\n"
                             "--b\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\nAQID\r\n--b--\r\n";
    const std::string xml = xmlOf(mime);
    EXPECT_EQ(xml, "<mime_message>\n<header>\n"
                   "<content-type boundary=\"b\">\nmultipart/mixed\n</content-type>\n"
                   "</header>\n<body>\n"
                   "<subpart>\n<mime_message>\n<header>\n"
                   "<content-type>\ntext/plain\n</content-type>\n</header>\n<body>\none\n"
                   "</body>\n</mime_message></subpart>\n"
                   "<subpart>\n<mime_message>\n<header>\n"
                   "<content-type>\napplication/octet-stream\n</content-type>\n"
                   "<content-transfer-encoding>base64</content-transfer-encoding>\n"
                   "</header>\n<body>\n<![CDATA[AQID\r\n]]>\n</body>\n</mime_message></subpart>\n"
                   "\n</body>\n</mime_message>\n");
    auto back = readBack(xml);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->partCount(), 2);
    EXPECT_EQ(back->partAt(0)->body().view(), "one");
    EXPECT_EQ(back->partAt(1)->body().view(), "\x01\x02\x03");

    MimeMessage2 empty;
    std::string out = "x";
    EmailXml::mimeToXml(empty, out);
    EXPECT_EQ(out, "x");
}

TEST(EmailXmlTest, ElementWithoutHeaderOrBodyYieldsNothing) {
    for (const char* xml : {"<mime_message><body>x</body></mime_message>",
                            "<mime_message><header><subject>s</subject></header></mime_message>",
                            "<other/>", "no xml here"}) {
        Logger log;
        EXPECT_FALSE(EmailXml::emailFromXml(xml, log)) << xml;
        EXPECT_FALSE(logText(log).empty()) << xml;
    }
}

TEST(EmailXmlTest, FindsTheMessageAsRootOrFirstDescendantAndListsWithoutNesting) {
    const std::string one = "<mime_message><header><subject>S1</subject></header><body>b1</body>"
                            "</mime_message>";
    const std::string two = "<mime_message><header><subject>S2</subject></header><body><subpart>"
                            "<mime_message><header><subject>inner</subject></header><body>i"
                            "</body></mime_message></subpart></body></mime_message>";
    auto root = readBack(one);
    ASSERT_TRUE(root);
    EXPECT_EQ(field(*root, "subject"), "S1");
    auto nested = readBack("<a><b>" + two + "</b>" + one + "</a>");
    ASSERT_TRUE(nested);
    EXPECT_EQ(field(*nested, "subject"), "S2");

    LogNull log;
    ExtPtrArray<MimeMessage2> list;
    ASSERT_TRUE(
        EmailXml::mimeListFromXml("<email_bundle>" + two + one + "</email_bundle>", list, log));
    ASSERT_EQ(list.getSize(), 2u);
    EXPECT_EQ(field(*list.elementAt(0), "subject"), "S2");
    EXPECT_EQ(list.elementAt(0)->partCount(), 1);
    EXPECT_EQ(field(*list.elementAt(1), "subject"), "S1");
    EXPECT_FALSE(EmailXml::mimeListFromXml("", list, log));
}

TEST(EmailXmlTest, EmailRoundTripKeepsBccAsAListWithoutAHeaderField) {
    Email2 e;
    ASSERT_TRUE(e.setFrom("Ann <ann@example.com>"));
    ASSERT_TRUE(e.addTo("Bob", "bob@example.com"));
    ASSERT_TRUE(e.addBcc("Hidden One", "h1@example.com"));
    ASSERT_TRUE(e.addBcc("", "h2@example.com"));
    e.setHeaderField("Subject", "caf\xC3\xA9 au lait");
    e.setBody("Body text\r\n", false);

    LogNull log;
    std::string xml;
    EmailXml::emailToXml(e, xml, log);
    EXPECT_NE(xml.find("<bcc>"), std::string::npos);
    auto back = EmailXml::emailFromXml(xml, log);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->numRecipients(RecipientKind::Bcc), 2);
    EXPECT_EQ(back->recipient(RecipientKind::Bcc, 0)->getAddress(), "h1@example.com");
    EXPECT_EQ(back->recipient(RecipientKind::Bcc, 0)->getName(), "Hidden One");
    EXPECT_EQ(back->recipient(RecipientKind::Bcc, 1)->getAddress(), "h2@example.com");
    EXPECT_EQ(field(*back, "Bcc"), "<none>");
    EXPECT_EQ(field(*back, "Subject"), "caf\xC3\xA9 au lait");
    EXPECT_EQ(back->getBody().view(), "Body text\r\n");
    ASSERT_TRUE(back->from());
    EXPECT_EQ(back->from()->getAddress(), "ann@example.com");
    EXPECT_EQ(back->recipient(RecipientKind::To, 0)->getName(), "Bob");
    // Element names are the lower-cased field names; that is all that changes.
    EXPECT_NE(field(*back, "content-type"), "<none>");
    EXPECT_EQ(back->header().fieldAt(0)->name(), "mime-version");
}

TEST(EmailXmlTest, NamesWithCommasInsideEncodedWordsStayOneAddress) {
    Email2 e;
    Charset cs;
    cs.setByName("windows-1251");
    e.setCharset(cs);
    const std::string name = "\xD0\x9F\xD1\x80\xD0\xB8, \xD0\xBC\xD0\xB8\xD1\x80";
    ASSERT_TRUE(e.addTo(name, "to@example.com"));
    ASSERT_TRUE(e.addTo("", "two@example.com"));
    LogNull log;
    std::string xml;
    EmailXml::emailToXml(e, xml, log);
    EXPECT_NE(xml.find("<name>=?windows-1251?Q?=CF=F0=E8=2C_=EC=E8=F0?=</name>"), std::string::npos)
        << xml;
    auto back = EmailXml::emailFromXml(xml, log);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->numRecipients(RecipientKind::To), 2);
    EXPECT_EQ(back->recipient(RecipientKind::To, 0)->getName(), name);
    EXPECT_EQ(back->recipient(RecipientKind::To, 1)->getAddress(), "two@example.com");
}

TEST(EmailXmlTest, BundleIsWrittenLastToFirstAndReadBackInDocumentOrder) {
    MailBundle bundle;
    LogNull log;
    std::string empty;
    bundle.toXml(empty, log);
    EXPECT_EQ(empty, "<email_bundle>\n</email_bundle>\n");

    for (const char* s : {"first", "second", "third"}) {
        auto e = std::make_unique<Email2>();
        e->setHeaderField("Subject", s);
        bundle.add(std::move(e));
    }
    std::string xml;
    bundle.toXml(xml, log);
    ASSERT_EQ(xml.rfind("<email_bundle>\n<mime_message>\n", 0), 0u);
    ASSERT_TRUE(xml.ends_with("</mime_message>\n</email_bundle>\n"));
    const size_t third = xml.find("<subject>third</subject>");
    const size_t second = xml.find("<subject>second</subject>");
    const size_t first = xml.find("<subject>first</subject>");
    EXPECT_LT(third, second);
    EXPECT_LT(second, first);
    EXPECT_NE(first, std::string::npos);

    MailBundle loaded;
    ASSERT_TRUE(loaded.loadXml(xml, log));
    ASSERT_EQ(loaded.count(), 3);
    EXPECT_EQ(field(*loaded.get(0), "Subject"), "third");
    EXPECT_FALSE(loaded.loadXml("not xml", log));
}

TEST(EmailXmlTest, MessageWithoutHeaderFieldsKeepsItsText) {
    // A sub-part without fields is left out, but a whole message must not vanish from its form.
    LogNull log;
    auto headerless = Email2::fromMime("\r\nplain text only", log);
    ASSERT_TRUE(headerless);
    ASSERT_EQ(headerless->header().fieldCount(), 0);
    std::string xml;
    EmailXml::emailToXml(*headerless, xml, log);
    auto back = EmailXml::emailFromXml(xml, log);
    ASSERT_TRUE(back) << xml;
    EXPECT_EQ(back->getBody().view(), "plain text only");
}

TEST(EmailXmlTest, FormNestedDeeperThanTheLimitIsRefusedVisibly) {
    auto nested = [](int levels) {
        std::string xml;
        for (int i = 0; i < levels; ++i)
            xml += "<mime_message><header><content-type boundary=\"b\">multipart/mixed"
                   "</content-type></header><body><subpart>";
        xml +=
            "<mime_message><header><subject>s</subject></header><body>deep</body></mime_message>";
        for (int i = 0; i < levels; ++i)
            xml += "</subpart></body></mime_message>";
        return xml;
    };
    Logger log;
    EXPECT_TRUE(EmailXml::emailFromXml(nested(20), log));
    EXPECT_FALSE(EmailXml::emailFromXml(nested(150), log));
    EXPECT_NE(logText(log).find("nested too deeply"), std::string::npos) << logText(log);
}
