#include "mime/MimeMessage2.h"

#include "common/Logger.h"
#include "common/Platform.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {

class MimeMessage2Test : public ::testing::Test {
protected:
    void SetUp() override { platform::setAnsiCodePage(65001); }
    void TearDown() override { platform::setUuidGeneratorForTesting({}); }
    LogNull log;
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
                               "  [application/octet-stream|attachment|base64|a.bin|A.bin||] " +
                               std::string("\x00\x01\x02\x03", 4) + "\n";

} // namespace

// ---- parsing ----

TEST_F(MimeMessage2Test, ParsesMultipartIntoDecodedChildren) {
    MimeMessage2 m;
    m.loadFromText(kMixed, log);
    EXPECT_EQ(dump(m), kMixedTree);
    EXPECT_EQ(headerValue(m, "subject"), "t");
    EXPECT_EQ(m.header().fieldCount(), 4);
}

TEST_F(MimeMessage2Test, LineEndVariantsParseToTheSameTree) {
    for (std::string_view eol : {"\n", "\r\r\n", "\r"}) {
        MimeMessage2 m;
        m.loadFromText(replaced(kMixed, "\r\n", eol), log);
        EXPECT_EQ(dump(m), kMixedTree) << "line end of " << eol.size() << " bytes";
    }
}

TEST_F(MimeMessage2Test, OddTextsParseToTheExpectedTree) {
    const std::string mixed = "Content-Type: multipart/mixed; boundary=";
    const std::pair<std::string, std::string> cases[] = {
        // A leading blank line: no header at all; no blank line: all header.
        {"\r\n\r\nhello\r\nSubject: no", "[||||||] hello\r\nSubject: no\n"},
        {"Subject: x\r\nContent-Type: text/html\r\nbody?", "[text/html||||||] \n"},
        // One leading line break: a plain body that keeps it.
        {"\r\nhello\r\nworld", "[text/plain||||||] \r\nhello\r\nworld\n"},
        // A missing close delimiter keeps the last part.
        {mixed + "b\r\n\r\n--b\r\nX-N: 1\r\n\r\nfirst\r\n--b\r\nX-N: 2\r\n\r\nsecond partXY",
         "[multipart/mixed||||||b] \n  [||||||] first\n  [||||||] second part\n"},
        // Zero-length parts are skipped.
        {mixed + "b\r\n\r\n--b\r\n--b\r\n\r\n--b\r\nX-N: 1\r\n\r\nx\r\n--b--\r\n",
         "[multipart/mixed||||||b] \n  [||||||] x\n"},
        // The "--" is missing in front of the first delimiter line.
        {mixed + "b\r\n\r\nb\r\nX-N: 1\r\n\r\none\r\n--b\r\nX-N: 2\r\n\r\ntwo\r\n--b--\r\n",
         "[multipart/mixed||||||b] \n  [||||||] one\n  [||||||] two\n"},
        // With a one-letter boundary, lines ending in that letter stay whole, and a damaged
        // delimiter line ends its part without eating the part's last bytes. Headerless parts
        // are text that keeps its leading line break.
        {mixed + "d\r\n\r\n--d\r\n\r\nnot delivered\r\nsend\r\n--d\r\n\r\ntwo\r\n d\r\n\r\n"
                 "three and\r\n--d--\r\nepilogue d--\r\n",
         "[multipart/mixed||||||d] \n  [text/plain||||||] \r\nnot delivered\r\nsend\n"
         "  [text/plain||||||] \r\ntwo\n  [text/plain||||||] \r\nthree and\n"},
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
        MimeMessage2 m;
        m.loadFromText(text, log);
        EXPECT_EQ(dump(m), tree);
    }
}

TEST_F(MimeMessage2Test, MultipartWithoutItsBoundaryBecomesOneUnsplitChild) {
    const std::string body = "Content-Type: text/html\r\n\r\n<p>hi</p>\r\n";
    MimeMessage2 m;
    m.loadFromText("Content-Type: multipart/mixed; boundary=nothere\r\n\r\n" + body, log);
    ASSERT_EQ(m.partCount(), 1);
    const MimeMessage2& child = *m.partAt(0);
    EXPECT_EQ(child.contentType(), "text/html");
    EXPECT_EQ(child.body().toString(), "(multipart MIME message)");
    EXPECT_EQ(child.rawText(), body);

    MimeMessage2 noBlank;
    noBlank.loadFromText("Content-Type: multipart/mixed; boundary=nothere\r\n\r\njust text", log);
    ASSERT_EQ(noBlank.partCount(), 1);
    EXPECT_EQ(noBlank.partAt(0)->header().fieldCount(), 0);
    EXPECT_TRUE(noBlank.partAt(0)->body().isEmpty());
    EXPECT_EQ(noBlank.partAt(0)->rawText(), "just text");
}

