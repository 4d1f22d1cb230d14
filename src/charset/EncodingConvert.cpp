#include "charset/EncodingConvert.h"

#include "charset/ByteSink.h"
#include "charset/CodePageTable.h"
#include "charset/EncodingUtf8.h"
#include "charset/Japanese.h"
#include "charset/Korean.h"
#include "charset/TableCodec.h"
#include "common/Platform.h"

#include <algorithm>
#include <vector>

namespace norvane {

namespace {

constexpr int kUtf16 = 1200, kUtf16Be = 1201, kMacArabic = 10004, kShiftJis = 932, kKorean = 949,
              kIso2022Kr = 50225, kUtf7 = 65000, kUtf8 = 65001, kUtf32 = 65005, kUtf32Be = 65006;

bool isIso2022Jp(int cp) {
    return cp >= 50220 && cp <= 50222;
}

std::span<const uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Mac Arabic text carries right-to-left runs in display order and right-to-left copies of
// the ASCII digits and punctuation; both are turned into their plain forms before the table.
bool isMacArabicRtl(uint8_t b) {
    return b == 0x8B || (b >= 0xA0 && b <= 0xAF) || b >= 0xBA;
}

std::vector<uint8_t> prepareMacArabic(std::span<const uint8_t> in) {
    std::vector<uint8_t> v(in.begin(), in.end());
    for (size_t i = 0; i < v.size();) {
        size_t j = i;
        while (j < v.size() && isMacArabicRtl(v[j]))
            ++j;
        if (j - i >= 2)
            std::reverse(v.begin() + static_cast<std::ptrdiff_t>(i),
                         v.begin() + static_cast<std::ptrdiff_t>(j));
        i = j > i ? j : i + 1;
    }
    for (uint8_t& b : v) {
        bool shift = (b >= 0xA0 && b <= 0xAF && b != 0xA5 && b != 0xAC) ||
                     (b >= 0xB0 && b <= 0xBA) || (b >= 0xBC && b <= 0xBE) ||
                     (b >= 0xDB && b <= 0xDF) || (b >= 0xFB && b <= 0xFD);
        if (shift)
            b = static_cast<uint8_t>(b + 0x80);
        else if (b == 0x81)
            b = 0xA0;
    }
    return v;
}

// Removes a byte order mark of the source form; may switch the UTF-16 byte order.
std::span<const uint8_t> stripBom(int& cp, std::span<const uint8_t> in) {
    if (cp == kUtf8 && in.size() >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF)
        return in.subspan(3);
    if ((cp == kUtf16 || cp == kUtf16Be) && in.size() >= 2) {
        if (in[0] == 0xFE && in[1] == 0xFF) {
            cp = kUtf16Be;
            return in.subspan(2);
        }
        if (in[0] == 0xFF && in[1] == 0xFE) {
            cp = kUtf16;
            return in.subspan(2);
        }
    }
    return in;
}

// Any source form (no special forms left) → UTF-16 code units.
bool toUnits(int cp, std::span<const uint8_t> in, std::u16string& out) {
    switch (cp) {
    case kUtf8:
        return EncodingUtf8::utf8ToUtf16(in, out);
    case kUtf16:
        return EncodingUtf8::utf16leToUnits(in, out);
    case kUtf7:
        return EncodingUtf8::utf7ToUtf16(in, out);
    default:
        break;
    }
    const CodePageTable* t = CodePageTable::get(cp);
    return t && TableCodec::toUnits(*t, in, out);
}

// UTF-16 code units → any target form (no special forms).
bool fromUnits(int cp, std::u16string_view in, ByteSink& out) {
    if (cp == kUtf8)
        return EncodingUtf8::utf16ToUtf8(in, out);
    if (cp == kUtf16) {
        EncodingUtf8::unitsToUtf16le(in, out);
        return true;
    }
    const CodePageTable* t = CodePageTable::get(cp);
    return t && TableCodec::fromUnits(*t, in, out);
}

// The general path: from and to are UTF-8, little-endian UTF-16, UTF-7 (source only) or
// tables. UTF-8 ↔ table, the common case in mail, runs without the UTF-16 step.
bool plainConvert(int from, int to, std::span<const uint8_t> in, ByteSink& out) {
    if (from == to) {
        out.append(in);
        return true;
    }
    if (from == kUtf8 && to != kUtf16) {
        if (const CodePageTable* t = CodePageTable::get(to))
            return TableCodec::fromUtf8(*t, in, out);
    }
    if (to == kUtf8 && from != kUtf16 && from != kUtf7) {
        if (const CodePageTable* t = CodePageTable::get(from))
            return TableCodec::toUtf8(*t, in, out);
    }
    std::u16string units;
    bool ok = toUnits(from, in, units);
    return fromUnits(to, units, out) && ok;
}

// Source already reduced to a plain form; applies the target's special forms.
bool convertToTarget(int from, int to, std::span<const uint8_t> in, ByteSink& out) {
    bool ok = true;
    ByteSink mid;
    if (from == kUtf32 || from == kUtf32Be) {
        ok = EncodingUtf8::utf32ToUtf8(in, from == kUtf32Be, mid);
        in = mid.span();
        from = kUtf8;
    } else if (from == kUtf16Be) {
        ok = EncodingUtf8::swapPairs(in, mid);
        in = mid.span();
        from = kUtf16;
    }
    if (from == to) {
        out.append(in);
        return ok;
    }
    ByteSink step;
    switch (to) {
    case kUtf7: {
        std::u16string units;
        ok = toUnits(from, in, units) && ok;
        EncodingUtf8::utf16ToUtf7(units, out);
        return ok;
    }
    case kUtf32:
    case kUtf32Be:
        ok = plainConvert(from, kUtf8, in, step) && ok;
        return EncodingUtf8::utf8ToUtf32(step.span(), to == kUtf32Be, out) && ok;
    case kUtf16Be:
        ok = plainConvert(from, kUtf16, in, step) && ok;
        return EncodingUtf8::swapPairs(step.span(), out) && ok;
    case kIso2022Kr:
        ok = plainConvert(from, kKorean, in, step) && ok;
        return Korean::encodeFrom949(step.span(), out) && ok;
    default:
        break;
    }
    if (isIso2022Jp(to)) {
        ok = plainConvert(from, kShiftJis, in, step) && ok;
        return Japanese::encodeFromShiftJis(step.span(), out) && ok;
    }
    return plainConvert(from, to, in, out) && ok;
}

} // namespace

bool EncodingConvert::isSupported(int cp) {
    switch (cp) {
    case kUtf16:
    case kUtf16Be:
    case kUtf7:
    case kUtf8:
    case kUtf32:
    case kUtf32Be:
    case kIso2022Kr:
        return true;
    default:
        return isIso2022Jp(cp) || CodePageTable::hasTable(cp);
    }
}

bool EncodingConvert::convertInto(int from, int to, std::span<const uint8_t> in, ByteSink& out) {
    if (from == to) {
        out.append(in);
        return true;
    }
    if (!isSupported(from) || !isSupported(to))
        return false;
    bool ok = true;
    ByteSink decoded;
    std::vector<uint8_t> prepared;
    if (from == kMacArabic) {
        prepared = prepareMacArabic(in);
        in = prepared;
    } else if (isIso2022Jp(from)) {
        ok = Japanese::decodeToShiftJis(in, decoded);
        in = decoded.span();
        from = kShiftJis;
    } else if (from == kIso2022Kr) {
        ok = Korean::decodeTo949(in, decoded);
        in = decoded.span();
        from = kKorean;
    }
    in = stripBom(from, in);
    if (in.empty())
        return ok;
    return convertToTarget(from, to, in, out) && ok;
}

bool EncodingConvert::convert(int fromCp, int toCp, std::span<const uint8_t> in, DataBuffer& out) {
    ByteSink sink;
    bool ok = convertInto(fromCp, toCp, in, sink);
    out.append(sink.span());
    return ok;
}

bool EncodingConvert::convert(int fromCp, int toCp, std::string_view in, std::string& out) {
    ByteSink sink;
    bool ok = convertInto(fromCp, toCp, bytesOf(in), sink);
    out.append(sink.view());
    return ok;
}

} // namespace norvane
