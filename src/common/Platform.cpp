#include "common/Platform.h"

#include <pwd.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace norvane::platform {

namespace {

int codePageFromEnv(const char* var, int fallback) {
    const char* v = std::getenv(var);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    long cp = std::strtol(v, &end, 10);
    return (end && *end == '\0' && cp > 0 && cp < 100000) ? static_cast<int>(cp) : fallback;
}

std::atomic<int>& ansiSlot() {
    static std::atomic<int> cp{codePageFromEnv("NORVANE_ANSI_CODEPAGE", 65001)};
    return cp;
}

std::atomic<int>& oemSlot() {
    static std::atomic<int> cp{codePageFromEnv("NORVANE_OEM_CODEPAGE", 437)};
    return cp;
}

// Test hooks are installed before the threads that use them start; the mutex keeps a reader
// from seeing a half-assigned std::function all the same.
std::mutex hookMutex;
std::function<std::string()> uuidHook;
std::function<long(std::time_t)> offsetHook;
std::function<std::time_t()> nowHook;

} // namespace

int ansiCodePage() {
    return ansiSlot().load(std::memory_order_relaxed);
}
void setAnsiCodePage(int cp) {
    ansiSlot().store(cp, std::memory_order_relaxed);
}
int oemCodePage() {
    return oemSlot().load(std::memory_order_relaxed);
}
void setOemCodePage(int cp) {
    oemSlot().store(cp, std::memory_order_relaxed);
}

void randomBytes(void* buf, size_t n) {
    auto* p = static_cast<uint8_t*>(buf);
    while (n > 0) {
        ssize_t got = ::getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            // getrandom cannot fail on a kernel that has it; keep going with a weak fill rather
            // than return uninitialised bytes.
            for (size_t i = 0; i < n; ++i)
                p[i] = static_cast<uint8_t>(std::rand());
            return;
        }
        p += got;
        n -= static_cast<size_t>(got);
    }
}

std::string newUuidString() {
    {
        std::lock_guard lock(hookMutex);
        if (uuidHook)
            return uuidHook();
    }
    uint8_t b[16];
    randomBytes(b, sizeof b);
    b[6] = static_cast<uint8_t>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3f) | 0x80);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.push_back('-');
        out.push_back(hex[b[i] >> 4]);
        out.push_back(hex[b[i] & 15]);
    }
    return out;
}

void setUuidGeneratorForTesting(std::function<std::string()> gen) {
    std::lock_guard lock(hookMutex);
    uuidHook = std::move(gen);
}

std::string localHostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return buf;
}

std::string accountName() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buf(size > 0 ? static_cast<size_t>(size) : 16384, '\0');
    struct passwd pw;
    struct passwd* res = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &res) == 0 && res && res->pw_name)
        return res->pw_name;
    const char* user = std::getenv("USER");
    return user ? user : "";
}

std::time_t nowUtc() {
    {
        std::lock_guard lock(hookMutex);
        if (nowHook)
            return nowHook();
    }
    return std::time(nullptr);
}

void setNowForTesting(std::function<std::time_t()> fn) {
    std::lock_guard lock(hookMutex);
    nowHook = std::move(fn);
}

std::tm utcTime(std::time_t t) {
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return tm;
}

std::tm localTime(std::time_t t) {
    {
        std::lock_guard lock(hookMutex);
        if (offsetHook) {
            long off = offsetHook(t);
            std::tm tm = utcTime(t + off);
            tm.tm_gmtoff = off;
            tm.tm_isdst = 0;
            return tm;
        }
    }
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm;
}

long localUtcOffsetSeconds(std::time_t t) {
    return localTime(t).tm_gmtoff;
}

void setLocalOffsetForTesting(std::function<long(std::time_t)> fn) {
    std::lock_guard lock(hookMutex);
    offsetHook = std::move(fn);
}

uint64_t steadyMillis() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void sleepMillis(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string systemErrorText(int err) {
    char buf[256] = {};
    // The GNU strerror_r returns its text, possibly not in buf.
    const char* text = ::strerror_r(err, buf, sizeof buf);
    std::string s = text ? text : "";
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\n' || s.back() == '\r' || s.back() == '\t'))
        s.pop_back();
    return s;
}

} // namespace norvane::platform
