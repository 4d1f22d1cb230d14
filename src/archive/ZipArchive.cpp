#include "archive/ZipArchive.h"

#include "archive/ZipReader.h"
#include "archive/ZipRegistry.h"
#include "archive/ZipWriter.h"
#include "common/Platform.h"

#include <algorithm>

namespace norvane {

ZipArchive::ZipArchive(ZipRegistry& registry, uint64_t id) : registry_(registry), id_(id) {}

ZipEntry* ZipArchive::appendData(std::string_view name, std::span<const uint8_t> data,
                                 LogBase& log) {
    LogContext ctx(log, "AppendData");
    if (name.empty() || name.size() > 0xFFFF) {
        log.logError("Invalid zip entry name");
        log.logDataLong("name_length", static_cast<long>(name.size()));
        return nullptr;
    }
    bool directory = name.ends_with('/');
    if (directory && !data.empty()) {
        log.logError("A directory entry cannot hold data");
        log.logData("filename", name);
        return nullptr;
    }
    auto entry = std::make_unique<ZipEntry>(id_, std::string(name), directory);
    entry->setData(DataBuffer(data));
    entry->setDosTime(zip::toDosTime(platform::localTime(platform::nowUtc())));
    ZipEntry* added = registry_.adoptEntry(std::move(entry));
    entries_.push_back(added);
    return added;
}

bool ZipArchive::writeToMemory(DataBuffer& out, LogBase& log) {
    // Entries read from an archive are inflated (against the budget) and compressed anew, so
    // that a damaged entry is caught here rather than copied into the new archive.
    auto source = [this](ZipEntry& e, DataBuffer& scratch, std::span<const uint8_t>& plain,
                         LogBase& l) {
        if (!e.isFromArchive()) {
            plain = e.data().span();
            return true;
        }
        if (!inflateEntry(e, scratch, l))
            return false;
        plain = scratch.span();
        return true;
    };
    return zip::writeArchive(entries_, source, out, log);
}

void ZipArchive::clear() {
    registry_.removeEntriesOf(id_);
    entries_.clear();
    spent_ = 0;
}

bool ZipArchive::openFromMemory(std::span<const uint8_t> bytes, LogBase& log) {
    clear();
    std::vector<zip::DirEntry> dir;
    if (!zip::readDirectory(bytes, dir, log))
        return false;
    auto copy = std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end());
    for (zip::DirEntry& d : dir) {
        auto entry = std::make_unique<ZipEntry>(id_, std::move(d.name), d.isDirectory());
        entry->setDosTime(d.time);
        entry->setStoredData(ZipStoredData{copy, static_cast<size_t>(d.dataOffset),
                                           static_cast<size_t>(d.compressedSize),
                                           d.uncompressedSize, d.crc, d.method, d.flags});
        entries_.push_back(registry_.adoptEntry(std::move(entry)));
    }
    return true;
}

bool ZipArchive::inflateEntry(ZipEntry& entry, DataBuffer& out, LogBase& log) {
    uint64_t spentByOthers = spent_ - entry.inflatedCharge();
    uint64_t allowance = budget_ > spentByOthers ? budget_ - spentByOthers : 0;
    allowance = std::min(allowance, maxEntrySize_);
    if (!entry.inflate(allowance, out, log))
        return false;
    if (entry.isFromArchive()) {
        spent_ = spentByOthers + out.getSize();
        entry.setInflatedCharge(out.getSize());
    }
    return true;
}

} // namespace norvane
