#include "charset/Japanese.h"

namespace norvane {

namespace {

constexpr uint8_t kEsc = 0x1B;

// Full-width Shift_JIS code of each half-width katakana byte 0xA1-0xDF.
constexpr uint16_t kFullWidth[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B};

constexpr uint8_t kVoiced = 0xDE;
constexpr uint8_t kSemiVoiced = 0xDF;

// The full-width code of half-width kana k combined with a following sound mark, 0 when the
// pair has no single full-width character.
uint16_t combineMark(uint8_t k, uint8_t mark) {
    bool hagyo = k >= 0xCA && k <= 0xCE; // ha hi fu he ho take both marks
    if (mark == kVoiced) {
        if ((k >= 0xB6 && k <= 0xC4) || hagyo)
            return static_cast<uint16_t>(kFullWidth[k - 0xA1] + 1);
        if (k == 0xB3) // u + voiced mark = vu
            return 0x8394;
    } else if (mark == kSemiVoiced && hagyo) {
        return static_cast<uint16_t>(kFullWidth[k - 0xA1] + 2);
    }
    return 0;
}

bool isSjisLead(uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

// Shift_JIS pair → JIS X 0208 row/cell bytes (both 0x21-0x7E for the standard range).
void sjisToJis(uint8_t s1, uint8_t s2, uint8_t& j1, uint8_t& j2) {
    unsigned row = (s1 <= 0x9F ? s1 - 0x70 : s1 - 0xB0) * 2;
    if (s2 < 0x9F) {
        j1 = static_cast<uint8_t>(row - 1);
        j2 = static_cast<uint8_t>(s2 - (s2 >= 0x80 ? 0x20 : 0x1F));
    } else {
        j1 = static_cast<uint8_t>(row);
        j2 = static_cast<uint8_t>(s2 - 0x7E);
    }
}

} // namespace

bool Japanese::decodeToShiftJis(std::span<const uint8_t> in, ByteSink& out) {
    bool ok = true;
    bool twoByte = false;
    uint8_t* w = out.reserve(in.size());
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        uint8_t c = in[i];
        if (c == kEsc) {
            // ESC, intermediates 0x20-0x2F, one final byte 0x30-0x7E (ISO 2022).
            size_t j = i + 1;
            while (j < n && in[j] >= 0x20 && in[j] <= 0x2F)
                ++j;
            if (j >= n || in[j] < 0x30 || in[j] > 0x7E || j == i + 1) {
                ok = false; // lone or truncated escape: drop the ESC and read on
                ++i;
                continue;
            }
            std::span<const uint8_t> seq = in.subspan(i + 1, j - i);
            if (seq.size() == 2 && seq[0] == '$' && (seq[1] == '@' || seq[1] == 'B'))
                twoByte = true;
            else if (seq.size() == 2 && seq[0] == '(' && (seq[1] == 'B' || seq[1] == 'J'))
                twoByte = false;
            i = j + 1;
            continue;
        }
        if (c == '\r' || c == '\n') {
            twoByte = false;
            *w++ = c;
            ++i;
            continue;
        }
        if (!twoByte) {
            if (c >= 0x80)
                ok = false; // not 7-bit: no meaning in ISO-2022-JP
            else
                *w++ = c;
            ++i;
            continue;
        }
        if (c < 0x21 || c > 0x7E || i + 1 >= n || in[i + 1] < 0x21 || in[i + 1] > 0x7E) {
            ok = false; // half a pair, or a byte no JIS pair has
            ++i;
            continue;
        }
        uint8_t j1 = c, j2 = in[i + 1];
        *w++ = static_cast<uint8_t>(((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0));
        *w++ = static_cast<uint8_t>(j2 + ((j1 & 1) ? (j2 <= 0x5F ? 0x1F : 0x20) : 0x7E));
        i += 2;
    }
    out.commit(w);
    return ok;
}

bool Japanese::encodeFromShiftJis(std::span<const uint8_t> in, ByteSink& out) {
    bool ok = true;
    bool twoByte = false;
    // Worst case: every character switches mode (3 + 2 bytes each) plus the closing escape.
    uint8_t* w = out.reserve(in.size() * 5 + 3);
    auto putPair = [&](uint8_t s1, uint8_t s2) {
        if (!twoByte) {
            *w++ = kEsc, *w++ = '$', *w++ = 'B';
            twoByte = true;
        }
        uint8_t j1, j2;
        sjisToJis(s1, s2, j1, j2);
        *w++ = j1, *w++ = j2;
    };
    size_t i = 0;
    const size_t n = in.size();
    while (i < n) {
        uint8_t c = in[i];
        if (isSjisLead(c) && i + 1 < n && in[i + 1] >= 0x40 && in[i + 1] <= 0xFC &&
            in[i + 1] != 0x7F) {
            putPair(c, in[i + 1]);
            i += 2;
        } else if (c >= 0xA1 && c <= 0xDF) {
            uint16_t full = kFullWidth[c - 0xA1];
            if (i + 1 < n && (in[i + 1] == kVoiced || in[i + 1] == kSemiVoiced)) {
                if (uint16_t combined = combineMark(c, in[i + 1])) {
                    full = combined;
                    ++i;
                }
            }
            putPair(static_cast<uint8_t>(full >> 8), static_cast<uint8_t>(full & 0xFF));
            ++i;
        } else if (c < 0x80) {
            if (twoByte) {
                *w++ = kEsc, *w++ = '(', *w++ = 'B';
                twoByte = false;
            }
            *w++ = c;
            ++i;
        } else {
            // User-defined and vendor rows (0xF0-0xFC), stray lead or trail bytes: raw 8-bit
            // bytes would make the text invalid ISO-2022-JP, so they are dropped.
            ok = false;
            i += (isSjisLead(c) || c >= 0xF0) && i + 1 < n && in[i + 1] >= 0x40 ? 2 : 1;
        }
    }
    if (twoByte)
        *w++ = kEsc, *w++ = '(', *w++ = 'B';
    out.commit(w);
    return ok;
}

} // namespace norvane
