#include "charset/TableCodec.h"

#include "charset/EncodingUtf8.h"

#include <cstring>

namespace norvane {

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Copies the longest run of ASCII bytes at p, eight at a time; returns how many.
inline size_t copyAscii(const uint8_t* p, const uint8_t* end, uint8_t* w) {
    const uint8_t* start = p;
    while (end - p >= 8) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        if (v & kHighBits)
            break;
        std::memcpy(w, &v, 8);
        p += 8;
        w += 8;
    }
    while (p < end && *p < 0x80)
        *w++ = *p++;
    return static_cast<size_t>(p - start);
}

// Writes code c (a byte, or lead << 8 | trail) at w.
inline uint8_t* putCode(uint8_t* w, int c) {
    if (c > 0xFF)
        *w++ = static_cast<uint8_t>(c >> 8);
    *w++ = static_cast<uint8_t>(c);
    return w;
}

// Decodes one character of a double-byte table at p; 0 in u means unmapped (the bytes
// consumed are still returned). Byte 0 decodes to U+0000, reported through mapped.
inline size_t decodeDouble(const CodePageTable& t, const uint8_t* p, const uint8_t* end,
                           uint16_t& u, bool& mapped) {
    uint8_t b = *p;
    if (!t.isLead(b)) {
        u = t.single(b);
        mapped = u != 0 || b == 0;
        return 1;
    }
    if (end - p < 2) {
        u = 0, mapped = false;
        return 1;
    }
    u = t.pair(b, p[1]);
    mapped = u != 0;
    return mapped || t.isTrail(p[1]) ? 2 : 1;
}

} // namespace

bool TableCodec::toUnits(const CodePageTable& t, std::span<const uint8_t> in, std::u16string& out) {
    bool ok = true;
    out.reserve(out.size() + in.size());
    const uint8_t* p = in.data();
    const uint8_t* end = p + in.size();
    while (p < end) {
        uint16_t u;
        bool mapped;
        if (t.isDoubleByte()) {
            p += decodeDouble(t, p, end, u, mapped);
        } else {
            u = t.single(*p);
            mapped = u != 0 || *p == 0;
            ++p;
        }
        if (mapped)
            out.push_back(static_cast<char16_t>(u));
        else
            ok = false;
    }
    return ok;
}

bool TableCodec::fromUnits(const CodePageTable& t, std::u16string_view in, ByteSink& out) {
    bool ok = true;
    uint8_t* w = out.reserve(in.size() * 2);
    for (char16_t u : in) {
        int c = t.encode(u);
        if (c < 0)
            ok = false;
        else
            w = putCode(w, c);
    }
    out.commit(w);
    return ok;
}

bool TableCodec::toUtf8(const CodePageTable& t, std::span<const uint8_t> in, ByteSink& out) {
    bool ok = true;
    const uint8_t* p = in.data();
    const uint8_t* end = p + in.size();
    // Three UTF-8 bytes per input byte at most, plus slack for the 4-byte stores below.
    uint8_t* w = out.reserve(in.size() * 3 + 8);
    const bool ascii = t.isAsciiBased();
    if (!t.isDoubleByte()) {
        const CodePageTable::Utf8Bytes* map = t.singleUtf8();
        while (p < end) {
            if (ascii && *p < 0x80) {
                size_t n = copyAscii(p, end, w);
                p += n, w += n;
                continue;
            }
            const CodePageTable::Utf8Bytes& e = map[*p++];
            std::memcpy(w, e.b, 3);
            w += e.len;
            ok &= e.len != 0;
        }
    } else {
        while (p < end) {
            if (ascii && *p < 0x80) {
                size_t n = copyAscii(p, end, w);
                p += n, w += n;
                continue;
            }
            uint16_t u;
            bool mapped;
            p += decodeDouble(t, p, end, u, mapped);
            if (mapped)
                w = EncodingUtf8::put(w, u);
            else
                ok = false;
        }
    }
    out.commit(w);
    return ok;
}

bool TableCodec::fromUtf8(const CodePageTable& t, std::span<const uint8_t> in, ByteSink& out) {
    bool ok = true;
    const uint8_t* p = in.data();
    const uint8_t* end = p + in.size();
    // Never more bytes than the UTF-8 input: each character is at most as long in the table.
    uint8_t* w = out.reserve(in.size());
    const bool ascii = t.isAsciiBased();
    while (p < end) {
        if (ascii && *p < 0x80) {
            size_t n = copyAscii(p, end, w);
            p += n, w += n;
            continue;
        }
        char32_t cp;
        // Three-byte sequences (all of CJK) inline; everything else through the full decoder.
        if ((p[0] & 0xF0) == 0xE0 && end - p >= 3 && (p[1] & 0xC0) == 0x80 &&
            (p[2] & 0xC0) == 0x80 && (p[0] != 0xE0 || p[1] >= 0xA0) &&
            (p[0] != 0xED || p[1] < 0xA0)) {
            cp = ((p[0] & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
            p += 3;
        } else {
            p += EncodingUtf8::decode(p, end, cp);
        }
        int c = cp < 0x10000 ? t.encode(static_cast<uint16_t>(cp)) : -1;
        if (c < 0)
            ok = false;
        else
            w = putCode(w, c);
    }
    out.commit(w);
    return ok;
}

} // namespace norvane
