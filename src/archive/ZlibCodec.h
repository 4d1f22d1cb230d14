#pragma once

// Raw deflate streams (RFC 1951, no zlib or gzip wrapper) and CRC-32, as zip entries hold them.

#include "common/LogBase.h"

#include <cstdint>
#include <span>
#include <vector>

namespace norvane::zlibcodec {

[[nodiscard]] uint32_t crc32Of(std::span<const uint8_t> data);

// Compresses data at level 0-9 (other values give zlib's default, 6). The output replaces out.
[[nodiscard]] bool deflateRaw(std::span<const uint8_t> data, int level, std::vector<uint8_t>& out,
                              LogBase& log);
// The same, appended to out (which keeps its earlier bytes, also on failure). Room for the
// worst case is reserved up front but only the bytes produced are ever written, so a large
// input is never copied into a growing buffer.
[[nodiscard]] bool deflateRawAppend(std::span<const uint8_t> data, int level,
                                    std::vector<uint8_t>& out, LogBase& log);

// Decompresses one raw deflate stream into out. Stops with false as soon as the output would
// exceed maxOut, without holding more than maxOut bytes; also false for damaged or truncated
// input. Bytes after the end of the stream are ignored. The output is not grown by copying:
// room for maxOut (or for what the input can possibly inflate to, when that is less) is
// reserved once and filled as the stream produces.
[[nodiscard]] bool inflateRaw(std::span<const uint8_t> data, uint64_t maxOut,
                              std::vector<uint8_t>& out, LogBase& log);

} // namespace norvane::zlibcodec
