// The conventions every nvmail command follows: help and version, usage errors with status 2,
// one-line errors naming the file and the reason, and colour only on a terminal.

#include "common/FileAccess.h"
#include "unit/nvmail/NvmailRun.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

using namespace norvane;
using test::nvmail;

TEST(NvmailCliTest, HelpVersionAndUsageErrors) {
    const struct {
        const char* args;
        int status;
        const char* out; // found in standard output
        const char* err; // standard error, whole
    } cases[] = {
        {"--help", 0, "usage: nvmail <command>", ""},
        {"help", 0, "  unzip-attachments ", ""},
        {"--help", 0, "  send ", ""},
        {"--help", 0, "  fetch ", ""},
        {"help compose", 0, "--allow-incomplete", ""},
        {"compose --help", 0, "usage: nvmail compose [options]\n", ""},
        {"show -h", 0, "usage: nvmail show [options] FILE.eml\n", ""},
        {"bogus", 2, "", "nvmail: unknown command 'bogus' (see 'nvmail --help')\n"},
        {"help bogus", 2, "", "nvmail: unknown command 'bogus' (see 'nvmail --help')\n"},
        {"--bogus", 2, "", "nvmail: unknown option '--bogus' (see 'nvmail --help')\n"},
        {"show --bogus x.eml", 2, "",
         "nvmail: unknown option '--bogus' for show (see 'nvmail help show')\n"},
        {"compose --subject", 2, "", "nvmail: option '--subject' needs a value (TEXT)\n"},
        {"send --password x", 2, "",
         "nvmail: unknown option '--password' for send (see 'nvmail help send')\n"},
        {"send --from a@b.test --to c@d.test", 2, "",
         "nvmail: send needs a server: --host or NVMAIL_SMTP_HOST\n"},
        {"send --host h --port 0 x.eml", 2, "", "nvmail: --port: not a port number: '0'\n"},
        {"fetch --host h --list --new", 2, "",
         "nvmail: fetch needs either --list or --dir DIR (--new and --delete go with --dir)\n"},
        {"show", 2, "", "usage: nvmail show [options] FILE.eml\n"},
        {"zip-attachments a b c d", 2, "",
         "usage: nvmail zip-attachments [options] IN.eml OUT.eml [ZIPNAME]\n"},
    };
    for (const auto& c : cases) {
        const test::NvmailResult r = nvmail(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << c.args << "\n" << r.out;
        if (c.status != 0) {
            EXPECT_EQ(r.out, "") << c.args;
        }
        EXPECT_EQ(r.err, c.err) << c.args;
    }
    const test::NvmailResult none = nvmail("");
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err.rfind("usage: nvmail <command>", 0), 0u) << none.err;

    const test::NvmailResult version = nvmail("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("nvmail [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << version.out;
}

TEST(NvmailCliTest, EveryUnreadableFileIsNamedWithTheReasonInOneLine) {
    test::TempDir dir;
    const std::string missing = dir.file("missing");
    const std::string eml = dir.file("ok.eml");
    ASSERT_TRUE(file::writeWholeFile(eml, std::string_view("Subject: s\r\n\r\nbody\r\n"), nullptr));
    const std::string compose = "compose --from a@example.com --to b@example.com ";
    const struct {
        std::string args;
        std::string err;
    } cases[] = {
        {compose + "--text " + missing, "cannot read " + missing},
        {compose + "--html " + missing, "cannot read " + missing},
        {compose + "--inline " + missing, "cannot read " + missing},
        {compose + "--attach " + missing, "cannot read " + missing},
        {compose + "--attach " + dir.path(), "cannot read " + dir.path() + ": Is a directory"},
        {compose + "-o " + missing + "/out.eml", "cannot write " + missing + "/out.eml"},
        {"show " + missing, "cannot read " + missing},
        {"extract " + missing + " " + dir.file("out"), "cannot read " + missing},
        {"to-xml " + missing, "cannot read " + missing},
        {"to-xml " + eml + " " + missing + "/out.xml", "cannot write " + missing + "/out.xml"},
        {"from-xml " + missing, "cannot read " + missing},
        {"zip-attachments " + missing + " " + dir.file("z.eml"), "cannot read " + missing},
        {"unzip-attachments " + missing + " " + dir.file("u.eml"), "cannot read " + missing},
    };
    for (const auto& c : cases) {
        const test::NvmailResult r = nvmail(c.args);
        EXPECT_EQ(r.status, 1) << c.args;
        const std::string want =
            "nvmail: " + c.err +
            (c.err.ends_with("directory") ? "" : ": No such file or directory");
        EXPECT_EQ(r.err, want + "\n") << c.args;
    }
}

TEST(NvmailCliTest, BoldOnlyOnATerminalWithoutNoColor) {
    if (!test::haveProgram("script"))
        GTEST_SKIP() << "script(1) is needed for a terminal";
    test::TempDir dir;
    const std::string eml = dir.file("m.eml");
    ASSERT_TRUE(file::writeWholeFile(eml, std::string_view("Subject: s\r\n\r\nbody\r\n"), nullptr));
    const std::string show = test::shellQuote(test::kNvmail + " show " + eml);
    std::string tty, noColor, piped;
    ASSERT_EQ(test::runCommand("script -qec " + show + " /dev/null", &tty), 0);
    ASSERT_EQ(test::runCommand("NO_COLOR=1 script -qec " + show + " /dev/null", &noColor), 0);
    ASSERT_EQ(test::runCommand(test::kNvmail + " show " + eml, &piped), 0);
    EXPECT_NE(tty.find("\033[1mStructure:\033[0m"), std::string::npos) << tty;
    EXPECT_EQ(noColor.find('\033'), std::string::npos) << noColor;
    EXPECT_NE(noColor.find("Structure:"), std::string::npos) << noColor;
    EXPECT_EQ(piped.find('\033'), std::string::npos) << piped;
}
