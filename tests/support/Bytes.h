#pragma once

// Small conversions many tests need: text as a byte span, bytes as hex, repeatable random
// bytes, a charset by name, UTF-8 text in another charset.

#include "charset/Charset.h"
#include "charset/EncodingConvert.h"
#include "common/StringBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>

namespace norvane::test {

inline std::span<const uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Bytes as lower-case hex digits, two for each.
inline std::string hexOf(std::span<const uint8_t> b) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (uint8_t c : b) {
        s.push_back(digits[c >> 4]);
        s.push_back(digits[c & 15]);
    }
    return s;
}

// Bytes from hex digits; whatever is no hex digit (blanks, a "-" for nothing) is passed over.
inline std::string fromHex(std::string_view hex) {
    std::string out;
    unsigned v = 0, nibbles = 0;
    for (char c : hex) {
        const int digit = sb::hexValue(c);
        if (digit < 0)
            continue;
        v = v * 16 + static_cast<unsigned>(digit);
        if (++nibbles % 2 == 0) {
            out.push_back(static_cast<char>(v));
            v = 0;
        }
    }
    return out;
}

// How often what occurs in text (overlapping occurrences counted).
inline size_t countOf(std::string_view text, std::string_view what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string_view::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

// n bytes drawn from a generator seeded with seed: the same bytes on every run.
inline std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

inline Charset charsetNamed(std::string_view name) {
    Charset cs;
    cs.setByName(name);
    return cs;
}

// UTF-8 text in the named charset.
inline std::string fromUtf8(std::string_view utf8, std::string_view charset) {
    std::string out;
    EXPECT_TRUE(EncodingConvert().convert(65001, Charset::codePageForName(charset), utf8, out));
    return out;
}

} // namespace norvane::test
