#include "transport/ParseBuffer.h"
#include "transport/PopConnImpl.h"
#include "transport/ProgressMonitor.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(ParseBufferTest, TakeThroughMovesThroughFirstMatchAndKeepsTheRest) {
    ParseBuffer b;
    b.append("250 ok\r\n354 go\r\n");
    std::string out;
    ASSERT_TRUE(b.takeThrough("\r\n", false, out));
    EXPECT_EQ(out, "250 ok\r\n");
    EXPECT_EQ(b.view(), "354 go\r\n");
    EXPECT_FALSE(b.takeThrough("\r\n.\r\n", false, out));
    EXPECT_EQ(b.view(), "354 go\r\n");
}

TEST(ParseBufferTest, TailOnlyMatchesOnlyAtTheEnd) {
    ParseBuffer b;
    b.append("a\r\n.\r\nb");
    std::string out;
    EXPECT_FALSE(b.takeThrough("\r\n.\r\n", true, out));
    b.append("\r\n.\r\n");
    ASSERT_TRUE(b.takeThrough("\r\n.\r\n", true, out));
    EXPECT_EQ(out, "a\r\n.\r\nb\r\n.\r\n");
    EXPECT_TRUE(b.empty());
}

TEST(ParseBufferTest, ManySmallTakesStayConsistent) {
    ParseBuffer b;
    std::string all;
    for (int i = 0; i < 5000; ++i)
        all += std::to_string(i) + "\r\n";
    b.append(all);
    std::string out, joined;
    while (b.takeThrough("\r\n", false, out))
        joined += out;
    EXPECT_EQ(joined, all);
    char* p = b.prepareAppend(10);
    p[0] = 'x';
    b.commitAppend(1);
    EXPECT_EQ(b.view(), "x");
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
    m.addTag("xferMail");
    EXPECT_TRUE(m.hasTag("xferMail"));
    EXPECT_FALSE(m.hasTag("fetchMultiple"));
}

TEST(PopMessageTextTest, UnstuffsAndDropsTerminator) {
    EXPECT_EQ(PopConnImpl::messageText("a\r\n..b\r\n.c\r\n\r\n.\r\n"), "a\r\n.b\r\n.c\r\n");
    EXPECT_EQ(PopConnImpl::messageText(".\r\n"), "");
}
