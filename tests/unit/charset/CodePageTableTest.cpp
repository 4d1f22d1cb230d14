#include "charset/CodePageTable.h"

#include "charset/EncodingConvert.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <map>
#include <set>
#include <thread>

using namespace norvane;

namespace {

// Every code page the engine has a table for.
const std::vector<int> kTablePages = CodePageTable::tableCodePages();

// The glibc converter each table was generated from (tools/codepages/SOURCES.md); pages from
// other sources are compared there, not here. Most are IBM<n> or CP<n> in glibc.
std::map<int, std::string> iconvNames() {
    std::map<int, std::string> names = {
        {708, "ASMO-708"},     {874, "WINDOWS-874"},      {1361, "JOHAB"},
        {10000, "MACINTOSH"},  {10017, "MAC-UK"},         {10029, "MAC-CENTRALEUROPE"},
        {10079, "MAC-IS"},     {20106, "DIN_66003"},      {20107, "SEN_850200_B"},
        {20108, "NS_4551-1"},  {20127, "ANSI_X3.4-1968"}, {20261, "T.61-8BIT"},
        {20269, "ISO_6937"},   {20866, "KOI8-R"},         {21025, "IBM1025"},
        {21866, "KOI8-U"},     {28603, "ISO-8859-13"},    {28605, "ISO-8859-15"},
        {38598, "ISO-8859-8"}, {51932, "EUC-JP"},         {51936, "EUC-CN"},
        {51949, "EUC-KR"}};
    for (int cp :
         {437, 500, 775, 850,  852,  855,  857,  858,  860,  861,  862,  863,  864,  865,  866,
          869, 870, 875, 1026, 1047, 1140, 1141, 1142, 1143, 1144, 1145, 1146, 1147, 1148, 1149})
        names[cp] = "IBM" + std::to_string(cp);
    names[37] = "IBM037";
    for (int cp : {20273, 20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423, 20424,
                   20871, 20880, 20905})
        names[cp] = "IBM" + std::to_string(cp - 20000);
    for (int cp :
         {737, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 10007})
        names[cp] = "CP" + std::to_string(cp);
    for (int n = 1; n <= 9; ++n)
        names[28590 + n] = "ISO-8859-" + std::to_string(n);
    return names;
}

// One code's single UTF-16 unit according to glibc; 0 when it has none (or several, or one
// beyond the BMP, which the tables leave out).
class IconvDecoder {
public:
    explicit IconvDecoder(const char* name) : cd_(iconv_open("UTF-16LE", name)) {}
    ~IconvDecoder() {
        if (ok())
            iconv_close(cd_);
    }
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    uint16_t unit(std::string bytes) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char out[16];
        char* in = bytes.data();
        char* w = out;
        size_t inLeft = bytes.size(), outLeft = sizeof out;
        if (iconv(cd_, &in, &inLeft, &w, &outLeft) == static_cast<size_t>(-1) || inLeft)
            return 0;
        // CP1255 and CP1258 hold a base letter back until they see what follows it.
        iconv(cd_, nullptr, nullptr, &w, &outLeft);
        if (w - out != 2)
            return 0;
        auto u = static_cast<uint16_t>(static_cast<uint8_t>(out[0]) |
                                       (static_cast<uint8_t>(out[1]) << 8));
        return (u >= 0xD800 && u <= 0xDFFF) || u == 0xFFFD ? 0 : u;
    }

private:
    iconv_t cd_;
};

// Every code a table maps, as bytes, with its unit.
std::vector<std::pair<std::string, uint16_t>> mappedCodes(const CodePageTable& t) {
    std::vector<std::pair<std::string, uint16_t>> codes;
    for (int b = 0; b < 256; ++b) {
        if (t.isLead(static_cast<uint8_t>(b))) {
            for (int tr = 0; tr < 256; ++tr)
                if (uint16_t u = t.pair(static_cast<uint8_t>(b), static_cast<uint8_t>(tr)))
                    codes.push_back({std::string{char(b), char(tr)}, u});
        } else if (uint16_t u = t.single(static_cast<uint8_t>(b)); u || b == 0) {
            codes.push_back({std::string(1, char(b)), u});
        }
    }
    return codes;
}

// Bytes Mac Arabic input has rewritten before its table is consulted.
bool macArabicRewrites(uint8_t b) {
    return b == 0x81 || (b >= 0xA0 && b <= 0xAF && b != 0xA5 && b != 0xAC) ||
           (b >= 0xB0 && b <= 0xBA) || (b >= 0xBC && b <= 0xBE) || (b >= 0xDB && b <= 0xDF) ||
           (b >= 0xFB && b <= 0xFD);
}

} // namespace

