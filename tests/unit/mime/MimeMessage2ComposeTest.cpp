// Building MIME trees through the setters and rendering them.

#include "mime/MimeMessage2.h"

#include "common/Platform.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

namespace {

constexpr const char* kUuid = "0123abcd-4567-89ef-0123-456789abcdef";
constexpr const char* kBoundary = "----=_NextPart_012_3abc_456789ef.456789ab";

class MimeMessage2ComposeTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setAnsiCodePage(65001);
        platform::setUuidGeneratorForTesting([] { return std::string(kUuid); });
    }
    void TearDown() override { platform::setUuidGeneratorForTesting({}); }
    LogNull log;
};

std::string field(const MimeMessage2& m, std::string_view name) {
    StringBuffer v;
    return m.header().getField(name, v) ? v.str() : "<none>";
}

std::string renderedHeader(const MimeMessage2& m) {
    StringBuffer out;
    m.renderHeader(out);
    return out.str();
}

std::string bytes0to59() {
    std::string b;
    for (int i = 0; i < 60; ++i)
        b.push_back(static_cast<char>(i));
    return b;
}

} // namespace

TEST_F(MimeMessage2ComposeTest, BoundaryIsBuiltFromAUuid) {
    StringBuffer b;
    MimeMessage2::makeBoundary(b);
    EXPECT_EQ(b.str(), kBoundary);
    platform::setUuidGeneratorForTesting({});
    StringBuffer r1, r2;
    MimeMessage2::makeBoundary(r1);
    MimeMessage2::makeBoundary(r2);
    EXPECT_NE(r1.str(), r2.str());
    EXPECT_EQ(r1.getSize(), b.getSize());
}

TEST_F(MimeMessage2ComposeTest, ContentTypeCompositionQuotesAndFoldsParameters) {
    MimeMessage2 m;
    m.setContentType("multipart/signed", "", "application/pkcs7-signature", "SHA1", Charset(),
                     "sig", "", "");
    EXPECT_EQ(field(m, "Content-Type"), "multipart/signed;boundary=\"sig\";"
                                        "protocol=\"application/pkcs7-signature\";micalg=SHA1");
    EXPECT_EQ(m.micalg(), "sha1");
    EXPECT_EQ(m.protocol(), "application/pkcs7-signature");
    EXPECT_TRUE(m.isMultipartSigned());
    // The setters name the field as they write it: lower case.
    EXPECT_EQ(renderedHeader(m), "content-type: multipart/signed;\r\n\tboundary=\"sig\";"
                                 "protocol=\"application/pkcs7-signature\";\r\n\tmicalg=SHA1");

    MimeMessage2 related;
    related.setContentType("multipart/related", "", "", "", Charset(), "r", "", "text/html");
    EXPECT_EQ(field(related, "Content-Type"),
              "multipart/related; type=\"text/html\";boundary=\"r\"");
    EXPECT_EQ(related.typeParam(), "text/html");

    MimeMessage2 smime;
    smime.setContentType("application/pkcs7-mime", "smime.p7m", "p", "sha1", Charset(), "",
                         "enveloped-data", "");
    EXPECT_EQ(field(smime, "Content-Type"), "application/pkcs7-mime;name=\"smime.p7m\";"
                                            "protocol=\"p\";micalg=sha1;smime-type=enveloped-data");
    EXPECT_TRUE(smime.isEncrypted());
}

TEST_F(MimeMessage2ComposeTest, TextTypesGetACharsetAndFormatFlowed) {
    MimeMessage2 plain;
    plain.setContentTypeOnly("text/plain");
    EXPECT_EQ(field(plain, "Content-Type"), "text/plain; charset=\"us-ascii\"");
    EXPECT_EQ(plain.charset().getCodePage(), 20127);
    EXPECT_EQ(renderedHeader(plain), "content-type: text/plain;\r\n\t charset=\"us-ascii\"");

    MimeMessage2 flowed;
    flowed.setFormatFlowed(true);
    flowed.setContentType("text/plain", "A.txt", "", "", charsetNamed("latin1"), "", "", "");
    EXPECT_EQ(field(flowed, "Content-Type"),
              "text/plain; charset=\"iso-8859-1\";name=\"A.txt\";format=flowed");
    EXPECT_EQ(flowed.name(), "A.txt");
    // One member replaced, the rest rebuilt from the derived members.
    flowed.setNameParam("New.TXT");
    EXPECT_EQ(field(flowed, "Content-Type"),
              "text/plain; charset=\"iso-8859-1\";name=\"New.TXT\";format=flowed");
}

