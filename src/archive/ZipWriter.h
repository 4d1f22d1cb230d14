#pragma once

// Writes a complete zip archive from entries: local header and data per entry, the central
// directory, the end record. Names are written as given, flagged as UTF-8 when they are
// non-ASCII UTF-8. Archives that would need Zip64 (4 GiB or 65535 entries) are refused.

#include "archive/ZipEntry.h"
#include "common/DataBuffer.h"
#include "common/LogBase.h"

#include <functional>
#include <vector>

namespace norvane::zip {

// Produces an entry's uncompressed bytes; false (logged) when it cannot.
using PlainSource = std::function<bool(ZipEntry&, DataBuffer&, LogBase&)>;

// The archive replaces out; on failure out is empty.
[[nodiscard]] bool writeArchive(const std::vector<ZipEntry*>& entries, const PlainSource& source,
                                DataBuffer& out, LogBase& log);

} // namespace norvane::zip
