#pragma once

// The inner loops of the transfer encodings (ContentCoding): compile-time tables, 16-byte scans
// and the output block. Internal to ContentCoding.cpp; nothing else includes this.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace norvane::coding {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexUpper[] = "0123456789ABCDEF";

// --- base64 tables, built at compile time ---

// Two output characters for every 12-bit value: the encoder does two look-ups per 3 bytes.
struct PairTable {
    std::array<std::array<char, 2>, 4096> pair{};
};
constexpr PairTable makePairTable() {
    PairTable t;
    for (size_t v = 0; v < 4096; ++v) {
        t.pair[v][0] = kAlphabet[v >> 6];
        t.pair[v][1] = kAlphabet[v & 63];
    }
    return t;
}
constexpr PairTable kPairs = makePairTable();

// Per-character classes of the decoder's slow path.
constexpr int8_t kSkip = -1;    // space, tab, CR, LF
constexpr int8_t kStop = -2;    // '=' and NUL end the data
constexpr int8_t kInvalid = -3; // anything else outside the alphabet

struct SextetTable {
    std::array<int8_t, 256> v{};
};
constexpr SextetTable makeSextetTable() {
    SextetTable t;
    for (auto& x : t.v)
        x = kInvalid;
    for (int i = 0; i < 64; ++i)
        t.v[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    t.v[' '] = t.v['\t'] = t.v['\r'] = t.v['\n'] = kSkip;
    t.v['='] = t.v[0] = kStop;
    return t;
}
constexpr SextetTable kSextets = makeSextetTable();

// The fast path ORs four shifted look-ups into one 24-bit group; any byte outside the alphabet
// sets bit 24, which sends that group to the slow path.
constexpr uint32_t kBadGroup = 0x01000000;
struct ShiftedTable {
    std::array<uint32_t, 256> v{};
};
constexpr ShiftedTable makeShifted(int shift) {
    ShiftedTable t;
    for (int c = 0; c < 256; ++c) {
        int8_t s = kSextets.v[c];
        t.v[c] = s >= 0 ? static_cast<uint32_t>(s) << shift : kBadGroup;
    }
    return t;
}
constexpr ShiftedTable kD0 = makeShifted(18);
constexpr ShiftedTable kD1 = makeShifted(12);
constexpr ShiftedTable kD2 = makeShifted(6);
constexpr ShiftedTable kD3 = makeShifted(0);

inline uint32_t group(const uint8_t* p) {
    return kD0.v[p[0]] | kD1.v[p[1]] | kD2.v[p[2]] | kD3.v[p[3]];
}

inline uint8_t* putGroup(uint8_t* o, uint32_t v) {
    o[0] = static_cast<uint8_t>(v >> 16);
    o[1] = static_cast<uint8_t>(v >> 8);
    o[2] = static_cast<uint8_t>(v);
    return o + 3;
}

// Two groups as one 8-byte store (6 bytes of data); the output has room for the other two.
inline uint8_t* putTwoGroups(uint8_t* o, uint32_t a, uint32_t b) {
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t v = ((uint64_t{a} << 24) | b) << 16;
        const uint64_t be = __builtin_bswap64(v);
        std::memcpy(o, &be, 8);
        return o + 6;
    } else {
        return putGroup(putGroup(o, a), b);
    }
}

// Decodes whole groups of clean alphabet, the bulk of every body, with CR LF or LF between
// them; stops at the first byte that needs a closer look.
inline void decodeWholeGroups(const uint8_t*& p, const uint8_t* end, uint8_t*& o) {
    while (true) {
        while (end - p >= 8) {
            const uint32_t a = group(p);
            const uint32_t b = group(p + 4);
            if ((a | b) & kBadGroup)
                break;
            o = putTwoGroups(o, a, b);
            p += 8;
        }
        while (end - p >= 4) {
            const uint32_t a = group(p);
            if (a & kBadGroup)
                break;
            o = putGroup(o, a);
            p += 4;
        }
        if (end - p >= 2 && p[0] == '\r' && p[1] == '\n')
            p += 2;
        else if (p < end && p[0] == '\n')
            ++p;
        else
            return;
    }
}

// 6 input bytes -> 8 characters.
inline char* encodeSix(const uint8_t* p, char* o) {
    uint32_t a = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    uint32_t b = (uint32_t{p[3]} << 16) | (uint32_t{p[4]} << 8) | p[5];
    std::memcpy(o, kPairs.pair[a >> 12].data(), 2);
    std::memcpy(o + 2, kPairs.pair[a & 0xFFF].data(), 2);
    std::memcpy(o + 4, kPairs.pair[b >> 12].data(), 2);
    std::memcpy(o + 6, kPairs.pair[b & 0xFFF].data(), 2);
    return o + 8;
}

inline char* encodeThree(const uint8_t* p, char* o) {
    uint32_t a = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    std::memcpy(o, kPairs.pair[a >> 12].data(), 2);
    std::memcpy(o + 2, kPairs.pair[a & 0xFFF].data(), 2);
    return o + 4;
}

