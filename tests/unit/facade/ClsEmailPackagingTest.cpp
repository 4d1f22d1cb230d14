// The e-mail object's attachment archives, temporary MHT files, linked domains and the body
// encryption members that change nothing.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "facade/ClsStringArray.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace norvane;
using namespace norvane::test;

namespace {

std::string asText(const DataBuffer& d) {
    return d.toString();
}

std::vector<std::string> attachmentNames(ClsEmail& e) {
    std::vector<std::string> names;
    for (int i = 0; i < e.get_NumAttachments(); ++i)
        names.push_back(e.GetAttachmentFilename(i));
    return names;
}

using Names = std::vector<std::string>;

// Two attachments packed under zipName.
std::unique_ptr<ClsEmail> withArchive(const char* zipName) {
    auto e = std::make_unique<ClsEmail>();
    e->put_Body("See attached.");
    EXPECT_TRUE(e->AddStringAttachment("one.txt", "first file\r\n"));
    EXPECT_TRUE(e->AddStringAttachment("two.csv", std::string(3000, 'x').c_str()));
    e->ZipAttachments(zipName);
    return e;
}

} // namespace

TEST(ClsEmailPackagingTest, ZipAttachmentsPacksEveryAttachmentIntoOne) {
    auto e = withArchive("");
    EXPECT_EQ(e->get_LastErrorXml(),
              xmlOf("ZipAttachments", data("ZipFilename", "") + data("NumAttachments", "2") +
                                          data("added_file", "one.txt") +
                                          data("added_file", "two.csv")));
    EXPECT_EQ(attachmentNames(*e), Names{"attach.zip"});
    EXPECT_EQ(e->GetAttachmentContentType(0), "application/zip");
    const std::string zip = asText(e->GetAttachmentData(0));
    EXPECT_EQ(zip.substr(0, 4), "PK\x03\x04");

    EXPECT_TRUE(e->UnzipAttachments());
    EXPECT_EQ(attachmentNames(*e), (Names{"one.txt", "two.csv"}));
    EXPECT_EQ(asText(e->GetAttachmentData(0)), "first file\r\n");
    EXPECT_EQ(asText(e->GetAttachmentData(1)), std::string(3000, 'x'));
    EXPECT_EQ(e->get_Body(), "See attached.");

    EXPECT_EQ(attachmentNames(*withArchive("  pack.zip \t")), Names{"pack.zip"});
}

TEST(ClsEmailPackagingTest, ArchiveMembersWithoutAttachmentsChangeNothing) {
    ClsEmail e;
    e.put_Body("nothing attached");
    const std::string mime = e.GetMime();
    e.ZipAttachments("x.zip");
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("ZipAttachments", ""));
    EXPECT_EQ(e.GetMime(), mime);
    EXPECT_TRUE(e.UnzipAttachments());
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("UnzipAttachments", ""));
    EXPECT_EQ(e.GetMime(), mime);
}

TEST(ClsEmailPackagingTest, UnzipPutsEntriesLastAndRemovesEveryArchive) {
    auto e = withArchive("a.ZIP");
    ASSERT_TRUE(e->AddStringAttachment("b.txt", "bee"));
    ASSERT_TRUE(e->AddStringAttachment("zip", "not an archive by name"));
    EXPECT_TRUE(e->UnzipAttachments());
    EXPECT_EQ(attachmentNames(*e), (Names{"b.txt", "zip", "one.txt", "two.csv"}));

    // An archive that cannot be read fails the call and stays.
    e = withArchive("good.zip");
    ASSERT_TRUE(e->AddStringAttachment("x.zip", "these bytes are no archive"));
    EXPECT_FALSE(e->UnzipAttachments());
    EXPECT_NE(e->get_LastErrorXml().find("<UnzipAttachments>"), std::string::npos);
    EXPECT_EQ(attachmentNames(*e), (Names{"x.zip", "one.txt", "two.csv"}));
}

