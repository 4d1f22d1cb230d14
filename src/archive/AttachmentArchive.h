#pragma once

// Packing an e-mail's attachments into one zip attachment and unpacking attached zip files
// into their entries, entirely in memory.
//
// Archives that arrive in mail are hostile input: entry names lose their directory parts (so
// no ".." or absolute path reaches an attachment name), every entry must inflate to exactly
// the size it declares, and absolute limits (not a ratio to the archive's size: text often
// shrinks more than 100 times, and anything this library zips must unzip again) bound each
// entry and everything unpacked from one e-mail together. Zip files found inside an unpacked
// archive are added as they are, not unpacked in turn.
//
// Nothing is lost on failure: zipping changes the e-mail only once every attachment is in the
// written archive, and an archive that cannot be unpacked whole stays attached.

#include "common/LogBase.h"
#include "email/Email2.h"

#include <cstdint>
#include <string_view>

namespace norvane::attachment_archive {

// What unpacking the archives of one e-mail may produce.
struct UnzipLimits {
    // One entry.
    uint64_t maxEntrySize = uint64_t{1} << 30;
    // All entries of all archives of the e-mail together.
    uint64_t maxTotal = uint64_t{1} << 30;
};

// Replaces the attachments of email by one zip archive holding them, named zipFilename
// (trimmed; "attach.zip" when empty). Nothing to do without attachments (true). The outcome is
// in the log; a null email is logged and false. When an attachment cannot be added or the
// archive cannot be written, the e-mail is left as it was and the result is false.
[[nodiscard]] bool zipAttachments(Email2* email, std::string_view zipFilename, LogBase& log);

// Replaces every attachment named *.zip by the files it holds, added after the existing
// attachments. False when an archive cannot be read or one of its entries cannot be inflated
// within the limits; that archive then stays attached as it was and none of its entries is
// added, while the other archives are unpacked.
[[nodiscard]] bool unzipAttachments(Email2& email, LogBase& log, const UnzipLimits& limits = {});

} // namespace norvane::attachment_archive
