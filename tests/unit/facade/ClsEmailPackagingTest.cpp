// The e-mail object's members that hand work to the archive and HTML layers (what they hand
// back, and in which public type), and the body encryption members that change nothing.

#include "facade/ClsEmail.h"

#include "facade/ClsStringArray.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

TEST(ClsEmailPackagingTest, ZipAndUnzipThroughThePublicObject) {
    // The archive itself is the archive layer's; this checks the hand-over both ways.
    ClsEmail e;
    e.put_Body("See attached.");
    ASSERT_TRUE(e.AddStringAttachment("one.txt", "first file\r\n"));
    e.ZipAttachments("");
    ASSERT_EQ(e.get_NumAttachments(), 1);
    EXPECT_EQ(e.GetAttachmentFilename(0), "attach.zip");
    EXPECT_EQ(e.GetAttachmentContentType(0), "application/zip");
    EXPECT_TRUE(e.UnzipAttachments());
    ASSERT_EQ(e.get_NumAttachments(), 1);
    EXPECT_EQ(e.GetAttachmentData(0).toString(), "first file\r\n");
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

TEST(ClsEmailPackagingTest, TempMhtAndLinkedDomainsAreHandedOutAsTheirPublicTypes) {
    test::TempDir dir;
    ClsEmail e;
    e.put_Body("no links here, only example.com as text");
    const std::string log = e.get_LastErrorXml();
    std::unique_ptr<ClsStringArray> none = e.GetLinkedDomains();
    ASSERT_TRUE(none);
    EXPECT_EQ(none->count(), 0);
    EXPECT_EQ(e.get_LastErrorXml(), log);
    ASSERT_TRUE(e.SetHtmlBody("<a href=\"http://www.example.com/x\">a</a>"));
    std::unique_ptr<ClsStringArray> list = e.GetLinkedDomains();
    std::string first;
    ASSERT_TRUE(list && list->get(0, first));
    EXPECT_EQ(first, "http://www.example.com");

    const std::string named = dir.file("view.mht");
    EXPECT_EQ(e.CreateTempMht((" " + named + " ").c_str()), named);
    EXPECT_NE(test::readFile(named).find("www.example.com"), std::string::npos);
    EXPECT_EQ(e.CreateTempMht(dir.file("missing/dir/x.mht").c_str()), "");
}
