#pragma once

#include "archive/ZipFormat.h"
#include "common/DataBuffer.h"
#include "common/LogBase.h"

#include <cstdint>
#include <memory>
#include <string>

namespace norvane {

class ZipArchive;
class ZipEntry;
class ZipRegistry;

// A handle to one entry of an archive, made by ZipHandle. It only watches the registry: once
// the entry, its archive or the registry has gone, every call fails softly.
class ZipEntryHandle {
public:
    ZipEntryHandle(std::weak_ptr<ZipRegistry> registry, uint64_t entryId, size_t hint);

    // 8 (deflate) or 0 (stored); false for other methods.
    [[nodiscard]] bool setCompressionMethod(int method);
    // 0-9; false outside.
    [[nodiscard]] bool setCompressionLevel(int level);
    // The name as stored in the archive (may contain directory parts).
    [[nodiscard]] bool getFileName(std::string& out);
    // The last component of the name, never "..", "." or empty: what an attachment made from
    // this entry is called.
    [[nodiscard]] bool getSafeFileName(std::string& out);
    [[nodiscard]] bool isDirectory();
    // Uncompressed size as known without inflating (declared by the archive for read entries).
    [[nodiscard]] uint64_t uncompressedSize();
    // Time stamp written for the entry.
    [[nodiscard]] bool setDosTime(zip::DosTime t);
    // The uncompressed bytes (replacing out). False, with the reason logged, for damaged
    // entries, unsupported methods and entries that would inflate past the archive's budget.
    [[nodiscard]] bool inflate(DataBuffer& out, LogBase& log);

private:
    // The entry and (optionally) its archive, or null; keeps the registry alive meanwhile.
    ZipEntry* resolve(std::shared_ptr<ZipRegistry>& keep, ZipArchive** archive = nullptr);

    std::weak_ptr<ZipRegistry> registry_;
    uint64_t entryId_;
    size_t hint_;
    size_t archiveHint_ = 0;
};

} // namespace norvane
