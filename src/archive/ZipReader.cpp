#include "archive/ZipReader.h"

#include <algorithm>

namespace norvane::zip {

namespace {

// Where the central directory is, as the end records tell it.
struct DirLocation {
    uint64_t entryCount = 0;
    uint64_t size = 0;
    uint64_t offset = 0;
    // Where the records that follow the central directory begin.
    uint64_t end = 0;
};

bool fail(LogBase& log, std::string_view what) {
    log.logError(what);
    return false;
}

// The end-of-central-directory record is found from the back, because an archive comment
// (up to 64 KiB) may follow it.
bool findEndOfDir(std::span<const uint8_t> b, size_t& at) {
    if (b.size() < kEndOfDirSize)
        return false;
    size_t lowest =
        b.size() - kEndOfDirSize > kMaxCommentSize ? b.size() - kEndOfDirSize - kMaxCommentSize : 0;
    for (size_t pos = b.size() - kEndOfDirSize + 1; pos-- > lowest;) {
        if (le32(b, pos) == kEndOfDirSig && pos + kEndOfDirSize + le16(b, pos + 20) <= b.size()) {
            at = pos;
            return true;
        }
    }
    return false;
}

bool readZip64End(std::span<const uint8_t> b, size_t eocd, DirLocation& loc, LogBase& log) {
    if (eocd < kZip64LocatorSize || le32(b, eocd - kZip64LocatorSize) != kZip64LocatorSig)
        return fail(log, "Zip archive is damaged: missing Zip64 end record");
    size_t locator = eocd - kZip64LocatorSize;
    uint64_t recordAt = le64(b, locator + 8);
    if (le32(b, locator + 4) != 0 || le32(b, locator + 16) > 1)
        return fail(log, "Multi-disk zip archives are not supported");
    // A prefix before the archive shifts the recorded offset; the record sits right before
    // the locator in any case.
    if (locator < kZip64EndOfDirSize)
        return fail(log, "Zip archive is damaged: bad Zip64 end record");
    size_t rec = recordAt <= locator - kZip64EndOfDirSize && le32(b, recordAt) == kZip64EndOfDirSig
                     ? static_cast<size_t>(recordAt)
                     : locator - kZip64EndOfDirSize;
    if (le32(b, rec) != kZip64EndOfDirSig)
        return fail(log, "Zip archive is damaged: bad Zip64 end record");
    if (le32(b, rec + 16) != 0 || le32(b, rec + 20) != 0)
        return fail(log, "Multi-disk zip archives are not supported");
    loc.entryCount = le64(b, rec + 32);
    loc.size = le64(b, rec + 40);
    loc.offset = le64(b, rec + 48);
    loc.end = rec;
    return true;
}

bool readEndRecords(std::span<const uint8_t> b, DirLocation& loc, LogBase& log) {
    size_t eocd = 0;
    if (!findEndOfDir(b, eocd))
        return fail(log, "Not a zip archive: no end of central directory record");
    uint16_t disk = le16(b, eocd + 4);
    uint16_t dirDisk = le16(b, eocd + 6);
    loc.entryCount = le16(b, eocd + 10);
    loc.size = le32(b, eocd + 12);
    loc.offset = le32(b, eocd + 16);
    loc.end = eocd;
    // Some writers add Zip64 records without needing them (streaming writers that cannot know
    // sizes in advance); when present, they and not the 32-bit fields locate the directory.
    bool hasLocator =
        eocd >= kZip64LocatorSize && le32(b, eocd - kZip64LocatorSize) == kZip64LocatorSig;
    if (hasLocator || loc.entryCount == 0xFFFF || loc.size == 0xFFFFFFFF ||
        loc.offset == 0xFFFFFFFF)
        return readZip64End(b, eocd, loc, log);
    if ((disk != 0 && disk != 0xFFFF) || (dirDisk != 0 && dirDisk != 0xFFFF) ||
        le16(b, eocd + 8) != loc.entryCount)
        return fail(log, "Multi-disk zip archives are not supported");
    return true;
}

// Reads the Zip64 extended-information field: it holds, in this order, each of the sizes and
// the offset whose 32-bit field in the central header is 0xFFFFFFFF.
bool applyZip64Extra(std::span<const uint8_t> extra, DirEntry& e, LogBase& log) {
    size_t p = 0;
    while (p + 4 <= extra.size()) {
        uint16_t id = le16(extra, p);
        size_t len = le16(extra, p + 2);
        if (p + 4 + len > extra.size())
            break;
        if (id == kExtraZip64) {
            std::span<const uint8_t> f = extra.subspan(p + 4, len);
            size_t q = 0;
            for (uint64_t* v : {&e.uncompressedSize, &e.compressedSize, &e.localHeaderOffset}) {
                if (*v != 0xFFFFFFFF)
                    continue;
                if (q + 8 > f.size())
                    return fail(log, "Zip archive is damaged: short Zip64 extra field");
                *v = le64(f, q);
                q += 8;
            }
            return true;
        }
        p += 4 + len;
    }
    if (e.uncompressedSize == 0xFFFFFFFF || e.compressedSize == 0xFFFFFFFF ||
        e.localHeaderOffset == 0xFFFFFFFF)
        return fail(log, "Zip archive is damaged: missing Zip64 extra field");
    return true;
}

bool readCentralHeader(std::span<const uint8_t> dir, size_t& p, DirEntry& e, LogBase& log) {
    if (p + kCentralHeaderSize > dir.size() || le32(dir, p) != kCentralHeaderSig)
        return fail(log, "Zip archive is damaged: bad central directory entry");
    size_t nameLen = le16(dir, p + 28);
    size_t extraLen = le16(dir, p + 30);
    size_t commentLen = le16(dir, p + 32);
    size_t total = kCentralHeaderSize + nameLen + extraLen + commentLen;
    if (p + total > dir.size())
        return fail(log, "Zip archive is damaged: central directory entry overruns the directory");
    e.versionMadeBy = le16(dir, p + 4);
    e.flags = le16(dir, p + 8);
    e.method = le16(dir, p + 10);
    e.time.time = le16(dir, p + 12);
    e.time.date = le16(dir, p + 14);
    e.crc = le32(dir, p + 16);
    e.compressedSize = le32(dir, p + 20);
    e.uncompressedSize = le32(dir, p + 24);
    if (le16(dir, p + 34) != 0 && le16(dir, p + 34) != 0xFFFF)
        return fail(log, "Multi-disk zip archives are not supported");
    e.externalAttr = le32(dir, p + 38);
    e.localHeaderOffset = le32(dir, p + 42);
    const auto* name = reinterpret_cast<const char*>(dir.data() + p + kCentralHeaderSize);
    e.name.assign(name, nameLen);
    if (!applyZip64Extra(dir.subspan(p + kCentralHeaderSize + nameLen, extraLen), e, log))
        return false;
    p += total;
    return true;
}

// Finds the entry's data behind its local header; the local header's own name and extra
// lengths count, as they may differ from the central directory's.
bool locateData(std::span<const uint8_t> b, uint64_t prefix, uint64_t dirStart, DirEntry& e,
                LogBase& log) {
    uint64_t at = e.localHeaderOffset + prefix;
    if (at < e.localHeaderOffset || at > dirStart || dirStart - at < kLocalHeaderSize ||
        le32(b, static_cast<size_t>(at)) != kLocalHeaderSig) {
        log.logData("filename", e.name);
        return fail(log, "Zip archive is damaged: bad local header");
    }
    uint64_t data = at + kLocalHeaderSize + le16(b, at + 26) + le16(b, at + 28);
    if (data > dirStart || dirStart - data < e.compressedSize) {
        log.logData("filename", e.name);
        return fail(log, "Zip archive is damaged: entry data overruns the archive");
    }
    e.localHeaderOffset = at;
    e.dataOffset = data;
    return true;
}

bool checkNoOverlap(std::vector<DirEntry>& entries, LogBase& log) {
    std::vector<const DirEntry*> byOffset;
    byOffset.reserve(entries.size());
    for (const auto& e : entries)
        byOffset.push_back(&e);
    std::sort(byOffset.begin(), byOffset.end(), [](const DirEntry* a, const DirEntry* b) {
        return a->localHeaderOffset < b->localHeaderOffset;
    });
    for (size_t i = 1; i < byOffset.size(); ++i) {
        const DirEntry* prev = byOffset[i - 1];
        if (prev->dataOffset + prev->compressedSize > byOffset[i]->localHeaderOffset) {
            log.logData("filename", byOffset[i]->name);
            return fail(log, "Zip archive is damaged: entries overlap");
        }
    }
    return true;
}

bool readEntries(std::span<const uint8_t> archive, std::vector<DirEntry>& entries, LogBase& log) {
    DirLocation loc;
    if (!readEndRecords(archive, loc, log))
        return false;
    if (loc.size > loc.end || loc.end - loc.size < loc.offset)
        return fail(log, "Zip archive is damaged: bad central directory location");
    uint64_t dirStart = loc.end - loc.size;
    uint64_t prefix = dirStart - loc.offset;
    std::span<const uint8_t> dir = archive.subspan(dirStart, loc.size);
    size_t p = 0;
    for (uint64_t i = 0; i < loc.entryCount; ++i) {
        DirEntry e;
        if (!readCentralHeader(dir, p, e, log) || !locateData(archive, prefix, dirStart, e, log))
            return false;
        entries.push_back(std::move(e));
    }
    return checkNoOverlap(entries, log);
}

} // namespace

bool DirEntry::isDirectory() const {
    if (name.ends_with('/') || name.ends_with('\\'))
        return true;
    // Only archives made on MS-DOS-like systems (and Unix ones, which keep the DOS bits in the
    // low byte) mark directories in the attributes.
    unsigned host = versionMadeBy >> 8;
    return (host == 0 || host == 3 || host == 10 || host == 14) && uncompressedSize == 0 &&
           (externalAttr & kDosDirectoryAttr) != 0;
}

bool readDirectory(std::span<const uint8_t> archive, std::vector<DirEntry>& entries, LogBase& log) {
    entries.clear();
    if (readEntries(archive, entries, log))
        return true;
    entries.clear();
    return false;
}

} // namespace norvane::zip
