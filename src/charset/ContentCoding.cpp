#include "charset/ContentCoding.h"

#include "common/StringBuffer.h"

#include <algorithm>
#include <array>
#include <cstring>

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
    v.resize(oldSize + text.size() / 4 * 3 + 3);
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
                o = putGroup(putGroup(o, a), b);
                p += 8;
            }
            while (end - p >= 4) {
                uint32_t a = group(p);
                if (a & kBadGroup)
                    break;
                o = putGroup(o, a);
                p += 4;
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

// Room for one more output line of the quoted-printable encoder: 72 columns, an escape that
// overshoots, the line-start escape and a soft break.
constexpr size_t kQpLineRoom = 96;

bool isBlankOrBreak(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Decodes one line of quoted-printable text (without its line end and trailing white space)
// to o; returns the new end and sets softBreak when the line ends in '='.
uint8_t* qpDecodeLine(const uint8_t* p, const uint8_t* e, uint8_t* o, bool& softBreak) {
    softBreak = false;
    while (p < e) {
        const auto* eq =
            static_cast<const uint8_t*>(std::memchr(p, '=', static_cast<size_t>(e - p)));
        if (!eq) {
            std::memcpy(o, p, static_cast<size_t>(e - p));
            return o + (e - p);
        }
        std::memcpy(o, p, static_cast<size_t>(eq - p));
        o += eq - p;
        const size_t left = static_cast<size_t>(e - eq);
        if (left == 1) {
            softBreak = true;
            return o;
        }
        if (left == 2) {
            // An escape cut short by the line end is kept as written.
            *o++ = eq[0];
            *o++ = eq[1];
            return o;
        }
        // Some encoders sign-extend bytes above 0x7F and write "=FFFFFFE9" for E9.
        if (left >= 9 && std::all_of(eq + 1, eq + 7, [](uint8_t c) { return (c | 0x20) == 'f'; })) {
            p = eq + 7;
        } else {
            p = eq + 1;
        }
        int hi = kHexAny.v[p[0]];
        int lo = kHexAny.v[p[1]];
        *o++ = static_cast<uint8_t>(((hi < 0 ? 0 : hi) << 4) | (lo < 0 ? 0 : lo));
        p += 2;
    }
    return o;
}

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

// Appends the decoded bytes of one word as UTF-8. "8bit" is the label the XML form writes for
// raw bytes, which are UTF-8 inside.
void appendWordAsUtf8(std::string_view charset, std::string_view bytes, std::string& out) {
    // Conversion through the charset engine lands with it; until then the bytes are copied.
    (void)charset;
    out.append(bytes);
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
    const uint8_t* p = in.data();
    const uint8_t* const end = p + in.size();
    size_t len = out.size();
    out.resize(len + in.size() + in.size() / 8 + kQpLineRoom);
    auto crlfAt = [end](const uint8_t* q) { return end - q >= 2 && q[0] == '\r' && q[1] == '\n'; };
    size_t col = 0;
    while (p < end) {
        if (out.size() - len < kQpLineRoom)
            out.resize(out.size() + out.size() / 2 + kQpLineRoom);
        char* o = out.data() + len;
        if (col == 0 &&
            (*p == '.' || (*p == 'F' && end - p >= 5 && std::memcmp(p + 1, "rom ", 4) == 0))) {
            // A lone "." ends the SMTP data and "From " starts a new mbox message.
            o = putHex(o, *p++);
            col = 3;
        }
        while (p < end) {
            const uint8_t c = *p;
            const QpClass k = kQp.v[c];
            if (k == kCr && crlfAt(p)) {
                *o++ = '\r';
                *o++ = '\n';
                p += 2;
                col = 0;
                break;
            }
            if (k == kLiteral || (k == kBlank && p + 1 != end && !crlfAt(p + 1))) {
                *o++ = static_cast<char>(c);
                ++col;
            } else {
                o = putHex(o, c);
                col += 3;
            }
            ++p;
            if (col >= kLineLength && p < end && !crlfAt(p)) {
                *o++ = '=';
                *o++ = '\r';
                *o++ = '\n';
                col = 0;
                break;
            }
        }
        len = static_cast<size_t>(o - out.data());
    }
    out.resize(len);
}

void ContentCoding::qpDecode(std::string_view in, DataBuffer& out) {
    const auto* p = reinterpret_cast<const uint8_t*>(in.data());
    const auto* nul = static_cast<const uint8_t*>(std::memchr(p, 0, in.size()));
    const uint8_t* const end = nul ? nul : p + in.size();
    std::vector<uint8_t>& v = out.vec();
    size_t len = v.size();
    v.resize(len + static_cast<size_t>(end - p) + 16);
    while (p < end) {
        const auto* lf =
            static_cast<const uint8_t*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const uint8_t* lineEnd = lf ? lf : end;
        const uint8_t* e = lineEnd;
        while (e > p && isBlankOrBreak(static_cast<char>(e[-1])))
            --e;
        // A line never grows when decoded, except by the CR of its line break.
        const size_t need = static_cast<size_t>(lineEnd - p) + 2;
        if (v.size() - len < need)
            v.resize(v.size() + v.size() / 2 + need);
        bool softBreak = false;
        uint8_t* o = qpDecodeLine(p, e, v.data() + len, softBreak);
        if (lf && !softBreak) {
            *o++ = '\r';
            *o++ = '\n';
        }
        len = static_cast<size_t>(o - v.data());
        p = lf ? lf + 1 : end;
    }
    v.resize(len);
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

} // namespace norvane