TEST_F(MimeMessage2ComposeTest, SetHeaderFieldKeepsMembersInStep) {
    MimeMessage2 m;
    m.setHeaderField(" Content-Type ", " image/PNG; name=Pic.png ");
    EXPECT_EQ(m.contentType(), "image/png");
    EXPECT_EQ(m.name(), "Pic.png");
    m.setHeaderField("content-id", "<a@b>;x");
    EXPECT_EQ(m.contentId(), "<a@b>");
    m.setHeaderField("Content-Transfer-Encoding", "base64");
    EXPECT_EQ(m.transferEncoding(), "base64");
    m.setHeaderField("Content-Disposition", "inline; filename=p.png");
    EXPECT_EQ(m.disposition(), "inline");
    EXPECT_EQ(m.filename(), "p.png");
    m.setHeaderField("content-type", "  ");
    EXPECT_FALSE(m.header().hasField("Content-Type"));
    EXPECT_EQ(m.contentType(), "");
    EXPECT_EQ(m.name(), "");
}

TEST_F(MimeMessage2ComposeTest, DispositionCompositionAndFilenames) {
    MimeMessage2 m;
    m.setDisposition("attachment", "My\tFile\r\n  name.txt");
    EXPECT_EQ(field(m, "Content-Disposition"), "attachment; filename=\"My File name.txt\"");
    EXPECT_EQ(m.filename(), "My File name.txt");

    MimeMessage2 f;
    f.setFilename("x.pdf");
    EXPECT_EQ(field(f, "Content-Disposition"), "attachment; filename=\"x.pdf\"");
    f.setDisposition("", "");
    EXPECT_FALSE(f.header().hasField("Content-Disposition"));
    f.setDisposition("inline", "");
    f.setFilename("y.pdf");
    EXPECT_EQ(field(f, "Content-Disposition"), "inline; filename=\"y.pdf\"");
}

TEST_F(MimeMessage2ComposeTest, NormalizeFileNamesCutsPathsInTheWholeTree) {
    MimeMessage2 root;
    root.setContentType("multipart/mixed", "", "", "", Charset(), "b", "", "");
    auto child = std::make_unique<MimeMessage2>();
    child->setContentType("application/pdf", "/tmp/dir/a.pdf", "", "", Charset(), "", "", "");
    child->setDisposition("attachment", "C:\\Users\\me/docs\\Report.PDF");
    MimeMessage2* c = child.get();
    root.addPart(std::move(child));
    root.normalizeFileNames();
    EXPECT_EQ(c->filename(), "Report.PDF");
    EXPECT_EQ(c->name(), "a.pdf");
    EXPECT_EQ(field(*c, "content-disposition"), "attachment; filename=\"Report.PDF\"");
}

TEST_F(MimeMessage2ComposeTest, PartListAccessAndOwnership) {
    MimeMessage2 m;
    EXPECT_EQ(m.partAt(0), nullptr);
    EXPECT_EQ(m.removePartAt(0), nullptr);
    auto a = std::make_unique<MimeMessage2>();
    a->setContentTypeOnly("text/a");
    auto b = std::make_unique<MimeMessage2>();
    b->setContentTypeOnly("text/b");
    m.addPart(std::move(a));
    m.insertPartFirst(std::move(b));
    ASSERT_EQ(m.partCount(), 2);
    EXPECT_EQ(m.partAt(0)->contentType(), "text/b");
    EXPECT_EQ(m.partAt(-1), nullptr);
    auto removed = m.removePartAt(0);
    ASSERT_NE(removed, nullptr);
    EXPECT_EQ(removed->contentType(), "text/b");
    EXPECT_EQ(m.partCount(), 1);
    EXPECT_EQ(m.partAt(0)->contentType(), "text/a");
}

TEST_F(MimeMessage2ComposeTest, LoadFromPartsDecodesTheBodyAndAdoptsChildren) {
    ExtPtrArray<MimeMessage2> children;
    children.appendObject(std::make_unique<MimeMessage2>());
    MimeMessage2 m;
    m.loadFromParts("Content-Type: text/plain; charset=iso-8859-1\r\n"
                    "Content-Transfer-Encoding: quoted-printable",
                    "caf=E9=\r\n!", children, log);
    EXPECT_EQ(m.body().toString(), "caf\xC3\xA9!");
    EXPECT_EQ(m.partCount(), 1);
    EXPECT_TRUE(children.isEmpty());
}

