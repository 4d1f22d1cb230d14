#pragma once

#include "archive/ZipEntry.h"
#include "common/DataBuffer.h"
#include "common/LogBase.h"
#include "common/NorvaneObject.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace norvane {

class ZipRegistry;

// One archive in memory: an ordered list of entries (owned by the registry) that is either
// built by the caller or read from a buffer, and written out as a zip file.
//
// Inflating entries read from an archive is bounded by absolute limits, never by how well the
// data compressed (text routinely shrinks more than 100 times): each entry must inflate to
// exactly the size it declares, no entry to more than the entry limit, and all entries of the
// archive together to no more than the budget. A zip bomb stops at those limits whatever it
// declares. Both default to 1 GiB.
class ZipArchive : public NorvaneObject {
public:
    static constexpr uint64_t kDefaultMaxEntrySize = uint64_t{1} << 30;
    static constexpr uint64_t kDefaultInflateBudget = uint64_t{1} << 30;

    ZipArchive(ZipRegistry& registry, uint64_t id);

    [[nodiscard]] uint64_t id() const { return id_; }

    // Adds an entry holding a copy of data. A name ending in '/' makes a directory entry,
    // which cannot hold data. Null (and a log entry) on failure.
    ZipEntry* appendData(std::string_view name, std::span<const uint8_t> data, LogBase& log);
    // The whole archive as zip bytes (replacing out).
    [[nodiscard]] bool writeToMemory(DataBuffer& out, LogBase& log);
    // Replaces the entries by those of the archive in bytes (which are copied). On failure the
    // archive is left empty.
    [[nodiscard]] bool openFromMemory(std::span<const uint8_t> bytes, LogBase& log);
    // Removes every entry.
    void clear();

    [[nodiscard]] size_t numEntries() const { return entries_.size(); }
    // Null when i is out of range.
    [[nodiscard]] ZipEntry* entryAt(size_t i) const {
        return i < entries_.size() ? entries_[i] : nullptr;
    }

    // The entry's uncompressed bytes, charged against the inflation budget (once per entry).
    [[nodiscard]] bool inflateEntry(ZipEntry& entry, DataBuffer& out, LogBase& log);
    // What all entries together may inflate to; kept when another archive is opened.
    void setInflateBudget(uint64_t bytes) { budget_ = bytes; }
    [[nodiscard]] uint64_t inflateBudget() const { return budget_; }
    // What one entry may inflate to.
    void setMaxEntrySize(uint64_t bytes) { maxEntrySize_ = bytes; }

private:
    ZipRegistry& registry_;
    uint64_t id_;
    // Not owned: the registry owns entries, and this archive is the only one that removes its
    // own, so these pointers never outlive what they point to.
    std::vector<ZipEntry*> entries_;
    uint64_t budget_ = kDefaultInflateBudget;
    uint64_t maxEntrySize_ = kDefaultMaxEntrySize;
    uint64_t spent_ = 0;
};

} // namespace norvane
