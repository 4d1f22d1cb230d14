// nvmail zip-attachments / unzip-attachments: rewrite an .eml file with its attachments packed
// into one zip file, or with its zip attachments unpacked.

#include "Commands.h"

#include "archive/AttachmentArchive.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "mime/Email2.h"

#include <cstdio>

using norvane::Email2;

namespace nvmail {

namespace {

bool writeOutput(const std::string& path, const Email2& e, norvane::LogBase& log) {
    norvane::StringBuffer mime;
    e.renderMime(mime, "", log);
    if (!norvane::file::writeWholeFile(path, mime.view(), &log)) {
        std::fprintf(stderr, "nvmail: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

void printAttachments(const Email2& e) {
    for (const Email2* a : e.attachments())
        std::printf("  %s (%zu bytes)\n", a->attachmentFilename().c_str(), a->body().getSize());
}

void printLog(const norvane::Logger& log) {
    norvane::StringBuffer text;
    log.getLastErrorText(text);
    std::fprintf(stderr, "%s", text.getString());
}

} // namespace

int zipAttachments(const Args& args) {
    if (args.size() != 2 && args.size() != 3) {
        std::fprintf(stderr, "usage: nvmail zip-attachments IN.eml OUT.eml [ZIPNAME]\n");
        return 2;
    }
    std::string mime;
    if (!readInput(args[0], mime))
        return 1;
    norvane::Logger log;
    auto e = Email2::fromMime(mime, log);
    const int before = e->numAttachments();
    norvane::attachment_archive::zipAttachments(e.get(), args.size() == 3 ? args[2] : "", log);
    if (before > 0 && e->numAttachments() != 1) {
        printLog(log);
        return 1;
    }
    if (!writeOutput(args[1], *e, log))
        return 1;
    std::printf("%d attachment(s) zipped\n", before);
    printAttachments(*e);
    return 0;
}

int unzipAttachments(const Args& args) {
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: nvmail unzip-attachments IN.eml OUT.eml\n");
        return 2;
    }
    std::string mime;
    if (!readInput(args[0], mime))
        return 1;
    norvane::Logger log;
    auto e = Email2::fromMime(mime, log);
    const bool ok = norvane::attachment_archive::unzipAttachments(*e, log);
    if (!ok)
        printLog(log);
    if (!writeOutput(args[1], *e, log))
        return 1;
    std::printf("%d attachment(s) after unzipping\n", e->numAttachments());
    printAttachments(*e);
    return ok ? 0 : 1;
}

} // namespace nvmail
