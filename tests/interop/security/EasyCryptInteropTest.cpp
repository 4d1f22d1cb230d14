// What we encrypt, the openssl command decrypts, and the other way round. The keys given to
// openssl are computed by shell tools from the password, independently of our derivation.
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "security/EasyCrypt.h"
#include "support/Bytes.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;
using test::runCommand;
using test::shellQuote;

namespace {

constexpr const char* kZeroIv16 = "00000000000000000000000000000000";
constexpr const char* kZeroIv8 = "0000000000000000";

std::string shellOutput(const std::string& cmd) {
    std::string out;
    EXPECT_EQ(runCommand(cmd, &out), 0) << cmd;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

// MD5 of the password, and of its base64 text, as lower-case hex.
std::string md5Hex(const std::string& password) {
    return shellOutput("printf %s " + shellQuote(password) + " | openssl md5 -r | cut -c1-32");
}
std::string md5OfBase64Hex(const std::string& password) {
    return shellOutput("printf %s " + shellQuote(password) +
                       " | base64 -w0 | openssl md5 -r | cut -c1-32");
}

std::string samplePlain(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char>((i * 131 + 7) & 0xFF));
    return s;
}

class EasyCryptInteropTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::haveProgram("openssl")); }
    test::TempDir dir;
};

} // namespace

TEST_F(EasyCryptInteropTest, ProtectStringIsDecryptedByOpensslEnc) {
    const std::string password = "q7xkvbe";
    std::string key = md5Hex(password);
    ASSERT_EQ(key.size(), 32u);
    LogNull log;
    for (size_t len : {1u, 5u, 15u, 16u, 17u, 1000u}) {
        std::string plain = samplePlain(len);
        StringBuffer s(plain);
        ASSERT_TRUE(EasyCrypt::protectString(password.c_str(), s, log));
        ASSERT_TRUE(file::writeWholeFile(dir.file("p.b64"), s.str() + "\n", nullptr));
        std::string out;
        ASSERT_EQ(runCommand("openssl enc -d -aes-128-cbc -a -A -K " + key + " -iv " + kZeroIv16 +
                                 " -in " + shellQuote(dir.file("p.b64")),
                             &out),
                  0);
        EXPECT_EQ(out, plain) << len;
    }
}

TEST_F(EasyCryptInteropTest, OpensslEncOutputIsUnprotected) {
    const std::string password = "another passw\xC3\xB6rd";
    std::string key = md5Hex(password);
    Logger log;
    for (size_t len : {1u, 16u, 33u, 4096u}) {
        std::string plain = samplePlain(len);
        ASSERT_TRUE(file::writeWholeFile(dir.file("plain"), plain, nullptr));
        std::string b64 = shellOutput("openssl enc -aes-128-cbc -a -A -K " + key + " -iv " +
                                      kZeroIv16 + " -in " + shellQuote(dir.file("plain")));
        StringBuffer s(b64);
        ASSERT_TRUE(EasyCrypt::unprotectString(password.c_str(), s, log));
        EXPECT_EQ(s.str(), plain) << len;
    }
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST_F(EasyCryptInteropTest, Aes256AndBlowfishBuffersMatchOpenssl) {
    const std::string password = "buffer password";
    std::string key256 = md5Hex(password) + md5OfBase64Hex(password);
    std::string plain = samplePlain(100000);
    ASSERT_TRUE(file::writeWholeFile(dir.file("plain"), plain, nullptr));
    LogNull log;

    DataBuffer ours;
    ASSERT_TRUE(EasyCrypt::encryptBuffer(1, 256, password.c_str(), bytesOf(plain), ours, log));
    std::string theirs;
    ASSERT_EQ(runCommand("openssl enc -aes-256-cbc -K " + key256 + " -iv " + kZeroIv16 + " -in " +
                             shellQuote(dir.file("plain")),
                         &theirs),
              0);
    EXPECT_TRUE(ours.view() == theirs);

    // Blowfish with a 128-bit key: the first half of the derived key.
    DataBuffer bf;
    ASSERT_TRUE(EasyCrypt::encryptBuffer(3, 128, password.c_str(), bytesOf(plain), bf, log));
    ASSERT_TRUE(file::writeWholeFile(dir.file("bf"), bf.span(), nullptr));
    std::string back;
    ASSERT_EQ(runCommand("openssl enc -d -bf-cbc -provider legacy -provider default -K " +
                             md5Hex(password) + " -iv " + kZeroIv8 + " -in " +
                             shellQuote(dir.file("bf")),
                         &back),
              0);
    EXPECT_TRUE(back == plain);
}
