#pragma once

// Converts bytes between any two code pages the system supports: the built-in single- and
// double-byte tables, UTF-8, UTF-16 (both byte orders), UTF-7, UTF-32 (both byte orders),
// ISO-2022-JP (50220-50222) and ISO-2022-KR (50225). Unmapped characters are dropped and make
// the result false while the rest converts; an unsupported code page converts nothing.
// Every conversion is linear in its input; tables load once per process, thread-safely.

#include "common/DataBuffer.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

class ByteSink;

class EncodingConvert {
public:
    // Appends to out; false when any character had no mapping, the input was ill-formed, or a
    // code page is unsupported (whatever converted is still appended).
    bool convert(int fromCp, int toCp, std::span<const uint8_t> in, DataBuffer& out);
    bool convert(int fromCp, int toCp, std::string_view in, std::string& out);

    // Whether cp can be converted at all (a table, a Unicode form or an ISO-2022 form).
    [[nodiscard]] static bool isSupported(int cp);

    // The engine behind every public member; appends to out.
    static bool convertInto(int fromCp, int toCp, std::span<const uint8_t> in, ByteSink& out);
};

} // namespace norvane
