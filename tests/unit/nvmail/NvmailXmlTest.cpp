// nvmail to-xml and from-xml: an .eml to its XML form and back, and their failures.

#include "common/FileAccess.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace norvane;

namespace {

const std::string kNvmail = std::string(NORVANE_BINARY_DIR) + "/tools/nvmail";

struct Result {
    int status = -1;
    std::string out;
};

Result run(const std::string& args) {
    Result r;
    r.status = test::runCommand(kNvmail + " " + args + " 2>&1", &r.out);
    return r;
}

} // namespace

TEST(NvmailXmlTest, ToXmlAndBackKeepTheMessage) {
    test::TempDir dir;
    const std::string eml = dir.file("in.eml");
    ASSERT_TRUE(file::writeWholeFile(eml,
                                     "From: Ann <ann@example.com>\r\nSubject: Hi & bye\r\n"
                                     "Content-Type: text/plain\r\n\r\nline 1\r\nline 2\r\n",
                                     nullptr));
    Result r = run("to-xml " + eml);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "<?xml version=\"1.0\" ?>\n<mime_message>\n<header>\n<from>\n<address>\n"
                     "\t<addr>ann@example.com</addr>\n\t<name>Ann</name>\n</address>\n</from>\n"
                     "<subject>Hi &amp; bye</subject>\n<content-type>\ntext/plain\n"
                     "</content-type>\n</header>\n<body>\n<![CDATA[line 1\r\nline 2\r\n]]>\n"
                     "</body>\n</mime_message>\n");

    const std::string xml = dir.file("out.xml");
    ASSERT_EQ(run("to-xml " + eml + " " + xml).status, 0);
    EXPECT_EQ(test::readFile(xml), r.out);
    r = run("from-xml " + xml);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "from: \"Ann\" <ann@example.com>\r\nsubject: Hi & bye\r\n"
                     "content-type: text/plain\r\n\r\nline 1\r\nline 2\r\n");
}

TEST(NvmailXmlTest, BadUsageUnreadableInputAndNoEmail) {
    EXPECT_EQ(run("to-xml").status, 2);
    EXPECT_EQ(run("from-xml a b c").status, 2);
    test::TempDir dir;
    Result r = run("to-xml " + dir.file("missing.eml"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("cannot read"), std::string::npos) << r.out;
    const std::string bad = dir.file("bad.xml");
    ASSERT_TRUE(file::writeWholeFile(bad, "<email_bundle></email_bundle>", nullptr));
    r = run("from-xml " + bad);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("nvmail from-xml: no e-mail in"), std::string::npos) << r.out;
}
