// nvmail zip-attachments / unzip-attachments: rewrite an .eml file with its attachments packed
// into one zip file, or with its zip attachments unpacked. The output is written only when the
// work succeeded, so an in-place run never loses an attachment.

#include "Commands.h"

#include "archive/AttachmentArchive.h"
#include "email/Email2.h"

#include <cstdio>

using norvane::Email2;

namespace nvmail {

namespace {

// The e-mail of the file in; null (reported) when the file cannot be read. The text is freed
// once parsed.
std::unique_ptr<Email2> load(const std::string& path, ToolLog& log) {
    std::string mime;
    if (!readInput(path, mime))
        return nullptr;
    auto e = Email2::fromMime(mime, log);
    release(mime);
    return e;
}

bool save(const std::string& path, const Email2& e, ToolLog& log) {
    norvane::StringBuffer mime;
    e.renderMime(mime, "", log);
    return writeOutput(path, mime.view());
}

void printAttachments(const Email2& e) {
    for (const Email2* a : e.attachments())
        std::printf("  %s (%zu bytes)\n", a->attachmentFilename().c_str(), a->body().getSize());
}

} // namespace

int zipAttachments(const Parsed& p) {
    ToolLog log;
    auto e = load(p.operands[0], log);
    if (!e)
        return kFailed;
    const int before = e->numAttachments();
    const std::string zipName = p.operands.size() == 3 ? p.operands[2] : "";
    const bool ok = norvane::attachment_archive::zipAttachments(e.get(), zipName, log);
    log.printIfWanted(p);
    if (!ok) {
        error("cannot zip the attachments of " + p.operands[0] + ": " +
              log.reason("the archive could not be written"));
        return kFailed;
    }
    if (!save(p.operands[1], *e, log))
        return kFailed;
    std::printf("%d attachment(s) zipped\n", before);
    printAttachments(*e);
    return kOk;
}

int unzipAttachments(const Parsed& p) {
    ToolLog log;
    auto e = load(p.operands[0], log);
    if (!e)
        return kFailed;
    const bool ok = norvane::attachment_archive::unzipAttachments(*e, log);
    log.printIfWanted(p);
    if (!ok) {
        error("cannot unzip the attachments of " + p.operands[0] + ": " +
              log.reason("an archive could not be read"));
        return kFailed;
    }
    if (!save(p.operands[1], *e, log))
        return kFailed;
    std::printf("%d attachment(s) after unzipping\n", e->numAttachments());
    printAttachments(*e);
    return kOk;
}

} // namespace nvmail
