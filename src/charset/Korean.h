#pragma once

// ISO-2022-KR (RFC 1557) on top of the Korean code page 949: KS X 1001 pairs shifted into
// 7 bits between SO and SI, announced once by ESC $ ) C.

#include "charset/ByteSink.h"

#include <cstdint>
#include <span>

namespace norvane {

class Korean {
public:
    // ISO-2022-KR → code page 949, appended. False for malformed input (a stray escape, a
    // truncated pair, an 8-bit byte); what is well formed still converts.
    static bool decodeTo949(std::span<const uint8_t> in, ByteSink& out);
    // Code page 949 → ISO-2022-KR, appended. Characters outside KS X 1001 (the extended
    // Hangul of 949) have no ISO-2022-KR form: they are dropped and the result is false.
    static bool encodeFrom949(std::span<const uint8_t> in, ByteSink& out);
};

} // namespace norvane
