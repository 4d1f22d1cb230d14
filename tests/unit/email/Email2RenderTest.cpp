#include "email/Email2.h"

#include "EmailTestSupport.h"
#include "charset/ContentCoding.h"

using namespace norvane;
using namespace norvane::test;

namespace {

std::string qp(std::string_view s) {
    std::string out;
    ContentCoding::qpEncode(s, out);
    return out;
}

} // namespace

class Email2RenderTest : public DeterministicEmailTest {};

TEST_F(Email2RenderTest, AlternativeEmailRendersBothBodiesBetweenBoundaries) {
    Email2 e;
    e.setBody("plain", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>x</b>", Charset()));
    const std::string b = testBoundary(2, "_.ALT");
    const std::string html = "<html><head><META http-equiv=\"Content-Type\" "
                             "content=\"text/html;charset=utf-8\"></head><body><b>x</b></body>"
                             "</html>";
    EXPECT_EQ(render(e), defaultHeaderStart(1) +
                             "X-Mailer: Norvane Mail 0.1 (Linux)\r\n"
                             "X-Priority: 3 (Normal)\r\n"
                             "Content-Type: multipart/alternative;\r\n\tboundary=\"" +
                             b +
                             "\"\r\n\r\n"
                             "This is a multi-part message in MIME format.\r\n\r\n"
                             "--" +
                             b +
                             "\r\n"
                             "Content-Type: text/plain\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                             "plain\r\n"
                             "--" +
                             b +
                             "\r\n"
                             "Content-Type: text/html\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                             qp(html) + "\r\n--" + b + "--\r\n");
}

TEST_F(Email2RenderTest, SkipPrefixLeavesOutControlFieldsWhateverTheirCase) {
    Email2 e;
    e.setHeaderField("NVX-ReturnReceipt", "YES");
    e.setHeaderField("nvx-FileDistList", "list.txt");
    e.setHeaderField("X-Keep", "1");
    const std::string all = render(e);
    const std::string sent = render(e, "NVX-");
    EXPECT_NE(all.find("NVX-ReturnReceipt: YES\r\n"), std::string::npos);
    EXPECT_NE(all.find("nvx-FileDistList: list.txt\r\n"), std::string::npos);
    EXPECT_EQ(sent.find("ReturnReceipt"), std::string::npos);
    EXPECT_EQ(sent.find("FileDistList"), std::string::npos);
    EXPECT_NE(sent.find("X-Keep: 1\r\n"), std::string::npos);
}

TEST_F(Email2RenderTest, HeaderCharsetComesFromTheHtmlPartWhenTheTopHasNone) {
    Email2 e;
    e.setBody("plain", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>x</b>", charsetNamed("iso-8859-2")));
    e.setHeaderField("Subject", "\xC5\x81\xC3\xB3\x64\xC5\xBA"); // Łódź
    ASSERT_EQ(e.charset().getCodePage(), 0);
    const std::string text = render(e);
    EXPECT_NE(text.find("\r\nSubject: =?iso-8859-2?Q?=A3=F3d=BC?=\r\n"), std::string::npos) << text;
}

TEST_F(Email2RenderTest, OnlyTextBodiesAreConvertedToTheirCharset) {
    struct Case {
        const char* type;
        const char* charset;
        const char* encoding; // "" leaves the one the body chose
        std::string_view body, wire;
    };
    const Case cases[] = {
        // 日本 is 93FA 967B in Shift_JIS, base64.
        {"text/plain", "shift_jis", "", "\xE6\x97\xA5\xE6\x9C\xAC", "k/qWew==\r\n"},
        {"text/plain", "us-ascii", "8bit", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"text/plain", "utf-8", "8bit", "caf\xC3\xA9", "caf\xC3\xA9"},
        {"application/octet-stream", "iso-8859-1", "binary", "\xC3\xA9\xFF", "\xC3\xA9\xFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charset);
        auto p = Email2::newPart();
        p->setContentType({.type = c.type, .charset = charsetNamed(c.charset)});
        p->setCharset(charsetNamed(c.charset));
        if (*c.encoding) {
            p->setTransferEncoding(c.encoding);
            p->setBodyBytes(DataBuffer(c.body));
        } else {
            p->setBody(c.body, false);
        }
        const std::string text = render(*p);
        EXPECT_EQ(text.substr(text.find("\r\n\r\n") + 4), c.wire);
    }
}

TEST_F(Email2RenderTest, AttachmentWithACharsetEncodesItsHeaderInIt) {
    Email2 e;
    auto att = Email2::makeAttachmentPart("\xD0\xB4.txt", DataBuffer(std::string_view("x")), "");
    att->setCharset(charsetNamed("koi8-r"));
    (void)e.addAttachmentPart(std::move(att));
    const std::string text = render(e);
    EXPECT_NE(text.find("name=\"=?koi8-r?"), std::string::npos) << text;
}

TEST_F(Email2RenderTest, NestedMultipartsEachWriteTheirPreamble) {
    Email2 e;
    e.setBody("plain", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>x</b>", Charset()));
    (void)e.addDataAttachment("a.bin", DataBuffer(std::string_view("a")), "");
    const std::string text = render(e);
    EXPECT_EQ(countOf(text, "This is a multi-part"), 2u);
    EXPECT_TRUE(text.ends_with("--" + e.boundary() + "--\r\n"));
}
