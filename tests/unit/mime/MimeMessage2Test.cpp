#include "mime/MimeMessage2.h"

#include "common/Logger.h"
#include "common/Platform.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {

class MimeMessage2Test : public ::testing::Test {
protected:
    void SetUp() override { platform::setAnsiCodePage(65001); }
    void TearDown() override { platform::setUuidGeneratorForTesting({}); }
    LogNull log;
    std::unique_ptr<MimeMessage2> parse(std::string_view text, const MimeParseLimits& limits = {}) {
        auto m = std::make_unique<MimeMessage2>();
        m->loadFromText(text, log, limits);
        return m;
    }
};

// One line per node: depth, derived members and the body, so two trees compare as text.
void dump(const MimeMessage2& m, int depth, std::string& out) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + "[" + m.contentType() + "|" +
           m.disposition() + "|" + m.transferEncoding() + "|" + m.name() + "|" + m.filename() +
           "|" + m.charset().getName() + "|" + m.boundary() + "] " + m.body().toString() + "\n";
    for (int i = 0; i < m.partCount(); ++i)
        dump(*m.partAt(i), depth + 1, out);
}

std::string dump(const MimeMessage2& m) {
    std::string out;
    dump(m, 0, out);
    return out;
}

std::string headerValue(const MimeMessage2& m, std::string_view name) {
    StringBuffer v;
    return m.getHeaderField(name, v) ? v.str() : "<none>";
}

std::string replaced(std::string s, std::string_view from, std::string_view to) {
    sb::replaceAll(s, from, to);
    return s;
}

const std::string kMixed = "From: a@example.com\r\n"
                           "Subject: t\r\n"
                           "MIME-Version: 1.0\r\n"
                           "Content-Type: multipart/mixed; boundary=\"XYZ\"\r\n"
                           "\r\n"
                           "preamble\r\n"
                           "--XYZ\r\n"
                           "Content-Type: text/plain; charset=iso-8859-1\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n"
                           "\r\n"
                           "caf=E9\r\n"
                           "line two\r\n"
                           "--XYZ\r\n"
                           "Content-Type: application/octet-stream; name=\"A.bin\"\r\n"
                           "Content-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment; filename=\"A.bin\"\r\n"
                           "\r\n"
                           "AAECAw==\r\n"
                           "--XYZ--\r\n"
                           "epilogue\r\n";

const std::string kMixedTree = "[multipart/mixed||||||XYZ] \n"
                               "  [text/plain||quoted-printable|||iso-8859-1|] caf\xC3\xA9\r\n"
                               "line two\n"
                               "  [application/octet-stream|attachment|base64|A.bin|A.bin||] " +
                               std::string("\x00\x01\x02\x03", 4) + "\n";

} // namespace

// ---- parsing ----

TEST_F(MimeMessage2Test, ParsesMultipartIntoDecodedChildren) {
    auto m = parse(kMixed);
    EXPECT_EQ(dump(*m), kMixedTree);
    EXPECT_EQ(headerValue(*m, "subject"), "t");
    EXPECT_EQ(m->header().fieldCount(), 4);
}

TEST_F(MimeMessage2Test, LineEndVariantsParseToTheSameTree) {
    for (std::string_view eol : {"\n", "\r\r\n", "\r"}) {
        auto m = parse(replaced(kMixed, "\r\n", eol));
        EXPECT_EQ(dump(*m), kMixedTree) << "line end of " << eol.size() << " bytes";
    }
    // LF-only text is read in place as its CR LF form: bodies kept as they are, the signed
    // text, an unsplit multipart and soft line breaks come out as from that form.
    const std::string cases[] = {
        "Content-Type: multipart/signed; boundary=s\r\n\r\n--s\r\nContent-Type: text/plain"
        "\r\n\r\nsigned  text \r\n\r\n--s\r\nContent-Type: text/plain\r\n\r\nx\r\n--s--\r\n",
        "Content-Type: multipart/mixed; boundary=b\r\n\r\nno delimiter\r\nat all\r\n",
        "Content-Transfer-Encoding: 8bit\r\n\r\nline one  \r\n\r\n.line three\r\n",
        "Content-Transfer-Encoding: quoted-printable\r\n\r\nsoft=\r\nbreak =\r\n\r\nend \r\n"};
    for (const std::string& crlf : cases) {
        auto a = parse(crlf);
        auto b = parse(replaced(crlf, "\r\n", "\n"));
        StringBuffer ra, rb;
        a->render(ra);
        b->render(rb);
        EXPECT_EQ(dump(*b), dump(*a)) << crlf;
        EXPECT_EQ(rb.str(), ra.str()) << crlf;
        if (a->partCount() > 0) {
            EXPECT_EQ(b->partAt(0)->rawText(), a->partAt(0)->rawText()) << crlf;
        }
    }
}

