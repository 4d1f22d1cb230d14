#include "charset/DateParser.h"

#include "common/Platform.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace norvane {

namespace {

constexpr std::array<std::string_view, 7> kDays = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The zone names of RFC 822 with their offsets in minutes east of Greenwich. The military
// letters keep the signs RFC 822 printed; any other name counts as UTC.
struct ZoneName {
    std::string_view name;
    int minutes;
};
constexpr std::array<ZoneName, 16> kZones = {{{"ut", 0},
                                              {"utc", 0},
                                              {"gmt", 0},
                                              {"est", -300},
                                              {"edt", -240},
                                              {"cst", -360},
                                              {"cdt", -300},
                                              {"mst", -420},
                                              {"mdt", -360},
                                              {"pst", -480},
                                              {"pdt", -420},
                                              {"a", -60},
                                              {"m", -720},
                                              {"n", 60},
                                              {"y", 720},
                                              {"z", 0}}};

// Automation dates count from 1899-12-30, which is day -25569 of the Unix epoch.
constexpr int64_t kOleEpochDays = 25569;
constexpr int64_t kOleMinDay = -657434; // 0100-01-01
constexpr int64_t kOleMaxDay = 2958465; // 9999-12-31
constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
    int64_t year;
    unsigned month;
    unsigned day;
};

Civil civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2), m, d};
}

unsigned weekdayFromDays(int64_t z) {
    // 1970-01-01 was a Thursday.
    return static_cast<unsigned>(z >= -4 ? (z + 4) % 7 : (z + 5) % 7 + 6);
}

bool isLeap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(int64_t y, unsigned m) {
    static constexpr unsigned kLen[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kLen[m - 1];
}

// A calendar time from seconds since 1970; false outside the years 1..9999.
bool fromEpochSeconds(int64_t secs, SystemTime& out) {
    int64_t days =
        secs >= 0 ? secs / kSecondsPerDay : -((-secs + kSecondsPerDay - 1) / kSecondsPerDay);
    int64_t rest = secs - days * kSecondsPerDay;
    Civil c = civilFromDays(days);
    if (c.year < 1 || c.year > 9999)
        return false;
    out.year = static_cast<uint16_t>(c.year);
    out.month = static_cast<uint16_t>(c.month);
    out.day = static_cast<uint16_t>(c.day);
    out.dayOfWeek = static_cast<uint16_t>(weekdayFromDays(days));
    out.hour = static_cast<uint16_t>(rest / 3600);
    out.minute = static_cast<uint16_t>(rest / 60 % 60);
    out.second = static_cast<uint16_t>(rest % 60);
    out.milliseconds = 0;
    return true;
}

bool validFields(const SystemTime& t) {
    return t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= daysInMonth(t.year, t.month) && t.hour <= 23 && t.minute <= 59 &&
           t.second <= 59;
}

// --- parsing ---

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAlpha(char c) {
    return c >= 'a' && c <= 'z';
}

// No form of the date has more tokens than this; the rest of a long header is not looked at.
constexpr size_t kMaxTokens = 12;

// The header lower-cased, comments removed (nested ones too, and an unclosed one to the end),
// split at white space and commas: its first kMaxTokens tokens.
std::vector<std::string> tokenize(std::string_view text) {
    std::vector<std::string> tokens;
    std::string cur;
    int depth = 0;
    for (char raw : text) {
        if (tokens.size() == kMaxTokens)
            return tokens;
        char c = (raw >= 'A' && raw <= 'Z') ? static_cast<char>(raw + 32) : raw;
        if (c == '(') {
            ++depth;
        } else if (depth > 0) {
            depth -= c == ')';
            continue;
        }
        if (c == '(' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
            if (!cur.empty())
                tokens.push_back(std::move(cur));
            cur.clear();
            continue;
        }
        cur.push_back(c);
    }
    if (!cur.empty())
        tokens.push_back(std::move(cur));
    return tokens;
}

// A whole token of 1 to maxDigits digits.
std::optional<int> number(std::string_view s, size_t maxDigits) {
    if (s.empty() || s.size() > maxDigits)
        return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (!isDigit(c))
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Index 1..12 of a month token ("aug", "august"); 0 when it is none.
unsigned monthOf(std::string_view s) {
    if (s.size() < 3 || !isAlpha(s[0]))
        return 0;
    for (size_t i = 0; i < kMonths.size(); ++i)
        if (s.substr(0, 3) == kMonths[i])
            return static_cast<unsigned>(i + 1);
    return 0;
}

bool isDayName(std::string_view s) {
    if (s.size() < 3)
        return false;
    for (auto d : kDays)
        if (s.substr(0, 3) == d)
            return true;
    return false;
}

// RFC 5322 section 4.3: two-digit years 00-49 are 20xx, other two- and three-digit years
// count from 1900.
int widenYear(int y, size_t digits) {
    if (digits <= 2)
        return y < 50 ? y + 2000 : y + 1900;
    if (digits == 3)
        return y + 1900;
    return y;
}

struct Fields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int zoneMinutes = 0;
};

// "hh:mm" or "hh:mm:ss".
bool parseTime(std::string_view s, Fields& f) {
    std::array<int, 3> v{};
    size_t parts = 0;
    while (true) {
        const size_t colon = s.find(':');
        auto n = number(s.substr(0, colon), 2);
        if (!n || parts == v.size())
            return false;
        v[parts++] = *n;
        if (colon == std::string_view::npos)
            break;
        s.remove_prefix(colon + 1);
    }
    if (parts < 2)
        return false;
    f.hour = v[0];
    f.minute = v[1];
    f.second = v[2] == 60 ? 59 : v[2]; // a leap second is kept within its minute
    return true;
}

// "+hhmm", "-hhmm", "+hh:mm", "+hh" (digits may follow without a sign).
bool parseNumericZone(std::string_view s, int& minutes) {
    int sign = 1;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        sign = s[0] == '-' ? -1 : 1;
        s.remove_prefix(1);
    }
    size_t digits = 0;
    while (digits < s.size() && isDigit(s[digits]))
        ++digits;
    int h = 0, m = 0;
    if (digits == 4 || digits == 3) {
        int v = *number(s.substr(0, digits), 4);
        h = v / 100;
        m = v % 100;
    } else if (digits == 1 || digits == 2) {
        h = *number(s.substr(0, digits), 2);
        if (digits == 2 && s.size() > 3 && s[2] == ':') {
            auto mm = number(s.substr(3, 2), 2);
            if (!mm)
                return false;
            m = *mm;
        }
    } else {
        return false;
    }
    minutes = sign * (h * 60 + m);
    return true;
}

