#include "security/EasyCrypt.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "support/Bytes.h"
#include "support/LogText.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

TEST(EasyCryptTest, ProtectStringLengthsFollowTheBlocks) {
    LogNull log;
    StringBuffer five("12345");
    ASSERT_TRUE(EasyCrypt::protectString("pw", five, log));
    EXPECT_EQ(five.getSize(), 24u);
    StringBuffer sixteen("0123456789abcdef");
    ASSERT_TRUE(EasyCrypt::protectString("pw", sixteen, log));
    EXPECT_EQ(sixteen.getSize(), 44u);
    EXPECT_EQ(sixteen.str().find_first_of("\r\n"), std::string::npos);
    StringBuffer empty;
    ASSERT_TRUE(EasyCrypt::protectString("pw", empty, log));
    EXPECT_TRUE(empty.isEmpty());
}

TEST(EasyCryptTest, UnprotectReversesProtectAndAWrongPasswordGivesOtherBytes) {
    Logger log;
    const std::string secret = "smtp password \xC3\xA9\x01\xFF";
    StringBuffer s(secret);
    ASSERT_TRUE(EasyCrypt::protectString("q7xkvbe", s, log));
    std::string protectedText = s.str();
    ASSERT_TRUE(EasyCrypt::unprotectString("q7xkvbe", s, log));
    EXPECT_EQ(s.str(), secret);

    StringBuffer wrong(protectedText);
    ASSERT_TRUE(EasyCrypt::unprotectString("other", wrong, log));
    EXPECT_NE(wrong.str(), secret);
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST(EasyCryptTest, UnprotectLeavesTextThatIsNotProtectedAlone) {
    Logger log;
    StringBuffer notBase64("not base64 at all!");
    EXPECT_FALSE(EasyCrypt::unprotectString("pw", notBase64, log));
    EXPECT_EQ(notBase64.str(), "not base64 at all!");
    StringBuffer shortBlock("QUJD"); // base64 of three bytes
    EXPECT_FALSE(EasyCrypt::unprotectString("pw", shortBlock, log));
    EXPECT_EQ(shortBlock.str(), "QUJD");
    EXPECT_NE(logText(log).find("Protected string is not base64"), std::string::npos);
}

TEST(EasyCryptTest, AlgorithmNumbersPickTheCipher) {
    LogNull log;
    std::string data = "the same data for every cipher";
    DataBuffer aes, two, bf, other;
    ASSERT_TRUE(EasyCrypt::encryptBuffer(1, 128, "pw", bytesOf(data), aes, log));
    ASSERT_TRUE(EasyCrypt::encryptBuffer(2, 128, "pw", bytesOf(data), two, log));
    ASSERT_TRUE(EasyCrypt::encryptBuffer(3, 128, "pw", bytesOf(data), bf, log));
    ASSERT_TRUE(EasyCrypt::encryptBuffer(77, 128, "pw", bytesOf(data), other, log));
    EXPECT_EQ(aes.getSize(), 32u);
    EXPECT_EQ(two.getSize(), 32u);
    EXPECT_EQ(bf.getSize(), 32u);
    EXPECT_NE(aes, two);
    EXPECT_EQ(bf, other);
    for (auto [alg, enc] : {std::pair{1, &aes}, {2, &two}, {3, &bf}}) {
        DataBuffer back;
        ASSERT_TRUE(EasyCrypt::decryptBuffer(alg, 128, "pw", enc->span(), back, log));
        EXPECT_EQ(back.view(), data);
    }
    DataBuffer same;
    ASSERT_TRUE(EasyCrypt::decryptBuffer(0, 128, "pw", aes.span(), same, log));
    EXPECT_EQ(same, aes);
}

TEST(EasyCryptTest, EmptyDataAndNullPassword) {
    Logger log;
    DataBuffer out;
    out.append("stale");
    EXPECT_TRUE(EasyCrypt::encryptBuffer(1, 256, "pw", {}, out, log));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_TRUE(EasyCrypt::decryptBuffer(1, 256, "pw", {}, out, log));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(EasyCrypt::encryptBuffer(1, 256, nullptr, bytesOf("x"), out, log));
    EXPECT_FALSE(EasyCrypt::decryptBuffer(1, 256, nullptr, bytesOf("x"), out, log));
    StringBuffer s("x");
    EXPECT_FALSE(EasyCrypt::protectString(nullptr, s, log));
    EXPECT_EQ(s.str(), "x");
    EXPECT_NE(logText(log).find("No password given"), std::string::npos);
}

TEST(EasyCryptTest, FilesRoundTrip) {
    test::TempDir dir;
    Logger log;
    std::string plain(100000, '\0');
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(i * 7 + i / 256);
    ASSERT_TRUE(file::writeWholeFile(dir.file("in.bin"), plain, &log));
    ASSERT_TRUE(EasyCrypt::encryptFile(2, 256, "pw", dir.file("in.bin"), dir.file("enc.bin"), log));
    std::string enc = test::readFile(dir.file("enc.bin"));
    EXPECT_EQ(enc.size(), 100000u + 16 - 100000 % 16);
    EXPECT_NE(enc.substr(0, 100), plain.substr(0, 100));
    ASSERT_TRUE(
        EasyCrypt::decryptFile(2, 256, "pw", dir.file("enc.bin"), dir.file("out.bin"), log));
    EXPECT_EQ(test::readFile(dir.file("out.bin")), plain);
    EXPECT_FALSE(EasyCrypt::encryptFile(1, 128, "pw", dir.file("missing"), dir.file("x"), log));
    EXPECT_FALSE(file::fileExists(dir.file("x")));
}
