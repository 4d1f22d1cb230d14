#pragma once

#include "archive/ZipArchive.h"
#include "archive/ZipEntry.h"
#include "common/ExtPtrArray.h"

#include <cstdint>
#include <memory>

namespace norvane {

// The live archives and entries behind the zip and entry handles. Handles hold identifiers,
// never pointers, and resolve them here on every call, so a handle to an archive or entry that
// has gone away fails softly. Identifiers are never reused within one registry.
//
// Zip handles share the registry through std::shared_ptr (it goes with the last of them);
// entry handles only watch it.
class ZipRegistry {
public:
    ZipRegistry() = default;
    ZipRegistry(const ZipRegistry&) = delete;
    ZipRegistry& operator=(const ZipRegistry&) = delete;

    // A new, empty archive owned by the registry.
    ZipArchive* createArchive();

    // Takes ownership and gives the entry its identifier.
    ZipEntry* adoptEntry(std::unique_ptr<ZipEntry> entry);
    void removeEntriesOf(uint64_t archiveId);

    // Look at index `hint` first; on a miss search from the start and, on a hit, update hint.
    // Null when there is no object with the identifier.
    [[nodiscard]] ZipArchive* findArchive(uint64_t id, size_t& hint) const;
    [[nodiscard]] ZipEntry* findEntry(uint64_t id, size_t& hint) const;

    [[nodiscard]] size_t numArchives() const { return archives_.getSize(); }
    [[nodiscard]] size_t numEntries() const { return entries_.getSize(); }

private:
    ExtPtrArray<ZipArchive> archives_;
    ExtPtrArray<ZipEntry> entries_;
    uint64_t nextId_ = 1;
};

} // namespace norvane
