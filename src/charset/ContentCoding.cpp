#include "charset/ContentCoding.h"

#include "charset/Charset.h"
#include "charset/EncodingConvert.h"
#include "charset/EncodingUtf8.h"
#include "common/StringBuffer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace norvane {

namespace {

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

template <bool Strict>
bool decodeBase64(std::string_view text, DataBuffer& out) {
    std::vector<uint8_t>& v = out.vec();
    const size_t oldSize = v.size();
    // Whole groups, a partial group, and the two bytes past the end of an 8-byte store.
    v.resize(oldSize + text.size() / 4 * 3 + 3 + 2);
    uint8_t* const base = v.data();
    uint8_t* o = base + oldSize;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* const end = p + text.size();
    uint32_t acc = 0;
    int count = 0;
    while (p < end) {
        if (count == 0) {
            // Whole groups of clean alphabet: the bulk of every body.
            while (end - p >= 8) {
                uint32_t a = group(p);
                uint32_t b = group(p + 4);
                if ((a | b) & kBadGroup)
                    break;
                o = putTwoGroups(o, a, b);
                p += 8;
            }
            while (end - p >= 4) {
                uint32_t a = group(p);
                if (a & kBadGroup)
                    break;
                o = putGroup(o, a);
                p += 4;
            }
            // Line breaks between whole groups, as every body has them.
            if (end - p >= 2 && p[0] == '\r' && p[1] == '\n') {
                p += 2;
                continue;
            }
            if (p == end)
                break;
        }
        int8_t s = kSextets.v[*p++];
        if (s == kSkip)
            continue;
        if (s == kStop)
            break;
        if (s == kInvalid) {
            if constexpr (Strict) {
                v.resize(oldSize);
                return false;
            }
            s = 62;
        }
        acc = (acc << 6) | static_cast<uint32_t>(s);
        if (++count == 4) {
            o = putGroup(o, acc);
            acc = 0;
            count = 0;
        }
    }
    if (count == 2) {
        *o++ = static_cast<uint8_t>(acc >> 4);
    } else if (count == 3) {
        *o++ = static_cast<uint8_t>(acc >> 10);
        *o++ = static_cast<uint8_t>(acc >> 2);
    }
    v.resize(static_cast<size_t>(o - base));
    return true;
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
constexpr HexTable kHexUpperOnly = makeHexTable(false);

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

// Bytes written unchanged in Q text: printable ASCII except '=', '?' and '_'.
constexpr bool qLiteral(uint8_t c) {
    return c >= 0x21 && c <= 0x7E && c != '=' && c != '?' && c != '_';
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

// Decodes the '=' at p: an escape, a soft line break, or an escape cut short by the line end
// (kept as written).
inline uint8_t* qpEscape(const uint8_t*& p, const uint8_t* end, uint8_t* o, QpLineEnd& line) {
    const size_t left = static_cast<size_t>(end - p);
    // The usual case: two digits that no line end or trimming can cut off.
    if (left >= 3 && kSolid.v[p[1]] && kSolid.v[p[2]] &&
        ((p[1] | 0x20) != 'f' || (p[2] | 0x20) != 'f' || left < 7 || !signExtended(p))) {
        *o++ = hexByte(p[1], p[2]);
        p += 3;
        return o;
    }
    const size_t after = line.after(p, end);
    if (after == 0) {
        p = line.next(end);
        line.reset();
    } else if (after == 1) {
        *o++ = p[0];
        *o++ = p[1];
        p += 2;
    } else if (after >= 8 && signExtended(p)) {
        *o++ = hexByte(p[7], p[8]);
        p += 9;
    } else {
        *o++ = hexByte(p[1], p[2]);
        p += 3;
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

bool allBlank(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return isBlankOrBreak(c); });
}

// Walks the encoded words of header text. onText receives the text outside words, onWord the
// charset label and decoded bytes of each non-empty word. White space between two words is
// dropped, as RFC 2047 section 6.2 asks, so that a long text split into several words joins up
// again. A word cut short by the end of the text drops the rest from its "=?"; "=?" not followed
// by a charset, a letter and '?' is ordinary text.
template <typename TextFn, typename WordFn>
void scanEncodedWords(std::string_view text, TextFn&& onText, WordFn&& onWord) {
    DataBuffer decoded;
    size_t pos = 0;
    bool afterWord = false;
    const size_t n = text.size();
    while (pos < n) {
        const size_t start = text.find("=?", pos);
        if (start == std::string_view::npos)
            break;
        const std::string_view gap = text.substr(pos, start - pos);
        const size_t csEnd = text.find('?', start + 2);
        // The text must go on to the charset's '?', the letter and the '?' after it.
        if (csEnd == std::string_view::npos || csEnd + 2 >= n) {
            onText(gap);
            return;
        }
        if (text[csEnd + 2] != '?') {
            onText(text.substr(pos, start + 2 - pos));
            pos = start + 2;
            afterWord = false;
            continue;
        }
        if (csEnd + 3 >= n) {
            onText(gap);
            return;
        }
        const size_t payloadStart = csEnd + 3;
        const size_t close = text.find("?=", payloadStart);
        if (close == std::string_view::npos) {
            onText(gap);
            return;
        }
        if (!(afterWord && allBlank(gap)))
            onText(gap);
        const std::string_view payload = text.substr(payloadStart, close - payloadStart);
        if (!payload.empty()) {
            decoded.clear();
            const char letter = text[csEnd + 1];
            if (letter == 'B' || letter == 'b')
                ContentCoding::base64Decode(payload, decoded);
            else
                ContentCoding::qDecodeWordText(payload, decoded);
            onWord(text.substr(start + 2, csEnd - start - 2), decoded.view());
        }
        pos = close + 2;
        afterWord = true;
    }
    onText(text.substr(pos < n ? pos : n));
}

bool isUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    const uint8_t* const end = p + s.size();
    while (p < end) {
        char32_t cp = 0;
        p += EncodingUtf8::decode(p, end, cp);
        if (cp == EncodingUtf8::kInvalid)
            return false;
    }
    return true;
}

// Appends the decoded bytes of one word as UTF-8. "8bit" is the label the XML form writes for
// raw bytes, which are UTF-8 inside; a language suffix ("utf-8*en", RFC 2231 section 5) is not
// part of the charset name.
void appendWordAsUtf8(std::string_view charset, std::string_view bytes, std::string& out) {
    charset = charset.substr(0, charset.find('*'));
    const int cp = sb::equalsNoCase(charset, "8bit") ? 65001 : Charset::codePageForName(charset);
    // Unknown and unsupported charsets keep their bytes rather than lose them.
    if (cp == 0 || cp == 65001 || !EncodingConvert::isSupported(cp)) {
        out.append(bytes);
        return;
    }
    std::string text;
    if (!EncodingConvert().convert(cp, 65001, bytes, text) && isUtf8(bytes)) {
        // Mislabelled UTF-8 (often "us-ascii") would lose every non-ASCII character.
        out.append(bytes);
        return;
    }
    out.append(text);
}

// Encoded-word runs: pieces of 17 (Q) or 12 (B) UTF-16 code units, each converted back to the
// charset and written as one word, so that no word holds a partial character.
void encodeWordRun(bool b, std::span<const uint8_t> in, std::string_view charset,
                   std::string& out) {
    auto word = [b, charset, &out](std::span<const uint8_t> bytes) {
        if (b)
            ContentCoding::encodeWordB(bytes, charset, out);
        else
            ContentCoding::encodeWordQ(bytes, charset, out);
    };
    if (in.size() < (b ? 24u : 35u)) {
        word(in);
        return;
    }
    int cp = Charset::codePageForName(charset);
    if (cp == 0)
        cp = 65001;
    EncodingConvert conv;
    DataBuffer utf16;
    const size_t unitsPerWord = b ? 12 : 17;
    if (!conv.convert(cp, 1200, in, utf16)) {
        // Bytes the charset cannot read are still sent, cut by bytes instead of characters.
        for (size_t i = 0; i < in.size(); i += 2 * unitsPerWord) {
            if (i > 0)
                out.append("\r\n\t");
            word(in.subspan(i, std::min(2 * unitsPerWord, in.size() - i)));
        }
        return;
    }
    const size_t units = utf16.getSize() / 2;
    const uint8_t* u = utf16.getData();
    DataBuffer piece;
    for (size_t i = 0; i < units;) {
        size_t n = std::min(unitsPerWord, units - i);
        // A surrogate pair stays in one word.
        const unsigned last = u[2 * (i + n - 1)] | (unsigned{u[2 * (i + n - 1) + 1]} << 8);
        if (n > 1 && i + n < units && last >= 0xD800 && last <= 0xDBFF)
            --n;
        piece.clear();
        (void)conv.convert(1200, cp, std::span<const uint8_t>(u + 2 * i, 2 * n), piece);
        if (i > 0)
            out.append("\r\n\t");
        word(piece.span());
        i += n;
    }
}

} // namespace

// --- base64 ---

void ContentCoding::base64Encode(std::span<const uint8_t> in, std::string& out) {
    const size_t n = in.size();
    if (n == 0)
        return;
    const size_t oldSize = out.size();
    out.resize(oldSize + (n + 2) / 3 * 4);
    char* o = out.data() + oldSize;
    const uint8_t* p = in.data();
    const uint8_t* const end = p + n;
    while (end - p >= 6) {
        o = encodeSix(p, o);
        p += 6;
    }
    if (end - p >= 3) {
        o = encodeThree(p, o);
        p += 3;
    }
    encodeTail(p, static_cast<size_t>(end - p), o);
}

std::string ContentCoding::base64Encode(std::span<const uint8_t> in) {
    std::string out;
    base64Encode(in, out);
    return out;
}

void ContentCoding::base64EncodeLines(std::span<const uint8_t> in, std::string& out) {
    const size_t n = in.size();
    if (n == 0)
        return;
    // 54 bytes fill one line of 72 characters.
    constexpr size_t kLineBytes = kLineLength / 4 * 3;
    const size_t fullLines = n / kLineBytes;
    const size_t oldSize = out.size();
    out.resize(oldSize + (n + 2) / 3 * 4 + 2 * fullLines + 2);
    char* o = out.data() + oldSize;
    const uint8_t* p = in.data();
    for (size_t line = 0; line < fullLines; ++line) {
        for (size_t i = 0; i < kLineBytes; i += 6)
            o = encodeSix(p + i, o);
        p += kLineBytes;
        *o++ = '\r';
        *o++ = '\n';
    }
    const uint8_t* const end = in.data() + n;
    while (end - p >= 3) {
        o = encodeThree(p, o);
        p += 3;
    }
    o = encodeTail(p, static_cast<size_t>(end - p), o);
    *o++ = '\r';
    *o = '\n';
}

bool ContentCoding::base64DecodeStrict(std::string_view in, DataBuffer& out) {
    return decodeBase64<true>(in, out);
}

void ContentCoding::base64Decode(std::string_view in, DataBuffer& out) {
    (void)decodeBase64<false>(in, out);
}

// --- quoted-printable ---

void ContentCoding::qpEncode(std::span<const uint8_t> in, std::string& out) {
    const uint8_t* const begin = in.data();
    const uint8_t* const end = begin + in.size();
    const uint8_t* p = begin;
    out.reserve(out.size() + in.size() + in.size() / 8 + 16);
    OutBlock<std::string> block(out);
    char* o = block.begin();
    auto crlfAt = [end](const uint8_t* q) { return end - q >= 2 && q[0] == '\r' && q[1] == '\n'; };
    size_t col = 0;
    while (p < end) {
        o = block.ensure(o, kQpLineRoom);
        if (col == 0 &&
            (*p == '.' || (*p == 'F' && end - p >= 5 && std::memcmp(p + 1, "rom ", 4) == 0))) {
            // A lone "." ends the SMTP data and "From " starts a new mbox message.
            o = putHex(o, *p++);
            col = 3;
        }
        while (p < end) {
            // "=FF" and four more F would read as a sign-extended escape "=FFFFFFxx".
            const bool afterFF = p != begin && p[-1] == 0xFF && (*p | 0x20) == 'f';
#if defined(__SSE2__)
            if (col < kLineLength && end - p > 16 && !afterFF) {
                unsigned k = std::min<unsigned>(qpPlainPrefix16(p),
                                                static_cast<unsigned>(kLineLength - col));
                if (k > 0 && p[k - 1] == ' ' && crlfAt(p + k))
                    --k;
                if (k > 0) {
                    std::memcpy(o, p, 16);
                    o += k;
                    p += k;
                    col += k;
                    if (col >= kLineLength && !crlfAt(p)) {
                        o = std::copy_n("=\r\n", 3, o);
                        col = 0;
                        break;
                    }
                    continue;
                }
            }
#endif
            const uint8_t c = *p;
            const QpClass k = kQp.v[c];
            if (k == kCr && crlfAt(p)) {
                o = std::copy_n("\r\n", 2, o);
                p += 2;
                col = 0;
                break;
            }
            if ((k == kLiteral && !afterFF) || (k == kBlank && p + 1 != end && !crlfAt(p + 1))) {
                *o++ = static_cast<char>(c);
                ++col;
            } else {
                o = putHex(o, c);
                col += 3;
            }
            ++p;
            if (col >= kLineLength && p < end && !crlfAt(p)) {
                o = std::copy_n("=\r\n", 3, o);
                col = 0;
                break;
            }
        }
    }
    block.flush(o);
}

void ContentCoding::qpDecode(std::string_view in, DataBuffer& out) {
    const auto* p = reinterpret_cast<const uint8_t*>(in.data());
    const auto* nul = static_cast<const uint8_t*>(std::memchr(p, 0, in.size()));
    const uint8_t* const end = nul ? nul : p + in.size();
    std::vector<uint8_t>& v = out.vec();
    v.reserve(v.size() + static_cast<size_t>(end - p));
    OutBlock<std::vector<uint8_t>> block(v);
    uint8_t* o = block.begin();
    // Trailing white space is trimmed back to here and no further: the line start, or the end
    // of the last escape (an encoded "=20" is kept).
    size_t keep = block.position(o);
    QpLineEnd line;
    while (p < end) {
        o = block.ensure(o, 2 * kQpSlack);
        const size_t budget = std::min(static_cast<size_t>(end - p), block.room(o) - kQpSlack);
        qpCopyPlain(p, p + budget, o);
        if (p == end || (*p != '=' && *p != '\n'))
            continue; // the block is full
        if (*p == '=') {
            // Escapes come in runs ("=C3=A9"): decode the run before scanning again.
            do {
                o = qpEscape(p, end, o, line);
            } while (p < end && *p == '=' && block.room(o) > kQpSlack);
            keep = block.position(o);
            continue;
        }
        o = block.trimBack(o, keep);
        *o++ = '\r';
        *o++ = '\n';
        ++p;
        line.reset();
        keep = block.position(o);
    }
    block.flush(block.trimBack(o, keep));
}

// --- encoded words ---

void ContentCoding::qEncodeWordText(std::span<const uint8_t> in, std::string& out) {
    size_t len = out.size();
    out.resize(len + in.size() * 3);
    char* o = out.data() + len;
    for (uint8_t c : in) {
        if (qLiteral(c))
            *o++ = static_cast<char>(c);
        else if (c == ' ')
            *o++ = '_';
        else
            o = putHex(o, c);
    }
    out.resize(static_cast<size_t>(o - out.data()));
}

void ContentCoding::qDecodeWordText(std::string_view in, DataBuffer& out) {
    std::vector<uint8_t>& v = out.vec();
    v.reserve(v.size() + in.size());
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<uint8_t>(in[i]);
        if (c == '=') {
            if (i + 2 < n) {
                int hi = kHexUpperOnly.v[static_cast<uint8_t>(in[i + 1])];
                int lo = kHexUpperOnly.v[static_cast<uint8_t>(in[i + 2])];
                if (hi >= 0 && lo >= 0) {
                    v.push_back(static_cast<uint8_t>((hi << 4) | lo));
                    i += 2;
                    continue;
                }
            }
            v.push_back('=');
        } else if (c == '_') {
            v.push_back(' ');
        } else if ((c >= 0x21 && c <= 0x7E && c != '?') || c >= 0xA0) {
            v.push_back(c);
        }
    }
}

