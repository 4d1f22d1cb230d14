#pragma once

// The one place that asks the operating system about code pages, identity, clocks and error
// texts. Nothing above this layer calls the Linux API for these.

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace norvane::platform {

// The process-wide "ANSI" code page: 65001 (UTF-8) unless NORVANE_ANSI_CODEPAGE says otherwise
// when first asked, or setAnsiCodePage changes it.
[[nodiscard]] int ansiCodePage();
void setAnsiCodePage(int cp);
// The "OEM" code page: 437 unless NORVANE_OEM_CODEPAGE or setOemCodePage says otherwise.
[[nodiscard]] int oemCodePage();
void setOemCodePage(int cp);

// A new random (version 4) UUID as 36 lower-case hex digits with hyphens (8-4-4-4-12).
[[nodiscard]] std::string newUuidString();
// Tests make Message-IDs, Content-IDs and boundaries repeatable by installing a generator;
// an empty function restores the random one.
void setUuidGeneratorForTesting(std::function<std::string()> gen);

// The local host name; empty when the system cannot tell.
[[nodiscard]] std::string localHostName();
// The name of the account the process runs as; empty when unknown.
[[nodiscard]] std::string accountName();

// Seconds since the epoch, UTC.
[[nodiscard]] std::time_t nowUtc();
// Tests fix the clock that nowUtc reads (Date fields of new messages); an empty function
// restores the system clock.
void setNowForTesting(std::function<std::time_t()> fn);
// Broken-down times for t (UTC and local zone).
[[nodiscard]] std::tm utcTime(std::time_t t);
[[nodiscard]] std::tm localTime(std::time_t t);
// The local zone's offset from UTC at t, in seconds east of Greenwich (daylight saving included).
[[nodiscard]] long localUtcOffsetSeconds(std::time_t t);
// Tests fix the local zone's offset; an empty function restores the system zone.
void setLocalOffsetForTesting(std::function<long(std::time_t)> fn);

// Milliseconds of a monotonic clock, for time-outs and seeds.
[[nodiscard]] uint64_t steadyMillis();
void sleepMillis(unsigned ms);

// The system's text for an errno value, trimmed of white space.
[[nodiscard]] std::string systemErrorText(int err);

// Fills buf with cryptographically random bytes.
void randomBytes(void* buf, size_t n);

} // namespace norvane::platform
