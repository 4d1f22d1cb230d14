#include "archive/AttachmentArchive.h"

#include "archive/ZipArchive.h"
#include "archive/ZipHandle.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace norvane::attachment_archive {

namespace {

bool isZipName(std::string_view fileName) {
    std::string name = sb::lowerAscii(fileName);
    sb::trim(name);
    const size_t dot = name.rfind('.');
    return name.ends_with(".zip") && dot != std::string::npos && name.substr(dot) == ".zip";
}

// Adds each attachment as an entry; false when one of them could not be added.
bool addEntries(const Email2& email, ZipHandle& zip, LogBase& log) {
    bool ok = true;
    for (const Email2* att : email.attachments()) {
        const std::string name = att->attachmentFilename();
        std::unique_ptr<ZipEntryHandle> entry = zip.appendData(name, att->body().span(), log);
        if (entry && entry->setCompressionMethod(8) && entry->setCompressionLevel(6)) {
            log.logData("added_file", name);
        } else {
            log.logError("Failed to add file to Zip archive");
            log.logData("failed_filename", name);
            ok = false;
        }
    }
    return ok;
}

// Inflates the files of one archive into new attachment parts, appended to parts only when
// every entry could be read. remaining is what the e-mail may still unpack; it is reduced by
// what this archive produced.
bool unpackArchive(ZipHandle& zip, std::span<const uint8_t> bytes, const UnzipLimits& limits,
                   uint64_t& remaining, std::vector<std::unique_ptr<Email2>>& parts, LogBase& log) {
    if (!zip.openFromMemory(bytes, log))
        return false;
    (void)zip.setInflateBudget(remaining);
    (void)zip.setMaxEntrySize(limits.maxEntrySize);
    std::vector<std::unique_ptr<Email2>> mine;
    uint64_t produced = 0;
    for (int i = 0; i < zip.numEntries(); ++i) {
        std::unique_ptr<ZipEntryHandle> entry = zip.getEntryByIndex(i);
        if (!entry || entry->isDirectory())
            continue;
        std::string name;
        (void)entry->getSafeFileName(name);
        DataBuffer data;
        if (!entry->inflate(data, log)) {
            log.logError("Failed to unzip entry");
            log.logData("filename", name);
            return false;
        }
        produced += data.getSize();
        if (!data.isEmpty())
            mine.push_back(Email2::makeAttachmentPart(name, std::move(data), ""));
    }
    remaining -= std::min(remaining, produced);
    for (auto& part : mine)
        parts.push_back(std::move(part));
    return true;
}

} // namespace

bool zipAttachments(Email2* email, std::string_view zipFilename, LogBase& log) {
    LogContext ctx(log, "ZipAttachments");
    if (!email) {
        log.logError("Internal email pointer is NULL");
        return false;
    }
    const int count = email->numAttachments();
    if (count == 0)
        return true;
    log.logData("ZipFilename", zipFilename);
    log.logDataLong("NumAttachments", count);
    std::string archiveName(sb::trimView(zipFilename));
    if (archiveName.empty())
        archiveName = "attach.zip";
    DataBuffer bytes;
    {
        std::unique_ptr<ZipHandle> zip = ZipHandle::create();
        if (!zip) {
            log.logError("Failed to zip attachments...");
            return false;
        }
        // An attachment left out of the archive would be lost with the others dropped below.
        if (!addEntries(*email, *zip, log))
            return false;
        // Written before the attachments go, so that a failure loses nothing.
        if (!zip->writeToMemory(bytes, log)) {
            log.logError("Failed to write Zip to memory");
            return false;
        }
    }
    email->dropAllAttachments();
    if (email->addDataAttachment(archiveName, std::move(bytes), "").empty()) {
        log.logError("Failed to set Zip as an attachment");
        return false;
    }
    return true;
}

bool unzipAttachments(Email2& email, LogBase& log, const UnzipLimits& limits) {
    LogContext ctx(log, "UnzipAttachments");
    bool success = true;
    const std::vector<Email2*> existing = email.attachments();
    if (existing.empty())
        return true;
    // Positions, among the attachments, of the archives that were unpacked.
    std::vector<int> unpackedArchives;
    std::vector<std::unique_ptr<Email2>> unpacked;
    {
        std::unique_ptr<ZipHandle> zip = ZipHandle::create();
        uint64_t remaining = limits.maxTotal;
        for (size_t i = 0; i < existing.size(); ++i) {
            const Email2* att = existing[i];
            if (!isZipName(att->attachmentFilename()))
                continue;
            if (unpackArchive(*zip, att->body().span(), limits, remaining, unpacked, log)) {
                unpackedArchives.push_back(static_cast<int>(i));
            } else {
                log.logError("The archive stays attached");
                log.logData("filename", att->attachmentFilename());
                success = false;
            }
        }
    }
    for (auto& part : unpacked)
        (void)email.addAttachmentPart(std::move(part));

    // Only the archives unpacked above go: a zip file unpacked from one of them is an attachment
    // in its own right, and one that could not be unpacked is kept. Unpacked files come after
    // every earlier attachment, so the archives are still where they were; the last goes first
    // so that the earlier positions stay right.
    for (auto it = unpackedArchives.rbegin(); it != unpackedArchives.rend(); ++it)
        (void)email.removeAttachment(*it);
    return success;
}

} // namespace norvane::attachment_archive
