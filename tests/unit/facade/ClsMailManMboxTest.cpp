// What the public mail manager adds to loading a mailbox file: the last message first, a fresh
// Date on request, and a bundle even when the file cannot be read.

#include "facade/ClsEmail.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsMailMan.h"

#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace norvane;

TEST(ClsMailManMboxTest, LastMessageFirstWithTheDateResetOnRequest) {
    test::TempDir dir;
    const std::string path = dir.file("box");
    const std::string date = "Mon, 01 Jan 2001 00:00:00 +0000";
    std::ofstream(path, std::ios::binary)
        << "From a\nSubject: first\nDate: " << date
        << "\n\n1\n\nFrom b\nSubject: second\nDate: " << date << "\n\n2\n";
    for (const bool reset : {false, true}) {
        ClsMailMan mailMan;
        mailMan.put_ResetDateOnLoad(reset);
        const auto bundle = mailMan.LoadMbx(path.c_str());
        ASSERT_EQ(bundle->get_MessageCount(), 2);
        EXPECT_EQ(bundle->emailAt(0)->get_Subject(), "second");
        EXPECT_EQ(bundle->emailAt(1)->get_Subject(), "first");
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(bundle->emailAt(i)->GetHeaderField("Date") == date, !reset) << reset;
    }
}

TEST(ClsMailManMboxTest, AnUnreadableFileGivesAnEmptyBundle) {
    ClsMailMan mailMan;
    for (const char* name : {"/nonexistent/box", static_cast<const char*>(nullptr)}) {
        const auto bundle = mailMan.LoadMbx(name);
        ASSERT_TRUE(bundle);
        EXPECT_EQ(bundle->get_MessageCount(), 0);
        EXPECT_NE(mailMan.get_LastErrorText().find("Failed to read the mailbox file"),
                  std::string::npos);
    }
}
