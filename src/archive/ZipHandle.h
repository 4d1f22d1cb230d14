#pragma once

// The way callers reach the archive engine: a zip handle names one archive, an entry handle
// one entry. Both hold identifiers resolved through the shared registry on every call, so a
// handle whose archive or entry has gone away (reopened, or its registry destroyed)
// does nothing and reports failure (false, 0 or null) instead of touching freed memory.
// Handles belong to whoever created them; they are plain objects, deleted by their owner.

#include "archive/ZipEntryHandle.h"
#include "common/DataBuffer.h"
#include "common/LogBase.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace norvane {

class ZipArchive;
class ZipRegistry;

class ZipHandle {
public:
    // A new empty archive in a new registry.
    [[nodiscard]] static std::unique_ptr<ZipHandle> create();
    ~ZipHandle();
    ZipHandle(const ZipHandle&) = delete;
    ZipHandle& operator=(const ZipHandle&) = delete;

    // Adds an entry with a copy of data under name; its handle, or null on failure.
    [[nodiscard]] std::unique_ptr<ZipEntryHandle>
    appendData(std::string_view name, std::span<const uint8_t> data, LogBase& log);
    // The whole archive as zip bytes, replacing out.
    [[nodiscard]] bool writeToMemory(DataBuffer& out, LogBase& log);
    // Replaces the archive's entries by those read from data; handles to the old entries stop
    // working. False (logged) when data is not a readable archive; the archive is then empty.
    [[nodiscard]] bool openFromMemory(std::span<const uint8_t> data, LogBase& log);
    [[nodiscard]] int numEntries();
    // Null when the index is out of range.
    [[nodiscard]] std::unique_ptr<ZipEntryHandle> getEntryByIndex(int index);
    // Total bytes that entries read from an archive may inflate to (see ZipArchive).
    [[nodiscard]] bool setInflateBudget(uint64_t bytes);
    // What one entry read from an archive may inflate to (see ZipArchive).
    [[nodiscard]] bool setMaxEntrySize(uint64_t bytes);

private:
    ZipHandle(std::shared_ptr<ZipRegistry> registry, uint64_t archiveId);
    ZipArchive* resolve();

    std::shared_ptr<ZipRegistry> registry_;
    uint64_t archiveId_;
    size_t hint_ = 0;
};

} // namespace norvane