// The last 1 or 2 bytes with '=' fill.
inline char* encodeTail(const uint8_t* p, size_t rem, char* o) {
    if (rem == 1) {
        *o++ = kAlphabet[p[0] >> 2];
        *o++ = kAlphabet[(p[0] & 3) << 4];
        *o++ = '=';
        *o++ = '=';
    } else if (rem == 2) {
        *o++ = kAlphabet[p[0] >> 2];
        *o++ = kAlphabet[((p[0] & 3) << 4) | (p[1] >> 4)];
        *o++ = kAlphabet[(p[1] & 15) << 2];
        *o++ = '=';
    }
    return o;
}

// --- quoted-printable and Q tables ---

// Hex digit values; -1 for anything else.
struct HexTable {
    std::array<int8_t, 256> v{};
};
constexpr HexTable makeHexTable(bool lowerToo) {
    HexTable t;
    for (auto& x : t.v)
        x = -1;
    for (int i = 0; i < 10; ++i)
        t.v['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
        t.v['A' + i] = static_cast<int8_t>(10 + i);
        if (lowerToo)
            t.v['a' + i] = static_cast<int8_t>(10 + i);
    }
    return t;
}
constexpr HexTable kHexAny = makeHexTable(true);

// Encoder classes of quoted-printable bytes.
enum QpClass : uint8_t { kLiteral, kBlank, kCr, kEscape };
struct QpTable {
    std::array<QpClass, 256> v{};
};
constexpr QpTable makeQpTable() {
    QpTable t;
    for (int c = 0; c < 256; ++c)
        t.v[c] = (c >= 0x21 && c <= 0x7E && c != '=') ? kLiteral : kEscape;
    t.v[' '] = t.v['\t'] = kBlank;
    t.v['\r'] = kCr;
    return t;
}
constexpr QpTable kQp = makeQpTable();

// Bytes written unchanged in Q text: printable ASCII except '=', '?', '_' and the address
// specials. An encoded word may stand for a display name, and a reader splits an address list
// at a literal ',' or '"' inside such a word, so those are always written as hex. ';' stays
// literal: text is sometimes XML-escaped before it is encoded, and its entities must survive.
constexpr bool qLiteral(uint8_t c) {
    if (c < 0x21 || c > 0x7E)
        return false;
    constexpr std::string_view kEscaped = "=?_\"(),.:<>@[\\]";
    return kEscaped.find(static_cast<char>(c)) == std::string_view::npos;
}

inline char* putHex(char* o, uint8_t c) {
    o[0] = '=';
    o[1] = kHexUpper[c >> 4];
    o[2] = kHexUpper[c & 15];
    return o + 3;
}

// Output gathered in a block small enough to stay in the cache and appended to the result in
// one copy when full, so that the result is written once rather than zero-filled and then
// written.
template <typename Container>
class OutBlock {
public:
    using T = typename Container::value_type;
    static constexpr size_t kSize = 16384;

    explicit OutBlock(Container& dest) : dest_(dest) {}
    T* begin() { return buf_.data(); }
    [[nodiscard]] size_t room(const T* o) const {
        return static_cast<size_t>(buf_.data() + kSize - o);
    }
    // The cursor to write at with at least n bytes free.
    T* ensure(T* o, size_t n) {
        if (room(o) >= n)
            return o;
        flush(o);
        return buf_.data();
    }
    // Bytes written so far, counting those already appended.
    [[nodiscard]] size_t position(const T* o) const {
        return dest_.size() + static_cast<size_t>(o - buf_.data());
    }
    void flush(const T* o) { dest_.insert(dest_.end(), static_cast<const T*>(buf_.data()), o); }
    // Drops trailing space, tab and CR back to position keep, in the block or the result.
    T* trimBack(T* o, size_t keep) {
        while (position(o) > keep) {
            const auto last = static_cast<uint8_t>(o > buf_.data() ? o[-1] : dest_.back());
            if (last != ' ' && last != '\t' && last != '\r')
                break;
            if (o > buf_.data())
                --o;
            else
                dest_.pop_back();
        }
        return o;
    }

private:
    Container& dest_;
    std::array<T, kSize> buf_; // not initialised: every byte is written before it is read
};

// Room for one more output line of the quoted-printable encoder: 72 columns, an escape that
// overshoots, the line-start escape, a soft break and the 16 bytes a vector store writes.
constexpr size_t kQpLineRoom = 128;
// Room the decoder keeps after its output for 16-byte stores.
constexpr size_t kQpSlack = 64;

