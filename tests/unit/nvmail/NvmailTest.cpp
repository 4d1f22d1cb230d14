// The nvmail program end to end: compose writes an e-mail, show reads one back for a person,
// extract saves attachments without letting a hostile file name escape the target directory.

#include "common/FileAccess.h"
#include "unit/nvmail/NvmailRun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

using namespace norvane;

namespace {

const std::string kSample = std::string(NORVANE_SOURCE_DIR) + "/tools/nvmail/sample";

using test::nvmail;
using test::nvmailMerged;
using Result = test::NvmailResult;

std::string attachmentPart(const std::string& filename, const std::string& data) {
    return "--b\r\nContent-Type: application/octet-stream\r\n"
           "Content-Disposition: attachment; filename=\"" +
           filename + "\"\r\n\r\n" + data + "\r\n";
}

} // namespace

TEST(NvmailTest, ComposeShowAndExtractTheSample) {
    test::TempDir dir;
    const std::string eml = dir.file("out.eml");
    Result r = nvmailMerged("compose --from 'Ann <ann@example.com>' --to bob@example.com"
                            " --subject 'Caf\xC3\xA9 report' --text " +
                            kSample + "/message.txt --html " + kSample + "/message.html --inline " +
                            kSample + "/logo.png --attach " + kSample + "/report.pdf -o " + eml);
    ASSERT_EQ(r.status, 0) << r.out;
    r = nvmailMerged("show " + eml);
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
    r = nvmailMerged("extract --inline " + eml + " " + files);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::listDir(files), (std::set<std::string>{"report.pdf", "logo.png"}));
    EXPECT_EQ(test::readFile(files + "/report.pdf"), test::readFile(kSample + "/report.pdf"));
    EXPECT_EQ(test::readFile(files + "/logo.png"), test::readFile(kSample + "/logo.png"));

    // A second extraction never overwrites: the copies get numbered names.
    r = nvmailMerged("extract " + eml + " " + files);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::listDir(files),
              (std::set<std::string>{"report.pdf", "report (1).pdf", "logo.png"}));
}

TEST(NvmailTest, ComposeNeedsValidAddressesUnlessAllowedIncomplete) {
    const Result r = nvmail("compose --from a@example.com --to b@example.com --text-string hi");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\r\nFrom: a@example.com\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\r\n\r\nhi"), std::string::npos) << r.out;

    const struct {
        const char* args;
        int status;
        const char* err;
    } cases[] = {
        {"--to b@example.com", 2, "compose needs --from (or --allow-incomplete)"},
        {"--from a@example.com", 2,
         "compose needs a recipient: --to, --cc or --bcc (or --allow-incomplete)"},
        {"--from @@ --to b@example.com", 1, "--from: not an e-mail address: '@@'"},
        {"--from 'a@example.com, c@example.com' --to b@example.com", 1,
         "--from: not an e-mail address: 'a@example.com, c@example.com'"},
        {"--from a@example.com --to 'not an address'", 1,
         "--to: not a list of e-mail addresses: 'not an address'"},
        {"--from a@example.com --cc 'b@example.com, junk'", 1,
         "--cc: not a list of e-mail addresses: 'junk'"},
        {"--from a@example.com --bcc @@", 1, "--bcc: not a list of e-mail addresses: '@@'"},
        {"--allow-incomplete --from nobody", 1, "--from: not an e-mail address: 'nobody'"},
        // The library would take no sender from it: refused, not left out of the message.
        {"--from 'Ann <a@example.com' --to b@example.com", 1,
         "--from: not an e-mail address: 'Ann <a@example.com'"},
    };
    for (const auto& c : cases) {
        const Result bad = nvmail(std::string("compose --text-string hi ") + c.args);
        EXPECT_EQ(bad.status, c.status) << c.args;
        EXPECT_EQ(bad.err, std::string("nvmail: ") + c.err + "\n") << c.args;
        EXPECT_EQ(bad.out, "") << c.args;
    }

    const Result draft = nvmail("compose --allow-incomplete --text-string draft");
    ASSERT_EQ(draft.status, 0) << draft.err;
    EXPECT_EQ(draft.out.find("From:"), std::string::npos) << draft.out;
    EXPECT_NE(draft.out.find("\r\n\r\ndraft"), std::string::npos) << draft.out;
}

