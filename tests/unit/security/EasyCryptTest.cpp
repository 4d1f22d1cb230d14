#include "security/EasyCrypt.h"
#include "common/Logger.h"
#include "support/Bytes.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

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
    EXPECT_NE(logText(log).find("No password given"), std::string::npos);
}