// A zone token: numeric, a name, or a name with an offset ("gmt+0200").
bool parseZone(std::string_view s, int& minutes) {
    if (s[0] == '+' || s[0] == '-' || isDigit(s[0]))
        return parseNumericZone(s, minutes);
    size_t alpha = 0;
    while (alpha < s.size() && isAlpha(s[alpha]))
        ++alpha;
    minutes = 0;
    for (const auto& z : kZones)
        if (s.substr(0, alpha) == z.name)
            minutes = z.minutes;
    if (alpha < s.size() && (s[alpha] == '+' || s[alpha] == '-')) {
        int extra = 0;
        if (parseNumericZone(s.substr(alpha), extra))
            minutes += extra;
    }
    return true;
}

bool parseYear(std::string_view s, Fields& f) {
    auto y = number(s, 4);
    if (!y)
        return false;
    f.year = widenYear(*y, s.size());
    return true;
}

// "day month year" with blanks or '-' between them, the time and the zone.
bool parseDayFirst(const std::vector<std::string>& t, size_t i, Fields& f) {
    std::vector<std::string> date;
    if (t[i].find('-') != std::string::npos) {
        size_t a = t[i].find('-');
        size_t b = t[i].find('-', a + 1);
        if (b == std::string::npos)
            return false;
        date = {t[i].substr(0, a), t[i].substr(a + 1, b - a - 1), t[i].substr(b + 1)};
        ++i;
    } else if (i + 2 < t.size()) {
        date = {t[i], t[i + 1], t[i + 2]};
        i += 3;
    } else {
        return false;
    }
    auto d = number(date[0], 2);
    f.month = static_cast<int>(monthOf(date[1]));
    if (!d || f.month == 0 || !parseYear(date[2], f) || i >= t.size() || !parseTime(t[i], f))
        return false;
    f.day = *d;
    ++i;
    if (i >= t.size())
        return true;
    // "+ 0100": a sign written apart from its digits.
    if ((t[i] == "+" || t[i] == "-") && i + 1 < t.size())
        return parseZone(t[i] + t[i + 1], f.zoneMinutes);
    return parseZone(t[i], f.zoneMinutes);
}

