#include "email/Email2.h"

#include "EmailTestSupport.h"
#include "charset/ContentCoding.h"
#include "common/Logger.h"

using namespace norvane;
using namespace norvane::test;

namespace {

constexpr std::string_view kCafe = "caf\xC3\xA9";
constexpr std::string_view kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
constexpr std::string_view kLodz = "\xC5\x81\xC3\xB3\x64\xC5\xBA"; // Łódź

} // namespace

class Email2BodyTest : public DeterministicEmailTest {};

TEST_F(Email2BodyTest, AccentedBodyRecordsLatin1AndQuotedPrintable) {
    Email2 e;
    e.setBody(kCafe, false);
    EXPECT_EQ(e.charset().getName(), "iso-8859-1");
    EXPECT_EQ(e.transferEncoding(), "quoted-printable");
    EXPECT_EQ(field(e, "Content-Type"), "text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(e.body().toString(), kCafe); // held as UTF-8
    EXPECT_EQ(render(e), defaultHeaderStart(1) +
                             "X-Mailer: Norvane Mail 0.1 (Linux)\r\n"
                             "X-Priority: 3 (Normal)\r\n"
                             "Content-Type: text/plain;\r\n\t charset=\"iso-8859-1\"\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n"
                             "\r\n"
                             "caf=E9");
}

TEST_F(Email2BodyTest, BodyChoosesCharsetAndEncoding) {
    struct Case {
        std::string header; // parsed first; "" for a new e-mail
        const char* preset; // charset set before the body, or ""
        std::string_view body;
        int codePage;
        const char* encoding;
    };
    const Case cases[] = {
        {"", "", kNihongo, 65001, "base64"},
        {"", "", kLodz, 28592, "quoted-printable"},
        {"", "", "plain words", 0, "quoted-printable"},
        // A charset detected in the header is tried first.
        {"Subject: =?windows-1251?Q?=CF=F0=E8=E2=E5=F2?=\r\n\r\nx", "", "\xD0\x9F\xD1\x80\xD0\xB8",
         1251, "quoted-printable"},
        // A charset already set is kept; being multi-byte, it takes base64.
        {"", "shift_jis", kNihongo, 932, "base64"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codePage);
        auto e = c.header.empty() ? std::make_unique<Email2>() : parse(c.header);
        if (*c.preset) {
            Charset cs;
            cs.setByName(c.preset);
            e->setCharset(cs);
        }
        e->setBody(c.body, false);
        EXPECT_EQ(e->charset().getCodePage(), c.codePage);
        EXPECT_EQ(e->transferEncoding(), c.encoding);
        EXPECT_EQ(e->getBody().toString(), c.body);
        if (c.codePage == 65001) {
            const std::string text = render(*e);
            EXPECT_EQ(text.substr(text.find("\r\n\r\n")), "\r\n\r\n5pel5pys6Kqe\r\n");
        }
    }
}

TEST_F(Email2BodyTest, BodyOfAMixedEmailGoesToItsFirstPart) {
    Email2 e;
    e.setBody("first", false);
    (void)e.addDataAttachment("a.bin", DataBuffer(std::string_view("\x01\x02")), "");
    ASSERT_TRUE(e.isMixed());
    e.setBody("second", false);
    EXPECT_EQ(e.partAt(0)->body().toString(), "second");
    EXPECT_EQ(e.getBody().toString(), "second");
    EXPECT_EQ(e.partAt(1)->body().toString(), "\x01\x02");
}

TEST_F(Email2BodyTest, BodyOfAnAlternativeEmailReplacesItsPlainPart) {
    Email2 e;
    e.setBody("plain", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>html</b>", e.charset()));
    ASSERT_TRUE(e.isAlternative());
    e.setBody("new plain", false);
    ASSERT_EQ(e.partCount(), 2);
    EXPECT_EQ(e.partAt(0)->body().toString(), "new plain");
    EXPECT_EQ(e.partAt(1)->contentType(), "text/html");
}

TEST_F(Email2BodyTest, GetBodySkipsAttachmentsOfANonMultipartNode) {
    Email2 e{Email2::Blank{}};
    e.setContentType({.type = "text/plain"});
    auto att = Email2::makeAttachmentPart("a.pdf", DataBuffer(std::string_view("%PDF")), "");
    auto text = Email2::newPart();
    text->setBodyBytes(DataBuffer(std::string_view("the text")));
    e.addPart(std::move(att));
    e.addPart(std::move(text));
    EXPECT_EQ(e.getBody().toString(), "the text");
}

TEST_F(Email2BodyTest, HtmlBodyGetsAMetaDeclarationAndTheHtmlType) {
    Email2 e;
    e.setHtmlBody("<p>Hi</p>");
    EXPECT_EQ(e.contentType(), "text/html");
    EXPECT_EQ(e.transferEncoding(), "quoted-printable");
    EXPECT_EQ(e.body().toString(),
              "<html><head><META http-equiv=\"Content-Type\" content=\"text/html;charset=utf-8\">"
              "</head><body><p>Hi</p></body></html>");
    EXPECT_EQ(e.htmlNode(), &e);
}

TEST_F(Email2BodyTest, HtmlBodyWithItsOwnDeclarationIsKeptAsItIs) {
    const std::string html = "<html><head><meta http-equiv='content-type' "
                             "content='text/html; charset=iso-8859-1'></head><body>x</body></html>";
    Email2 e;
    e.setHtmlBody(html);
    EXPECT_EQ(e.body().toString(), html);
}

TEST_F(Email2BodyTest, RenderedHtmlDeclaresTheCharsetItIsSentIn) {
    Email2 e;
    e.setHtmlBody(std::string("<p>") + std::string(kCafe) + "</p>");
    EXPECT_EQ(e.charset().getName(), "iso-8859-1");
    const std::string text = render(e);
    DataBuffer body;
    ContentCoding::qpDecode(text.substr(text.find("\r\n\r\n") + 4), body);
    EXPECT_NE(body.view().find("charset=iso-8859-1\">"), std::string::npos) << text;
    EXPECT_EQ(body.view().find("charset=utf-8"), std::string::npos) << text;
    EXPECT_NE(body.view().find("<p>caf\xE9</p>"), std::string::npos) << text;
}

TEST_F(Email2BodyTest, TextAndHtmlAreFoundThroughMixedAndRelatedContainers) {
    Email2 e;
    e.setBody("plain", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<i>x</i>", Charset()));
    std::string cid;
    e.addRelatedData("logo.png", DataBuffer(std::string_view("PNG")), cid);
    (void)e.addDataAttachment("r.pdf", DataBuffer(std::string_view("PDF")), "");
    ASSERT_EQ(shape(e), "multipart/mixed(multipart/related[multipart/alternative](multipart/"
                        "alternative(text/plain,text/html),image/png),application/pdf)");
    ASSERT_NE(e.plainTextNode(), nullptr);
    EXPECT_EQ(e.plainTextNode()->body().toString(), "plain");
    ASSERT_NE(e.htmlNode(), nullptr);
    EXPECT_EQ(e.htmlNode()->contentType(), "text/html");
    EXPECT_EQ(e.findAlternativeNode(), e.partAt(0)->partAt(0));
    EXPECT_EQ(e.numAlternatives(), 2);
    EXPECT_EQ(e.getBody().toString(), "plain");
}

TEST_F(Email2BodyTest, AlternativesSkipAttachmentsAndReportBadIndexes) {
    Email2 e;
    e.setBody("one", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>two</b>", Charset()));
    auto att = Email2::makeAttachmentPart("x.bin", DataBuffer(std::string_view("b")), "");
    e.findAlternativeNode()->addPart(std::move(att));
    EXPECT_EQ(e.numAlternatives(), 2);
    DataBuffer body;
    std::string type;
    Logger log;
    ASSERT_TRUE(e.getAlternativeBody(0, body, log));
    EXPECT_EQ(body.toString(), "one");
    ASSERT_TRUE(e.getAlternativeContentType(1, type, log));
    EXPECT_EQ(type, "text/html");
    EXPECT_FALSE(e.getAlternativeBody(2, body, log));
    EXPECT_FALSE(e.getAlternativeContentType(-1, type, log));
}

TEST_F(Email2BodyTest, WithoutAlternativesEveryIndexGivesTheSingleBody) {
    Email2 e;
    e.setBody("only", false);
    LogNull log;
    DataBuffer body;
    std::string type;
    EXPECT_EQ(e.numAlternatives(), 0);
    ASSERT_TRUE(e.getAlternativeBody(5, body, log));
    EXPECT_EQ(body.toString(), "only");
    ASSERT_TRUE(e.getAlternativeContentType(3, type, log));
    EXPECT_EQ(type, "text/plain");
}

TEST_F(Email2BodyTest, ResolveCharsetTakesTheHtmlPartsCharset) {
    Email2 e;
    e.setBody("plain", false);
    Charset latin2;
    latin2.setByCodePage(28592);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>x</b>", latin2));
    EXPECT_EQ(e.charset().getCodePage(), 0);
    e.resolveCharset();
    EXPECT_EQ(e.charset().getCodePage(), 28592);
}

TEST_F(Email2BodyTest, HtmlCharsetWaitsForAnHtmlPartThenRewritesItsDeclaration) {
    Email2 e;
    e.setHtmlCharset("no-such-charset");
    EXPECT_EQ(e.pendingHtmlCharset().getCodePage(), 0);
    e.setHtmlCharset("iso-8859-2");
    EXPECT_EQ(e.pendingHtmlCharset().getCodePage(), 28592);

    e.setHtmlBody("<p>x</p>");
    e.setHtmlCharset("windows-1250");
    EXPECT_EQ(e.charset().getCodePage(), 1250);
    EXPECT_NE(e.body().toString().find("charset=windows-1250\">"), std::string::npos);
    EXPECT_EQ(e.body().toString().find("charset=utf-8"), std::string::npos);
    EXPECT_EQ(e.transferEncoding(), "quoted-printable");
}

TEST_F(Email2BodyTest, HtmlCharsetOfAMultipartEmailGoesToTheHtmlPartOnly) {
    Email2 e;
    e.setBody("plain", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>x</b>", Charset()));
    e.setHtmlCharset("utf-8");
    EXPECT_EQ(e.htmlNode()->charset().getCodePage(), 65001);
    EXPECT_EQ(e.htmlNode()->transferEncoding(), "base64");
    EXPECT_FALSE(e.header().hasField("Content-Transfer-Encoding"));
}

TEST_F(Email2BodyTest, NormalizingGivesEightBitTextAnEncodingItsCharsetAllows) {
    auto e = parse("Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                   "--b\r\nContent-Type: text/plain; charset=utf-8\r\n"
                   "Content-Transfer-Encoding: 8bit\r\n\r\ncaf\xC3\xA9\r\n"
                   "--b\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
                   "Content-Disposition: attachment; filename=page.htm\r\n\r\n<b>x</b>\r\n"
                   "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nascii\r\n"
                   "--b\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: binary\r\n\r\n"
                   "\x89PNG\r\n--b--\r\n");
    ASSERT_EQ(e->partCount(), 4);
    e->normalizeTransferEncodings();
    EXPECT_EQ(e->partAt(0)->transferEncoding(), "base64");
    EXPECT_EQ(e->partAt(1)->transferEncoding(), "quoted-printable");
    EXPECT_EQ(e->partAt(2)->transferEncoding(), "");
    EXPECT_EQ(e->partAt(3)->transferEncoding(), "binary");
}

TEST_F(Email2BodyTest, AttachedMessagesAreCountedAndRebuilt) {
    auto e = parse("Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                   "--b\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
                   "--b\r\nContent-Type: message/rfc822\r\n\r\n"
                   "Subject: inner\r\nFrom: x@example.com\r\n\r\ninner body\r\n"
                   "--b--\r\n");
    EXPECT_EQ(e->numAttachedMessages(), 1);
    EXPECT_EQ(e->numAttachments(), 0);
    LogNull log;
    auto inner = e->getAttachedMessage(0, log);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(field(*inner, "Subject"), "inner");
    EXPECT_EQ(inner->getBody().toString(), "inner body");
    EXPECT_EQ(e->getAttachedMessage(1, log), nullptr);
}

TEST_F(Email2BodyTest, RelatedItemsFollowTheHtmlBody) {
    Email2 e;
    e.setHtmlBody("<img src=\"cid:x\">");
    std::string cid1, cid2;
    e.addRelatedData("a.png", DataBuffer(std::string_view("A")), cid1);
    e.addRelatedData("b.gif", DataBuffer(std::string_view("B")), cid2);
    EXPECT_EQ(e.numRelatedItems(), 2);
    EXPECT_EQ(e.relatedItem(0)->contentId(), cid1);
    EXPECT_EQ(e.relatedItem(1)->contentType(), "image/gif");
    EXPECT_EQ(e.relatedItem(2), nullptr);
    e.dropRelatedItem(5);
    EXPECT_EQ(e.numRelatedItems(), 2);
    e.dropRelatedItem(0);
    EXPECT_EQ(e.numRelatedItems(), 1);
    EXPECT_EQ(e.relatedItem(0)->contentId(), cid2);
    e.dropRelatedItems();
    EXPECT_EQ(e.numRelatedItems(), 0);
    EXPECT_EQ(e.htmlNode()->contentType(), "text/html");
}