TEST(ClsEmailPackagingTest, AesMembersOnlyRecordTheirContext) {
    ClsEmail e;
    e.put_Body("secret body");
    ASSERT_TRUE(e.AddStringAttachment("a.txt", "attached"));
    const std::string mime = e.GetMime();
    e.SaveXml("");
    ASSERT_NE(e.get_LastErrorXml(), "");
    e.AesEncrypt("password");
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("AesEncryptBody", ""));
    EXPECT_EQ(e.GetMime(), mime);
    e.SaveXml("");
    e.AesDecrypt(nullptr);
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("AesDecryptBody", ""));
    EXPECT_EQ(e.GetMime(), mime);
}

TEST(ClsEmailPackagingTest, CreateTempMhtShowsPlainTextAsHtml) {
    test::TempDir dir;
    ClsEmail e;
    e.put_Subject("View me");
    e.put_Body("line one\r\nline two");
    const std::string mime = e.GetMime();

    const std::string named = dir.file("view.mht");
    EXPECT_EQ(e.CreateTempMht((" " + named + " ").c_str()), named);
    EXPECT_EQ(e.get_LastErrorXml(), "");
    const std::string mht = test::readFile(named);
    EXPECT_NE(mht.find("subject: View me\r\n"), std::string::npos) << mht;
    EXPECT_NE(mht.find("Content-Type: text/html"), std::string::npos) << mht;
    EXPECT_NE(mht.find("<pre>line one\r\nline two</pre>"), std::string::npos) << mht;
    EXPECT_EQ(e.GetMime(), mime);

    const std::string temp = e.CreateTempMht("");
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(temp.rfind(file::tempDirectory(), 0), 0u) << temp;
    EXPECT_NE(temp.find("tmpMht"), std::string::npos) << temp;
    EXPECT_TRUE(temp.ends_with(".mht")) << temp;
    EXPECT_EQ(test::readFile(temp), mht);
    const std::string second = e.CreateTempMht(nullptr);
    EXPECT_NE(second, temp);
    (void)::unlink(temp.c_str());
    (void)::unlink(second.c_str());

    e.SaveXml("");
    EXPECT_EQ(e.CreateTempMht(dir.file("missing/dir/x.mht").c_str()), "");
    EXPECT_NE(e.get_LastErrorXml().find("<CreateTempMht>"), std::string::npos);
    EXPECT_EQ(e.get_LastErrorXml().find("SaveXml"), std::string::npos);
}

TEST(ClsEmailPackagingTest, CreateTempMhtLeavesAttachmentsOut) {
    test::TempDir dir;
    ClsEmail e;
    e.put_Body("the text");
    ASSERT_TRUE(e.AddStringAttachment("big.txt", "attachment text"));
    const std::string mht = test::readFile(e.CreateTempMht(dir.file("a.mht").c_str()));
    EXPECT_NE(mht.find("the text"), std::string::npos) << mht;
    EXPECT_EQ(mht.find("attachment text"), std::string::npos) << mht;
    EXPECT_EQ(mht.find("big.txt"), std::string::npos) << mht;
    EXPECT_EQ(e.get_NumAttachments(), 1);
}

TEST(ClsEmailPackagingTest, GetLinkedDomainsListsEachOnceInOrderFound) {
    ClsEmail e;
    e.put_Body("no links here, only example.com as text");
    const std::string log = e.get_LastErrorXml();
    std::unique_ptr<ClsStringArray> none = e.GetLinkedDomains();
    ASSERT_TRUE(none);
    EXPECT_EQ(none->count(), 0);
    EXPECT_EQ(e.get_LastErrorXml(), log);

    ASSERT_TRUE(e.SetHtmlBody("<html><body>"
                              "<a href=\"http://user@www.example.com/path/x.html\">a</a>"
                              "<a href=\"mailto:ann@example.org\">mail</a>"
                              "<a href=\"http://www.example.com/other\">again</a>"
                              "<a href=\"page.html\">relative</a>"
                              "</body></html>"));
    std::unique_ptr<ClsStringArray> list = e.GetLinkedDomains();
    ASSERT_TRUE(list);
    std::vector<std::string> got;
    for (int i = 0; i < list->count(); ++i) {
        std::string s;
        ASSERT_TRUE(list->get(i, s));
        got.push_back(s);
    }
    // The href pass drops everything up to the at sign, a mailto: link included, so the mail
    // domain is listed as a host as well.
    EXPECT_EQ(got, (Names{"http://www.example.com", "http://example.org", "http://page.html",
                          "ann@example.org"}));
}
