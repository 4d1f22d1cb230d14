#include "charset/Charset.h"
#include "common/Platform.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(CharsetTest, LookupTrimsFoldsCaseAndReadsUnderscoreAsHyphen) {
    EXPECT_EQ(Charset::codePageForName("  Shift_JIS \t"), 932);
    EXPECT_EQ(Charset::codePageForName("ISO_8859-1"), 28591);
    EXPECT_EQ(Charset::codePageForName("LATIN1"), 28591);
    EXPECT_EQ(Charset::codePageForName("\r\nUTF-8\r\n"), 65001);
    EXPECT_EQ(Charset::codePageForName("iso-8859-8 visual"), 28598);
}

TEST(CharsetTest, ShortOrUnknownNamesGiveZero) {
    EXPECT_EQ(Charset::codePageForName("l1"), 0);
    EXPECT_EQ(Charset::codePageForName("  us  "), 0);
    EXPECT_EQ(Charset::codePageForName(""), 0);
    EXPECT_EQ(Charset::codePageForName("utf-9"), 0);
    EXPECT_EQ(Charset::codePageForName("utf-8x"), 0);
}

TEST(CharsetTest, PreferredNames) {
    EXPECT_EQ(Charset::nameForCodePage(932), "shift_jis");
    EXPECT_EQ(Charset::nameForCodePage(949), "ks_c_5601-1987");
    EXPECT_EQ(Charset::nameForCodePage(50222), "iso-2022-jp");
    EXPECT_EQ(Charset::nameForCodePage(20932), "euc-jp");
    EXPECT_EQ(Charset::nameForCodePage(1201), "unicodefffe");
    EXPECT_EQ(Charset::nameForCodePage(709), "");
    EXPECT_EQ(Charset::nameForCodePage(0), "");
}

TEST(CharsetTest, SetByNameCarriesThePreferredName) {
    Charset cs;
    EXPECT_TRUE(cs.setByName("latin1"));
    EXPECT_EQ(cs.getCodePage(), 28591);
    EXPECT_EQ(cs.getName(), "iso-8859-1");
    EXPECT_TRUE(cs.setByName(" Shift_JIS "));
    EXPECT_EQ(cs.getName(), "shift_jis");
    EXPECT_TRUE(cs.setByName("utf-32"));
    EXPECT_EQ(cs.getCodePage(), 65005);
    EXPECT_EQ(cs.getName(), "utf-32");
    // A code page without a preferred name stays set with an empty name.
    EXPECT_TRUE(cs.setByName("x-user-defined"));
    EXPECT_EQ(cs.getCodePage(), 50000);
    EXPECT_EQ(cs.getName(), "");
}

TEST(CharsetTest, SetByNameSpecialWords) {
    Charset cs;
    ASSERT_TRUE(cs.setByName("utf-8"));
    EXPECT_FALSE(cs.setByName("default"));
    EXPECT_EQ(cs, Charset());
    ASSERT_TRUE(cs.setByName("utf-8"));
    EXPECT_FALSE(cs.setByName("DEFAULT")); // not the keyword, and not a charset name
    EXPECT_EQ(cs.getCodePage(), 0);
    platform::setAnsiCodePage(1251);
    platform::setOemCodePage(866);
    EXPECT_TRUE(cs.setByName("ANSI"));
    EXPECT_EQ(cs.getCodePage(), 1251);
    EXPECT_EQ(cs.getName(), "windows-1251");
    EXPECT_TRUE(cs.setByName("oem"));
    EXPECT_EQ(cs.getName(), "cp866");
    platform::setAnsiCodePage(65001);
    platform::setOemCodePage(437);
    const char* none = nullptr;
    EXPECT_TRUE(cs.setByName(none));
    EXPECT_EQ(cs.getCodePage(), 866);
}

TEST(CharsetTest, SetByCodePage) {
    Charset cs;
    EXPECT_TRUE(cs.setByCodePage(51932));
    EXPECT_EQ(cs.getName(), "euc-jp");
    EXPECT_FALSE(cs.setByCodePage(709));
    EXPECT_EQ(cs.getCodePage(), 0);
    EXPECT_EQ(cs.getName(), "");
}
