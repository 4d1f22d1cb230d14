#pragma once

#include "security/SymmetricAlgorithm2.h"

namespace norvane {

// Twofish (128, 192 or 256-bit keys) in ECB or CBC mode, from Nettle.
class TwoFish final : public SymmetricAlgorithm2 {
public:
    // As for AES: 193 bits and more give 256, 129-192 give 192, anything else 128.
    void setKeyLength(int bits) override;
    [[nodiscard]] size_t blockSize() const override { return 16; }

protected:
    bool cryptBlocks(bool encrypt, std::span<uint8_t> data, LogBase& log) override;
};

} // namespace norvane
