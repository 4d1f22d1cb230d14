#include "transport/ParseBuffer.h"
#include "transport/PopConnImpl.h"
#include "transport/ProgressMonitor.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace norvane;

TEST(ParseBufferTest, TakeThroughMovesThroughFirstMatchAndKeepsTheRest) {
    ParseBuffer b;
    ASSERT_TRUE(b.append("250 ok\r\n354 go\r\n"));
    std::string out;
    ASSERT_TRUE(b.takeThrough("\r\n", false, out));
    EXPECT_EQ(out, "250 ok\r\n");
    EXPECT_EQ(b.view(), "354 go\r\n");
    EXPECT_FALSE(b.takeThrough("\r\n.\r\n", false, out));
    EXPECT_EQ(b.view(), "354 go\r\n");
}

TEST(ParseBufferTest, TailOnlyMatchesOnlyAtTheEnd) {
    ParseBuffer b;
    ASSERT_TRUE(b.append("a\r\n.\r\nb"));
    std::string out;
    EXPECT_FALSE(b.takeThrough("\r\n.\r\n", true, out));
    ASSERT_TRUE(b.append("\r\n.\r\n"));
    ASSERT_TRUE(b.takeThrough("\r\n.\r\n", true, out));
    EXPECT_EQ(out, "a\r\n.\r\nb\r\n.\r\n");
    EXPECT_TRUE(b.empty());
}

TEST(ParseBufferTest, ManySmallTakesStayConsistent) {
    ParseBuffer b;
    std::string all;
    for (int i = 0; i < 5000; ++i)
        all += std::to_string(i) + "\r\n";
    ASSERT_TRUE(b.append(all));
    std::string out, joined;
    while (b.takeThrough("\r\n", false, out))
        joined += out;
    EXPECT_EQ(joined, all);
    char* p = b.prepareAppend(10);
    ASSERT_NE(p, nullptr);
    p[0] = 'x';
    b.commitAppend(1);
    EXPECT_EQ(b.view(), "x");
}

TEST(ParseBufferTest, LargeContentGrowsAndMovesOutWhole) {
    // Odd sizes, so that growth steps and page-wise moves fall in the middle of pages.
    std::string all;
    for (int i = 0; all.size() < 5'000'000; ++i)
        all += "line " + std::to_string(i * 7919L) + (i % 3 ? "\r\n" : "\n");
    ParseBuffer b;
    b.expect(1000);
    for (size_t pos = 0; pos < all.size(); pos += 65533) {
        std::string_view piece = std::string_view(all).substr(pos, 65533);
        char* p = b.prepareAppend(piece.size() + 100);
        ASSERT_NE(p, nullptr);
        std::memcpy(p, piece.data(), piece.size());
        b.commitAppend(piece.size());
    }
    ASSERT_TRUE(b.append("tail"));
    std::string out;
    b.takeFront(all.size() - 3, out);
    EXPECT_TRUE(out == all.substr(0, all.size() - 3));
    EXPECT_EQ(b.view(), all.substr(all.size() - 3) + "tail");
    b.takeAll(out);
    EXPECT_EQ(out, all.substr(all.size() - 3) + "tail");
    // After a large reply the buffer is small again and still works.
    ASSERT_TRUE(b.append(all.substr(0, 2'500'000)));
    b.takeAll(out);
    EXPECT_TRUE(out == all.substr(0, 2'500'000));
    ASSERT_TRUE(b.append("+OK\r\n"));
    ASSERT_TRUE(b.takeThrough("\r\n", false, out));
    EXPECT_EQ(out, "+OK\r\n");
    EXPECT_TRUE(b.empty());
}

namespace {
struct Recorder : ProgressEvent {
    std::vector<int> percents;
    int abortAt = 101;
    void PercentDone(int percent, bool& abort) override {
        percents.push_back(percent);
        abort = percent >= abortAt;
    }
};
} // namespace

TEST(ProgressMonitorTest, PercentScalesLargeTotals) {
    EXPECT_EQ(ProgressMonitor::percent(0, 0), 100);
    EXPECT_EQ(ProgressMonitor::percent(50, 200), 25);
    EXPECT_EQ(ProgressMonitor::percent(3000000000ULL, 4000000000ULL), 75);
}

TEST(ProgressMonitorTest, ConsumeReportsRisesAndAbort) {
    Recorder r;
    r.abortAt = 60;
    ProgressMonitor m(&r, 1000);
    bool abort = false;
    m.consume(100, abort);
    m.consume(0, abort);
    m.consume(500, abort);
    EXPECT_TRUE(abort);
    EXPECT_TRUE(m.aborted());
    m.consume(5000, abort);
    EXPECT_EQ(m.current(), 1000u);
    EXPECT_EQ(r.percents, (std::vector<int>{10, 60, 100}));
    m.reset(10);
    EXPECT_FALSE(m.aborted());
}

TEST(PopMessageTextTest, InPlaceUnstuffingOfALargeMessage) {
    std::string expected, raw;
    for (int i = 0; i < 20000; ++i) {
        std::string line = (i % 5 == 0 ? "." : "") + std::string(i % 97, 'a' + i % 26) + "\r\n";
        expected += line;
        raw += (line[0] == '.' ? "." : "") + line;
    }
    raw += "..\r\n.\r\n";
    expected += ".\r\n";
    std::string text = raw;
    PopConnImpl::toMessageText(text);
    EXPECT_TRUE(text == expected);
    EXPECT_EQ(PopConnImpl::messageText(raw), expected);
    std::string bare = "..\n.x\n.\nafter";
    PopConnImpl::toMessageText(bare);
    EXPECT_EQ(bare, ".\n.x\n");
}
