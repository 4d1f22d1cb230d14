#pragma once

// The loops between a built-in code page table and Unicode. Unmapped bytes and characters are
// dropped and make the result false; a lead byte at the very end, or one whose next byte
// cannot follow it, is dropped alone so that the next character is not lost.

#include "charset/ByteSink.h"
#include "charset/CodePageTable.h"

#include <cstdint>
#include <span>
#include <string>

namespace norvane {

class TableCodec {
public:
    static bool toUnits(const CodePageTable& t, std::span<const uint8_t> in, std::u16string& out);
    static bool fromUnits(const CodePageTable& t, std::u16string_view in, ByteSink& out);
    static bool toUtf8(const CodePageTable& t, std::span<const uint8_t> in, ByteSink& out);
    static bool fromUtf8(const CodePageTable& t, std::span<const uint8_t> in, ByteSink& out);
};

} // namespace norvane
