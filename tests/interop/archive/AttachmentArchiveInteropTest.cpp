// Attachments zipped by us are tested and extracted by Info-ZIP's unzip and Python's zipfile
// with the same bytes; archives made by zip and by Python unzip into the expected attachments.
#include "archive/AttachmentArchive.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace norvane;
using test::runCommand;
using test::shellQuote;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

Files attachmentsOf(const Email2& e) {
    Files out;
    for (const Email2* a : e.attachments())
        out.emplace_back(a->attachmentFilename(), a->body().toString());
    return out;
}

class AttachmentArchiveInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"zip", "unzip", "python3"})
            ASSERT_TRUE(test::haveProgram(tool)) << tool << " is missing (scripts/packages.txt)";
    }
    // Unpacks the archive at path attached to a fresh e-mail.
    Files unzipFile(const std::string& path) {
        std::string bytes = test::readFile(path);
        Email2 e;
        e.setBody("x", false);
        (void)e.addDataAttachment("in.zip", DataBuffer(std::string_view(bytes)), "");
        Logger log;
        EXPECT_TRUE(attachment_archive::unzipAttachments(e, log)) << path;
        return attachmentsOf(e);
    }
    test::TempDir dir;
};

} // namespace

TEST_F(AttachmentArchiveInteropTest, ZippedAttachmentsExtractWithTheSameBytes) {
    const Files files = {{"notes.txt", "line one\r\nline two\r\n"},
                         {"random.bin", randomBytes(100000, 3)},
                         {"empty.dat", ""}};
    Email2 e;
    e.setBody("x", false);
    for (const auto& [name, data] : files)
        (void)e.addDataAttachment(name, DataBuffer(std::string_view(data)), "");
    Logger log;
    ASSERT_TRUE(attachment_archive::zipAttachments(&e, "", log));
    ASSERT_EQ(e.numAttachments(), 1);
    const std::string zipPath = dir.file("attach.zip");
    ASSERT_TRUE(file::writeWholeFile(zipPath, e.attachmentAt(0)->body().view(), nullptr));

    ASSERT_EQ(runCommand("unzip -tq " + shellQuote(zipPath)), 0);
    ASSERT_EQ(runCommand("unzip -q -d " + shellQuote(dir.file("u")) + " " + shellQuote(zipPath)),
              0);
    std::string listing;
    ASSERT_EQ(
        runCommand("python3 -c " +
                       shellQuote("import sys, zipfile\n"
                                  "z = zipfile.ZipFile(sys.argv[1])\n"
                                  "z.extractall(sys.argv[2])\n"
                                  "for i in z.infolist():\n"
                                  "    print(i.filename, i.compress_type, i.extract_version)\n") +
                       " " + shellQuote(zipPath) + " " + shellQuote(dir.file("p")),
                   &listing),
        0);
    for (const auto& [name, data] : files) {
        EXPECT_EQ(test::readFile(dir.file("u/" + name)), data) << name;
        EXPECT_EQ(test::readFile(dir.file("p/" + name)), data) << name;
        EXPECT_NE(listing.find(name + " 8 20"), std::string::npos) << listing;
    }
}

TEST_F(AttachmentArchiveInteropTest, ArchivesOfZipAndPythonUnzipIntoTheirFiles) {
    const std::string text = "inner text\n";
    const std::string blob = randomBytes(30000, 9);
    const std::string src = dir.file("src");
    std::filesystem::create_directories(src + "/sub");
    ASSERT_TRUE(file::writeWholeFile(src + "/blob.bin", blob, nullptr));
    ASSERT_TRUE(file::writeWholeFile(src + "/sub/c.txt", text, nullptr));
    const Files expected = {{"blob.bin", blob}, {"c.txt", text}};
    for (const char* level : {"-0", "-6"}) {
        const std::string out = dir.file(std::string("zip") + level + ".zip");
        ASSERT_EQ(runCommand("cd " + shellQuote(src) + " && zip -q -X " + level + " -r " +
                             shellQuote(out) + " blob.bin sub"),
                  0);
        EXPECT_EQ(unzipFile(out), expected) << level;
    }
    ASSERT_EQ(runCommand("python3 -c " +
                         shellQuote("import sys, zipfile\n"
                                    "src = sys.argv[1]\n"
                                    "for name, kind in (('stored', zipfile.ZIP_STORED),\n"
                                    "                   ('deflated', zipfile.ZIP_DEFLATED)):\n"
                                    "    with zipfile.ZipFile(f'{src}/../{name}.zip', 'w', kind) "
                                    "as z:\n"
                                    "        z.write(f'{src}/blob.bin', 'blob.bin')\n"
                                    "        z.writestr('sub/', b'')\n"
                                    "        z.write(f'{src}/sub/c.txt', 'sub/c.txt')\n") +
                         " " + shellQuote(src)),
              0);
    EXPECT_EQ(unzipFile(dir.file("stored.zip")), expected);
    EXPECT_EQ(unzipFile(dir.file("deflated.zip")), expected);
}
