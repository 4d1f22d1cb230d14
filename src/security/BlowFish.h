#pragma once

#include "security/SymmetricAlgorithm2.h"

namespace norvane {

// Blowfish (40 to 448-bit keys in steps of 8) in ECB or CBC mode, from Nettle. Keys longer
// than the 256-bit derived key use all of it and no more.
class BlowFish final : public SymmetricAlgorithm2 {
public:
    // Rounded down to a multiple of 8 and kept between 40 and 448.
    void setKeyLength(int bits) override;
    [[nodiscard]] size_t blockSize() const override { return 8; }

protected:
    bool cryptBlocks(bool encrypt, std::span<uint8_t> data, LogBase& log) override;
};

} // namespace norvane
