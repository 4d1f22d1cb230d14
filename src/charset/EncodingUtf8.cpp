#include "charset/EncodingUtf8.h"

namespace norvane {

namespace {

bool isCont(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

constexpr char kUtf7Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int utf7Value(uint8_t c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// RFC 2152 Set D plus the white space that may appear directly. Everything else, the optional
// direct characters included, is written in base64: some mail gateways mangle them.
bool utf7Direct(char16_t u) {
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
        return true;
    switch (u) {
    case '\'':
    case '(':
    case ')':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case '?':
    case ' ':
    case '\t':
    case '\r':
    case '\n':
        return true;
    default:
        return false;
    }
}

} // namespace

size_t EncodingUtf8::decodeLong(const uint8_t* p, const uint8_t* end, char32_t& cp) {
    uint8_t c = p[0];
    cp = kInvalid;
    size_t avail = static_cast<size_t>(end - p);
    if (c >= 0xE0 && c <= 0xEF) {
        uint8_t lo = c == 0xE0 ? 0xA0 : 0x80;
        uint8_t hi = c == 0xED ? 0x9F : 0xBF;
        if (avail < 2 || p[1] < lo || p[1] > hi)
            return 1;
        if (avail < 3 || !isCont(p[2]))
            return 2;
        cp = ((c & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        uint8_t lo = c == 0xF0 ? 0x90 : 0x80;
        uint8_t hi = c == 0xF4 ? 0x8F : 0xBF;
        if (avail < 2 || p[1] < lo || p[1] > hi)
            return 1;
        if (avail < 3 || !isCont(p[2]))
            return 2;
        if (avail < 4 || !isCont(p[3]))
            return 3;
        cp = ((c & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3Fu);
        return 4;
    }
    return 1;
}

bool EncodingUtf8::utf8ToUtf16(std::span<const uint8_t> in, std::u16string& out) {
    bool ok = true;
    out.reserve(out.size() + in.size());
    const uint8_t* p = in.data();
    const uint8_t* end = p + in.size();
    while (p < end) {
        if (*p < 0x80) {
            out.push_back(*p++);
            continue;
        }
        char32_t cp;
        p += decode(p, end, cp);
        if (cp == kInvalid) {
            ok = false;
        } else if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return ok;
}

bool EncodingUtf8::utf16ToUtf8(std::u16string_view in, ByteSink& out) {
    bool ok = true;
    uint8_t* w = out.reserve(in.size() * 3);
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t u = in[i];
        if (u >= 0xD800 && u <= 0xDFFF) {
            if (u <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
                u = 0x10000 + ((u - 0xD800) << 10) + (in[++i] - 0xDC00);
            } else {
                ok = false;
                continue;
            }
        }
        w = put(w, u);
    }
    out.commit(w);
    return ok;
}

bool EncodingUtf8::utf16leToUnits(std::span<const uint8_t> in, std::u16string& out) {
    size_t n = in.size() / 2;
    out.reserve(out.size() + n);
    for (size_t i = 0; i < n; ++i)
        out.push_back(static_cast<char16_t>(in[2 * i] | (in[2 * i + 1] << 8)));
    return in.size() % 2 == 0;
}

void EncodingUtf8::unitsToUtf16le(std::u16string_view in, ByteSink& out) {
    uint8_t* w = out.reserve(in.size() * 2);
    for (char16_t u : in) {
        *w++ = static_cast<uint8_t>(u & 0xFF);
        *w++ = static_cast<uint8_t>(u >> 8);
    }
    out.commit(w);
}

bool EncodingUtf8::swapPairs(std::span<const uint8_t> in, ByteSink& out) {
    size_t n = in.size() / 2;
    uint8_t* w = out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        *w++ = in[2 * i + 1];
        *w++ = in[2 * i];
    }
    out.commit(w);
    return in.size() % 2 == 0;
}

bool EncodingUtf8::utf7ToUtf16(std::span<const uint8_t> in, std::u16string& out) {
    bool ok = true;
    size_t i = 0;
    while (i < in.size()) {
        uint8_t c = in[i++];
        if (c != '+') {
            if (c < 0x80)
                out.push_back(c);
            else
                ok = false;
            continue;
        }
        if (i < in.size() && in[i] == '-') {
            out.push_back(u'+');
            ++i;
            continue;
        }
        uint32_t acc = 0;
        int bits = 0;
        int v;
        while (i < in.size() && (v = utf7Value(in[i])) >= 0) {
            acc = (acc << 6) | static_cast<uint32_t>(v);
            bits += 6;
            if (bits >= 16) {
                bits -= 16;
                out.push_back(static_cast<char16_t>((acc >> bits) & 0xFFFF));
            }
            ++i;
        }
        // Leftover bits must be fewer than six and zero (RFC 2152).
        if (bits >= 6 || (acc & ((1u << bits) - 1)) != 0)
            ok = false;
        if (i < in.size() && in[i] == '-')
            ++i;
    }
    return ok;
}

void EncodingUtf8::utf16ToUtf7(std::u16string_view in, ByteSink& out) {
    size_t i = 0;
    while (i < in.size()) {
        char16_t u = in[i];
        if (utf7Direct(u)) {
            out.push(static_cast<uint8_t>(u));
            ++i;
            continue;
        }
        if (u == u'+') {
            out.push('+');
            out.push('-');
            ++i;
            continue;
        }
        out.push('+');
        uint32_t acc = 0;
        int bits = 0;
        while (i < in.size() && !utf7Direct(in[i]) && in[i] != u'+') {
            acc = (acc << 16) | in[i++];
            bits += 16;
            while (bits >= 6) {
                bits -= 6;
                out.push(static_cast<uint8_t>(kUtf7Alphabet[(acc >> bits) & 0x3F]));
            }
        }
        if (bits > 0)
            out.push(static_cast<uint8_t>(kUtf7Alphabet[(acc << (6 - bits)) & 0x3F]));
        out.push('-');
    }
}

bool EncodingUtf8::utf32ToUtf8(std::span<const uint8_t> in, bool bigEndian, ByteSink& out) {
    bool ok = in.size() % 4 == 0;
    size_t n = in.size() / 4;
    uint8_t* w = out.reserve(n * 4);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* q = in.data() + 4 * i;
        char32_t cp = bigEndian ? (char32_t(q[0]) << 24) | (q[1] << 16) | (q[2] << 8) | q[3]
                                : (char32_t(q[3]) << 24) | (q[2] << 16) | (q[1] << 8) | q[0];
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            ok = false;
            continue;
        }
        w = put(w, cp);
    }
    out.commit(w);
    return ok;
}

bool EncodingUtf8::utf8ToUtf32(std::span<const uint8_t> in, bool bigEndian, ByteSink& out) {
    bool ok = true;
    uint8_t* w = out.reserve(in.size() * 4);
    const uint8_t* p = in.data();
    const uint8_t* end = p + in.size();
    while (p < end) {
        char32_t cp;
        p += decode(p, end, cp);
        if (cp == kInvalid) {
            ok = false;
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            int shift = bigEndian ? 24 - 8 * k : 8 * k;
            *w++ = static_cast<uint8_t>(cp >> shift);
        }
    }
    out.commit(w);
    return ok;
}

} // namespace norvane