TEST_F(MimeMessage2Test, OddTextsParseToTheExpectedTree) {
    const std::string mixed = "Content-Type: multipart/mixed; boundary=";
    const std::pair<std::string, std::string> cases[] = {
        // The header ends at its first blank line, which belongs to neither header nor body
        // (RFC 5322 3.5), or at the first line that is not a field, which opens the body; text
        // with no field at all is a plain body.
        {"\r\n\r\nhello\r\nSubject: no", "[text/plain||||||] \r\nhello\r\nSubject: no\n"},
        {"Subject: x\r\nContent-Type: text/html\r\nbody?", "[text/html||||||] body?\n"},
        {"\r\nhello\r\nworld", "[text/plain||||||] hello\r\nworld\n"},
        {"hello world\r\nSubject: no\r\n\r\nx",
         "[text/plain||||||] hello world\r\nSubject: no\r\n\r\nx\n"},
        {"Subject: x\r\n   \t\r\nbody", "[||||||] body\n"},
        {"Content-Disposition: attachment; filename=a.bin\r\nContent-Transfer-Encoding: "
         "base64\r\nAAECAw==\r\n",
         "[|attachment|base64||a.bin||] " + std::string("\x00\x01\x02\x03", 4) + "\n"},
        // A missing close delimiter keeps every byte of the last part.
        {mixed + "b\r\n\r\n--b\r\nX-N: 1\r\n\r\nfirst\r\n--b\r\nX-N: 2\r\n\r\nsecond partXY",
         "[multipart/mixed||||||b] \n  [||||||] first\n  [||||||] second partXY\n"},
        {mixed + "o\r\n\r\n--o\r\n" + mixed + "i\r\n\r\n--i\r\n\r\nYou are here.",
         "[multipart/mixed||||||o] \n  [multipart/mixed||||||i] \n    [text/plain||||||] You are "
         "here.\n"},
        // Zero-length parts are skipped.
        {mixed + "b\r\n\r\n--b\r\n--b\r\n\r\n--b\r\nX-N: 1\r\n\r\nx\r\n--b--\r\n",
         "[multipart/mixed||||||b] \n  [||||||] x\n"},
        // Delimiter lines are exactly "--" boundary ["--"] [blanks] (RFC 2046 5.1.1): a line
        // that is only the boundary, or an indented delimiter, is text and splits nothing.
        {mixed + "b\r\n\r\nb\r\nX-N: 1\r\n\r\none\r\n--b\r\nX-N: 2\r\n\r\ntwo\r\n--b--\r\n",
         "[multipart/mixed||||||b] \n  [||||||] two\n"},
        {mixed + "1\r\n\r\n--1 \t\r\n\r\na\r\n1\r\nb\r\n --1\r\n--1\t\r\n\r\nc\r\n--1-- \r\n",
         "[multipart/mixed||||||1] \n  [text/plain||||||] a\r\n1\r\nb\r\n --1\n"
         "  [text/plain||||||] c\n"},
        // Parts with no header fields: no leading blank line, and message/rfc822 in a digest
        // (RFC 2046 5.1.5).
        {mixed + "d\r\n\r\n--d\r\n\r\nfirst paragraph\r\n\r\nsecond\r\n--d--",
         "[multipart/mixed||||||d] \n  [text/plain||||||] first paragraph\r\n\r\nsecond\n"},
        {"Content-Type: multipart/digest; boundary=d\r\n\r\n--d\r\n\r\nSubject: "
         "s\r\n\r\nx\r\n--d--",
         "[multipart/digest||||||d] \n  [message/rfc822||||||] Subject: s\r\n\r\nx\n"},
        // Only text bodies are converted from their charset.
        {"Content-Type: application/octet-stream; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n6f8=",
         "[application/octet-stream||base64|||iso-8859-1|] \xE9\xFF\n"},
        {"Content-Type: text/plain; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\n6f8=",
         "[text/plain||base64|||iso-8859-1|] \xC3\xA9\xC3\xBF\n"},
        // Mislabelled 8-bit text is kept: UTF-8 as it is, anything else as windows-1252.
        {"Content-Type: text/plain; charset=us-ascii\r\n\r\ncaf\xC3\xA9",
         "[text/plain|||||us-ascii|] caf\xC3\xA9\n"},
        {"Content-Type: text/plain; charset=us-ascii\r\n\r\n\x93q\x94 \x80",
         "[text/plain|||||us-ascii|] \xE2\x80\x9Cq\xE2\x80\x9D \xE2\x82\xAC\n"},
    };
    for (const auto& [text, tree] : cases) {
        SCOPED_TRACE(text);
        auto m = parse(text);
        EXPECT_EQ(dump(*m), tree);
    }
}