bool isBlankOrBreak(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// What the decoder drops at the end of a line.
inline bool qpTrimmed(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Bytes that trimming at the end of a line never removes: all but space, tab, CR and LF.
struct SolidTable {
    std::array<bool, 256> v{};
};
constexpr SolidTable makeSolid() {
    SolidTable t;
    for (auto& x : t.v)
        x = true;
    t.v[' '] = t.v['\t'] = t.v['\r'] = t.v['\n'] = false;
    return t;
}
constexpr SolidTable kSolid = makeSolid();

// Escape digits: a byte that is not a hex digit counts as 0.
struct NibbleTable {
    std::array<uint8_t, 256> v{};
};
constexpr NibbleTable makeNibbles() {
    NibbleTable t;
    for (int c = 0; c < 256; ++c)
        t.v[c] = static_cast<uint8_t>(kHexAny.v[c] < 0 ? 0 : kHexAny.v[c]);
    return t;
}
constexpr NibbleTable kNibble = makeNibbles();

inline uint8_t hexByte(uint8_t hi, uint8_t lo) {
    return static_cast<uint8_t>((kNibble.v[hi] << 4) | kNibble.v[lo]);
}

// Some encoders sign-extend bytes above 0x7F and write "=FFFFFFE9" for E9.
inline bool signExtended(const uint8_t* eq) {
    return std::all_of(eq + 1, eq + 7, [](uint8_t c) { return (c | 0x20) == 'f'; });
}

// Copies bytes up to the next '=' or LF, or to end. o must have room for 16 bytes more than
// it receives.
inline void qpCopyPlain(const uint8_t*& p, const uint8_t* end, uint8_t*& o) {
#if defined(__SSE2__)
    const __m128i eq = _mm_set1_epi8('=');
    const __m128i lf = _mm_set1_epi8('\n');
    while (end - p >= 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), x);
        const auto m = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, eq), _mm_cmpeq_epi8(x, lf))));
        if (m != 0) {
            const int k = std::countr_zero(m);
            p += k;
            o += k;
            return;
        }
        p += 16;
        o += 16;
    }
#endif
    while (p < end && *p != '=' && *p != '\n')
        *o++ = *p++;
}

// The length of the current line after a given '=' once trailing white space is dropped,
// worked out at most once per line so that lines full of '=' stay linear.
class QpLineEnd {
public:
    size_t after(const uint8_t* eq, const uint8_t* end) {
        if (!known_) {
            const auto* lf =
                static_cast<const uint8_t*>(std::memchr(eq, '\n', static_cast<size_t>(end - eq)));
            lf_ = lf ? lf : end;
            trimmed_ = lf_;
            while (trimmed_ > eq && qpTrimmed(trimmed_[-1]))
                --trimmed_;
            known_ = true;
        }
        return static_cast<size_t>(trimmed_ - eq) - 1;
    }
    // Where reading goes on after a soft break.
    [[nodiscard]] const uint8_t* next(const uint8_t* end) const {
        return lf_ == end ? end : lf_ + 1;
    }
    void reset() { known_ = false; }

private:
    bool known_ = false;
    const uint8_t* lf_ = nullptr;
    const uint8_t* trimmed_ = nullptr;
};

inline bool isHex(uint8_t c) {
    return kHexAny.v[c] >= 0;
}

// Decodes the '=' at p: an escape, a soft line break, or an '=' that starts neither, which is
// kept as written (RFC 2045 6.7 note 2: real HTML labelled quoted-printable is full of "a=b").
inline uint8_t* qpEscape(const uint8_t*& p, const uint8_t* end, uint8_t* o, QpLineEnd& line) {
    const size_t left = static_cast<size_t>(end - p);
    // The usual case: two digits that no line end or trimming can cut off.
    if (left >= 3 && isHex(p[1]) && isHex(p[2]) &&
        ((p[1] | 0x20) != 'f' || (p[2] | 0x20) != 'f' || left < 7 || !signExtended(p))) {
        *o++ = hexByte(p[1], p[2]);
        p += 3;
        return o;
    }
    const size_t after = line.after(p, end);
    if (after == 0) {
        p = line.next(end);
        line.reset();
    } else if (after >= 8 && signExtended(p) && isHex(p[7]) && isHex(p[8])) {
        *o++ = hexByte(p[7], p[8]);
        p += 9;
    } else if (after >= 2 && isHex(p[1]) && isHex(p[2])) {
        *o++ = hexByte(p[1], p[2]);
        p += 3;
    } else {
        *o++ = *p++;
    }
    return o;
}

#if defined(__SSE2__)
// How many of the bytes p[0..15] the encoder copies unchanged in mid-line: printable ASCII
// other than '=', and spaces.
inline unsigned qpPlainPrefix16(const uint8_t* p) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed compares: bytes of 0x80 and above are negative and fail the first one.
    const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x20)),
                                            _mm_cmplt_epi8(x, _mm_set1_epi8(0x7F)));
    __m128i ok = _mm_andnot_si128(_mm_cmpeq_epi8(x, _mm_set1_epi8('=')), printable);
    ok = _mm_or_si128(ok, _mm_cmpeq_epi8(x, _mm_set1_epi8(' ')));
    const unsigned bad = ~static_cast<unsigned>(_mm_movemask_epi8(ok)) & 0xFFFFu;
    return bad == 0 ? 16 : static_cast<unsigned>(std::countr_zero(bad));
}
#endif

} // namespace norvane::coding
