#include "xml/ParseEngine.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(ParseEngineTest, CapturesStopAtTheByteOrAtTheEnd) {
    ParseEngine pe("name: value;rest");
    std::string out;
    EXPECT_TRUE(pe.captureToNextChar(':', out));
    EXPECT_EQ(out, "name");
    EXPECT_EQ(pe.peek(), ':');
    pe.advance(1);
    EXPECT_EQ(pe.skipChars(" \t"), 1u);
    EXPECT_TRUE(pe.captureToNextAnyOf(";,", out));
    EXPECT_EQ(out, "value");
    EXPECT_FALSE(pe.captureToNextChar('#', out));
    EXPECT_EQ(out, ";rest");
    EXPECT_TRUE(pe.atEnd());
    EXPECT_EQ(pe.peek(), '\0');
    pe.advance(10);
    EXPECT_TRUE(pe.atEnd());
}

TEST(ParseEngineTest, BalancedCaptureCountsNesting) {
    ParseEngine pe("<a <b> <c>> after");
    std::string out;
    EXPECT_TRUE(pe.captureBalanced('<', '>', out));
    EXPECT_EQ(out, "<a <b> <c>>");
    EXPECT_EQ(pe.remaining(), " after");
    ParseEngine open("<a <b>");
    EXPECT_FALSE(open.captureBalanced('<', '>', out));
    EXPECT_EQ(open.position(), 0u);
    EXPECT_FALSE(pe.captureBalanced('<', '>', out));
}

TEST(ParseEngineTest, SeekingWithAndWithoutCase) {
    ParseEngine pe("Content-Type: Text/HTML; charset=x");
    EXPECT_FALSE(pe.seekTo("text/html"));
    EXPECT_TRUE(pe.seekTo("text/html", false));
    EXPECT_TRUE(pe.lookingAt("Text/HTML"));
    EXPECT_TRUE(pe.seekPast("CHARSET=", false));
    EXPECT_EQ(pe.remaining(), "x");
    EXPECT_FALSE(pe.seekPast("zzz", false));
    EXPECT_EQ(pe.remaining(), "x");
}