TEST_F(MimeMessage2Test, MultipartWithoutADelimiterKeepsItsTextAsOnePlainPart) {
    for (const std::string body : {"Content-Type: text/html\r\n\r\n<p>hi</p>\r\n", "just text",
                                   "--b--\r\nonly a close delimiter"}) {
        SCOPED_TRACE(body);
        const std::string header = "Content-Type: multipart/mixed; boundary=b";
        auto m = parse(header + "\r\n\r\n" + body);
        ASSERT_EQ(m->partCount(), 1);
        EXPECT_EQ(m->partAt(0)->contentType(), "text/plain");
        EXPECT_EQ(m->partAt(0)->body().toString(), body);
        StringBuffer out;
        m->renderBody(out);
        EXPECT_EQ(out.str(), body);
    }
}

TEST_F(MimeMessage2Test, ParametersAreReadAsWritten) {
    // type|disposition|name|filename|charset|boundary of the parsed node.
    const std::pair<std::string, std::string> cases[] = {
        // Quoted values keep their blanks; bare ones lose them.
        {"Content-Type: multipart/mixed; boundary=\"a b  c\"", "multipart/mixed|||||a b  c"},
        {"Content-Type: Multipart/Mixed ; boundary=a b\tc;charset=x", "multipart/mixed|||||abc"},
        {"Content-Type: text/plain;; name=\"x;y=z\" ;; charset=utf-8", "text/plain||x;y=z||utf-8|"},
        // Names keep their case.
        {"Content-Type: application/pdf; name=\"Report.PDF\"\r\n"
         "Content-Disposition: ATTACHMENT; filename=\"My\t Report.PDF\"",
         "application/pdf|attachment|Report.PDF|My Report.PDF||"},
        // RFC 2231 values are joined and decoded; a plain parameter of the same name wins.
        {"Content-Type: application/pdf; name*=utf-8''Caf%C3%A9.PDF\r\n"
         "Content-Disposition: attachment; filename*0*=iso-8859-1'fr'Caf%E9;\r\n"
         " filename*1=\" menu.pdf\"",
         "application/pdf|attachment|Caf\xC3\xA9.PDF|Caf\xC3\xA9 menu.pdf||"},
        {"Content-Type: multipart/signed; boundary*=\"x-any''EeQf%20G\";\r\n"
         " name*=utf-8''other.txt; name=plain.txt",
         "multipart/signed||plain.txt|||EeQf G"},
        // Never a placeholder: an unclosed quote runs to the end of the value, and a parameter
        // folded onto the next line without its ';' is still one.
        {"Content-Type: text/plain; charset=utf-8; name=\"never closed",
         "text/plain||never closed||utf-8|"},
        {"Content-Type: multipart/mixed\r\n\tboundary=\"b\"", "multipart/mixed|||||b"},
        {"Content-Type: \"text/plain\"; name=x", "text/plain||x|||"},
    };
    for (const auto& [header, members] : cases) {
        SCOPED_TRACE(header);
        auto m = parse(header + "\r\n\r\n");
        EXPECT_EQ(m->contentType() + "|" + m->disposition() + "|" + m->name() + "|" +
                      m->filename() + "|" + m->charset().getName() + "|" + m->boundary(),
                  members);
        EXPECT_EQ(m->isAttachment(), m->disposition() == "attachment");
    }
}

TEST_F(MimeMessage2Test, ContentTypeParametersAreDerived) {
    auto m = parse("Content-Type: application/x-pkcs7-mime; smime-type=Signed-Data;\r\n"
                   " name=smime.p7m; protocol=\"A/B\"; micalg=SHA1; type=Text/HTML\r\n"
                   "Content-ID:  <cid@x> ; junk\r\nContent-Transfer-Encoding: Base64 ;x\r\n\r\n");
    EXPECT_EQ(m->smimeType(), "signed-data");
    EXPECT_EQ(m->protocol(), "a/b");
    EXPECT_EQ(m->micalg(), "sha1");
    EXPECT_EQ(m->typeParam(), "text/html");
    EXPECT_EQ(m->contentId(), "<cid@x>");
    EXPECT_EQ(m->transferEncoding(), "Base64");
    EXPECT_TRUE(m->isOpaqueSigned());
    EXPECT_FALSE(m->isEncrypted());
    auto enc = parse("Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n\r\n");
    EXPECT_TRUE(enc->isEncrypted());
}

TEST_F(MimeMessage2Test, XHtmlBodyTurnsTextIntoHtml) {
    auto m = parse("Content-Type: text/plain\r\n\r\n \r\n<X-HTML><b>hi</b></x-html>");
    EXPECT_EQ(m->contentType(), "text/html");
    EXPECT_EQ(headerValue(*m, "content-type"), "text/html; charset=\"us-ascii\"");
    EXPECT_EQ(m->body().toString(), " \r\n<X-HTML><b>hi</b></x-html>");
    auto plain = parse("Content-Type: text/plain\r\n\r\ntext <x-html>");
    EXPECT_EQ(plain->contentType(), "text/plain");
}

