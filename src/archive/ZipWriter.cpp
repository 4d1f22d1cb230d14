#include "archive/ZipWriter.h"

#include "archive/ZlibCodec.h"

#include <algorithm>

namespace norvane::zip {

namespace {

// Made by "Unix" so that extracting tools apply the permission bits below.
constexpr uint16_t kVersionMadeBy = (3 << 8) | 20;
constexpr uint32_t kFileAttrs = 0100644u << 16;
constexpr uint32_t kDirAttrs = (040755u << 16) | kDosDirectoryAttr;
constexpr uint64_t kMax32 = 0xFFFFFFFE;

// What the central directory needs to repeat about an entry once its data is written.
struct Written {
    const ZipEntry* entry;
    uint16_t method;
    uint16_t flags;
    uint32_t crc;
    uint32_t compressedSize;
    uint32_t size;
    uint32_t offset;
};

uint16_t versionNeeded(uint16_t method) {
    return method == kMethodDeflated ? 20 : 10;
}

void putCommonFields(std::vector<uint8_t>& out, const Written& w) {
    putLe16(out, versionNeeded(w.method));
    putLe16(out, w.flags);
    putLe16(out, w.method);
    putLe16(out, w.entry->dosTime().time);
    putLe16(out, w.entry->dosTime().date);
    putLe32(out, w.crc);
    putLe32(out, w.compressedSize);
    putLe32(out, w.size);
    putLe16(out, static_cast<uint16_t>(w.entry->fileName().size()));
    putLe16(out, 0);
}

void putName(std::vector<uint8_t>& out, const ZipEntry& e) {
    out.insert(out.end(), e.fileName().begin(), e.fileName().end());
}

bool tooLarge(LogBase& log, const ZipEntry& e) {
    log.logError("Zip archive too large: entries of 4 GiB and more are not supported");
    log.logData("filename", e.fileName());
    return false;
}

// The 32-bit field at pos, written after the data whose size and CRC it records.
void setLe32(std::vector<uint8_t>& out, size_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[pos + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

bool writeEntry(ZipEntry& e, const PlainSource& source, std::vector<uint8_t>& out,
                std::vector<Written>& written, LogBase& log) {
    if (e.fileName().empty() || e.fileName().size() > 0xFFFF) {
        log.logError("Invalid zip entry name length");
        return false;
    }
    DataBuffer scratch;
    std::span<const uint8_t> plain;
    if (!source(e, scratch, plain, log))
        return false;
    Written w{&e, e.compressionMethod(), 0, zlibcodec::crc32Of(plain), 0, 0, 0};
    bool ascii = true;
    for (unsigned char c : e.fileName())
        ascii = ascii && c < 0x80;
    if (!ascii && isUtf8(e.fileName()))
        w.flags |= kFlagUtf8Name;
    if (plain.size() > kMax32 || out.size() > kMax32)
        return tooLarge(log, e);
    w.size = static_cast<uint32_t>(plain.size());
    w.offset = static_cast<uint32_t>(out.size());
    putLe32(out, kLocalHeaderSig);
    putCommonFields(out, w);
    putName(out, e);
    // The data goes straight behind its header; the compressed size is filled in afterwards.
    const size_t dataStart = out.size();
    if (w.method == kMethodDeflated) {
        if (!zlibcodec::deflateRawAppend(plain, e.compressionLevel(), out, log))
            return false;
    } else {
        out.insert(out.end(), plain.begin(), plain.end());
    }
    if (out.size() - dataStart > kMax32)
        return tooLarge(log, e);
    w.compressedSize = static_cast<uint32_t>(out.size() - dataStart);
    setLe32(out, w.offset + 18, w.compressedSize);
    written.push_back(w);
    return true;
}

// Room for the whole archive, reserved once: entries the size of an attachment are then
// written in place instead of being copied into an ever larger buffer. Only what is written
// occupies memory.
size_t roughArchiveBound(const std::vector<ZipEntry*>& entries) {
    uint64_t total = kEndOfDirSize;
    for (const ZipEntry* e : entries) {
        // What an entry read from an archive inflates to is not known (its declared size may
        // be a lie); the room grows for it as needed.
        const uint64_t n =
            e->isFromArchive() ? e->storedData().compressedSize : e->uncompressedSize();
        total +=
            kLocalHeaderSize + kCentralHeaderSize + 2 * e->fileName().size() + n + n / 1000 + 64;
    }
    return static_cast<size_t>(std::min<uint64_t>(total, uint64_t{1} << 33));
}

void writeCentralDirectory(const std::vector<Written>& written, std::vector<uint8_t>& out) {
    for (const Written& w : written) {
        putLe32(out, kCentralHeaderSig);
        putLe16(out, kVersionMadeBy);
        putCommonFields(out, w);
        putLe16(out, 0); // comment length
        putLe16(out, 0); // disk number
        putLe16(out, 0); // internal attributes
        putLe32(out, w.entry->isDirectory() ? kDirAttrs : kFileAttrs);
        putLe32(out, w.offset);
        putName(out, *w.entry);
    }
}

} // namespace

bool writeArchive(const std::vector<ZipEntry*>& entries, const PlainSource& source, DataBuffer& out,
                  LogBase& log) {
    out.clear();
    if (entries.size() >= 0xFFFF) {
        log.logError("Zip archive too large: too many entries");
        log.logDataLong("num_entries", static_cast<long>(entries.size()));
        return false;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(roughArchiveBound(entries));
    std::vector<Written> written;
    written.reserve(entries.size());
    for (ZipEntry* e : entries)
        if (!writeEntry(*e, source, bytes, written, log))
            return false;
    size_t dirStart = bytes.size();
    writeCentralDirectory(written, bytes);
    size_t dirSize = bytes.size() - dirStart;
    if (dirStart > kMax32 || dirSize > kMax32) {
        log.logError("Zip archive too large: archives of 4 GiB and more are not supported");
        return false;
    }
    putLe32(bytes, kEndOfDirSig);
    putLe16(bytes, 0);
    putLe16(bytes, 0);
    putLe16(bytes, static_cast<uint16_t>(written.size()));
    putLe16(bytes, static_cast<uint16_t>(written.size()));
    putLe32(bytes, static_cast<uint32_t>(dirSize));
    putLe32(bytes, static_cast<uint32_t>(dirStart));
    putLe16(bytes, 0);
    // Well-compressed entries leave most of the reserved room unused; it is given back.
    if (bytes.size() < bytes.capacity() / 2)
        bytes.shrink_to_fit();
    out.takeData(std::move(bytes));
    return true;
}

} // namespace norvane::zip
