#include "mime/TextScan.h"

#include "charset/EncodingUtf8.h"

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
    return EncodingUtf8::isValid(s);
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
