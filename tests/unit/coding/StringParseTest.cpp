#include "mime/StringParse.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace norvane;

using Pieces = std::vector<std::string>;

TEST(StringParseTest, SplitsAfterTheLastBlankWithinTheLimit) {
    EXPECT_EQ(StringParse::splitForWords("aaa bbb ccc ddd", 8), (Pieces{"aaa bbb ", "ccc ddd"}));
    EXPECT_EQ(StringParse::splitForWords("aaa bbb ccc ddd", 9), (Pieces{"aaa bbb ", "ccc ddd"}));
    EXPECT_EQ(StringParse::splitForWords("aaa\tbbb\r\nccc", 6),
              (Pieces{"aaa\t", "bbb\r\n", "ccc"}));
}

TEST(StringParseTest, CutsAtTheLimitWithoutBlanks) {
    EXPECT_EQ(StringParse::splitForWords("abcdefghij", 4), (Pieces{"abcd", "efgh", "ij"}));
    // A blank as the first byte of a piece does not count.
    EXPECT_EQ(StringParse::splitForWords(" bcdefg", 4), (Pieces{" bcd", "efg"}));
}

TEST(StringParseTest, ShortTextIsOnePiece) {
    EXPECT_EQ(StringParse::splitForWords("abc", 40), (Pieces{"abc"}));
    EXPECT_EQ(StringParse::splitForWords("abc", 4), (Pieces{"abc"}));
    EXPECT_EQ(StringParse::splitForWords("abcd", 4), (Pieces{"abcd"}));
    EXPECT_EQ(StringParse::splitForWords("", 40), Pieces{});
    EXPECT_EQ(StringParse::splitForWords("abc", 0), (Pieces{"abc"}));
    EXPECT_EQ(StringParse::splitForWords("abc", 1), (Pieces{"a", "b", "c"}));
}

TEST(StringParseTest, PiecesJoinToTheTextAndRespectTheLimit) {
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += (i % 7 == 0 ? " " : i % 13 == 0 ? "\r\n" : "w");
    for (int maxLen : {2, 5, 40, 77}) {
        Pieces pieces = StringParse::splitForWords(text, maxLen);
        EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), std::string()), text);
        for (const auto& p : pieces) {
            EXPECT_LE(p.size(), static_cast<size_t>(maxLen));
            EXPECT_FALSE(p.empty());
        }
    }
}
