// Encoded words that go through the charset engine: decoding to UTF-8 and the multi-word runs.
#include "charset/Charset.h"
#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <vector>

using namespace norvane;
using namespace norvane::test;

namespace {

std::string toUtf8(std::string_view s) {
    std::string out = std::string(s);
    ContentCoding::decodeWordsToUtf8(out);
    return out;
}

std::vector<std::string> split(const std::string& s, std::string_view sep) {
    std::vector<std::string> parts;
    size_t pos = 0;
    for (size_t e; (e = s.find(sep, pos)) != std::string::npos; pos = e + sep.size())
        parts.push_back(s.substr(pos, e - pos));
    parts.push_back(s.substr(pos));
    return parts;
}

const char* const kGerman = "Grüße aus Köln: Die Größe der Übung ist äußerst schön";
const char* const kRussian = "Привет, это проверка длинной темы письма в кодировке";
const char* const kJapanese = "日本語の件名をいくつかの符号化された単語に分割するテストです";
const char* const kChinese = "这是一个用于测试编码词分割的较长中文邮件主题行";
const char* const kTraditional = "這是一個用於測試編碼詞分割的較長中文郵件主題行";

} // namespace

TEST(EncodedWordsTest, DecodesWordsToUtf8ThroughTheirCharset) {
    EXPECT_EQ(toUtf8("=?iso-8859-1?Q?Gr=FC=DFe?="), "Grüße");
    EXPECT_EQ(toUtf8("Re: =?ISO-8859-2?Q?=A3=F3d=BC?= ok"), "Re: Łódź ok");
    EXPECT_EQ(toUtf8("=?windows-1251?B?z/Do4uXy?="), "Привет");
    EXPECT_EQ(toUtf8("=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?="), "テスト");
    EXPECT_EQ(toUtf8("=?utf-8?B?"
                     "?="),
              "");
    EXPECT_EQ(toUtf8("Re: =?broken"), "Re: ");
    EXPECT_EQ(toUtf8("=?8bit?Q?=C3=A9t=C3=A9?="), "été");
}

TEST(EncodedWordsTest, UnknownCharsetsKeepTheirBytes) {
    EXPECT_EQ(toUtf8("=?x-unknown?Q?=E9?="), "\xE9");
    EXPECT_EQ(toUtf8("=?x-user-defined?Q?=E9?="), "\xE9");
    // UTF-8 labelled as ASCII is common; its characters are kept.
    EXPECT_EQ(toUtf8("=?us-ascii?Q?caf=C3=A9?="), "café");
    EXPECT_EQ(toUtf8("=?utf-8*en?Q?caf=C3=A9?= =?iso-8859-1*de?Q?=FC?="), "caféü");
}

TEST(EncodedWordsTest, ShortTextIsOneWord) {
    std::string out;
    ContentCoding::encodeWordsQ("Grüße", "utf-8", out);
    EXPECT_EQ(out, "=?utf-8?Q?Gr=C3=BC=C3=9Fe?=");
    out.clear();
    ContentCoding::encodeWordsB(std::string(23, 'a'), "utf-8", out);
    EXPECT_EQ(out.find("\r\n"), std::string::npos);
    out.clear();
    ContentCoding::encodeWordsQ("", "utf-8", out);
    EXPECT_EQ(out, "");
}

TEST(EncodedWordsTest, LongTextIsCutEvery17Or12Characters) {
    std::string out;
    ContentCoding::encodeWordsQ(kGerman, "utf-8", out);
    std::vector<std::string> words = split(out, "\r\n\t");
    ASSERT_EQ(words.size(), 4u);
    EXPECT_EQ(words[0], "=?utf-8?Q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln=3A_D?=");
    EXPECT_EQ(toUtf8(words[0]), "Grüße aus Köln: D");
    EXPECT_EQ(toUtf8(out), kGerman);

    out.clear();
    std::string latin = fromUtf8(kGerman, "iso-8859-1");
    ContentCoding::encodeWordsB(latin, "iso-8859-1", out);
    words = split(out, "\r\n\t");
    ASSERT_EQ(words.size(), 5u);
    EXPECT_EQ(toUtf8(words[0]), "Grüße aus Kö");
    EXPECT_EQ(toUtf8(out), kGerman);
}

TEST(EncodedWordsTest, RunsRoundTripInEveryCharsetFamily) {
    struct Case {
        const char* text;
        const char* charset;
    };
    for (Case c :
         {Case{kGerman, "iso-8859-15"}, Case{kRussian, "koi8-r"}, Case{kRussian, "windows-1251"},
          Case{kJapanese, "shift_jis"}, Case{kJapanese, "iso-2022-jp"}, Case{kJapanese, "euc-jp"},
          Case{kChinese, "gb2312"}, Case{kTraditional, "big5"}, Case{kJapanese, "utf-8"}}) {
        std::string bytes = fromUtf8(c.text, c.charset);
        for (bool b : {false, true}) {
            std::string out;
            if (b)
                ContentCoding::encodeWordsB(bytes, c.charset, out);
            else
                ContentCoding::encodeWordsQ(bytes, c.charset, out);
            EXPECT_EQ(toUtf8(out), c.text) << c.charset << (b ? " B" : " Q");
            // Every word decodes on its own: no character is split between words.
            std::string joined;
            for (const std::string& w : split(out, "\r\n\t")) {
                std::string one = toUtf8(w);
                std::string back;
                EXPECT_TRUE(EncodingConvert().convert(65001, 1200, one, back)) << w;
                joined += one;
            }
            EXPECT_EQ(joined, c.text) << c.charset;
        }
    }
}

TEST(EncodedWordsTest, SurrogatePairsStayInOneWord) {
    std::string text = std::string(16, 'a') + "\xF0\x9F\x98\x80" + std::string(20, 'b');
    std::string out;
    ContentCoding::encodeWordsQ(text, "utf-8", out);
    std::vector<std::string> words = split(out, "\r\n\t");
    ASSERT_GE(words.size(), 2u);
    EXPECT_EQ(toUtf8(words[0]), std::string(16, 'a'));
    EXPECT_TRUE(toUtf8(words[1]).starts_with("\xF0\x9F\x98\x80"));
    EXPECT_EQ(toUtf8(out), text);
}

TEST(EncodedWordsTest, BytesTheCharsetCannotReadAreStillSent) {
    std::string bad = std::string(30, 'x') + "\xFF\xFE" + std::string(30, 'y');
    std::string out;
    ContentCoding::encodeWordsQ(bad, "utf-8", out);
    std::string back;
    ContentCoding::decodeWordsToBytes(out, back);
    EXPECT_EQ(back, bad);
    out.clear();
    ContentCoding::encodeWordsB(bad, "x-no-such-charset", out);
    EXPECT_EQ(split(out, "\r\n\t")[0].substr(0, 22), "=?x-no-such-charset?B?");
    back.clear();
    ContentCoding::decodeWordsToBytes(out, back);
    EXPECT_EQ(back, bad);
}
