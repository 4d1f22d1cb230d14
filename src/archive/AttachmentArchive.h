#pragma once

// Packing an e-mail's attachments into one zip attachment and unpacking attached zip files
// into their entries, entirely in memory.
//
// Archives that arrive in mail are hostile input: entry names lose their directory parts (so
// no ".." or absolute path reaches an attachment name), each archive may only inflate to a
// bounded size whatever its entries declare (100 times its own size, between 64 MiB and
// 1 GiB), and everything unpacked from one e-mail together stays under 1 GiB. Zip files found
// inside an unpacked archive are added as they are, not unpacked in turn.

#include "common/LogBase.h"
#include "mime/Email2.h"

#include <cstdint>
#include <string_view>

namespace norvane::attachment_archive {

// What all archives of one e-mail may inflate to together.
constexpr uint64_t kMaxUnpackedPerEmail = uint64_t{1} << 30;

// Replaces the attachments of email by one zip archive holding them, named zipFilename
// (trimmed; "attach.zip" when empty). Nothing to do without attachments. The outcome is in the
// log; a null email is logged and ignored. The attachments are only removed once the archive
// has been written.
void zipAttachments(Email2* email, std::string_view zipFilename, LogBase& log);

// Replaces every attachment named *.zip by the files it holds, added after the existing
// attachments. False when an archive cannot be read or an entry cannot be inflated; the
// archives are removed all the same, and every entry that could be read is kept.
// maxUnpacked bounds what all archives of the e-mail inflate to together.
[[nodiscard]] bool unzipAttachments(Email2& email, LogBase& log,
                                    uint64_t maxUnpacked = kMaxUnpackedPerEmail);

} // namespace norvane::attachment_archive