// First in this file so that most tables are still unloaded when the threads race for them.
TEST(CodePageTableTest, ThreadsRacingForFirstUseShareOneTable) {
    std::vector<std::thread> threads;
    std::vector<std::vector<const CodePageTable*>> seen(4);
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([k, &seen] {
            std::vector<int> order = kTablePages;
            if (k % 2)
                std::reverse(order.begin(), order.end());
            EncodingConvert ec;
            for (int cp : order) {
                seen[k].push_back(CodePageTable::get(cp));
                std::string out;
                (void)ec.convert(65001, cp, "abc", out);
            }
            if (k % 2)
                std::reverse(seen[k].begin(), seen[k].end());
        });
    }
    for (auto& t : threads)
        t.join();
    for (size_t i = 0; i < kTablePages.size(); ++i) {
        ASSERT_NE(seen[0][i], nullptr) << kTablePages[i];
        for (int k = 1; k < 4; ++k)
            EXPECT_EQ(seen[k][i], seen[0][i]) << kTablePages[i];
    }
}

TEST(CodePageTableTest, DamagedTableTextIsRejected) {
    std::string error;
    EXPECT_EQ(CodePageTable::load("", error), nullptr);
    EXPECT_EQ(CodePageTable::load("zQUJD", error), nullptr);         // not the header tag
    EXPECT_EQ(CodePageTable::load("zTlZDVP////8=", error), nullptr); // absurd length
    EXPECT_EQ(CodePageTable::load("xYXU=", error), nullptr);         // "au" with no entries
    EXPECT_EQ(error, "table length mismatch");
}

TEST(CodePageTableTest, EveryMappedCodeRoundTripsThroughUtf8) {
    EncodingConvert ec;
    for (int cp : kTablePages) {
        const CodePageTable* t = CodePageTable::get(cp);
        ASSERT_NE(t, nullptr);
        auto codes = mappedCodes(*t);
        std::map<uint16_t, int> sharers; // how many codes decode to each unit
        for (const auto& [bytes, u] : codes)
            ++sharers[u];
        size_t differing = 0;
        for (const auto& [bytes, u] : codes) {
            if (cp == 10004 && macArabicRewrites(static_cast<uint8_t>(bytes[0])))
                continue; // read as their ASCII counterparts by design
            std::string utf8, back, again;
            ASSERT_TRUE(ec.convert(cp, 65001, bytes, utf8)) << cp;
            ASSERT_TRUE(ec.convert(65001, cp, utf8, back)) << cp << " " << utf8;
            if (back != bytes) {
                // Only a code that shares its character with another may come back as that one.
                EXPECT_GT(sharers[u], 1) << cp << " code " << std::hex
                                         << static_cast<int>(static_cast<uint8_t>(bytes[0]));
                ASSERT_TRUE(ec.convert(cp, 65001, back, again));
                EXPECT_EQ(again, utf8);
                ++differing;
            }
        }
        EXPECT_LT(differing, codes.size() / 4 + 1) << cp;
    }
}

TEST(CodePageTableTest, Iso2022JpRoundTripsEveryJisCode) {
    const CodePageTable* sjis = CodePageTable::get(932);
    ASSERT_NE(sjis, nullptr);
    EncodingConvert ec;
    std::string all;
    for (int lead = 0x81; lead <= 0xEF; ++lead) {
        if (lead > 0x9F && lead < 0xE0)
            continue;
        for (int tr = 0x40; tr <= 0xFC; ++tr)
            // Codes whose character 932 writes elsewhere (NEC and IBM duplicates) are skipped:
            // the engine writes the other code, which may lie outside JIS X 0208.
            if (uint16_t u = sjis->pair(static_cast<uint8_t>(lead), static_cast<uint8_t>(tr));
                u && sjis->encode(u) == (lead << 8 | tr))
                all += std::string{char(lead), char(tr)};
    }
    std::string utf8, jis, back;
    ASSERT_TRUE(ec.convert(932, 65001, all, utf8));
    ASSERT_TRUE(ec.convert(65001, 50220, utf8, jis));
    for (unsigned char c : jis)
        ASSERT_LT(c, 0x80);
    ASSERT_TRUE(ec.convert(50220, 65001, jis, back));
    EXPECT_EQ(back, utf8);
}

TEST(CodePageTableTest, AgreesWithGlibcIconv) {
    for (const auto& [cp, name] : iconvNames()) {
        IconvDecoder glibc(name.c_str());
        ASSERT_TRUE(glibc.ok()) << name;
        const CodePageTable* t = CodePageTable::get(cp);
        ASSERT_NE(t, nullptr);
        for (const auto& [bytes, u] : mappedCodes(*t))
            ASSERT_EQ(glibc.unit(bytes), u) << cp << " " << std::hex << int(uint8_t(bytes[0]));
        // And nothing glibc maps to one BMP character is missing, single bytes and pairs.
        for (int b = 1; b < 256; ++b) {
            auto c = static_cast<uint8_t>(b);
            if (!t->isLead(c)) {
                EXPECT_EQ(t->single(c), glibc.unit(std::string(1, char(b)))) << cp << " " << b;
                continue;
            }
            for (int tr = 0; tr < 256; ++tr)
                ASSERT_EQ(t->pair(c, static_cast<uint8_t>(tr)),
                          glibc.unit(std::string{char(b), char(tr)}))
                    << cp << " " << b << " " << tr;
        }
    }
}
