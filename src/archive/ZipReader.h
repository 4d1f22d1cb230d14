#pragma once

// Reads the directory of a zip archive held in memory. Nothing the archive declares is
// trusted: every offset and length is checked against the bytes actually there, entry counts
// never size an allocation, and archives whose entries share or overlap their data (the
// overlapping-entry form of a zip bomb) are refused. Single-disk archives only; Zip64 records
// are understood; a prefix before the archive (as in self-extracting files) is allowed.

#include "archive/ZipFormat.h"
#include "common/LogBase.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace norvane::zip {

struct DirEntry {
    std::string name;
    uint16_t versionMadeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    DosTime time;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint32_t externalAttr = 0;
    // Where the local header is, and where the entry's data starts (after that header).
    uint64_t localHeaderOffset = 0;
    uint64_t dataOffset = 0;

    [[nodiscard]] bool isDirectory() const;
};

// Fills entries in central directory order. False, with the reason logged, when the bytes are
// not a readable archive; entries is then empty.
[[nodiscard]] bool readDirectory(std::span<const uint8_t> archive, std::vector<DirEntry>& entries,
                                 LogBase& log);

} // namespace norvane::zip
