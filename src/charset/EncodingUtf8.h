#pragma once

// The Unicode forms converted by code rather than tables: UTF-8, UTF-16 (little endian inside),
// UTF-7 (RFC 2152) and UTF-32. Every decoder drops what is ill-formed (overlong or truncated
// UTF-8, encoded surrogates, lone surrogates, odd trailing bytes) and reports it by returning
// false; it never reads past its input.

#include "charset/ByteSink.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

class EncodingUtf8 {
public:
    static constexpr char32_t kInvalid = 0xFFFFFFFF;

    // Decodes one UTF-8 character at p (p < end): returns the bytes consumed (at least 1) and
    // the code point in cp, or kInvalid for an ill-formed sequence (the bytes consumed are
    // then its maximal ill-formed prefix).
    static size_t decode(const uint8_t* p, const uint8_t* end, char32_t& cp) {
        uint8_t c = p[0];
        if (c < 0x80) {
            cp = c;
            return 1;
        }
        if (c >= 0xC2 && c < 0xE0) {
            if (end - p >= 2 && (p[1] & 0xC0) == 0x80) {
                cp = ((c & 0x1Fu) << 6) | (p[1] & 0x3Fu);
                return 2;
            }
            cp = kInvalid;
            return 1;
        }
        return decodeLong(p, end, cp);
    }
    // True when s is well-formed UTF-8 (no overlongs, surrogates or truncated sequences).
    static bool isValid(std::string_view s) {
        const auto* p = reinterpret_cast<const uint8_t*>(s.data());
        const uint8_t* const end = p + s.size();
        while (p < end) {
            char32_t cp = 0;
            p += decode(p, end, cp);
            if (cp == kInvalid)
                return false;
        }
        return true;
    }
    // Appends the UTF-8 form of cp (≤ 0x10FFFF, not a surrogate) at w; returns the new end.
    static uint8_t* put(uint8_t* w, char32_t cp) {
        if (cp < 0x80) {
            *w++ = static_cast<uint8_t>(cp);
        } else if (cp < 0x800) {
            *w++ = static_cast<uint8_t>(0xC0 | (cp >> 6));
            *w++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *w++ = static_cast<uint8_t>(0xE0 | (cp >> 12));
            *w++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
            *w++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        } else {
            *w++ = static_cast<uint8_t>(0xF0 | (cp >> 18));
            *w++ = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
            *w++ = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
            *w++ = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        }
        return w;
    }

    // UTF-8 → UTF-16 code units, appended.
    static bool utf8ToUtf16(std::span<const uint8_t> in, std::u16string& out);
    // UTF-16 code units → UTF-8, appended; lone surrogates are dropped.
    static bool utf16ToUtf8(std::u16string_view in, ByteSink& out);
    // Little-endian UTF-16 bytes → code units, appended; an odd last byte is dropped.
    static bool utf16leToUnits(std::span<const uint8_t> in, std::u16string& out);
    static void unitsToUtf16le(std::u16string_view in, ByteSink& out);
    // Swaps each byte pair (UTF-16 byte order); an odd last byte is dropped.
    static bool swapPairs(std::span<const uint8_t> in, ByteSink& out);

    static bool utf7ToUtf16(std::span<const uint8_t> in, std::u16string& out);
    static void utf16ToUtf7(std::u16string_view in, ByteSink& out);

    static bool utf32ToUtf8(std::span<const uint8_t> in, bool bigEndian, ByteSink& out);
    static bool utf8ToUtf32(std::span<const uint8_t> in, bool bigEndian, ByteSink& out);

private:
    static size_t decodeLong(const uint8_t* p, const uint8_t* end, char32_t& cp);
};

} // namespace norvane
