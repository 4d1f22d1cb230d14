#pragma once

// Reading a Unix mailbox file: many messages in one text file, each introduced by a line that
// begins with "From ".
//
// The file is split while it is read, a block at a time, and each message is parsed and either
// kept or dropped before the next one is read, so a file of many gigabytes needs about the
// largest message and the resulting bundle in memory, never the whole file.
//
// Splitting rules:
// - A message starts at every line that begins with "From " (case as written); that line, or
//   whatever the file's first line is, is not part of the message. Nothing else separates
//   messages: no length header is read and a quoting ">" in front of "From " is kept, since the
//   file does not say which quoting its writer used and removing it would change a line that
//   was written with it.
// - Line ends: the first line end of the file decides. A file whose first line ends in a lone
//   CR has CR, CRLF and LF line ends; any other file has LF and CRLF line ends, and a lone CR
//   inside a line is message data. Every message is handed on with CRLF line ends.
// - NUL bytes are message data; they neither end lines nor split messages.
// - The empty line that separates a message from the next "From " line (and ends the last
//   message) belongs to the file format, not to the message, and is removed; a message that is
//   then empty, or whose "From " line has no line end (a file cut short), is skipped.

#include "common/LogBase.h"
#include "email/Email2.h"
#include "store/MailBundle.h"

#include <functional>
#include <string>
#include <string_view>

namespace norvane {

// Splits mailbox bytes, fed in pieces of any size, into message texts.
class MailboxSplitter {
public:
    // Receives each message text, with CRLF line ends, in file order; it may take the text.
    using Sink = std::function<void(std::string& message)>;

    explicit MailboxSplitter(Sink sink) : sink_(std::move(sink)) {}

    void feed(std::string_view bytes);
    // The end of the file: the last line and message are handed on.
    void finish();

private:
    enum class LineEnds { Unknown, Lf, Cr };

    // Hands on every complete line of pending_; at the end of the file a lone CR is complete.
    void takeLines(bool atEnd);
    [[nodiscard]] bool decideLineEnds(bool atEnd);
    void onLine(std::string_view line, bool ended);
    void endMessage();

    Sink sink_;
    LineEnds lineEnds_ = LineEnds::Unknown;
    std::string pending_;
    // Bytes of pending_ already known to hold no line end.
    size_t scanned_ = 0;
    bool firstLine_ = true;
    // The current message's "From " line has ended: its lines go to message_.
    bool inMessage_ = false;
    std::string message_;
};

// Streams the file at path through a splitter and parses each message with options; when
// filter is not empty, only the e-mails for which it is true are appended to out. False, with
// the reason in the log, when the file cannot be opened or read (messages read before a read
// error stay in out).
[[nodiscard]] bool loadMailboxFile(std::string_view path, std::string_view filter,
                                   const FromMimeOptions& options, MailBundle& out, LogBase& log);

} // namespace norvane
