#pragma once

// Writes a complete zip archive from entries: local header and data per entry, the central
// directory, the end record. Names are written as given, flagged as UTF-8 when they are
// non-ASCII UTF-8. Archives that would need Zip64 (4 GiB or 65535 entries) are refused.

#include "archive/ZipEntry.h"
#include "common/DataBuffer.h"
#include "common/LogBase.h"

#include <functional>
#include <span>
#include <vector>

namespace norvane::zip {

// Points plain at an entry's uncompressed bytes: at the entry's own data where it has them,
// else at scratch after inflating into it. False (logged) when it cannot.
using PlainSource =
    std::function<bool(ZipEntry&, DataBuffer& scratch, std::span<const uint8_t>& plain, LogBase&)>;

// The archive replaces out; on failure out is empty.
[[nodiscard]] bool writeArchive(const std::vector<ZipEntry*>& entries, const PlainSource& source,
                                DataBuffer& out, LogBase& log);

} // namespace norvane::zip