// asctime order: "month day time [zone] year", or "month day year time [zone]".
bool parseMonthFirst(const std::vector<std::string>& t, size_t i, Fields& f) {
    f.month = static_cast<int>(monthOf(t[i]));
    if (f.month == 0 || i + 3 >= t.size())
        return false;
    auto d = number(t[i + 1], 2);
    if (!d)
        return false;
    f.day = *d;
    i += 2;
    if (parseYear(t[i], f)) {
        if (!parseTime(t[i + 1], f))
            return false;
        i += 2;
        return i >= t.size() || parseZone(t[i], f.zoneMinutes);
    }
    if (!parseTime(t[i], f))
        return false;
    ++i;
    if (parseYear(t[i], f))
        return true;
    return i + 1 < t.size() && parseZone(t[i], f.zoneMinutes) && parseYear(t[i + 1], f);
}

} // namespace

bool DateParser::parseDate(std::string_view text, SystemTime& out) {
    const std::vector<std::string> tokens = tokenize(text);
    size_t i = 0;
    if (i < tokens.size() && isDayName(tokens[i]))
        ++i;
    if (i >= tokens.size())
        return false;
    Fields f;
    bool ok = isDigit(tokens[i][0]) ? parseDayFirst(tokens, i, f) : parseMonthFirst(tokens, i, f);
    if (!ok || f.year < 100 || f.year > 9999 || f.month < 1 || f.month > 12 || f.day < 1 ||
        static_cast<unsigned>(f.day) > daysInMonth(f.year, static_cast<unsigned>(f.month)) ||
        f.hour > 23 || f.minute > 59 || f.second > 59)
        return false;
    const int64_t local =
        daysFromCivil(f.year, static_cast<unsigned>(f.month), static_cast<unsigned>(f.day)) *
            kSecondsPerDay +
        f.hour * 3600 + f.minute * 60 + f.second;
    SystemTime result;
    if (!fromEpochSeconds(local - int64_t{f.zoneMinutes} * 60, result))
        return false;
    out = result;
    return true;
}

void DateParser::formatDate(std::time_t t, std::string& out) {
    const std::tm tm = platform::localTime(t);
    const long offsetMinutes = tm.tm_gmtoff / 60;
    const long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buf[80];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  kDayNames[static_cast<size_t>(tm.tm_wday) % 7], tm.tm_mday,
                  kMonthNames[static_cast<size_t>(tm.tm_mon) % 12], tm.tm_year + 1900, tm.tm_hour,
                  tm.tm_min, tm.tm_sec, offsetMinutes < 0 ? '-' : '+', absMinutes / 60,
                  absMinutes % 60);
    out.assign(buf);
}

void DateParser::formatNow(std::string& out) {
    formatDate(platform::nowUtc(), out);
}

bool DateParser::toOleDate(const SystemTime& t, double& out) {
    if (!validFields(t))
        return false;
    const int64_t days = daysFromCivil(t.year, t.month, t.day) + kOleEpochDays;
    const double fraction = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / kSecondsPerDay;
    // Before 1899-12-30 the day counts backwards while the time of day still counts forwards.
    out = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
    return true;
}

void DateParser::fromOleDate(double date, SystemTime& out) {
    constexpr double kHalfSecond = 0.5 / kSecondsPerDay;
    const double rounded = date >= 0 ? date + kHalfSecond : date - kHalfSecond;
    const double whole = std::trunc(rounded);
    if (!(whole >= static_cast<double>(kOleMinDay) && whole <= static_cast<double>(kOleMaxDay))) {
        (void)fromEpochSeconds(static_cast<int64_t>(platform::nowUtc()), out);
        return;
    }
    const auto days = static_cast<int64_t>(whole);
    auto secs = static_cast<int64_t>(std::fabs(rounded - whole) * kSecondsPerDay);
    if (secs >= kSecondsPerDay)
        secs = kSecondsPerDay - 1;
    (void)fromEpochSeconds((days - kOleEpochDays) * kSecondsPerDay + secs, out);
}

bool DateParser::toUnixTime(const SystemTime& t, std::time_t& out) {
    if (!validFields(t))
        return false;
    out = static_cast<std::time_t>(daysFromCivil(t.year, t.month, t.day) * kSecondsPerDay +
                                   t.hour * 3600 + t.minute * 60 + t.second);
    return true;
}

bool DateParser::fromUnixTime(std::time_t t, SystemTime& out) {
    SystemTime result;
    if (!fromEpochSeconds(static_cast<int64_t>(t), result))
        return false;
    out = result;
    return true;
}

bool DateParser::utcToLocal(const SystemTime& utc, SystemTime& out) {
    std::time_t t = 0;
    if (!toUnixTime(utc, t))
        return false;
    return fromUnixTime(t + platform::localUtcOffsetSeconds(t), out);
}

} // namespace norvane
