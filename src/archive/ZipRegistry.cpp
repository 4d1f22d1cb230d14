#include "archive/ZipRegistry.h"

#include <algorithm>

namespace norvane {

namespace {

template <typename T>
T* findById(const ExtPtrArray<T>& items, uint64_t id, size_t& hint) {
    T* at = items.elementAt(hint);
    if (at && at->id() == id)
        return at;
    for (size_t i = 0; i < items.getSize(); ++i)
        if (items.elementAt(i)->id() == id) {
            hint = i;
            return items.elementAt(i);
        }
    return nullptr;
}

} // namespace

ZipArchive* ZipRegistry::createArchive() {
    return archives_.appendObject(std::make_unique<ZipArchive>(*this, nextId_++));
}

ZipEntry* ZipRegistry::adoptEntry(std::unique_ptr<ZipEntry> entry) {
    entry->setId(nextId_++);
    return entries_.appendObject(std::move(entry));
}

void ZipRegistry::removeEntriesOf(uint64_t archiveId) {
    std::erase_if(entries_.items(),
                  [archiveId](const auto& e) { return e->archiveId() == archiveId; });
}

ZipArchive* ZipRegistry::findArchive(uint64_t id, size_t& hint) const {
    return findById(archives_, id, hint);
}

ZipEntry* ZipRegistry::findEntry(uint64_t id, size_t& hint) const {
    return findById(entries_, id, hint);
}

} // namespace norvane
