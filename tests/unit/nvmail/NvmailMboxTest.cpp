// nvmail mbox: the listing of a mailbox file and saving one message of it.

#include "unit/nvmail/NvmailRun.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace norvane;

TEST(NvmailMboxTest, ListsAndExtracts) {
    test::TempDir dir;
    const std::string box = dir.file("box");
    std::ofstream(box, std::ios::binary)
        << "From a\nFrom: ann@example.com\nSubject: first\tone\nDate: Mon, 01 Jan 2001 00:00:00 "
           "+0000\n\nbody 1\n\nFrom b\nFrom: bob@example.com\nSubject: second\n\nbody 2\n";
    auto r = test::nvmail("mbox " + box);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n0\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tbob@example.com\tsecond\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n1\tMon, 01 Jan 2001 00:00:00 +0000\tann@example.com\tfirst one\t"),
              std::string::npos)
        << r.out;

    const std::string out = dir.file("out");
    r = test::nvmail("mbox " + box + " --extract 1 " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string eml = test::readFile(out + "/message-1.eml");
    EXPECT_NE(eml.find("Subject: first"), std::string::npos) << eml;
    EXPECT_NE(eml.find("body 1"), std::string::npos) << eml;

    const struct {
        std::string args;
        int status;
        std::string err;
    } failures[] = {
        {"mbox " + box + " --extract 2 " + out, 1, "no message 2"},
        {"mbox " + box + " --extract 0", 2, "--extract needs"},
        {"mbox " + dir.file("missing"), 1, "cannot read " + dir.file("missing")},
    };
    for (const auto& f : failures) {
        r = test::nvmail(f.args);
        EXPECT_EQ(r.status, f.status) << f.args;
        EXPECT_NE(r.err.find(f.err), std::string::npos) << r.err;
    }
}
