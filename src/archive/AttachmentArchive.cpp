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

// Adds each attachment as an entry; false only when the archive could not be made.
void addEntries(const Email2& email, ZipHandle& zip, LogBase& log) {
    for (const Email2* att : email.attachments()) {
        const std::string name = att->attachmentFilename();
        std::unique_ptr<ZipEntryHandle> entry = zip.appendData(name, att->body().span(), log);
        if (entry && entry->setCompressionMethod(8) && entry->setCompressionLevel(6)) {
            log.logData("added_file", name);
        } else {
            log.logError("Failed to add file to Zip archive");
            log.logData("failed_filename", name);
        }
    }
}

// Inflates the files of one archive into new attachment parts. remaining is what the e-mail
// may still unpack; it is reduced by what this archive produced.
bool unpackArchive(ZipHandle& zip, std::span<const uint8_t> bytes, uint64_t& remaining,
                   std::vector<std::unique_ptr<Email2>>& parts, LogBase& log) {
    if (!zip.openFromMemory(bytes, log))
        return false;
    const uint64_t ownBudget =
        std::clamp<uint64_t>(bytes.size() * ZipArchive::kInflateRatio,
                             ZipArchive::kMinInflateBudget, ZipArchive::kMaxInflateBudget);
    (void)zip.setInflateBudget(std::min(ownBudget, remaining));
    bool ok = true;
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
            ok = false;
            continue;
        }
        remaining -= std::min<uint64_t>(remaining, data.getSize());
        if (!data.isEmpty())
            parts.push_back(Email2::makeAttachmentPart(name, std::move(data), ""));
    }
    return ok;
}

} // namespace

void zipAttachments(Email2* email, std::string_view zipFilename, LogBase& log) {
    LogContext ctx(log, "ZipAttachments");
    if (!email) {
        log.logError("Internal email pointer is NULL");
        return;
    }
    const int count = email->numAttachments();
    if (count == 0)
        return;
    log.logData("ZipFilename", zipFilename);
    log.logDataLong("NumAttachments", count);
    std::unique_ptr<ZipHandle> zip = ZipHandle::create();
    if (!zip) {
        log.logError("Failed to zip attachments...");
        return;
    }
    std::string archiveName(sb::trimView(zipFilename));
    if (archiveName.empty())
        archiveName = "attach.zip";
    addEntries(*email, *zip, log);

    // Written before the attachments go, so that a failure loses nothing.
    DataBuffer bytes;
    if (!zip->writeToMemory(bytes, log)) {
        log.logError("Failed to write Zip to memory");
        return;
    }
    email->dropAllAttachments();
    if (email->addDataAttachment(archiveName, std::move(bytes), "").empty())
        log.logError("Failed to set Zip as an attachment");
}

bool unzipAttachments(Email2& email, LogBase& log, uint64_t maxUnpacked) {
    LogContext ctx(log, "UnzipAttachments");
    bool success = true;
    const std::vector<Email2*> existing = email.attachments();
    if (existing.empty())
        return true;
    std::unique_ptr<ZipHandle> zip = ZipHandle::create();
    uint64_t remaining = maxUnpacked;
    std::vector<std::unique_ptr<Email2>> unpacked;
    int archives = 0;
    for (const Email2* att : existing) {
        if (!isZipName(att->attachmentFilename()))
            continue;
        ++archives;
        if (!unpackArchive(*zip, att->body().span(), remaining, unpacked, log))
            success = false;
    }
    for (auto& part : unpacked)
        (void)email.addAttachmentPart(std::move(part));

    // Only the archives that were there before: a zip file unpacked from one of them is an
    // attachment in its own right. Unpacked files come after every earlier attachment, so the
    // first `archives` zip names are exactly those archives.
    for (int i = 0; archives > 0;) {
        const Email2* att = email.attachmentAt(i);
        if (!att)
            break;
        if (isZipName(att->attachmentFilename()) && email.removeAttachment(i)) {
            --archives;
            continue;
        }
        ++i;
    }
    return success;
}

} // namespace norvane::attachment_archive
