#include "archive/ZipEntry.h"
#include "archive/ZipFormat.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(ZipEntryTest, SafeFileNameIsTheLastComponentAndNeverADotName) {
    auto safe = [](const char* name) { return ZipEntry(1, name, false).safeFileName(); };
    EXPECT_EQ(safe("a.txt"), "a.txt");
    EXPECT_EQ(safe("x/y/z.txt"), "z.txt");
    EXPECT_EQ(safe("x\\y\\z.txt"), "z.txt");
    EXPECT_EQ(safe("/abs/path.txt"), "path.txt");
    EXPECT_EQ(safe("../.."), "unnamed");
    EXPECT_EQ(safe("."), "unnamed");
    EXPECT_EQ(safe("///"), "unnamed");
    EXPECT_EQ(safe("dir/sub/"), "sub");
    EXPECT_EQ(safe("a..b"), "a..b");
    EXPECT_EQ(safe("C:\\Windows\\evil.dll"), "evil.dll");
    EXPECT_EQ(safe("a/b/.."), "unnamed");
    EXPECT_EQ(safe("ctl\x01\x7f.txt"), "ctl__.txt");
    EXPECT_EQ(safe("nul\0byte"), "nul");
    EXPECT_EQ(ZipEntry(1, std::string("n\0l", 3), false).safeFileName(), "n_l");
}

TEST(ZipEntryTest, DirectoriesAreAlwaysStored) {
    ZipEntry dir(1, "d/", true);
    EXPECT_EQ(dir.compressionMethod(), zip::kMethodStored);
    EXPECT_TRUE(dir.setCompressionMethod(8));
    EXPECT_EQ(dir.compressionMethod(), zip::kMethodStored);
    ZipEntry file(1, "f", false);
    EXPECT_EQ(file.compressionMethod(), zip::kMethodDeflated);
    EXPECT_EQ(file.compressionLevel(), 6);
}

TEST(ZipFormatTest, DosTimeOfLocalTime) {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mon = 1;
    t.tm_mday = 29;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 59;
    zip::DosTime d = zip::toDosTime(t);
    EXPECT_EQ(d.date, (44 << 9) | (2 << 5) | 29);
    EXPECT_EQ(d.time, (23 << 11) | (59 << 5) | 29);
    t.tm_year = 70;
    d = zip::toDosTime(t);
    EXPECT_EQ(d.date, (1 << 5) | 1);
    EXPECT_EQ(d.time, 0);
}

TEST(ZipFormatTest, Utf8Check) {
    EXPECT_TRUE(zip::isUtf8("plain"));
    EXPECT_TRUE(zip::isUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(zip::isUtf8("caf\xE9"));
    EXPECT_FALSE(zip::isUtf8("\xC0\xAF"));         // overlong
    EXPECT_FALSE(zip::isUtf8("\xED\xA0\x80"));     // surrogate
    EXPECT_FALSE(zip::isUtf8("\xE2\x82"));         // truncated
    EXPECT_FALSE(zip::isUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
}
