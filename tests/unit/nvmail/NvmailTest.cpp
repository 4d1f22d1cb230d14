// The nvmail program end to end: compose writes an e-mail, show reads one back for a person,
// extract saves attachments without letting a hostile file name escape the target directory.

#include "common/FileAccess.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <dirent.h>
#include <set>
#include <string>

using namespace norvane;

namespace {

const std::string kNvmail = std::string(NORVANE_BINARY_DIR) + "/tools/nvmail";
const std::string kSample = std::string(NORVANE_SOURCE_DIR) + "/tools/nvmail/sample";

struct Result {
    int status = -1;
    std::string out;
};

Result run(const std::string& args) {
    Result r;
    r.status = test::runCommand(kNvmail + " " + args + " 2>&1", &r.out);
    return r;
}

std::set<std::string> listDir(const std::string& path) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..")
                names.insert(e->d_name);
        ::closedir(d);
    }
    return names;
}

std::string attachmentPart(const std::string& filename, const std::string& data) {
    return "--b\r\nContent-Type: application/octet-stream\r\n"
           "Content-Disposition: attachment; filename=\"" +
           filename + "\"\r\n\r\n" + data + "\r\n";
}

} // namespace

TEST(NvmailTest, ComposeShowAndExtractTheSample) {
    test::TempDir dir;
    const std::string eml = dir.file("out.eml");
    Result r = run("compose --from 'Ann <ann@example.com>' --to bob@example.com"
                   " --subject 'Caf\xC3\xA9 report' --text " +
                   kSample + "/message.txt --html " + kSample + "/message.html --inline " +
                   kSample + "/logo.png --attach " + kSample + "/report.pdf -o " + eml);
    ASSERT_EQ(r.status, 0) << r.out;
    r = run("show " + eml);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("From: \"Ann\" <ann@example.com>\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("To: bob@example.com\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Subject: Caf\xC3\xA9 report\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  multipart/mixed\n    multipart/related; type=multipart/alternative\n"
                         "      multipart/alternative\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  | Hello Ann,\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  1. report.pdf (application/pdf, 613 bytes)\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  1. logo.png (image/png, 1126 bytes) <NORVANE-CID-"), std::string::npos)
        << r.out;

    const std::string files = dir.file("files");
    r = run("extract --inline " + eml + " " + files);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(listDir(files), (std::set<std::string>{"report.pdf", "logo.png"}));
    EXPECT_EQ(test::readFile(files + "/report.pdf"), test::readFile(kSample + "/report.pdf"));
    EXPECT_EQ(test::readFile(files + "/logo.png"), test::readFile(kSample + "/logo.png"));

    // A second extraction never overwrites: the copies get numbered names.
    r = run("extract " + eml + " " + files);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(listDir(files), (std::set<std::string>{"report.pdf", "report (1).pdf", "logo.png"}));
}

TEST(NvmailTest, ComposeToStdoutAndRefusesBadInput) {
    Result r = run("compose --from a@example.com --to b@example.com --text-string hi");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\r\nFrom: a@example.com\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\r\n\r\nhi"), std::string::npos) << r.out;

    EXPECT_EQ(run("compose --from nobody").status, 1);
    EXPECT_EQ(run("compose --to 'no address'").status, 1);
    EXPECT_EQ(run("compose --attach /nonexistent/file.pdf").status, 1);
    EXPECT_EQ(run("compose --bogus x").status, 2);
    EXPECT_EQ(run("compose --subject").status, 2);
    EXPECT_EQ(run("show").status, 2);
    EXPECT_EQ(run("show /nonexistent.eml").status, 1);
    EXPECT_EQ(run("frobnicate").status, 2);
}

