// The bundle's XML files and the attachment archives against Python's own readers and writers:
// what we write, Python reads; what Python writes, we unpack.

#include "facade/ClsEmailBundle.h"

#include "common/FileAccess.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <openssl/sha.h>

#include <cstdio>

using namespace norvane;

namespace {

const std::string kPeer = std::string(NORVANE_SOURCE_DIR) + "/tests/interop/facade/bundle_peer.py";

std::string peer(const std::string& command, const std::string& path) {
    std::string out;
    const int rc = test::runCommand(
        "python3 " + test::shellQuote(kPeer) + " " + command + " " + test::shellQuote(path), &out);
    EXPECT_EQ(rc, 0) << command << " " << path << "\n" << out;
    return out;
}

std::string sha1Hex(const DataBuffer& d) {
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(d.getData(), d.getSize(), md);
    std::string hex;
    char buf[3];
    for (unsigned char c : md) {
        std::snprintf(buf, sizeof buf, "%02x", c);
        hex += buf;
    }
    return hex;
}

class ClsEmailBundleInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::haveProgram("python3"))
            GTEST_SKIP() << "python3 is not installed";
    }
    test::TempDir dir_;
};

} // namespace

TEST_F(ClsEmailBundleInteropTest, PythonReadsTheSavedBundleInReverseOrder) {
    ClsEmailBundle b;
    const char* subjects[] = {"Plain one", "Second & <last>", "Third"};
    for (const char* s : subjects) {
        ClsEmail e;
        e.put_Subject(s);
        e.put_From("ann@example.com");
        ASSERT_TRUE(e.AddTo("Bob", "bob@example.com"));
        e.put_Body("Body text\r\n");
        ASSERT_TRUE(e.AddStringAttachment("note.txt", "attached"));
        ASSERT_TRUE(b.AddEmail(&e));
    }
    const std::string path = dir_.file("bundle.xml");
    ASSERT_TRUE(b.SaveXml(path.c_str()));
    EXPECT_EQ(peer("bundle-xml", path), "Third\nSecond & <last>\nPlain one\n");
}

TEST_F(ClsEmailBundleInteropTest, PythonReadsTheZippedAttachments) {
    ClsEmail e;
    e.put_Body("see the archive");
    DataBuffer binary;
    for (int i = 0; i < 70000; ++i)
        binary.appendByte(static_cast<uint8_t>((i * 7919) >> 3));
    DataBuffer text;
    text.append(std::string_view("hello zip\r\n"));
    ASSERT_FALSE(e.AddDataAttachment(binary.span(), "blob.bin").empty());
    ASSERT_FALSE(e.AddDataAttachment(text.span(), "hello.txt").empty());
    e.ZipAttachments("");
    ASSERT_EQ(e.get_NumAttachments(), 1);
    ASSERT_TRUE(e.SaveAttachedFile(0, dir_.path().c_str()));
    EXPECT_EQ(peer("list-zip", dir_.file("attach.zip")),
              "blob.bin\t70000\t" + sha1Hex(binary) + "\nhello.txt\t11\t" + sha1Hex(text) + "\n");
}

TEST_F(ClsEmailBundleInteropTest, ArchivesWrittenByPythonUnpackWithoutDirectories) {
    const std::string zip = dir_.file("py.zip");
    (void)peer("make-zip", zip);
    ClsEmail e;
    e.put_Body("archive from python");
    ASSERT_FALSE(e.AddFileAttachment(zip.c_str()).empty());
    ASSERT_TRUE(e.UnzipAttachments()) << e.get_LastErrorText();
    ASSERT_EQ(e.get_NumAttachments(), 2);
    EXPECT_EQ(e.GetAttachmentFilename(0), "stored.txt");
    EXPECT_EQ(e.GetAttachmentFilename(1), "deflated.txt");
    const DataBuffer stored = e.GetAttachmentData(0);
    EXPECT_EQ(stored.toString(), "stored bytes\n");
    std::string expected;
    for (int i = 0; i < 500; ++i)
        expected += "deflate me ";
    const DataBuffer deflated = e.GetAttachmentData(1);
    EXPECT_EQ(deflated.toString(), expected);
}
