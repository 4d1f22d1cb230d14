#include "archive/ZipEntry.h"

#include "archive/ZlibCodec.h"

#include <algorithm>
#include <span>

namespace norvane {

ZipEntry::ZipEntry(uint64_t archiveId, std::string fileName, bool isDirectory)
    : archiveId_(archiveId), fileName_(std::move(fileName)), isDirectory_(isDirectory) {
    if (isDirectory_)
        method_ = zip::kMethodStored;
}

std::string ZipEntry::safeFileName() const {
    std::string_view name = fileName_;
    while (!name.empty() && (name.back() == '/' || name.back() == '\\'))
        name.remove_suffix(1);
    size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    std::string leaf;
    for (char c : name)
        leaf.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '_' : c);
    if (leaf.empty() || leaf == "." || leaf == "..")
        return "unnamed";
    return leaf;
}

bool ZipEntry::setCompressionMethod(int method) {
    if (method != zip::kMethodStored && method != zip::kMethodDeflated)
        return false;
    if (!isDirectory_)
        method_ = static_cast<uint16_t>(method);
    return true;
}

bool ZipEntry::setCompressionLevel(int level) {
    if (level < 0 || level > 9)
        return false;
    level_ = level;
    return true;
}

void ZipEntry::setStoredData(ZipStoredData stored) {
    stored_ = std::move(stored);
    if (!isDirectory_ &&
        (stored_.method == zip::kMethodStored || stored_.method == zip::kMethodDeflated))
        method_ = stored_.method;
    data_.clear();
}

uint64_t ZipEntry::uncompressedSize() const {
    return isFromArchive() ? stored_.declaredSize : data_.getSize();
}

bool ZipEntry::inflate(uint64_t maxOut, DataBuffer& out, LogBase& log) const {
    out.clear();
    if (!isFromArchive()) {
        out.assign(data_.span());
        return true;
    }
    if (stored_.flags & zip::kFlagEncrypted) {
        log.logError("Encrypted zip entries are not supported");
        log.logData("filename", fileName_);
        return false;
    }
    std::span<const uint8_t> raw(stored_.archive->data() + stored_.offset, stored_.compressedSize);
    std::vector<uint8_t> bytes;
    if (stored_.declaredSize > maxOut ||
        (stored_.method == zip::kMethodStored && raw.size() > maxOut)) {
        log.logError("Entry inflates past the size limit");
        log.logDataLong("size_limit", static_cast<long>(maxOut));
        log.logData("filename", fileName_);
        return false;
    }
    if (stored_.method == zip::kMethodStored) {
        bytes.assign(raw.begin(), raw.end());
    } else if (stored_.method == zip::kMethodDeflated) {
        // Nothing beyond the declared size can be a valid entry, so no more is ever inflated.
        if (!zlibcodec::inflateRaw(raw, stored_.declaredSize, bytes, log)) {
            log.logData("filename", fileName_);
            return false;
        }
    } else {
        log.logError("Unsupported compression method");
        log.logDataLong("method", stored_.method);
        log.logData("filename", fileName_);
        return false;
    }
    if (zlibcodec::crc32Of(bytes) != stored_.crc || bytes.size() != stored_.declaredSize) {
        log.logError("Zip entry is damaged: CRC or size does not match");
        log.logData("filename", fileName_);
        return false;
    }
    out.takeData(std::move(bytes));
    return true;
}

} // namespace norvane