TEST(NvmailTest, ExtractKeepsHostileNamesInsideTheDirectory) {
    test::TempDir dir;
    const std::string eml = dir.file("hostile.eml");
    const std::string text =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
        attachmentPart("../../escape.sh", "one") + attachmentPart("/etc/passwd", "two") +
        attachmentPart("..", "three") + attachmentPart(".bashrc", "four") +
        attachmentPart("C:\\Windows\\evil.exe", "five") + attachmentPart("red\x1b[31m.txt", "six") +
        attachmentPart("same.txt", "seven") + attachmentPart("same.txt", "eight") +
        attachmentPart(std::string(300, 'n') + ".txt", "nine") + attachmentPart("link.txt", "ten") +
        "--b--\r\n";
    ASSERT_TRUE(file::writeWholeFile(eml, text, nullptr));
    const std::string out = dir.file("out");
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    // A link planted where an attachment will be saved must not be followed.
    const std::string victim = dir.file("victim.txt");
    ASSERT_TRUE(file::writeWholeFile(victim, std::string_view("untouched"), nullptr));
    ASSERT_EQ(::symlink(victim.c_str(), (out + "/link.txt").c_str()), 0);

    Result r = run("extract " + eml + " " + out);
    ASSERT_EQ(r.status, 0) << r.out;
    const auto names = listDir(out);
    EXPECT_EQ(names.size(), 11u) << r.out;
    for (const char* n : {"escape.sh", "passwd", "attachment.dat", "bashrc", "evil.exe",
                          "red_[31m.txt", "same.txt", "same (1).txt", "link.txt", "link (1).txt"})
        EXPECT_EQ(names.count(n), 1u) << n << "\n" << r.out;
    EXPECT_EQ(test::readFile(out + "/same (1).txt"), "eight");
    EXPECT_EQ(test::readFile(victim), "untouched");
    EXPECT_EQ(test::readFile(out + "/link (1).txt"), "ten");
    for (const auto& n : names)
        EXPECT_LE(n.size(), 200u);
    // Nothing was written next to the directory.
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"hostile.eml", "out", "victim.txt"}));
}

TEST(NvmailTest, ShowReplacesControlCharacters) {
    test::TempDir dir;
    const std::string eml = dir.file("ctl.eml");
    ASSERT_TRUE(file::writeWholeFile(
        eml, std::string_view("Subject: =?utf-8?Q?a=1B]0;title=07b?=\r\n\r\nbody\x1b[2J\r\n"),
        nullptr));
    Result r = run("show " + eml);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x07'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Subject: a?]0;title?b\n"), std::string::npos) << r.out;
}

TEST(NvmailTest, ShowLogPrintsTheActivityLogOfTheLoad) {
    test::TempDir dir;
    const std::string eml = dir.file("bad64.eml");
    ASSERT_TRUE(file::writeWholeFile(eml,
                                     std::string_view("Subject: s\r\nContent-Type: image/png\r\n"
                                                      "Content-Transfer-Encoding: base64\r\n\r\n"
                                                      "!!not base64!!\r\n"),
                                     nullptr));
    const Result plain = run("show " + eml);
    ASSERT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(plain.out.find("Activity log:"), std::string::npos) << plain.out;
    const Result logged = run("show --log " + eml);
    ASSERT_EQ(logged.status, 0) << logged.out;
    EXPECT_EQ(logged.out.substr(0, plain.out.size()), plain.out);
    EXPECT_EQ(logged.out.substr(plain.out.size()),
              "\nActivity log:\nBody holds bytes that are not base64; they are skipped.\n"
              "encoded_size: 16\n")
        << logged.out;
    EXPECT_EQ(run("show --log").status, 2);
}

TEST(NvmailTest, ZipAndUnzipAttachmentsRoundTrip) {
    test::TempDir dir;
    const std::string in = dir.file("in.eml"), zipped = dir.file("z.eml"),
                      unzipped = dir.file("u.eml");
    ASSERT_EQ(run("compose --from a@example.com --to b@example.com --text-string hi --attach " +
                  kSample + "/report.pdf --attach " + kSample + "/logo.png -o " + in)
                  .status,
              0);
    Result z = run("zip-attachments " + in + " " + zipped + " files.zip");
    ASSERT_EQ(z.status, 0) << z.out;
    EXPECT_NE(z.out.find("2 attachment(s) zipped\n  files.zip ("), std::string::npos) << z.out;
    Result u = run("unzip-attachments " + zipped + " " + unzipped);
    ASSERT_EQ(u.status, 0) << u.out;
    EXPECT_NE(u.out.find("2 attachment(s) after unzipping\n  report.pdf (613 bytes)\n"
                         "  logo.png (1126 bytes)\n"),
              std::string::npos)
        << u.out;
    ASSERT_EQ(run("extract " + unzipped + " " + dir.file("out")).status, 0);
    for (const char* name : {"report.pdf", "logo.png"})
        EXPECT_EQ(test::readFile(dir.file(std::string("out/") + name)),
                  test::readFile(kSample + "/" + name))
            << name;

    EXPECT_EQ(run("zip-attachments " + in).status, 2);
    EXPECT_EQ(run("unzip-attachments " + in).status, 2);
    EXPECT_EQ(run("unzip-attachments /nonexistent.eml " + dir.file("x.eml")).status, 1);
}
