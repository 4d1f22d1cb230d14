#pragma once

// ISO-2022-JP (RFC 1468) on top of Shift_JIS (code page 932): the 7-bit form Japanese mail is
// written in. Decoding maps JIS X 0208 pairs to Shift_JIS; encoding does the reverse and turns
// half-width katakana into their full-width forms, which ISO-2022-JP cannot carry.

#include "charset/ByteSink.h"

#include <cstdint>
#include <span>

namespace norvane {

class Japanese {
public:
    // ISO-2022-JP → Shift_JIS, appended. False for malformed input (a lone or truncated escape,
    // an odd byte in two-byte mode, an 8-bit byte); what is well formed still converts.
    static bool decodeToShiftJis(std::span<const uint8_t> in, ByteSink& out);
    // Shift_JIS → ISO-2022-JP, appended, ending in one-byte mode. False when a byte or pair has
    // no ISO-2022-JP form (it is dropped).
    static bool encodeFromShiftJis(std::span<const uint8_t> in, ByteSink& out);
};

} // namespace norvane
