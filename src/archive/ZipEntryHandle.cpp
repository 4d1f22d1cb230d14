#include "archive/ZipEntryHandle.h"

#include "archive/ZipRegistry.h"

namespace norvane {

ZipEntryHandle::ZipEntryHandle(std::weak_ptr<ZipRegistry> registry, uint64_t entryId, size_t hint)
    : registry_(std::move(registry)), entryId_(entryId), hint_(hint) {}

ZipEntry* ZipEntryHandle::resolve(std::shared_ptr<ZipRegistry>& keep, ZipArchive** archive) {
    keep = registry_.lock();
    if (!keep)
        return nullptr;
    ZipEntry* entry = keep->findEntry(entryId_, hint_);
    if (entry && archive) {
        *archive = keep->findArchive(entry->archiveId(), archiveHint_);
        if (!*archive)
            return nullptr;
    }
    return entry;
}

bool ZipEntryHandle::setCompressionMethod(int method) {
    std::shared_ptr<ZipRegistry> keep;
    ZipEntry* e = resolve(keep);
    return e && e->setCompressionMethod(method);
}

bool ZipEntryHandle::setCompressionLevel(int level) {
    std::shared_ptr<ZipRegistry> keep;
    ZipEntry* e = resolve(keep);
    return e && e->setCompressionLevel(level);
}

bool ZipEntryHandle::getFileName(std::string& out) {
    std::shared_ptr<ZipRegistry> keep;
    ZipEntry* e = resolve(keep);
    if (!e)
        return false;
    out = e->fileName();
    return true;
}

bool ZipEntryHandle::getSafeFileName(std::string& out) {
    std::shared_ptr<ZipRegistry> keep;
    ZipEntry* e = resolve(keep);
    if (!e)
        return false;
    out = e->safeFileName();
    return true;
}

bool ZipEntryHandle::isDirectory() {
    std::shared_ptr<ZipRegistry> keep;
    ZipEntry* e = resolve(keep);
    return e && e->isDirectory();
}

uint64_t ZipEntryHandle::uncompressedSize() {
    std::shared_ptr<ZipRegistry> keep;
    ZipEntry* e = resolve(keep);
    return e ? e->uncompressedSize() : 0;
}

bool ZipEntryHandle::setDosTime(zip::DosTime t) {
    std::shared_ptr<ZipRegistry> keep;
    ZipEntry* e = resolve(keep);
    if (!e)
        return false;
    e->setDosTime(t);
    return true;
}

bool ZipEntryHandle::inflate(DataBuffer& out, LogBase& log) {
    out.clear();
    std::shared_ptr<ZipRegistry> keep;
    ZipArchive* archive = nullptr;
    ZipEntry* e = resolve(keep, &archive);
    if (!e) {
        log.logError("Zip entry no longer exists");
        return false;
    }
    return archive->inflateEntry(*e, out, log);
}

} // namespace norvane
