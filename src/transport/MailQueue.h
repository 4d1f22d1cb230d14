#pragma once

// Queue files: an e-mail handed to a queue runner as a file of MIME text whose top-level header
// carries the sender's SMTP settings ("x-smtpHost", "x-smtpPassword", ...), so that the runner
// sends it with the same server and account. The settings are protected with a fixed password:
// that keeps them from being read at a glance, nothing more; the files themselves are written
// private to their owner.
//
// Files are created complete: the text goes to a hidden temporary name in the same directory,
// is flushed to disk and then linked under its final name, which must not exist yet; a
// runner that takes only "e_*.eml" names never sees half a file, and two writers never
// overwrite each other's file.

#include "charset/DateParser.h"
#include "common/LogBase.h"
#include "transport/MailManCore.h"

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane::mail_queue {

// The password of the protected fields; runners and relays use the same.
inline constexpr const char* kFieldPassword = "q7xkvbe";

using Fields = std::vector<std::pair<std::string, std::string>>;

// "QueueDir" of the queue service's registry section (machine, then user file), else "queue"
// under the user configuration root.
[[nodiscard]] std::string defaultDirectory();

// The transfer fields in their order. mime: the three fields of ready MIME text come first
// (from and recipients as given). bcc: addresses joined by "," ("" leaves the field out).
[[nodiscard]] Fields transferFields(const MailManCore& settings, std::string_view bcc,
                                    const std::pair<std::string, std::string>* mime, LogBase& log);

// "e_YYYYMMDD_HHMMSS_CCCCCCNNN.eml" for date, counter and sequence number.
[[nodiscard]] std::string fileName(const SystemTime& date, uint32_t counter, uint32_t sequence);

// Tests fix the counter part of new names and the next sequence number; an empty function
// restores the clock.
void setNameSourceForTesting(std::function<uint32_t()> counter, uint32_t nextSequence);

// Writes text as a new file in dir (created when missing, mode 0700) under the name of date,
// mode 0600; path receives the full path. On a name already taken the next sequence number is
// tried. False (nothing left behind) when it cannot be written.
[[nodiscard]] bool writeFile(std::string_view dir, const SystemTime& date, std::string_view text,
                             std::string& path, LogBase& log);

// A queue file read back: the settings it carries and the message without its transfer fields.
// The TLS choices are not in the file: the runner gives its own (safe defaults unless set).
struct QueuedMessage {
    SmtpSettings smtp;
    bool sendIndividual = true;
    bool sendMime = false;
    std::string from, recipients; // ready MIME only: as given to the queueing call
    std::string bcc;              // e-mails only: the Bcc addresses, comma-separated
    std::string text;             // the MIME text to transmit
};

// False when the text has no header or a protected field does not decode.
[[nodiscard]] bool parse(std::string_view fileText, QueuedMessage& out, LogBase& log);

// How sending a queue file ended.
enum class SendResult { Sent, RetryLater, Failed };

// Sends a parsed queue file with its own settings: through ready-MIME sending for ready MIME,
// else to the text's To and Cc and the carried Bcc. Failed: nothing can ever send it (no
// sender, no recipient, every recipient refused); RetryLater: the server could not be reached
// or the transfer broke off. accepted (when given) runs as soon as the server has taken the
// message, before the session ends: a runner files the message away there, so that being
// stopped afterwards cannot make it send the message again.
[[nodiscard]] SendResult send(const QueuedMessage& message, uint32_t connectTimeoutSec,
                              LogBase& log, const std::function<void()>& accepted = {});

} // namespace norvane::mail_queue
