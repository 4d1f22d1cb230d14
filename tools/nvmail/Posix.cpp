#include "Posix.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>

namespace nvmail {

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string systemErrorText(int err) {
    char buf[256] = {};
    // The GNU strerror_r returns its text, possibly not in buf.
    const char* text = ::strerror_r(err, buf, sizeof buf);
    return text ? text : "";
}

std::string newUuid() {
    uint8_t b[16];
    size_t got = 0;
    while (got < sizeof b) {
        const ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        got += static_cast<size_t>(n);
    }
    // getrandom fails only on kernels without it; the standard library's source serves then.
    std::random_device rd;
    for (; got < sizeof b; ++got)
        b[got] = static_cast<uint8_t>(rd());
    b[6] = static_cast<uint8_t>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3f) | 0x80);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < sizeof b; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out.push_back('-');
        out.push_back(kHex[b[i] >> 4]);
        out.push_back(kHex[b[i] & 15]);
    }
    return out;
}

} // namespace nvmail