TEST(NvmailTest, AnEmptyHtmlFileIsAnHtmlBody) {
    test::TempDir dir;
    const std::string html = dir.file("empty.html");
    ASSERT_TRUE(file::writeWholeFile(html, std::string_view(), nullptr));
    const Result r = nvmail("compose --from a@example.com --to b@example.com --html " + html);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Content-Type: text/html"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("text/plain"), std::string::npos) << r.out;
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

    Result r = nvmailMerged("extract " + eml + " " + out);
    ASSERT_EQ(r.status, 0) << r.out;
    const auto names = test::listDir(out);
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
    EXPECT_EQ(test::listDir(dir.path()),
              (std::set<std::string>{"hostile.eml", "out", "victim.txt"}));
}

TEST(NvmailTest, ShowReplacesControlCharacters) {
    test::TempDir dir;
    const std::string eml = dir.file("ctl.eml");
    ASSERT_TRUE(file::writeWholeFile(
        eml, std::string_view("Subject: =?utf-8?Q?a=1B]0;title=07b?=\r\n\r\nbody\x1b[2J\r\n"),
        nullptr));
    Result r = nvmailMerged("show " + eml);
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
    const Result plain = nvmailMerged("show " + eml);
    ASSERT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(plain.out.find("Activity log:"), std::string::npos) << plain.out;
    const Result logged = nvmailMerged("show --log " + eml);
    ASSERT_EQ(logged.status, 0) << logged.out;
    EXPECT_EQ(logged.out.substr(0, plain.out.size()), plain.out);
    EXPECT_EQ(logged.out.substr(plain.out.size()),
              "\nActivity log:\nBody holds bytes that are not base64; they are skipped.\n"
              "encoded_size: 16\n")
        << logged.out;
    EXPECT_EQ(nvmailMerged("show --log").status, 2);
}

TEST(NvmailTest, ZipAndUnzipAttachmentsInPlace) {
    test::TempDir dir;
    const std::string eml = dir.file("in.eml");
    ASSERT_EQ(
        nvmailMerged("compose --from a@example.com --to b@example.com --text-string hi --attach " +
                     kSample + "/report.pdf --attach " + kSample + "/logo.png -o " + eml)
            .status,
        0);
    Result z = nvmailMerged("zip-attachments " + eml + " " + eml + " files.zip");
    ASSERT_EQ(z.status, 0) << z.out;
    EXPECT_NE(z.out.find("2 attachment(s) zipped\n  files.zip ("), std::string::npos) << z.out;
    Result u = nvmailMerged("unzip-attachments " + eml + " " + eml);
    ASSERT_EQ(u.status, 0) << u.out;
    EXPECT_NE(u.out.find("2 attachment(s) after unzipping\n  report.pdf (613 bytes)\n"
                         "  logo.png (1126 bytes)\n"),
              std::string::npos)
        << u.out;
    ASSERT_EQ(nvmailMerged("extract " + eml + " " + dir.file("out")).status, 0);
    for (const char* name : {"report.pdf", "logo.png"})
        EXPECT_EQ(test::readFile(dir.file(std::string("out/") + name)),
                  test::readFile(kSample + "/" + name))
            << name;
    EXPECT_EQ(test::listDir(dir.path()), (std::set<std::string>{"in.eml", "out"}));
}

TEST(NvmailTest, AFailedUnzipLeavesTheFileAsItWas) {
    // Unzipping in place used to write the message without the archive it could not read.
    test::TempDir dir;
    const std::string eml = dir.file("in.eml");
    const std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
                             attachmentPart("x.zip", "these bytes are no archive") + "--b--\r\n";
    ASSERT_TRUE(file::writeWholeFile(eml, text, nullptr));
    const Result r = nvmail("unzip-attachments " + eml + " " + eml);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "nvmail: cannot unzip the attachments of " + eml +
                         ": Not a zip archive: no end of central directory record\n");
    EXPECT_EQ(test::readFile(eml), text);
    EXPECT_EQ(test::listDir(dir.path()), (std::set<std::string>{"in.eml"}));

    // The activity log only on request.
    const Result logged = nvmail("unzip-attachments --log " + eml + " " + dir.file("out.eml"));
    EXPECT_EQ(logged.status, 1);
    EXPECT_NE(logged.err.find("The archive stays attached"), std::string::npos) << logged.err;
    EXPECT_EQ(test::listDir(dir.path()), (std::set<std::string>{"in.eml"}));
}
