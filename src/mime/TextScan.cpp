#include "mime/TextScan.h"

#include <cstdint>
#include <cstring>

namespace norvane::text_scan {

bool is7bit(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t i = 0;
    // Eight bytes at a time: headers and bodies are mostly ASCII.
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ULL)
            return false;
    }
    for (; i < s.size(); ++i)
        if (p[i] & 0x80)
            return false;
    return true;
}

bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += len;
    }
    return true;
}

size_t find(std::string_view text, std::string_view pattern, size_t from) {
    if (from > text.size() || pattern.size() > text.size() - from)
        return std::string_view::npos;
    if (pattern.empty())
        return from;
    const void* hit =
        memmem(text.data() + from, text.size() - from, pattern.data(), pattern.size());
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data())
               : std::string_view::npos;
}

} // namespace norvane::text_scan