TEST_F(MimeMessage2Test, QuotedParameterValuesKeepTheirBlanks) {
    MimeMessage2 quoted;
    quoted.loadFromText("Content-Type: multipart/mixed; boundary=\"a b  c\"\r\n\r\n", log);
    EXPECT_EQ(quoted.boundary(), "a b  c");
    MimeMessage2 bare;
    bare.loadFromText("Content-Type: Multipart/Mixed ; boundary=a b\tc;charset=x\r\n\r\n", log);
    EXPECT_EQ(bare.contentType(), "multipart/mixed");
    EXPECT_EQ(bare.boundary(), "abc");
    MimeMessage2 semis;
    semis.loadFromText("Content-Type: text/plain;; name=\"x;y=z\" ;; charset=utf-8\r\n\r\n", log);
    EXPECT_EQ(semis.name(), "x;y=z");
    EXPECT_EQ(semis.charset().getCodePage(), 65001);
}

TEST_F(MimeMessage2Test, NameIsLowerCasedButFilenameKeepsItsCase) {
    MimeMessage2 m;
    m.loadFromText("Content-Type: application/pdf; name=\"Report.PDF\"\r\n"
                   "Content-Disposition: ATTACHMENT; filename=\"My\t Report.PDF\"\r\n\r\nx",
                   log);
    EXPECT_EQ(m.name(), "report.pdf");
    EXPECT_EQ(m.disposition(), "attachment");
    EXPECT_EQ(m.filename(), "My Report.PDF");
    EXPECT_TRUE(m.isAttachment());
}

TEST_F(MimeMessage2Test, ContentTypeParametersAreDerived) {
    MimeMessage2 m;
    m.loadFromText("Content-Type: application/x-pkcs7-mime; smime-type=Signed-Data;\r\n"
                   " name=smime.p7m; protocol=\"A/B\"; micalg=SHA1; type=Text/HTML\r\n"
                   "Content-ID:  <cid@x> ; junk\r\nContent-Transfer-Encoding: Base64 ;x\r\n\r\n",
                   log);
    EXPECT_EQ(m.smimeType(), "signed-data");
    EXPECT_EQ(m.protocol(), "a/b");
    EXPECT_EQ(m.micalg(), "sha1");
    EXPECT_EQ(m.typeParam(), "text/html");
    EXPECT_EQ(m.contentId(), "<cid@x>");
    EXPECT_EQ(m.transferEncoding(), "Base64");
    EXPECT_TRUE(m.isOpaqueSigned());
    EXPECT_FALSE(m.isEncrypted());
    MimeMessage2 enc;
    enc.loadFromText("Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n\r\n",
                     log);
    EXPECT_TRUE(enc.isEncrypted());
}

TEST_F(MimeMessage2Test, Rfc2231ParametersAreJoinedAndDecoded) {
    MimeMessage2 m;
    m.loadFromText("Content-Type: application/pdf; name*=utf-8''Caf%C3%A9.PDF\r\n"
                   "Content-Disposition: attachment; filename*0*=iso-8859-1'fr'Caf%E9;\r\n"
                   " filename*1=\" menu.pdf\"\r\n\r\nx",
                   log);
    EXPECT_EQ(m.name(), "caf\xC3\xA9.pdf");
    EXPECT_EQ(m.filename(), "Caf\xC3\xA9 menu.pdf");
    // A plain parameter of the same name wins; a boundary may come in this form too.
    MimeMessage2 both;
    both.loadFromText("Content-Type: multipart/signed; boundary*=\"x-any''EeQf%20G\";\r\n"
                      " name*=utf-8''other.txt; name=plain.txt\r\n\r\n",
                      log);
    EXPECT_EQ(both.name(), "plain.txt");
    EXPECT_EQ(both.boundary(), "EeQf G");
}

TEST_F(MimeMessage2Test, UnclosedQuoteLosesOnlyItsOwnText) {
    MimeMessage2 m;
    m.loadFromText("Content-Type: text/plain; charset=utf-8; name=\"never closed\r\n\r\nx", log);
    EXPECT_EQ(m.contentType(), "text/plain");
    EXPECT_EQ(m.charset().getCodePage(), 65001);
    EXPECT_EQ(m.name(), "");
}

