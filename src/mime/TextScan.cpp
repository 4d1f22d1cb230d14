#include "mime/TextScan.h"

#include "charset/EncodingUtf8.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

size_t countLf(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    size_t n = 0;
#if defined(__SSE2__)
    // Per-byte counters (a match is -1, subtracted) for up to 255 blocks, then summed.
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        __m128i counts = _mm_setzero_si128();
        for (int i = 0; i < 255 && end - p >= 16; ++i, p += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, lf));
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        n += static_cast<size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    }
#endif
    for (; p < end; ++p)
        n += *p == '\n';
    return n;
}

void copyWithCrlf(std::string_view text, char* o) {
    const char* p = text.data();
    const char* const end = p + text.size();
#if defined(__SSE2__)
    // Sixteen bytes go out at once; the output has at least as much room left as the input
    // has bytes, so the store stays inside it, and a line break overwrites what follows it.
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
        const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        if (mask == 0) {
            p += 16;
            o += 16;
            continue;
        }
        const int k = __builtin_ctz(mask);
        o += k;
        *o++ = '\r';
        *o++ = '\n';
        p += k + 1;
    }
#endif
    for (; p < end; ++p) {
        if (*p == '\n')
            *o++ = '\r';
        *o++ = *p;
    }
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
