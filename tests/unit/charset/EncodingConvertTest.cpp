#include "charset/EncodingConvert.h"

#include "common/Platform.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {

struct Result {
    std::string out;
    bool ok;
};

Result conv(int from, int to, std::string_view in) {
    EncodingConvert ec;
    Result r;
    r.ok = ec.convert(from, to, in, r.out);
    return r;
}

const char* const kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"; // 日本語 in UTF-8

} // namespace

TEST(EncodingConvertTest, SameCodePageCopiesEvenWhenUnsupported) {
    EXPECT_EQ(conv(50000, 50000, "abc\xFF").out, "abc\xFF");
    EXPECT_TRUE(conv(65001, 65001, "\xFF").ok);
}

TEST(EncodingConvertTest, UnsupportedCodePageFailsWithEmptyOutput) {
    Result r = conv(65001, 50000, "abc");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "");
    r = conv(12345, 65001, "abc");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "");
}

TEST(EncodingConvertTest, AppendsToExistingOutput) {
    EncodingConvert ec;
    std::string out = "head:";
    EXPECT_TRUE(ec.convert(28591, 65001, "\xE9", out));
    EXPECT_EQ(out, "head:\xC3\xA9");
    DataBuffer db(std::string_view("x"));
    const uint8_t in[] = {0xC3, 0xA9};
    EXPECT_TRUE(ec.convert(65001, 1252, std::span<const uint8_t>(in), db));
    EXPECT_EQ(db.toString(), "x\xE9");
}

TEST(EncodingConvertTest, ByteOrderMarksAreRemoved) {
    Result r = conv(65001, 1252, "\xEF\xBB\xBFs\xC3\xBC\xC3\x9F");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, "s\xFC\xDF");
    r = conv(65001, 1252, "\xEF\xBB\xBF");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, "");
    // FE FF switches a 1200 source to big endian, FF FE a 1201 source to little endian.
    EXPECT_EQ(conv(1200, 65001, std::string("\xFE\xFF\x00\x41\x00\xE9", 6)).out, "A\xC3\xA9");
    EXPECT_EQ(conv(1201, 65001, std::string("\xFF\xFE\x41\x00", 4)).out, "A");
    r = conv(1201, 65001, "\xFE\xFF");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, "");
}

TEST(EncodingConvertTest, Utf16BothByteOrders) {
    Result le = conv(65001, 1200, "A\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_TRUE(le.ok);
    EXPECT_EQ(le.out, std::string("A\0\xE9\0\x3D\xD8\x00\xDE", 8));
    Result be = conv(65001, 1201, "A\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(be.out, std::string("\0A\0\xE9\xD8\x3D\xDE\x00", 8));
    EXPECT_EQ(conv(1201, 65001, be.out).out, "A\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(conv(1201, 1200, be.out).out, le.out);
    EXPECT_EQ(conv(1200, 1252, std::string("\xE9\0\xAC\x20", 4)).out, "\xE9\x80");
}

TEST(EncodingConvertTest, Utf32FourBytesPerCharacter) {
    Result r = conv(65001, 65005, "A\xF0\x9F\x98\x80");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, std::string("A\0\0\0\x00\xF6\x01\x00", 8));
    r = conv(65001, 65006, "A\xC3\xA9");
    EXPECT_EQ(r.out, std::string("\0\0\0A\0\0\0\xE9", 8));
    EXPECT_EQ(conv(65006, 1252, r.out).out, "A\xE9");
    EXPECT_EQ(conv(65005, 65001, std::string("A\0\0\0\x00\xF6\x01\x00", 8)).out,
              "A\xF0\x9F\x98\x80");
}

TEST(EncodingConvertTest, Utf7FollowsRfc2152) {
    // "Hi Mom -☺-!" from RFC 2152; '!' is an optional direct character, written encoded.
    Result r = conv(65001, 65000, "Hi Mom -\xE2\x98\xBA-!");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, "Hi Mom -+Jjo--+ACE-");
    EXPECT_EQ(conv(65000, 65001, "Hi Mom -+Jjo--!").out, "Hi Mom -\xE2\x98\xBA-!");
    EXPECT_EQ(conv(65000, 65001, "+ZeVnLIqe-").out, kNihongo);
    EXPECT_EQ(conv(65001, 65000, "1+1").out, "1+-1");
    EXPECT_EQ(conv(65000, 65001, "1+-1").out, "1+1");
    std::string emoji = "x\xF0\x9F\x98\x80y";
    EXPECT_EQ(conv(65000, 65001, conv(65001, 65000, emoji).out).out, emoji);
}

TEST(EncodingConvertTest, Iso2022JpEncodesAndDecodes) {
    Result r = conv(65001, 50220, std::string("a") + kNihongo + "b\r\n");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, "a\x1B$BF|K\\8l\x1B(Bb\r\n");
    EXPECT_EQ(conv(50220, 65001, r.out).out, std::string("a") + kNihongo + "b\r\n");
    EXPECT_EQ(conv(50222, 932, "\x1B$BF|\x1B(B").out, "\x93\xFA");
    // ESC $ @ (JIS C 6226-1978) and ESC ( J (JIS-Roman) are accepted too.
    EXPECT_EQ(conv(50221, 65001, "\x1B$@F|\x1B(Jx").out, "\xE6\x97\xA5x");
    // Text ends in one-byte mode.
    EXPECT_EQ(conv(65001, 50220, kNihongo).out, "\x1B$BF|K\\8l\x1B(B");
}

