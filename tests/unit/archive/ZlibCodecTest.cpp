#include "archive/ZlibCodec.h"
#include "common/Logger.h"
#include "support/Bytes.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

#include <random>

using namespace norvane;
using namespace norvane::test;

TEST(ZlibCodecTest, Crc32OfKnownValues) {
    EXPECT_EQ(zlibcodec::crc32Of(bytesOf("")), 0u);
    EXPECT_EQ(zlibcodec::crc32Of(bytesOf("123456789")), 0xCBF43926u);
}

TEST(ZlibCodecTest, DeflateInflateRoundTripAtEveryLevel) {
    std::mt19937 gen(3);
    std::string data;
    for (int i = 0; i < 300000; ++i)
        data.push_back(static_cast<char>('a' + gen() % 4));
    LogNull log;
    for (int level = 0; level <= 9; ++level) {
        std::vector<uint8_t> packed, back;
        ASSERT_TRUE(zlibcodec::deflateRaw(bytesOf(data), level, packed, log));
        ASSERT_TRUE(zlibcodec::inflateRaw(packed, data.size(), back, log)) << level;
        EXPECT_EQ(std::string(back.begin(), back.end()), data);
    }
    std::vector<uint8_t> packed, back;
    ASSERT_TRUE(zlibcodec::deflateRaw({}, 6, packed, log));
    ASSERT_TRUE(zlibcodec::inflateRaw(packed, 0, back, log));
    EXPECT_TRUE(back.empty());
}

TEST(ZlibCodecTest, InflateStopsJustPastTheLimit) {
    std::string data(100000, 'a');
    LogNull log;
    std::vector<uint8_t> packed, back;
    ASSERT_TRUE(zlibcodec::deflateRaw(bytesOf(data), 6, packed, log));
    EXPECT_TRUE(zlibcodec::inflateRaw(packed, 100000, back, log));
    Logger errors;
    EXPECT_FALSE(zlibcodec::inflateRaw(packed, 99999, back, errors));
    EXPECT_TRUE(back.empty());
    EXPECT_NE(logText(errors).find("Entry inflates past the size limit"), std::string::npos);
}

TEST(ZlibCodecTest, TruncatedAndDamagedStreamsFail) {
    std::string data(5000, 'b');
    data += "different tail";
    LogNull log;
    std::vector<uint8_t> packed, back;
    ASSERT_TRUE(zlibcodec::deflateRaw(bytesOf(data), 6, packed, log));
    for (size_t n = 0; n < packed.size(); ++n) {
        std::span<const uint8_t> part(packed.data(), n);
        EXPECT_FALSE(zlibcodec::inflateRaw(part, 1 << 20, back, log)) << n;
    }
    Logger errors;
    std::vector<uint8_t> junk = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(zlibcodec::inflateRaw(junk, 1 << 20, back, errors));
    EXPECT_NE(logText(errors).find("Compressed data is damaged"), std::string::npos);
}
