#include "archive/ZipHandle.h"

#include "archive/ZipRegistry.h"

namespace norvane {

ZipHandle::ZipHandle(std::shared_ptr<ZipRegistry> registry, uint64_t archiveId)
    : registry_(std::move(registry)), archiveId_(archiveId) {}

ZipHandle::~ZipHandle() = default;

std::unique_ptr<ZipHandle> ZipHandle::create() {
    auto registry = std::make_shared<ZipRegistry>();
    uint64_t id = registry->createArchive()->id();
    return std::unique_ptr<ZipHandle>(new ZipHandle(std::move(registry), id));
}

ZipArchive* ZipHandle::resolve() {
    return registry_->findArchive(archiveId_, hint_);
}

std::unique_ptr<ZipEntryHandle> ZipHandle::appendData(std::string_view name,
                                                      std::span<const uint8_t> data, LogBase& log) {
    ZipArchive* a = resolve();
    ZipEntry* e = a ? a->appendData(name, data, log) : nullptr;
    if (!e)
        return nullptr;
    return std::make_unique<ZipEntryHandle>(registry_, e->id(), registry_->numEntries() - 1);
}

bool ZipHandle::writeToMemory(DataBuffer& out, LogBase& log) {
    ZipArchive* a = resolve();
    if (!a) {
        out.clear();
        return false;
    }
    return a->writeToMemory(out, log);
}

bool ZipHandle::openFromMemory(std::span<const uint8_t> data, LogBase& log) {
    ZipArchive* a = resolve();
    return a && a->openFromMemory(data, log);
}

int ZipHandle::numEntries() {
    ZipArchive* a = resolve();
    return a ? static_cast<int>(a->numEntries()) : 0;
}

std::unique_ptr<ZipEntryHandle> ZipHandle::getEntryByIndex(int index) {
    ZipArchive* a = resolve();
    ZipEntry* e = (a && index >= 0) ? a->entryAt(static_cast<size_t>(index)) : nullptr;
    if (!e)
        return nullptr;
    return std::make_unique<ZipEntryHandle>(registry_, e->id(), static_cast<size_t>(index));
}

bool ZipHandle::setInflateBudget(uint64_t bytes) {
    ZipArchive* a = resolve();
    if (!a)
        return false;
    a->setInflateBudget(bytes);
    return true;
}

bool ZipHandle::setMaxEntrySize(uint64_t bytes) {
    ZipArchive* a = resolve();
    if (!a)
        return false;
    a->setMaxEntrySize(bytes);
    return true;
}

} // namespace norvane
