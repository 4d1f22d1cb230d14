#include "charset/DateParser.h"

#include "common/Platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace norvane;

namespace {

SystemTime at(int y, int mo, int d, int h, int mi, int s, int dow) {
    auto u = [](int v) { return static_cast<uint16_t>(v); };
    return {u(y), u(mo), u(dow), u(d), u(h), u(mi), u(s)}; // in member order
}

std::string show(const SystemTime& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d w%d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.dayOfWeek);
    return buf;
}

// The parsed UTC time as text, or "<fail>".
std::string parsed(std::string_view text) {
    SystemTime t;
    if (!DateParser::parseDate(text, t))
        return "<fail>";
    return show(t);
}

// Fixes the local zone for one test.
class FixedZone {
public:
    explicit FixedZone(long seconds) {
        platform::setLocalOffsetForTesting([seconds](std::time_t) { return seconds; });
    }
    ~FixedZone() { platform::setLocalOffsetForTesting({}); }
};

} // namespace

TEST(DateParserTest, ParsesToUtcOrFails) {
    const std::pair<std::string, std::string> cases[] = {
        {"Sat, 21 Aug 2004 14:05:09 -0500", "2004-08-21 19:05:09 w6"},
        {"21 Aug 2004 14:05:09 +0000", "2004-08-21 14:05:09 w6"},
        {"  sat,21 AUG 2004 14:05:09 +0200", "2004-08-21 12:05:09 w6"},
        {"Thu, 1 Jan 2015 05:30:00 +0530", "2015-01-01 00:00:00 w4"},
        {"Sat, 21 Aug 2004 22:30:00 -0300", "2004-08-22 01:30:00 w0"},
        {"Mon, 1 Mar 04 00:10:00 +0100", "2004-02-29 23:10:00 w0"},
        {"Thu, 31 Dec 2009 23:30:00 -0100", "2010-01-01 00:30:00 w5"},
        {"Fri, 1 Jan 2010 00:15:00 +0100", "2009-12-31 23:15:00 w4"},
        {"Tue, 3 Aug 2004 10:00:00 EDT", "2004-08-03 14:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 edt", "2004-08-03 14:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 PST", "2004-08-03 18:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 XYZ", "2004-08-03 10:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00", "2004-08-03 10:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 UT", "2004-08-03 10:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 Z", "2004-08-03 10:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 N", "2004-08-03 09:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 M", "2004-08-03 22:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 GMT+0200", "2004-08-03 08:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 + 0200", "2004-08-03 08:00:00 w2"},
        {"Tue, 3 Aug 2004 10:00:00 +02:00", "2004-08-03 08:00:00 w2"},
        // No seconds, comments, obsolete years, RFC 850 and asctime orders.
        {"Mon, 1 Mar 2004 10:00 +0100", "2004-03-01 09:00:00 w1"},
        {"Sat, 21 Aug 2004 14:05:09 -0500 (CDT)", "2004-08-21 19:05:09 w6"},
        {"Sat, 21 Aug 2004 (a (nested) note) 14:05:09 GMT", "2004-08-21 14:05:09 w6"},
        {"(leading) 21 Aug 2004 14:05:09 +0000 (UTC", "2004-08-21 14:05:09 w6"},
        {"Sat, 21 Aug 99 14:05:09 GMT", "1999-08-21 14:05:09 w6"},
        {"Sat, 21 Aug 104 14:05:09 GMT", "2004-08-21 14:05:09 w6"},
        {"Saturday, 21-Aug-04 14:05:09 GMT", "2004-08-21 14:05:09 w6"},
        {"Sat Aug 21 14:05:09 2004", "2004-08-21 14:05:09 w6"},
        {"Sat Aug 21 14:05:09 PDT 2004", "2004-08-21 21:05:09 w6"},
        {"21 August 2004 14:05:09 +0000", "2004-08-21 14:05:09 w6"},
        {"Sat, 21 Aug 2004 14:05:60 +0000", "2004-08-21 14:05:59 w6"},
        {"", "<fail>"},
        {"   \t ", "<fail>"},
        {"Sat,", "<fail>"},
        {"1 Foo 2004 10:00:00", "<fail>"},
        {"04Dec2004 10:00:00", "<fail>"},
        {"32 Aug 2004 10:00:00", "<fail>"},
        {"29 Feb 2003 10:00:00", "<fail>"},
        {"1 Mar 2004 24:00:00", "<fail>"},
        {"1 Mar 2004 10:60:00", "<fail>"},
        {"1 Mar 2004 10", "<fail>"},
        {"1 Mar 2004 10:00:00:00", "<fail>"},
        {"1 Mar 2004 10:00:00 +ab", "<fail>"},
        {"1 Mar 12345 10:00:00", "<fail>"},
        {"1 Mar 2004", "<fail>"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parsed(text), expected) << text;
}

TEST(DateParserTest, LooksOnlyAtTheTokensADateCanHave) {
    std::string tail;
    for (int i = 0; i < 50000; ++i)
        tail += " junk";
    EXPECT_EQ(parsed("Sat, 21 Aug 2004 14:05:09 -0500" + tail), "2004-08-21 19:05:09 w6");
    EXPECT_EQ(parsed("Sat Aug 21 14:05:09 2004" + tail), "2004-08-21 14:05:09 w6");
    EXPECT_EQ(parsed(tail), "<fail>");
}

TEST(DateParserTest, LeavesTheOutputAloneOnFailure) {
    SystemTime t = at(2001, 2, 3, 4, 5, 6, 6);
    SystemTime before = t;
    EXPECT_FALSE(DateParser::parseDate("Mon, 1 Mar 2004 10 +0100", t));
    EXPECT_EQ(t, before);
}

TEST(DateParserTest, FormatsInTheLocalZone) {
    std::time_t t = 0;
    ASSERT_TRUE(DateParser::toUnixTime(at(2004, 8, 21, 19, 5, 9, 0), t));
    const std::pair<long, const char*> cases[] = {
        {-5 * 3600, "Sat, 21 Aug 2004 14:05:09 -0500"},
        {5 * 3600 + 1800, "Sun, 22 Aug 2004 00:35:09 +0530"},
        {-(3 * 3600 + 1800), "Sat, 21 Aug 2004 15:35:09 -0330"},
        {-1800, "Sat, 21 Aug 2004 18:35:09 -0030"}, // under an hour west keeps its minus
    };
    for (const auto& [offset, expected] : cases) {
        FixedZone zone(offset);
        std::string out;
        DateParser::formatDate(t, out);
        EXPECT_EQ(out, expected);
    }
    FixedZone utc(0);
    ASSERT_TRUE(DateParser::toUnixTime(at(2005, 1, 2, 3, 4, 5, 0), t));
    std::string out;
    DateParser::formatDate(t, out);
    EXPECT_EQ(out, "Sun, 02 Jan 2005 03:04:05 +0000"); // two-digit day
}

TEST(DateParserTest, FormattedDatesParseBack) {
    FixedZone zone(2 * 3600);
    std::string out;
    DateParser::formatNow(out);
    SystemTime parsedNow;
    ASSERT_TRUE(DateParser::parseDate(out, parsedNow)) << out;
    std::time_t back = 0;
    ASSERT_TRUE(DateParser::toUnixTime(parsedNow, back));
    EXPECT_LE(std::llabs(static_cast<long long>(back - platform::nowUtc())), 2);
}

TEST(DateParserTest, OleDatesCountDaysFrom1899) {
    double d = -1;
    ASSERT_TRUE(DateParser::toOleDate(at(1899, 12, 30, 0, 0, 0, 0), d));
    EXPECT_EQ(d, 0.0);
    ASSERT_TRUE(DateParser::toOleDate(at(1900, 1, 1, 12, 0, 0, 0), d));
    EXPECT_EQ(d, 2.5);
    ASSERT_TRUE(DateParser::toOleDate(at(2004, 8, 21, 19, 5, 9, 0), d));
    EXPECT_NEAR(d, 38220.79524305555, 1e-9);
    // Before the epoch the day counts back while the time counts forward.
    ASSERT_TRUE(DateParser::toOleDate(at(1899, 12, 29, 6, 0, 0, 0), d));
    EXPECT_EQ(d, -1.25);
    ASSERT_TRUE(DateParser::toOleDate(at(100, 1, 1, 0, 0, 0, 0), d));
    EXPECT_EQ(d, -657434.0);
    ASSERT_TRUE(DateParser::toOleDate(at(9999, 12, 31, 0, 0, 0, 0), d));
    EXPECT_EQ(d, 2958465.0);
}

TEST(DateParserTest, OleDateRejectsInvalidFields) {
    double d = 7.0;
    EXPECT_FALSE(DateParser::toOleDate(at(10000, 1, 1, 0, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 2, 29, 0, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 13, 1, 0, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 0, 1, 0, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 4, 31, 0, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 4, 0, 0, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 4, 1, 24, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 4, 1, 0, 60, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(2003, 4, 1, 0, 0, 60, 0), d));
    EXPECT_EQ(d, 7.0);
    EXPECT_TRUE(DateParser::toOleDate(at(2000, 2, 29, 0, 0, 0, 0), d));
    EXPECT_FALSE(DateParser::toOleDate(at(1900, 2, 29, 0, 0, 0, 0), d));
}

TEST(DateParserTest, OleDatesRoundTripOverTheWholeRange) {
    std::mt19937_64 rng(99);
    for (int i = 0; i < 20000; ++i) {
        std::time_t secs =
            static_cast<std::time_t>(rng() % (8000LL * 365 * 86400)) - (1870LL * 365 * 86400);
        SystemTime t;
        ASSERT_TRUE(DateParser::fromUnixTime(secs, t));
        double d = 0;
        ASSERT_TRUE(DateParser::toOleDate(t, d));
        SystemTime back;
        DateParser::fromOleDate(d, back);
        ASSERT_EQ(show(back), show(t));
    }
}

TEST(DateParserTest, UtcToLocalUsesThePlatformZone) {
    FixedZone zone(-7 * 3600);
    SystemTime local;
    ASSERT_TRUE(DateParser::utcToLocal(at(2004, 8, 21, 3, 0, 0, 6), local));
    EXPECT_EQ(show(local), "2004-08-20 20:00:00 w5");
    EXPECT_FALSE(DateParser::utcToLocal(at(2004, 2, 30, 3, 0, 0, 6), local));
}