TEST_F(MimeMessage2ComposeTest, AdoptContentReplacesContentFieldsBodyAndChildren) {
    MimeMessage2 outer;
    outer.loadFromText("Subject: kept\r\nContent-Type: multipart/signed; boundary=s\r\n"
                       "Content-Disposition: inline\r\nX-A: outer\r\n\r\n"
                       "--s\r\nContent-Type: text/plain\r\n\r\nhi\r\n--s\r\n\r\nsig\r\n--s--\r\n",
                       log);
    ASSERT_EQ(outer.partCount(), 2);
    auto content = outer.removePartAt(0);
    content->setHeaderField("X-A", "inner");
    outer.adoptContent(std::move(content));
    EXPECT_EQ(outer.partCount(), 0);
    EXPECT_EQ(outer.body().toString(), "hi");
    EXPECT_EQ(outer.contentType(), "text/plain");
    EXPECT_EQ(outer.disposition(), "");
    EXPECT_EQ(field(outer, "Subject"), "kept");
    EXPECT_EQ(field(outer, "X-A"), "inner");
}

TEST_F(MimeMessage2ComposeTest, WholeMessageRendersByteForByte) {
    MimeMessage2 root;
    root.setHeaderField("From", "a@example.com");
    root.setHeaderField("Subject", "Cr\xC3\xA8me");
    root.setHeaderField("MIME-Version", "1.0");
    StringBuffer boundary;
    MimeMessage2::makeBoundary(boundary);
    root.setContentType("multipart/mixed", "", "", "", Charset(), boundary.view(), "", "");

    auto text = std::make_unique<MimeMessage2>();
    text->setContentType("text/plain", "", "", "", charsetNamed("iso-8859-1"), "", "", "");
    text->setTransferEncoding("quoted-printable");
    text->setBodyEncoded("8bit", "caf\xC3\xA9\r\n", Charset(), log);
    root.addPart(std::move(text));

    auto att = std::make_unique<MimeMessage2>();
    att->setContentType("application/octet-stream", "data.bin", "", "", Charset(), "", "", "");
    att->setTransferEncoding("base64");
    att->setDisposition("attachment", "data.bin");
    att->setBodyEncoded("binary", bytes0to59(), Charset(), log);
    root.addPart(std::move(att));

    const std::string b = kBoundary;
    StringBuffer out;
    root.render(out);
    EXPECT_EQ(out.str(),
              "From: a@example.com\r\n"
              "Subject: =?utf-8?Q?Cr=C3=A8me?=\r\n"
              "MIME-Version: 1.0\r\n"
              "content-type: multipart/mixed;\r\n\tboundary=\"" +
                  b +
                  "\"\r\n\r\n"
                  "This is a multi-part message in MIME format.\r\n\r\n"
                  "--" +
                  b +
                  "\r\n"
                  "content-type: text/plain;\r\n\t charset=\"iso-8859-1\"\r\n"
                  "content-transfer-encoding: quoted-printable\r\n\r\n"
                  "caf=E9\r\n\r\n"
                  "--" +
                  b +
                  "\r\n"
                  "content-type: application/octet-stream;\r\n\tname=\"data.bin\"\r\n"
                  "content-transfer-encoding: base64\r\n"
                  "content-disposition: attachment;\r\n\t filename=\"data.bin\"\r\n\r\n"
                  "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\r\n"
                  "Njc4OTo7\r\n\r\n"
                  "--" +
                  b + "--\r\n");

    root.setEmitPreamble(false);
    StringBuffer noPreamble;
    root.render(noPreamble);
    EXPECT_EQ(noPreamble.str().find("This is a multi-part"), std::string::npos);
}

TEST_F(MimeMessage2ComposeTest, SignedNodeWithoutRawTextRendersItsChildren) {
    MimeMessage2 m;
    m.setContentType("multipart/signed", "", "application/pkcs7-signature", "sha1", Charset(), "s",
                     "", "");
    auto content = std::make_unique<MimeMessage2>();
    content->setHeaderField("X-A", "1");
    content->setBodyEncoded("7bit", "text", Charset(), log);
    m.addPart(std::move(content));
    StringBuffer out;
    m.renderBody(out);
    EXPECT_EQ(out.str(), "--s\r\nX-A: 1\r\n\r\ntext\r\n--s--\r\n");
}