TEST(EncodingConvertTest, Iso2022JpWidensHalfWidthKatakana) {
    // ｶﾞｷﾞﾊﾟｱ (half-width, with sound marks) → ガギパア
    Result r = conv(932, 50220, "\xB6\xDE\xB7\xDE\xCA\xDF\xB1");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(conv(50220, 65001, r.out).out, "\xE3\x82\xAC\xE3\x82\xAE\xE3\x83\x91\xE3\x82\xA2");
    // A mark after a kana that takes none stays a mark of its own.
    EXPECT_EQ(conv(50220, 65001, conv(932, 50220, "\xB1\xDE").out).out, "\xE3\x82\xA2\xE3\x82\x9B");
}

TEST(EncodingConvertTest, Iso2022KrEncodesAndDecodes) {
    Result r = conv(65001, 50225, "A\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4"); // A한국어
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.out, "\x1B$)CA\x0EGQ19>n\x0F");
    EXPECT_EQ(conv(50225, 65001, r.out).out, "A\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4");
    EXPECT_EQ(conv(50225, 949, "\x1B$)C\x0EGQ\x0Fz").out, "\xC7\xD1z");
}

TEST(EncodingConvertTest, MacArabicIsPreparedBeforeTheTable) {
    // Arabic-Indic digit forms become ASCII digits; right-to-left punctuation becomes ASCII.
    EXPECT_EQ(conv(10004, 65001, "\xB1\xB2\xB3").out, "123");
    EXPECT_EQ(conv(10004, 65001, "\xA8\xA9").out, ")(");
    // A right-to-left run of two or more is reversed: alef lam → lam alef.
    EXPECT_EQ(conv(10004, 65001, "x\xC7\xE4y").out, "x\xD9\x84\xD8\xA7y");
    EXPECT_EQ(conv(10004, 65001, "\xC7").out, "\xD8\xA7");
}

TEST(EncodingConvertTest, InvalidUtf8IsDroppedNotReadPast) {
    struct Case {
        std::string in, expect;
    } cases[] = {
        {"a\xC0\xAFz", "az"},         // overlong '/'
        {"a\xE0\x80\xAFz", "az"},     // overlong, three bytes
        {"a\xED\xA0\x80z", "az"},     // encoded surrogate
        {"a\xF4\x90\x80\x80z", "az"}, // above U+10FFFF
        {"a\xC3", "a"},               // truncated at the end
        {"a\xE6\x97", "a"},           // truncated at the end
        {"\xE6\x97"
         "A",
         "A"},                    // truncated before ASCII
        {"\x80\xBF\xFE\xFF", ""}, // stray continuation and invalid bytes
    };
    for (const auto& c : cases) {
        Result r = conv(65001, 1252, c.in);
        EXPECT_FALSE(r.ok) << c.in;
        EXPECT_EQ(r.out, c.expect) << c.in;
        Result u16 = conv(65001, 1200, c.in);
        EXPECT_FALSE(u16.ok);
        EXPECT_EQ(conv(1200, 65001, u16.out).out, c.expect);
    }
}

