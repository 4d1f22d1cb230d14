#include "common/Logger.h"
#include "security/BlowFish.h"
#include "security/Rijndael2.h"
#include "security/TwoFish.h"
#include "support/Bytes.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace norvane;
using namespace norvane::test;

namespace {

// The first block of encrypting one block: padding adds a second block after it.
std::string firstBlock(SymmetricAlgorithm2& c, std::string_view keyHex, std::string_view ptHex) {
    LogNull log;
    EXPECT_TRUE(c.setKeyBytes(bytesOf(fromHex(keyHex))));
    c.setCipherMode(CipherMode::Ecb);
    DataBuffer out;
    EXPECT_TRUE(c.encryptBuffer(bytesOf(fromHex(ptHex)), out, log));
    EXPECT_EQ(out.getSize(), 2 * c.blockSize());
    return hexOf(out.span().first(c.blockSize()));
}

} // namespace

TEST(SymmetricAlgorithm2Test, DerivedKeyIsMd5OfPasswordThenMd5OfItsBase64) {
    Rijndael2 aes;
    aes.setPassword("secret");
    EXPECT_EQ(hexOf(aes.derivedKey().span()), "5ebe2294ecd0e0f08eab7690d2a6ee69"
                                              "9e9962d184ac052cd8cc4bac9633c848");
    // Long passwords: the base64 text has no line breaks.
    aes.setPassword(std::string(100, 'x'));
    EXPECT_EQ(hexOf(aes.derivedKey().span()), "aed563ecafb4bcc5654c597a421547b2"
                                              "f4b5a6f23ef6d8cd8d945ae0a922ed3a");
    aes.setPassword("");
    EXPECT_EQ(hexOf(aes.derivedKey().span()), "d41d8cd98f00b204e9800998ecf8427e"
                                              "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(SymmetricAlgorithm2Test, KeyLengthSelection) {
    Rijndael2 aes;
    TwoFish two;
    for (auto [asked, got] : {std::pair{0, 128},
                              {128, 128},
                              {129, 192},
                              {192, 192},
                              {193, 256},
                              {256, 256},
                              {4096, 256},
                              {-5, 128}}) {
        aes.setKeyLength(asked);
        two.setKeyLength(asked);
        EXPECT_EQ(aes.keyLength(), got) << asked;
        EXPECT_EQ(two.keyLength(), got) << asked;
    }
    BlowFish bf;
    for (auto [asked, got] :
         {std::pair{0, 40}, {40, 40}, {47, 40}, {130, 128}, {447, 440}, {448, 448}, {1000, 448}}) {
        bf.setKeyLength(asked);
        EXPECT_EQ(bf.keyLength(), got) << asked;
    }
}

TEST(SymmetricAlgorithm2Test, PaddingAddsOneToAWholeBlock) {
    for (size_t len = 0; len <= 33; ++len) {
        DataBuffer d(std::string(len, 'a'));
        SymmetricAlgorithm2::addPadding(d, 16);
        size_t n = 16 - len % 16;
        ASSERT_EQ(d.getSize(), len + n);
        for (size_t i = len; i < d.getSize(); ++i)
            EXPECT_EQ(d.getData()[i], n);
        SymmetricAlgorithm2::removePadding(d, 16);
        EXPECT_EQ(d.getSize(), len);
    }
}

TEST(SymmetricAlgorithm2Test, PaddingRemovalNeverReachesOutsideTheBuffer) {
    auto strip = [](std::string s, size_t block = 16) {
        DataBuffer d(s);
        SymmetricAlgorithm2::removePadding(d, block);
        return d.toString();
    };
    EXPECT_EQ(strip(""), "");
    EXPECT_EQ(strip("\x01"), "");           // v not less than the length
    EXPECT_EQ(strip("ab\x10"), "");         // v = 16 > length
    EXPECT_EQ(strip("abc\x11"), "abc\x11"); // v above the block size
    EXPECT_EQ(strip(std::string("abc\0", 4)), std::string("abc\0", 4));
    EXPECT_EQ(strip("abcdef\x03"), "abcd");
    EXPECT_EQ(strip("abcdefgh\x09", 8), "abcdefgh\x09");
    EXPECT_EQ(strip("abcdefgh\x08", 8), "a");
    EXPECT_EQ(strip("abcdefg\x08", 8), "");
    // Only the last byte counts; the others are not checked.
    EXPECT_EQ(strip("abcdXY\x03"), "abcd");
}

TEST(SymmetricAlgorithm2Test, KnownAnswersOfTheBlockCiphers) {
    Rijndael2 aes;
    aes.setKeyLength(128);
    EXPECT_EQ(
        firstBlock(aes, "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff"),
        "69c4e0d86a7b0430d8cdb78070b4c55a");
    aes.setKeyLength(192);
    EXPECT_EQ(firstBlock(aes, "000102030405060708090a0b0c0d0e0f1011121314151617",
                         "00112233445566778899aabbccddeeff"),
              "dda97ca4864cdfe06eaf70a0ec0d7191");
    aes.setKeyLength(256);
    EXPECT_EQ(firstBlock(aes, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                         "00112233445566778899aabbccddeeff"),
              "8ea2b7ca516745bfeafc49904b496089");
    TwoFish two;
    two.setKeyLength(128);
    EXPECT_EQ(firstBlock(two, std::string(32, '0'), std::string(32, '0')),
              "9f589f5cf6122c32b6bfec2f2ae8c35a");
    two.setKeyLength(256);
    EXPECT_EQ(firstBlock(two, std::string(64, '0'), std::string(32, '0')),
              "57ff739d4dc92c1bd7fc01700cc8216f");
    BlowFish bf;
    bf.setKeyLength(64);
    EXPECT_EQ(firstBlock(bf, "0000000000000000", "0000000000000000"), "4ef997456198dd78");
    EXPECT_EQ(firstBlock(bf, "ffffffffffffffff", "ffffffffffffffff"), "51866fd5b85ecb8a");
}

TEST(SymmetricAlgorithm2Test, CbcChainsBlocksAndEcbDoesNot) {
    LogNull log;
    std::string twoBlocks(32, 'A');
    for (auto make :
         {+[]() -> std::unique_ptr<SymmetricAlgorithm2> { return std::make_unique<Rijndael2>(); },
          +[]() -> std::unique_ptr<SymmetricAlgorithm2> { return std::make_unique<TwoFish>(); },
          +[]() -> std::unique_ptr<SymmetricAlgorithm2> { return std::make_unique<BlowFish>(); }}) {
        auto c = make();
        c->setPassword("pw");
        EXPECT_EQ(c->cipherMode(), CipherMode::Cbc);
        size_t bs = c->blockSize();
        DataBuffer cbc, ecb;
        ASSERT_TRUE(c->encryptBuffer(bytesOf(twoBlocks), cbc, log));
        c->setCipherMode(CipherMode::Ecb);
        ASSERT_TRUE(c->encryptBuffer(bytesOf(twoBlocks), ecb, log));
        EXPECT_EQ(hexOf(ecb.span().subspan(0, bs)), hexOf(ecb.span().subspan(bs, bs)));
        EXPECT_NE(hexOf(cbc.span().subspan(0, bs)), hexOf(cbc.span().subspan(bs, bs)));
        // With a zero IV the first CBC block is the ECB block.
        EXPECT_EQ(hexOf(cbc.span().subspan(0, bs)), hexOf(ecb.span().subspan(0, bs)));
    }
}

TEST(SymmetricAlgorithm2Test, EveryCipherRoundTripsEveryLength) {
    Logger log;
    std::string data;
    for (int i = 0; i < 70; ++i)
        data.push_back(static_cast<char>(i * 37));
    for (int alg = 0; alg < 3; ++alg) {
        for (int bits : {40, 128, 192, 256, 448}) {
            std::unique_ptr<SymmetricAlgorithm2> c;
            if (alg == 0)
                c = std::make_unique<Rijndael2>();
            else if (alg == 1)
                c = std::make_unique<TwoFish>();
            else
                c = std::make_unique<BlowFish>();
            c->setKeyLength(bits);
            c->setPassword("p\xC3\xA4ssw\xC3\xB6rd");
            for (size_t len = 0; len <= data.size(); ++len) {
                DataBuffer enc, dec;
                auto in = bytesOf(std::string_view(data).substr(0, len));
                ASSERT_TRUE(c->encryptBuffer(in, enc, log));
                EXPECT_EQ(enc.getSize(),
                          len == 0 ? 0 : (len / c->blockSize() + 1) * c->blockSize());
                ASSERT_TRUE(c->decryptBuffer(enc.span(), dec, log));
                EXPECT_EQ(dec.view(), std::string_view(data).substr(0, len)) << alg << " " << bits;
            }
        }
    }
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST(SymmetricAlgorithm2Test, PartialBlocksAndMissingKeysFail) {
    Logger log;
    Rijndael2 aes;
    DataBuffer out;
    EXPECT_FALSE(aes.encryptBuffer(bytesOf("data"), out, log));
    aes.setPassword("pw");
    EXPECT_FALSE(aes.decryptBuffer(bytesOf("not sixteen"), out, log));
    EXPECT_TRUE(out.isEmpty());
    aes.setKeyLength(256);
    ASSERT_TRUE(aes.setKeyBytes(bytesOf(fromHex("00112233445566778899aabbccddeeff"))));
    EXPECT_FALSE(aes.encryptBuffer(bytesOf("data"), out, log));
    const std::string text = logText(log);
    EXPECT_NE(text.find("No password set"), std::string::npos);
    EXPECT_NE(text.find("not a whole number of cipher blocks"), std::string::npos);
    EXPECT_NE(text.find("Key is shorter than the key length"), std::string::npos);
    EXPECT_FALSE(aes.setKeyBytes({}));
}
