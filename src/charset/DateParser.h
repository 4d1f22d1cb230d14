#pragma once

// Dates of Internet mail: the Date header parsed to a calendar time in UTC (RFC 5322 section 3.3
// and the obsolete forms real mail still carries), the Date text of new messages in the local
// zone, and the automation date (a double counting days since 30 December 1899) that the public
// EmailDate and LocalDate properties use.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace norvane {

// A calendar time, field by field; dayOfWeek counts from 0 = Sunday.
struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;

    bool operator==(const SystemTime&) const = default;
};

class DateParser {
public:
    // Parses a Date header value into UTC. Accepts an optional day name, "day month year" (also
    // with '-' between them) or the asctime order "month day time year", two- and three-digit
    // years, a time with or without seconds, numeric and named zones (none means GMT) and
    // comments in parentheses anywhere. False (out unchanged) when no valid date is found.
    [[nodiscard]] static bool parseDate(std::string_view text, SystemTime& out);

    // The Date header text of time t in the local zone, for example
    // "Sat, 21 Aug 2004 14:05:09 -0500". Replaces out.
    static void formatDate(std::time_t t, std::string& out);
    // formatDate of the current time.
    static void formatNow(std::string& out);

    // Calendar time -> automation date. False (out unchanged) when a field is out of range.
    [[nodiscard]] static bool toOleDate(const SystemTime& t, double& out);
    // Automation date -> calendar time, rounded to the second. A date outside the years
    // 100..9999 gives the current UTC time instead.
    static void fromOleDate(double date, SystemTime& out);

    // Conversions to and from seconds since 1970 (UTC); false when t does not fit.
    [[nodiscard]] static bool toUnixTime(const SystemTime& t, std::time_t& out);
    [[nodiscard]] static bool fromUnixTime(std::time_t t, SystemTime& out);
    // The local time (under the platform's zone rules) of a UTC calendar time.
    [[nodiscard]] static bool utcToLocal(const SystemTime& utc, SystemTime& out);
};

} // namespace norvane
