// nvmail zip-attachments / unzip-attachments: rewrite an .eml file with its attachments packed
// into one zip file, or with its zip attachments unpacked. The output is written only when the
// work succeeded, so an in-place run never loses an attachment.

#include "Commands.h"

#include "norvane/Email.h"

#include <cstdio>

using norvane::Email;

namespace nvmail {

namespace {

// The e-mail of the file in; false (reported) when the file cannot be read. The text is freed
// once parsed, and the log of parsing goes to loadLog.
bool load(const std::string& path, Email& e, std::string& loadLog) {
    std::vector<uint8_t> mime;
    if (!readInput(path, mime))
        return false;
    (void)e.SetFromMimeBytes(mime);
    loadLog = e.get_LastErrorText();
    return true;
}

void printAttachments(Email& e) {
    for (int i = 0; i < e.get_NumAttachments(); ++i)
        std::printf("  %s (%ld bytes)\n", e.GetAttachmentFilename(i).c_str(),
                    e.GetAttachmentSize(i));
}

} // namespace

int zipAttachments(const Parsed& p) {
    Email e;
    std::string log;
    if (!load(p.operands[0], e, log))
        return kFailed;
    const int before = e.get_NumAttachments();
    e.ZipAttachments(p.operands.size() == 3 ? p.operands[2].c_str() : "");
    // The member gives no result: an error in its log is the failure.
    const std::string reason = firstLoggedError(e.get_LastErrorXml());
    printLogIfWanted(p, log + e.get_LastErrorText());
    if (!reason.empty()) {
        error("cannot zip the attachments of " + p.operands[0] + ": " + reason);
        return kFailed;
    }
    if (!writeOutput(p.operands[1], e.GetMime()))
        return kFailed;
    std::printf("%d attachment(s) zipped\n", before);
    printAttachments(e);
    return kOk;
}

int unzipAttachments(const Parsed& p) {
    Email e;
    std::string log;
    if (!load(p.operands[0], e, log))
        return kFailed;
    const bool ok = e.UnzipAttachments();
    printLogIfWanted(p, log + e.get_LastErrorText());
    if (!ok) {
        const std::string reason = firstLoggedError(e.get_LastErrorXml());
        error("cannot unzip the attachments of " + p.operands[0] + ": " +
              (reason.empty() ? "an archive could not be read" : reason));
        return kFailed;
    }
    if (!writeOutput(p.operands[1], e.GetMime()))
        return kFailed;
    std::printf("%d attachment(s) after unzipping\n", e.get_NumAttachments());
    printAttachments(e);
    return kOk;
}

} // namespace nvmail