TEST(EncodingConvertTest, BadOrUnmappedInputIsDroppedAndReported) {
    struct Case {
        int from, to;
        std::string in, out;
    };
    const Case cases[] = {
        {65001, 28591, "1 \xE2\x82\xAC = 1 euro, caf\xC3\xA9", "1  = 1 euro, caf\xE9"},
        {1252, 28591, "\x80\xE9", "\xE9"},
        {1252, 65001, "a\x81z", "az"}, // 0x81 is unassigned in windows-1252
        // UTF-32: out of range, surrogate, and a truncated last unit.
        {65005, 65001, std::string("\0\0\x11\0\0\xD8\0\0B\0\0\0C\0", 14), "B"},
        {65000, 65001, "a+ZeV", "a\xE6\x97\xA5"}, // UTF-7 leftover bits that are not zero
        // Hangul outside KS X 1001 (here U+AC02) has no ISO-2022-KR form.
        {65001, 50225, "\xEA\xB0\x82x", "\x1B$)Cx"},
        // Truncated double-byte input; a lead byte before a byte that cannot trail it is lost.
        {932, 65001, "\x93\xFA\x96", "\xE6\x97\xA5"},
        {932, 65001, "\x93\r\nA", "\r\nA"},
        {936, 65001, "\xD6\xD0\xB9", "\xE4\xB8\xAD"},
        // Odd UTF-16 lengths and lone surrogates.
        {1200, 65001, std::string("A\0B", 3), "A"},
        {1200, 65001,
         std::string("\x00\xD8"
                     "A\0",
                     4),
         "A"},
        {1201, 65001, std::string("\0A\0", 3), "A"},
        // Malformed ISO-2022.
        {50220, 65001, "ab\x1B", "ab"},
        {50220, 65001, "\x1B$BF|K", "\xE6\x97\xA5"},
        {50220, 65001, "\x1B$", "$"}, // a cut escape: the ESC goes
        {50220, 65001, "x\xE9y", "xy"},
        {50225, 65001, "\x1B$)C\x0EG", ""},
        {50225, 65001, "a\x1Bz", "az"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " " + c.in);
        Result r = conv(c.from, c.to, c.in);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.out, c.out);
    }
    // Other complete escape sequences are consumed without effect.
    EXPECT_EQ(conv(50220, 65001, "\x1B(Ix").out, "x");
}

TEST(EncodingConvertTest, TableToTableGoesThroughUnicode) {
    EXPECT_EQ(conv(1252, 850, "\xE9\xFC").out, "\x82\x81");
    EXPECT_EQ(conv(37, 1252, "\xC1\x81\x40\xF1").out, "Aa 1"); // EBCDIC
    EXPECT_EQ(conv(1252, 37, "Aa 1").out, "\xC1\x81\x40\xF1");
    EXPECT_EQ(conv(932, 51932, "\x93\xFA").out, "\xC6\xFC");
    EXPECT_EQ(conv(65001, 1361, "\xED\x95\x9C").out, "\xD0\x65");
}

TEST(EncodingConvertTest, NulBytesConvert) {
    std::string nul("a\0b", 3);
    EXPECT_EQ(conv(65001, 37, nul).out, std::string("\x81\0\x82", 3));
    EXPECT_EQ(conv(37, 65001, std::string("\x81\0\x82", 3)).out, nul);
    EXPECT_EQ(conv(932, 65001, nul).out, nul);
    EXPECT_EQ(conv(65001, 50220, nul).out, nul);
}
