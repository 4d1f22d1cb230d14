#pragma once

// The byte-level encodings of Internet mail: base64 (RFC 2045 section 6.8), quoted-printable
// (RFC 2045 section 6.7) and the Q and B encoded words of header text (RFC 2047).
//
// Every routine is a pure function over byte buffers, safe on any input: decoders never read or
// write outside the buffers they are given, and their time is linear in the input. Only
// base64DecodeStrict reports failure; the others tolerate bad input as each comment says.
// Encoders append to a std::string; decoders append to a DataBuffer (or a std::string where the
// result is header text).

#include "common/DataBuffer.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

class ContentCoding {
public:
    // Characters per line of the line-breaking encoders (base64 bodies, quoted-printable).
    static constexpr size_t kLineLength = 72;

    // --- base64 ---

    // Lines of exactly 72 characters, each ending in CR LF; the output always ends with CR LF
    // (data that fill the last line exactly end with an empty line). Empty input writes nothing.
    static void base64EncodeLines(std::span<const uint8_t> in, std::string& out);
    // One run without line breaks, '=' padded.
    static void base64Encode(std::span<const uint8_t> in, std::string& out);
    [[nodiscard]] static std::string base64Encode(std::span<const uint8_t> in);

    // Reads up to the end, a NUL byte or the first '='; space, tab, CR and LF are skipped.
    // Any other byte outside the alphabet fails the whole decoding: false, and out keeps only
    // what it held before. A trailing incomplete group gives its complete bytes.
    [[nodiscard]] static bool base64DecodeStrict(std::string_view in, DataBuffer& out);
    // As the strict form, but a byte outside the alphabet is skipped (RFC 2045 6.8); never fails.
    static void base64Decode(std::string_view in, DataBuffer& out);

    // --- quoted-printable ---

    // Lines of at most 72 characters plus a soft break "=\r\n"; CR LF in the data is a hard
    // break. A '.' or "From " at the start of a line is escaped so that SMTP and mbox readers
    // leave the line alone; a space or tab before a line break or at the end is escaped.
    static void qpEncode(std::span<const uint8_t> in, std::string& out);
    // Ends at the first NUL byte. Lines end at LF and come out ending in CR LF; trailing white
    // space of a line is dropped; '=' at the end of a line joins it to the next. "=XX" escapes
    // accept either case; an "=" not followed by two hex digits stays as it is; "=FFFFFFXX"
    // (a sign-extended byte) gives XX. Raw 8-bit bytes
    // (senders that label unencoded text quoted-printable) are kept unchanged.
    static void qpDecode(std::string_view in, DataBuffer& out);

    // --- encoded words ---

    // The text between "?Q?" and "?=": printable ASCII except '=', '?', '_' as is, space as '_',
    // everything else "=XX". The output never holds a space, '?' or '_'.
    static void qEncodeWordText(std::span<const uint8_t> in, std::string& out);
    // Reverse of qEncodeWordText: '_' is a space, "=XX" with upper-case hex digits is a byte, any
    // other '=' is kept; space, tab, '?', control bytes and 0x80-0x9F are dropped.
    static void qDecodeWordText(std::string_view in, DataBuffer& out);

    // "=?charset?Q?...?=" (or "?B?") over all bytes; nothing when bytes or charset are empty.
    static void encodeWordQ(std::span<const uint8_t> in, std::string_view charset,
                            std::string& out);
    static void encodeWordB(std::span<const uint8_t> in, std::string_view charset,
                            std::string& out);

    // Bytes in the named charset (UTF-8 when the name is unknown) as one or more encoded words
    // separated by "\r\n\t". Input of 35 (Q) or 24 (B) bytes and more is cut every 17 or 12
    // UTF-16 code units, never inside a character or surrogate pair; bytes the charset cannot
    // read are cut every 34 or 24 bytes instead, so that nothing is lost.
    static void encodeWordsQ(std::span<const uint8_t> in, std::string_view charset,
                             std::string& out);
    static void encodeWordsB(std::span<const uint8_t> in, std::string_view charset,
                             std::string& out);

    // One encoded word for a display name: copied unchanged when its first 100 bytes already
    // hold "?Q?" or "?B?"; a B word for the charsets whose text Q would mostly escape; else Q.
    static void encodeHeaderText(std::span<const uint8_t> in, std::string_view charset,
                                 std::string& out);

    // Replaces the encoded words in text by their text in UTF-8. Bytes stay as they are when the
    // charset is unknown or unsupported, or when they are UTF-8 that the label's charset cannot
    // read (mislabelled "us-ascii"); "8bit" means UTF-8 and a language suffix ("*en") is
    // ignored. White space between two encoded words is dropped (RFC 2047 section 6.2); other
    // text is kept. A word cut short by the end of the text ends it.
    static void decodeWordsToUtf8(std::string& text);
    // The same scan, appending the decoded bytes of each word to out without conversion.
    static void decodeWordsToBytes(std::string_view text, std::string& out);

    // Appends a body in the named transfer encoding: base64 in lines, quoted-printable, or
    // as it stands for every other encoding (7bit, 8bit, binary, none).
    static void encodeBody(std::string_view encoding, std::string_view body, std::string& out);

    // Conveniences for text held in strings.
    static void base64EncodeLines(std::string_view in, std::string& out) {
        base64EncodeLines(bytesOf(in), out);
    }
    static void base64Encode(std::string_view in, std::string& out) {
        base64Encode(bytesOf(in), out);
    }
    static void qpEncode(std::string_view in, std::string& out) { qpEncode(bytesOf(in), out); }
    static void qEncodeWordText(std::string_view in, std::string& out) {
        qEncodeWordText(bytesOf(in), out);
    }
    static void encodeWordQ(std::string_view in, std::string_view cs, std::string& out) {
        encodeWordQ(bytesOf(in), cs, out);
    }
    static void encodeWordB(std::string_view in, std::string_view cs, std::string& out) {
        encodeWordB(bytesOf(in), cs, out);
    }
    static void encodeWordsQ(std::string_view in, std::string_view cs, std::string& out) {
        encodeWordsQ(bytesOf(in), cs, out);
    }
    static void encodeWordsB(std::string_view in, std::string_view cs, std::string& out) {
        encodeWordsB(bytesOf(in), cs, out);
    }
    static void encodeHeaderText(std::string_view in, std::string_view cs, std::string& out) {
        encodeHeaderText(bytesOf(in), cs, out);
    }

    [[nodiscard]] static std::span<const uint8_t> bytesOf(std::string_view s) {
        return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
    }
};

} // namespace norvane
