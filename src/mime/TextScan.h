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

} // namespace norvane::text_scan
