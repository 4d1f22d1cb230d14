#pragma once

// Small byte scans shared by the header and entity parsers.

#include <string_view>

namespace norvane::text_scan {

// No byte of 0x80 or above.
[[nodiscard]] bool is7bit(std::string_view s);
// Well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
[[nodiscard]] bool isValidUtf8(std::string_view s);

// Position of the first pattern at or after from, or npos, in time linear in the text and the
// pattern whatever both hold: a boundary may be as long as a header line and a body as
// repetitive as an attacker likes, where a naive search compares most of the pattern at every
// position. (glibc's memmem uses the two-way algorithm.)
[[nodiscard]] size_t find(std::string_view text, std::string_view pattern, size_t from = 0);

// How many LF bytes text holds.
[[nodiscard]] size_t countLf(std::string_view text);
// Writes text with each LF as CR LF to out, which has room for text.size() + countLf(text).
void copyWithCrlf(std::string_view text, char* out);

// Appends text with each LF written as CR LF; for text that holds no CR (LF-only mail read as
// the CR LF text it stands for). Bytes is std::string or std::vector<uint8_t>.
template <class Bytes>
void appendWithCrlf(std::string_view text, Bytes& out) {
    const size_t at = out.size();
    out.resize(at + text.size() + countLf(text));
    copyWithCrlf(text, reinterpret_cast<char*>(out.data()) + at);
}

} // namespace norvane::text_scan
