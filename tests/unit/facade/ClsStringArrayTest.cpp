#include "facade/ClsStringArray.h"

#include "common/Platform.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {

std::vector<std::string> all(const ClsStringArray& a) {
    std::vector<std::string> out;
    std::string s;
    for (int i = 0; i < a.count(); ++i) {
        EXPECT_TRUE(a.get(i, s));
        out.push_back(s);
    }
    return out;
}

} // namespace

TEST(ClsStringArrayTest, DefaultsKeepDuplicatesAndMakeLineEndsCrLf) {
    ClsStringArray a;
    EXPECT_TRUE(a.utf8());
    EXPECT_FALSE(a.unique());
    EXPECT_FALSE(a.trim());
    EXPECT_TRUE(a.crlf());
    a.append("x\ny\r\n");
    a.append(" x\ny\r\n ");
    a.append("x\ny\r\n");
    a.append(static_cast<const char*>(nullptr));
    EXPECT_EQ(all(a), (std::vector<std::string>{"x\r\ny\r\n", " x\r\ny\r\n ", "x\r\ny\r\n"}));
    std::string s = "stale";
    EXPECT_FALSE(a.get(3, s));
    EXPECT_EQ(s, "");
    EXPECT_FALSE(a.get(-1, s));
}

TEST(ClsStringArrayTest, UniqueComparesPreparedStrings) {
    ClsStringArray a;
    a.setUnique(true);
    a.setTrim(true);
    a.setCrlf(false);
    for (const char* s : {"uid1", "  uid1\t", "a\r\nb", "a\nb", "UID1", ""})
        a.append(s);
    EXPECT_EQ(all(a), (std::vector<std::string>{"uid1", "a\nb", "UID1", ""}));

    // Duplicates appended before unique was set stay; later ones are dropped.
    ClsStringArray b;
    b.append("d");
    b.append("d");
    b.setUnique(true);
    b.append("d");
    b.appendAll(a);
    b.appendAll(b);
    EXPECT_EQ(all(b), (std::vector<std::string>{"d", "d", "uid1", "a\r\nb", "UID1", ""}));
}

TEST(ClsStringArrayTest, GetStringHandsOutUtf8OrAnsi) {
    ClsStringArray a;
    a.append("caf\xC3\xA9");
    XString x;
    ASSERT_TRUE(a.getString(0, x));
    EXPECT_EQ(x.getUtf8(), "caf\xC3\xA9");
    EXPECT_FALSE(a.getString(1, x));
    EXPECT_TRUE(x.isEmpty());

    const int saved = platform::ansiCodePage();
    platform::setAnsiCodePage(28591);
    ClsStringArray ansi;
    ansi.setUtf8(false);
    ansi.append("caf\xE9");
    ASSERT_TRUE(ansi.getString(0, x));
    EXPECT_EQ(x.getUtf8(), "caf\xC3\xA9");
    platform::setAnsiCodePage(saved);
}