void ContentCoding::encodeWordQ(std::span<const uint8_t> in, std::string_view charset,
                                std::string& out) {
    if (in.empty() || charset.empty())
        return;
    out.append("=?").append(charset).append("?Q?");
    qEncodeWordText(in, out);
    out.append("?=");
}

void ContentCoding::encodeWordB(std::span<const uint8_t> in, std::string_view charset,
                                std::string& out) {
    if (in.empty() || charset.empty())
        return;
    out.append("=?").append(charset).append("?B?");
    base64Encode(in, out);
    out.append("?=");
}

void ContentCoding::encodeHeaderText(std::span<const uint8_t> in, std::string_view charset,
                                     std::string& out) {
    std::string_view text(reinterpret_cast<const char*>(in.data()), in.size());
    std::string_view head = text.substr(0, 100);
    if (sb::findNoCase(head, "?Q?") != std::string_view::npos ||
        sb::findNoCase(head, "?B?") != std::string_view::npos) {
        out.append(text);
        return;
    }
    // Charsets whose text is mostly 8-bit or escape sequences, where Q would triple the size.
    static constexpr std::string_view kBCharsets[] = {
        "shift_jis",   "shift-jis",    "iso-2022-jp", "euc-jp",       "euc-kr",
        "iso-2022-kr", "gb2312",       "euc-cn",      "cp-936",       "euc-tw",
        "big5",        "cp-950",       "cp-932",      "tis-620",      "windows-874",
        "iso-8859-9",  "windows-1254", "iso-8859-6",  "windows-1256", "cp-1256"};
    for (std::string_view b : kBCharsets) {
        if (sb::equalsNoCase(charset, b)) {
            encodeWordB(in, charset, out);
            return;
        }
    }
    encodeWordQ(in, charset, out);
}

void ContentCoding::decodeWordsToBytes(std::string_view text, std::string& out) {
    out.reserve(out.size() + text.size());
    scanEncodedWords(
        text, [&out](std::string_view t) { out.append(t); },
        [&out](std::string_view, std::string_view bytes) { out.append(bytes); });
}

void ContentCoding::decodeWordsToUtf8(std::string& text) {
    std::string out;
    out.reserve(text.size());
    scanEncodedWords(
        text, [&out](std::string_view t) { out.append(t); },
        [&out](std::string_view cs, std::string_view bytes) { appendWordAsUtf8(cs, bytes, out); });
    text = std::move(out);
}

void ContentCoding::encodeWordsQ(std::span<const uint8_t> in, std::string_view charset,
                                 std::string& out) {
    encodeWordRun(false, in, charset, out);
}

void ContentCoding::encodeWordsB(std::span<const uint8_t> in, std::string_view charset,
                                 std::string& out) {
    encodeWordRun(true, in, charset, out);
}

} // namespace norvane
