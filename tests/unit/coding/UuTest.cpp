#include "charset/Uu.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(UuTest, DecodesTheBeginBlockAndItsFileName) {
    Uu uu;
    DataBuffer out;
    ASSERT_TRUE(uu.uuDecode("preamble\nbegin 644 cat.txt\n#0V%T\n`\nend\n", out));
    EXPECT_EQ(out.toString(), "Cat");
    EXPECT_EQ(uu.fileName(), "cat.txt");
}

TEST(UuTest, AcceptsCrLfUpperCaseBeginAndNamesWithSpaces) {
    Uu uu;
    DataBuffer out;
    std::string text = "BEGIN 600  my file.txt\r\n"
                       "B2&5L;&\\L('5U96YC;V1E9\"!W;W)L9\"$@,#$R,S0U-C<X.0  \r\n"
                       " \r\nend\r\n";
    ASSERT_TRUE(uu.uuDecode(text, out));
    EXPECT_EQ(out.toString(), "Hello, uuencoded world! 0123456789");
    EXPECT_EQ(uu.fileName(), "my file.txt");
}

TEST(UuTest, FailsWithoutAValidBeginLine) {
    Uu uu;
    DataBuffer out(std::string_view("kept"));
    EXPECT_FALSE(uu.uuDecode("no uuencoded data here\n#0V%T\n", out));
    EXPECT_FALSE(uu.uuDecode("begin abc name\n#0V%T\n", out));
    EXPECT_FALSE(uu.uuDecode("begin 644\n#0V%T\n", out));
    EXPECT_FALSE(uu.uuDecode("begin 644   \n#0V%T\n", out));
    EXPECT_FALSE(uu.uuDecode("xbegin 644 a\n", out));
    EXPECT_FALSE(uu.uuDecode("", out));
    EXPECT_EQ(out.toString(), "kept");
    EXPECT_EQ(uu.fileName(), "");
}

TEST(UuTest, ShortLinesDecodeAsIfPaddedWithZeroBits) {
    // 'M' announces 45 bytes while the line holds one group: transports strip trailing spaces.
    Uu uu;
    DataBuffer out;
    ASSERT_TRUE(uu.uuDecode("begin 644 x\nM0V%T\n`\nend\n", out));
    std::string expected = "Cat" + std::string(42, '\0');
    EXPECT_EQ(out.toString(), expected);
}

TEST(UuTest, EndLineWithoutTerminatorStopsTheData) {
    Uu uu;
    DataBuffer out;
    ASSERT_TRUE(uu.uuDecode("begin 644 x\n#0V%T\nend\n#0V%T\n", out));
    EXPECT_EQ(out.toString(), "Cat");
    DataBuffer noEnd;
    ASSERT_TRUE(uu.uuDecode("begin 644 y\n#0V%T", noEnd));
    EXPECT_EQ(noEnd.toString(), "Cat");
    EXPECT_EQ(uu.fileName(), "y");
}

TEST(UuTest, BlankLinesInsideTheDataAreSkipped) {
    Uu uu;
    DataBuffer out;
    ASSERT_TRUE(uu.uuDecode("begin 644 x\n\n#0V%T\r\n\r\n#0V%T\n`\n", out));
    EXPECT_EQ(out.toString(), "CatCat");
}
