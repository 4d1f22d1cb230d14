#pragma once

// Small byte scans shared by the header and entity parsers.

#include <string_view>

namespace norvane::text_scan {

// No byte of 0x80 or above.
[[nodiscard]] bool is7bit(std::string_view s);
// Well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
[[nodiscard]] bool isValidUtf8(std::string_view s);

} // namespace norvane::text_scan
