#include "charset/ContentCoding.h"

#include "charset/Charset.h"
#include "charset/ContentCodingKernels.h"
#include "charset/EncodingConvert.h"
#include "charset/EncodingUtf8.h"
#include "common/StringBuffer.h"

#include <algorithm>
#include <cstring>

namespace norvane {

namespace {

using namespace coding;

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
    while (true) {
        if (count == 0)
            decodeWholeGroups(p, end, o);
        if (p == end)
            break;
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
            continue; // RFC 2045 6.8: characters outside the alphabet are ignored
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

inline bool crlfAt(const uint8_t* q, const uint8_t* end) {
    return end - q >= 2 && q[0] == '\r' && q[1] == '\n';
}

// How many bytes from p go out unchanged in one 16-byte copy (written to o) without passing
// column 72 or leaving a blank before a line break; 0 when the byte loop must look.
inline unsigned qpPlainRun(const uint8_t* p, const uint8_t* end, char* o, size_t col) {
#if defined(__SSE2__)
    if (col >= ContentCoding::kLineLength || end - p <= 16)
        return 0;
    unsigned k = std::min<unsigned>(qpPlainPrefix16(p),
                                    static_cast<unsigned>(ContentCoding::kLineLength - col));
    if (k > 0 && p[k - 1] == ' ' && crlfAt(p + k, end))
        --k;
    if (k > 0)
        std::memcpy(o, p, 16);
    return k;
#else
    (void)p, (void)end, (void)o, (void)col;
    return 0;
#endif
}

// Writes one output line of quoted-printable: units up to and including a hard break (CR LF
// of the data) or a soft break "=\r\n", or to the end of the input.
char* qpEncodeLine(const uint8_t* begin, const uint8_t*& p, const uint8_t* end, char* o) {
    size_t col = 0;
    if (*p == '.' || (*p == 'F' && end - p >= 5 && std::memcmp(p + 1, "rom ", 4) == 0)) {
        // A lone "." ends the SMTP data and "From " starts a new mbox message.
        o = putHex(o, *p++);
        col = 3;
    }
    while (p < end) {
        // "=FF" and four more F would read as a sign-extended escape "=FFFFFFxx".
        const bool afterFF = p != begin && p[-1] == 0xFF && (*p | 0x20) == 'f';
        if (const unsigned run = afterFF ? 0 : qpPlainRun(p, end, o, col)) {
            o += run;
            p += run;
            col += run;
        } else {
            const uint8_t c = *p;
            const QpClass k = kQp.v[c];
            if (k == kCr && crlfAt(p, end)) {
                p += 2;
                return std::copy_n("\r\n", 2, o);
            }
            if ((k == kLiteral && !afterFF) ||
                (k == kBlank && p + 1 != end && !crlfAt(p + 1, end))) {
                *o++ = static_cast<char>(c);
                ++col;
            } else {
                o = putHex(o, c);
                col += 3;
            }
            ++p;
        }
        if (col >= ContentCoding::kLineLength && p < end && !crlfAt(p, end))
            return std::copy_n("=\r\n", 3, o);
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

bool isUtf8(std::string_view s) {
    return EncodingUtf8::isValid(s);
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

void ContentCoding::encodeBody(std::string_view encoding, std::string_view body, std::string& out) {
    if (sb::equalsNoCase(encoding, "base64"))
        base64EncodeLines(body, out);
    else if (sb::equalsNoCase(encoding, "quoted-printable"))
        qpEncode(body, out);
    else
        out.append(body);
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
    out.reserve(out.size() + in.size() + in.size() / 8 + 16);
    OutBlock<std::string> block(out);
    char* o = block.begin();
    for (const uint8_t* p = begin; p < end;)
        o = qpEncodeLine(begin, p, end, block.ensure(o, kQpLineRoom));
    block.flush(o);
}

void ContentCoding::qpDecode(std::string_view in, DataBuffer& out) {
    if (in.empty())
        return; // an empty view may have no data pointer, which memchr must not see
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
                int hi = kHexAny.v[static_cast<uint8_t>(in[i + 1])];
                int lo = kHexAny.v[static_cast<uint8_t>(in[i + 2])];
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
