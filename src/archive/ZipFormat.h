#pragma once

// Byte-level pieces of the zip format (PKWARE application note): record signatures and
// sizes, little-endian fields, MS-DOS time stamps. Readers here never look past the span they
// are given; callers check ranges before reading records.

#include <cstdint>
#include <ctime>
#include <span>
#include <string_view>
#include <vector>

namespace norvane::zip {

inline constexpr uint32_t kLocalHeaderSig = 0x04034b50;
inline constexpr uint32_t kCentralHeaderSig = 0x02014b50;
inline constexpr uint32_t kEndOfDirSig = 0x06054b50;
inline constexpr uint32_t kZip64EndOfDirSig = 0x06064b50;
inline constexpr uint32_t kZip64LocatorSig = 0x07064b50;

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndOfDirSize = 22;
inline constexpr size_t kZip64EndOfDirSize = 56;
inline constexpr size_t kZip64LocatorSize = 20;
inline constexpr size_t kMaxCommentSize = 0xFFFF;

inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodDeflated = 8;
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagUtf8Name = 0x0800;
inline constexpr uint16_t kExtraZip64 = 0x0001;
// The MS-DOS attribute bit that marks a directory.
inline constexpr uint32_t kDosDirectoryAttr = 0x10;

[[nodiscard]] inline uint16_t le16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
[[nodiscard]] inline uint32_t le32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
[[nodiscard]] inline uint64_t le64(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint64_t>(le32(b, at)) | (static_cast<uint64_t>(le32(b, at + 4)) << 32);
}

inline void putLe16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void putLe32(std::vector<uint8_t>& out, uint32_t v) {
    putLe16(out, static_cast<uint16_t>(v));
    putLe16(out, static_cast<uint16_t>(v >> 16));
}

// MS-DOS date and time of a local broken-down time; years before 1980 become 1980-01-01.
struct DosTime {
    uint16_t time = 0;
    uint16_t date = (1 << 5) | 1;
};
[[nodiscard]] DosTime toDosTime(const std::tm& local);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates).
[[nodiscard]] bool isUtf8(std::string_view s);

} // namespace norvane::zip
