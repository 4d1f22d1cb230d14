#pragma once

#include "archive/ZipFormat.h"
#include "common/DataBuffer.h"
#include "common/LogBase.h"
#include "common/NorvaneObject.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace norvane {

class ZipArchive;

// Where an entry read from an archive keeps its bytes: a range of the archive's own copy of
// the file (shared by all its entries, so that entries pointing at the same bytes cost nothing
// extra) plus what the central directory claims about it.
struct ZipStoredData {
    std::shared_ptr<const std::vector<uint8_t>> archive;
    size_t offset = 0;
    size_t compressedSize = 0;
    uint64_t declaredSize = 0;
    uint32_t crc = 0;
    uint16_t method = zip::kMethodStored;
    uint16_t flags = 0;
};

// One file or directory of an archive: either added by the caller (uncompressed bytes) or read
// from an archive (compressed bytes). The registry owns entries; the archive lists its own.
class ZipEntry : public NorvaneObject {
public:
    ZipEntry(uint64_t archiveId, std::string fileName, bool isDirectory);

    [[nodiscard]] uint64_t id() const { return id_; }
    void setId(uint64_t id) { id_ = id; }
    [[nodiscard]] uint64_t archiveId() const { return archiveId_; }

    // The name as the archive holds it (a path with '/' separators, possibly not UTF-8).
    [[nodiscard]] const std::string& fileName() const { return fileName_; }
    // The last component of the name, made safe to use as an attachment or file name: no
    // directory parts, no "." or "..", no control bytes. Never empty.
    [[nodiscard]] std::string safeFileName() const;
    [[nodiscard]] bool isDirectory() const { return isDirectory_; }

    // Method (0 stored, 8 deflate) and level (0-9) used when the archive is written; an entry
    // read from an archive starts with the method it was stored with.
    [[nodiscard]] bool setCompressionMethod(int method);
    [[nodiscard]] bool setCompressionLevel(int level);
    [[nodiscard]] uint16_t compressionMethod() const { return method_; }
    [[nodiscard]] int compressionLevel() const { return level_; }

    void setDosTime(zip::DosTime t) { dosTime_ = t; }
    [[nodiscard]] zip::DosTime dosTime() const { return dosTime_; }

    void setData(DataBuffer&& data) { data_ = std::move(data); }
    // The bytes the caller added (empty for an entry read from an archive).
    [[nodiscard]] const DataBuffer& data() const { return data_; }
    void setStoredData(ZipStoredData stored);
    [[nodiscard]] bool isFromArchive() const { return stored_.archive != nullptr; }
    [[nodiscard]] const ZipStoredData& storedData() const { return stored_; }
    // The uncompressed size as far as it is known without inflating (declared for read entries).
    [[nodiscard]] uint64_t uncompressedSize() const;

    // The uncompressed bytes into out. An entry read from an archive must inflate to exactly its
    // declared size with the declared CRC-32, and is refused without inflating when it declares
    // more than maxOut; false (and a log entry) otherwise.
    [[nodiscard]] bool inflate(uint64_t maxOut, DataBuffer& out, LogBase& log) const;

    // What this entry has counted against its archive's inflation budget so far.
    [[nodiscard]] uint64_t inflatedCharge() const { return charge_; }
    void setInflatedCharge(uint64_t bytes) { charge_ = bytes; }

private:
    uint64_t id_ = 0;
    uint64_t archiveId_;
    std::string fileName_;
    bool isDirectory_;
    uint16_t method_ = zip::kMethodDeflated;
    int level_ = 6;
    zip::DosTime dosTime_;
    DataBuffer data_;
    ZipStoredData stored_;
    uint64_t charge_ = 0;
};

} // namespace norvane