TEST_F(MimeMessage2Test, XHtmlBodyTurnsTextIntoHtml) {
    MimeMessage2 m;
    m.loadFromText("Content-Type: text/plain\r\n\r\n \r\n<X-HTML><b>hi</b></x-html>", log);
    EXPECT_EQ(m.contentType(), "text/html");
    EXPECT_EQ(headerValue(m, "content-type"), "text/html; charset=\"us-ascii\"");
    EXPECT_EQ(m.body().toString(), " \r\n<X-HTML><b>hi</b></x-html>");
    MimeMessage2 plain;
    plain.loadFromText("Content-Type: text/plain\r\n\r\ntext <x-html>", log);
    EXPECT_EQ(plain.contentType(), "text/plain");
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
    MimeMessage2 m;
    m.loadFromText(text, log);
    ASSERT_EQ(m.partCount(), 2);
    EXPECT_EQ(m.partAt(0)->rawText(), signedPart);
    EXPECT_TRUE(m.partAt(1)->rawText().empty());
    StringBuffer body;
    m.renderBody(body);
    EXPECT_EQ(body.str(), "--s\r\n" + signedPart +
                              "\r\n--s\r\n"
                              "Content-Type: application/pkcs7-signature\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n"
                              "AAECAw==\r\n\r\n--s--\r\n");
}

TEST_F(MimeMessage2Test, InvalidBase64LeavesTheBodyEmptyAndIsLogged) {
    Logger logger;
    MimeMessage2 m;
    m.loadFromText("Content-Transfer-Encoding: base64\r\n\r\nAAEC\xC3\xA9", logger);
    EXPECT_TRUE(m.body().isEmpty());
    StringBuffer text;
    logger.getLastErrorText(text);
    EXPECT_NE(text.str().find("not valid base64"), std::string::npos) << text.str();
}

TEST_F(MimeMessage2Test, GetHeaderFieldDecodesLowerCaseEncodedWords) {
    MimeMessage2 m;
    m.loadFromText("Subject: =?utf-8?q?caf=C3=A9?=\r\n\r\n", log);
    EXPECT_EQ(m.header().fieldAt(0)->value(), "=?utf-8?q?caf=C3=A9?=");
    EXPECT_EQ(headerValue(m, "subject"), "caf\xC3\xA9");
    EXPECT_EQ(headerValue(m, "missing"), "<none>");
}

TEST_F(MimeMessage2Test, AppleDoubleDataForkCanBeDetached) {
    MimeMessage2 m;
    m.loadFromText("Content-Type: multipart/appledouble; boundary=ad\r\n\r\n"
                   "--ad\r\nContent-Type: application/applefile\r\n\r\nres\r\n"
                   "--ad\r\nContent-Type: application/pdf; name=doc.pdf\r\n\r\ndata\r\n--ad--\r\n",
                   log);
    auto fork = m.detachAppleDoubleData();
    ASSERT_NE(fork, nullptr);
    EXPECT_EQ(fork->contentType(), "application/pdf");
    EXPECT_EQ(fork->body().toString(), "data");
    EXPECT_EQ(m.partCount(), 1);
    EXPECT_EQ(m.detachAppleDoubleData(), nullptr); // no child 1 left
    MimeMessage2 mixed;
    mixed.loadFromText(kMixed, log);
    EXPECT_EQ(mixed.detachAppleDoubleData(), nullptr);
    EXPECT_EQ(mixed.partCount(), 2);
}

TEST_F(MimeMessage2Test, UuencodedBodyIsDecodedAndRelabelled) {
    MimeMessage2 m;
    m.loadFromText("Content-Transfer-Encoding: X-UUencode\r\n\r\n"
                   "begin 644 a.txt\r\n#86)C\r\n`\r\nend\r\n",
                   log);
    m.decodeUuencodedBody(log);
    EXPECT_EQ(m.body().toString(), "abc");
    EXPECT_EQ(m.transferEncoding(), "base64");
    EXPECT_EQ(headerValue(m, "Content-Transfer-Encoding"), "base64");
    MimeMessage2 none;
    none.loadFromText("Content-Transfer-Encoding: x-uuencode\r\n\r\nno data", log);
    none.decodeUuencodedBody(log);
    EXPECT_TRUE(none.body().isEmpty());
    MimeMessage2 other;
    other.loadFromText("Content-Transfer-Encoding: 7bit\r\n\r\nbegin 644 a\r\n#86)C\r\n", log);
    other.decodeUuencodedBody(log);
    EXPECT_EQ(other.transferEncoding(), "7bit");
}

TEST_F(MimeMessage2Test, ParseRenderParseKeepsTheTree) {
    MimeMessage2 m;
    m.loadFromText(kMixed, log);
    StringBuffer once;
    m.render(once);
    MimeMessage2 again;
    again.loadFromText(once.view(), log);
    EXPECT_EQ(dump(again), kMixedTree);
    StringBuffer twice;
    again.render(twice);
    EXPECT_EQ(twice.str(), once.str());
}
