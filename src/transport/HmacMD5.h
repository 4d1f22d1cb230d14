#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace norvane {

// HMAC-MD5 (RFC 2104 over MD5): keys longer than the 64-byte block are replaced by their
// digest, as the RFC says.
class HmacMD5 {
public:
    using Digest = std::array<uint8_t, 16>;
    [[nodiscard]] static Digest compute(std::span<const uint8_t> key,
                                        std::span<const uint8_t> data);
};

} // namespace norvane