TEST_F(MimeMessage2Test, SignedContentKeepsItsExactText) {
    const std::string signedPart = "Content-Type: text/plain\r\n\r\nsigned  text \r\n\r\n";
    const std::string text = "Content-Type: multipart/signed; boundary=s;\r\n"
                             "\tprotocol=\"application/pkcs7-signature\"; micalg=sha1\r\n\r\n"
                             "--s\r\n" +
                             signedPart +
                             "\r\n--s\r\n"
                             "Content-Type: application/pkcs7-signature\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\n"
                             "AAECAw==\r\n--s--\r\n";
    auto m = parse(text);
    ASSERT_EQ(m->partCount(), 2);
    EXPECT_EQ(m->partAt(0)->rawText(), signedPart);
    EXPECT_TRUE(m->partAt(1)->rawText().empty());
    StringBuffer body;
    m->renderBody(body);
    EXPECT_EQ(body.str(), "--s\r\n" + signedPart +
                              "\r\n--s\r\n"
                              "Content-Type: application/pkcs7-signature\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n"
                              "AAECAw==\r\n\r\n--s--\r\n");
}

TEST_F(MimeMessage2Test, Base64BodyWithStrayBytesKeepsItsDataAndIsLogged) {
    Logger logger;
    MimeMessage2 m;
    m.loadFromText("Content-Transfer-Encoding: base64\r\n\r\nAA\xC3\xA9"
                   "EC!AAEC",
                   logger);
    EXPECT_EQ(m.body().toString(), std::string("\x00\x01\x02\x00\x01\x02", 6));
    EXPECT_NE(test::logText(logger).find("not base64"), std::string::npos) << test::logText(logger);
}

TEST_F(MimeMessage2Test, GetHeaderFieldDecodesOnlyOnce) {
    MimeMessage2 m;
    // The word holds the text "=?utf-8?Q?x?=", which is not decoded a second time.
    m.loadFromText("Subject: =?utf-8?B?PT91dGYtOD9RP3g/PQ==?=\r\n\r\n", log);
    EXPECT_EQ(headerValue(m, "subject"), "=?utf-8?Q?x?=");
    EXPECT_EQ(headerValue(m, "missing"), "<none>");
}

TEST_F(MimeMessage2Test, AppleDoubleDataForkCanBeDetached) {
    auto m = parse("Content-Type: multipart/appledouble; boundary=ad\r\n\r\n"
                   "--ad\r\nContent-Type: application/applefile\r\n\r\nres\r\n"
                   "--ad\r\nContent-Type: application/pdf; name=doc.pdf\r\n\r\ndata\r\n--ad--\r\n");
    auto fork = m->detachAppleDoubleData();
    ASSERT_NE(fork, nullptr);
    EXPECT_EQ(fork->contentType(), "application/pdf");
    EXPECT_EQ(fork->body().toString(), "data");
    EXPECT_EQ(m->partCount(), 1);
    EXPECT_EQ(m->detachAppleDoubleData(), nullptr); // no child 1 left
    auto mixed = parse(kMixed);
    EXPECT_EQ(mixed->detachAppleDoubleData(), nullptr);
    EXPECT_EQ(mixed->partCount(), 2);
}

TEST_F(MimeMessage2Test, UuencodedBodyIsDecodedAndRelabelled) {
    auto m = parse("Content-Transfer-Encoding: X-UUencode\r\n\r\n"
                   "begin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n");
    m->decodeUuencodedBody(log);
    EXPECT_EQ(m->body().toString(), "abc");
    EXPECT_EQ(m->transferEncoding(), "base64");
    EXPECT_EQ(headerValue(*m, "Content-Transfer-Encoding"), "base64");
    auto none = parse("Content-Transfer-Encoding: x-uuencode\r\n\r\nno data");
    none->decodeUuencodedBody(log);
    EXPECT_TRUE(none->body().isEmpty());
    auto other = parse("Content-Transfer-Encoding: 7bit\r\n\r\nbegin 644 a\r\n#86)C\r\n");
    other->decodeUuencodedBody(log);
    EXPECT_EQ(other->transferEncoding(), "7bit");
}

TEST_F(MimeMessage2Test, ParseRenderParseKeepsTheTree) {
    auto m = parse(kMixed);
    StringBuffer once;
    m->render(once);
    auto again = parse(once.view());
    EXPECT_EQ(dump(*again), kMixedTree);
    StringBuffer twice;
    again->render(twice);
    EXPECT_EQ(twice.str(), once.str());
}
