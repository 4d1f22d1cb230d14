#include "charset/UnicodeInfo.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {
int choose(std::u16string_view s) {
    UnicodeInfo info;
    info.analyse(s);
    return info.chooseCharset();
}
} // namespace

TEST(UnicodeInfoTest, ChoosesByScript) {
    EXPECT_EQ(choose(u""), 0);
    EXPECT_EQ(choose(u"plain ascii"), 0);
    EXPECT_EQ(choose(u"caf\u00e9"), 28591);
    EXPECT_EQ(choose(u"\u0142\u00f3d\u017a"), 28592);
    EXPECT_EQ(choose(u"\u3072\u3089\u304c\u306a\u6f22\u5b57"), 932); // kana with kanji
    EXPECT_EQ(choose(u"\u4e2d\u6587"), 936);
    EXPECT_EQ(choose(u"\u041f\u0440\u0438\u0432\u0435\u0442"), 28595);
}

TEST(UnicodeInfoTest, MixedScriptsChooseUtf8) {
    EXPECT_EQ(choose(u"\u03b1\u03b2 \u0434\u0430"), 65001); // Greek with Cyrillic
    EXPECT_EQ(choose(u"emoji \U0001F600"), 65001);
}

TEST(UnicodeInfoTest, NeutralPunctuationIsNotCounted) {
    EXPECT_EQ(choose(u"\u3000\uff01"), 0);
    EXPECT_EQ(choose(u"\u3001\u3072"), 932);
    UnicodeInfo info;
    info.analyse(u"\u3001\u3002");
    EXPECT_EQ(info.count(UnicodeInfo::Other), 0u);
    info.analyse(u"\u3072");
    EXPECT_EQ(info.count(UnicodeInfo::Kana), 1u);
}
