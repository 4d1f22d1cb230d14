#pragma once

// Argument and text helpers shared by the façades: nullable C strings, trimming, charset
// conversions to and from the UTF-8 held inside, and line-end repair.

#include "common/DataBuffer.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvane::facade_text {

// A null argument reads as empty text.
[[nodiscard]] inline std::string_view arg(const char* s) {
    return s ? std::string_view(s) : std::string_view();
}
// Without space, tab, CR and LF at both ends.
[[nodiscard]] std::string trimmed(const char* s);

// The code page a charset chooser picks for the text, checked to carry every character
// (UTF-8 when the pick cannot); 0 for empty or pure ASCII text.
[[nodiscard]] int chooseCodePage(std::string_view utf8);

// Bytes in the named charset as UTF-8; an unknown name, or UTF-8 itself, leaves them as they
// are.
[[nodiscard]] std::string toUtf8(std::span<const uint8_t> bytes, std::string_view charset);
// UTF-8 text in the named charset; an unknown name, or UTF-8 itself, leaves it as it is.
[[nodiscard]] DataBuffer fromUtf8(std::string_view utf8, std::string_view charset);

// A CR before every LF that has none.
[[nodiscard]] std::string crBeforeBareLf(std::string_view s);

} // namespace norvane::facade_text
