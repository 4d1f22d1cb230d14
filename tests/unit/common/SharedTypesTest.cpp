#include "common/DataBuffer.h"
#include "common/ExtPtrArray.h"
#include "common/Platform.h"
#include "common/StringBuffer.h"
#include "common/StringPair.h"
#include "common/XString.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace norvane;

TEST(StringBufferTest, ReplaceAllCountsNonOverlappingMatches) {
    StringBuffer s("aaaa-aa");
    EXPECT_EQ(s.replaceAllOccurances("aa", "b"), 3);
    EXPECT_EQ(s.str(), "bb-b");
    EXPECT_EQ(s.replaceAllOccurances("", "x"), 0);
    StringBuffer grow("a.b.c");
    EXPECT_EQ(grow.replaceAllOccurances(".", "..."), 2);
    EXPECT_EQ(grow.str(), "a...b...c");
}

TEST(StringBufferTest, TrimShortenAndAsciiCaseFolding) {
    StringBuffer s(" \t\r\nvalue \n");
    s.trim2();
    EXPECT_EQ(s.str(), "value");
    s.shorten(2);
    EXPECT_EQ(s.str(), "val");
    s.shorten(10);
    EXPECT_TRUE(s.isEmpty());

    StringBuffer utf8("\xC3\x89T\xC3\xA9");
    utf8.toLowerAscii();
    EXPECT_EQ(utf8.str(), "\xC3\x89t\xC3\xA9");
}

TEST(StringBufferTest, SplitHonoursQuotesAndEscapes) {
    StringBuffer s("a, \"b, c\", d\\,e,,f");
    EXPECT_EQ(s.split(",", false, false),
              (std::vector<std::string>{"a", " \"b", " c\"", " d\\", "e", "f"}));
    EXPECT_EQ(s.split(",", true, true),
              (std::vector<std::string>{"a", " \"b, c\"", " d\\,e", "f"}));
    EXPECT_EQ(s.split(",", true, true, true),
              (std::vector<std::string>{"a", " \"b, c\"", " d\\,e", "", "f"}));
}

TEST(StringBufferTest, LineEndsBecomeCrLf) {
    StringBuffer le("a\r\nb\rc\nd\r\r\n");
    le.toCRLF();
    EXPECT_EQ(le.str(), "a\r\nbc\r\nd\r\n");
}

TEST(SharedTypesTest, ExtPtrArrayOwnsAndReadsOutOfRangeAsNull) {
    ExtPtrArray<StringPair> a;
    a.appendObject(std::make_unique<StringPair>("n1", "v1"));
    a.insertAt(0, std::make_unique<StringPair>("n0", "v0"));
    EXPECT_EQ(a.elementAt(0)->name, "n0");
    EXPECT_EQ(a.elementAt(2), nullptr);
    EXPECT_EQ(a.removeAt(5), nullptr);
    EXPECT_EQ(a.removeAt(1)->value, "v1");
}

TEST(XStringTest, Utf8AndUtf16ConvertBothWays) {
    EXPECT_EQ(utf8ToUtf16("Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80"), u"Gr\u00FC\u00DF \U0001F600");
    EXPECT_EQ(utf16ToUtf8(u"\u03B1\u03B2"), "\xCE\xB1\xCE\xB2");
    // Ill-formed UTF-8 never reads past the end: a truncated sequence becomes U+FFFD.
    EXPECT_EQ(utf8ToUtf16("\xE2\x82"), u"\uFFFD\uFFFD");
    EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

// The façade hands text out in this form; setting it must drop the UTF-8 form it replaces.
TEST(XStringTest, Utf16FormConvertsLazilyBothWays) {
    XString s("Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80");
    EXPECT_EQ(s.getUtf16(), u"Gr\u00FC\u00DF \U0001F600");
    s.setFromUtf16(u"\u03B1\u03B2");
    EXPECT_EQ(s.getUtf8(), "\xCE\xB1\xCE\xB2");
    EXPECT_EQ(s.getUtf16(), u"\u03B1\u03B2");
}

TEST(PlatformTest, UuidsAreRandomVersion4s) {
    std::regex shape("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        std::string u = platform::newUuidString();
        ASSERT_TRUE(std::regex_match(u, shape)) << u;
        seen.insert(u);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(PlatformTest, LocalTimeFollowsTheOffsetHook) {
    platform::setLocalOffsetForTesting([](std::time_t) { return -5L * 3600; });
    std::tm tm = platform::localTime(86400); // 1970-01-02 00:00 UTC
    EXPECT_EQ(tm.tm_mday, 1);
    EXPECT_EQ(tm.tm_hour, 19);
    EXPECT_EQ(platform::localUtcOffsetSeconds(0), -18000);
    platform::setLocalOffsetForTesting({});
    EXPECT_EQ(platform::systemErrorText(ENOENT), "No such file or directory");
    EXPECT_FALSE(platform::accountName().empty());
}
