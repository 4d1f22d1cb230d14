#include "charset/Korean.h"

namespace norvane {

namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kSo = 0x0E;
constexpr uint8_t kSi = 0x0F;
constexpr uint8_t kDesignator[4] = {kEsc, '$', ')', 'C'};

bool isKsc(uint8_t b) {
    return b >= 0xA1 && b <= 0xFE;
}

} // namespace

bool Korean::decodeTo949(std::span<const uint8_t> in, ByteSink& out) {
    bool ok = true;
    bool twoByte = false;
    uint8_t* w = out.reserve(in.size());
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        uint8_t c = in[i];
        if (c == kEsc) {
            if (n - i >= 4 && in[i + 1] == '$' && in[i + 2] == ')' && in[i + 3] == 'C') {
                i += 4;
            } else {
                ok = false;
                ++i;
            }
            continue;
        }
        if (c == kSo || c == kSi) {
            twoByte = c == kSo;
            ++i;
            continue;
        }
        if (c >= 0x80) {
            ok = false;
            ++i;
            continue;
        }
        // Control bytes stay themselves in either mode; a line end also ends two-byte mode,
        // since RFC 1557 requires SI before it.
        if (!twoByte || c < 0x21 || c == 0x7F) {
            if (c == '\r' || c == '\n')
                twoByte = false;
            *w++ = c;
            ++i;
            continue;
        }
        if (i + 1 >= n || in[i + 1] < 0x21 || in[i + 1] > 0x7E) {
            ok = false;
            ++i;
            continue;
        }
        *w++ = static_cast<uint8_t>(c | 0x80);
        *w++ = static_cast<uint8_t>(in[i + 1] | 0x80);
        i += 2;
    }
    out.commit(w);
    return ok;
}

bool Korean::encodeFrom949(std::span<const uint8_t> in, ByteSink& out) {
    bool ok = true;
    bool twoByte = false;
    uint8_t* w = out.reserve(in.size() * 2 + 5);
    for (uint8_t b : kDesignator)
        *w++ = b;
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        uint8_t c = in[i];
        if (c < 0x80) {
            if (twoByte) {
                *w++ = kSi;
                twoByte = false;
            }
            *w++ = c;
            ++i;
        } else if (isKsc(c) && i + 1 < n && isKsc(in[i + 1])) {
            if (!twoByte) {
                *w++ = kSo;
                twoByte = true;
            }
            *w++ = static_cast<uint8_t>(c & 0x7F);
            *w++ = static_cast<uint8_t>(in[i + 1] & 0x7F);
            i += 2;
        } else {
            ok = false;
            i += (c >= 0x81 && c <= 0xFE && i + 1 < n && in[i + 1] >= 0x41) ? 2 : 1;
        }
    }
    // Text must return to ASCII before it ends (RFC 1557).
    if (twoByte)
        *w++ = kSi;
    out.commit(w);
    return ok;
}

} // namespace norvane
