// Mail transactions of SmtpConnImpl: one e-mail, a distribution list, ready MIME text.

#include "common/FileAccess.h"
#include "common/UniqueFd.h"
#include "transport/ProgressMonitor.h"
#include "transport/SmtpConnImpl.h"
#include "transport/SmtpWire.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace norvane {

namespace {

constexpr size_t kBccBatch = 100;
constexpr size_t kCoalesceLimit = 65536;
// Larger text is framed and written a piece at a time: the framed copy never exists whole.
constexpr size_t kFramePiece = 1 << 20;
// How much of the framed text the transcript keeps.
constexpr size_t kTranscriptHead = 2500;

void consume(ProgressMonitor* monitor, uint32_t n) {
    if (monitor) {
        bool ignored = false;
        monitor->consume(n, ignored);
    }
}

std::string stripAngles(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != '<' && c != '>')
            out.push_back(c);
    return std::string(sb::trimView(out));
}

// The framed text between two marker lines, appended to the file at path (when there is one).
void appendSentLog(std::string_view path, std::string_view text) {
    if (path.empty())
        return;
    UniqueFd fd(::open(std::string(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd || !file::writeAll(fd.get(), "--BEGIN SENT NORVANE EMAIL--\n") ||
        !smtp::frameDataInPieces(text, kFramePiece, [&fd](std::string_view piece) {
            return file::writeAll(fd.get(), piece);
        }))
        return;
    (void)file::writeAll(fd.get(), "\n--END SENT NORVANE EMAIL--\n");
}

// The text that follows DATA, before framing: the caller's ready MIME text (a view of it) or
// the e-mail's rendering (held in rendered). The rendering goes before the transfer, and the
// text is framed while it is written: a large e-mail is held once, not twice.
bool textForSending(SmtpMail& email, const std::string* preRenderedMime, std::string& rendered,
                    std::string_view& text, LogBase& log) {
    if (preRenderedMime) {
        text = *preRenderedMime;
        return true;
    }
    if (!email.renderForSending(rendered, log))
        return false;
    text = rendered;
    return true;
}

// The recipient lists of an e-mail in the order they are sent, with the texts their outcomes
// are logged with.
struct RecipientPass {
    const char* name;
    const char* failure;
};
constexpr RecipientPass kPasses[] = {
    {"to", "Failed when sending RCPT TO:<"},
    {"cc", "Failed when sending cc RCPT TO:<"},
    {"bcc", "Failed when sending bcc RCPT TO:<"},
};

std::string warningText(int failed, int sent) {
    return "Warning: failed to send to " + std::to_string(failed) +
           " recipient(s), continuing to send to " + std::to_string(sent) + " recipient(s)";
}

} // namespace

bool SmtpConnImpl::mailFrom(std::string_view sender, std::string_view params, LogBase& log) {
    if (smtp::hasLineBreakOrNul(sender)) {
        log.logError("Sender address contains CR, LF or NUL; MAIL FROM not sent");
        return false;
    }
    if (command("MAIL FROM:<" + std::string(sender) + ">" + std::string(params) + "\r\n", 250, log))
        return true;
    log.logError("Failed when sending MAIL FROM:<" + std::string(sender) + ">");
    logTranscript(log);
    return false;
}

bool SmtpConnImpl::rcptTo(std::string_view address, LogBase& log) {
    if (smtp::hasLineBreakOrNul(address)) {
        log.logError("Recipient address contains CR, LF or NUL; RCPT TO not sent");
        noteUnsent(address, "Not sent: the address contains CR, LF or NUL");
        return false;
    }
    bool received = false;
    const bool ok =
        sendCommand("RCPT TO:<" + std::string(address) + ">" + rcptParams_ + "\r\n", log) &&
        readReply(250, log, received);
    noteRecipient(address, received);
    return ok;
}

void SmtpConnImpl::sendRecipients(std::span<const Recipient> rcpts, LogBase& log,
                                  ProgressMonitor* monitor, SmtpSendCounts& counts,
                                  DistributionList& badAddresses) {
    LogContext ctx(log, "recipients");
    for (const Recipient& r : rcpts) {
        ++counts.numTried;
        if (rcptTo(r.address, log)) {
            log.logData(r.logName, r.address);
            ++counts.numSent;
        } else {
            log.fail(ErrorCode::RecipientRefused, r.failure + std::string(r.address) + ">");
            log.logData("bad_address", r.address);
            badAddresses.add(r.address);
        }
        consume(monitor, 50);
    }
}

// DATA, the framed text and the end marker, with the failure texts every transaction shares.
bool SmtpConnImpl::transmitData(std::string_view text, ProgressMonitor* monitor, LogBase& log) {
    if (!command("DATA\r\n", 354, log)) {
        log.logError("Failed when sending DATA command");
        logTranscript(log);
        return false;
    }
    consume(monitor, 50);
    return transmitText(text, monitor, log);
}

// The framed text and the end marker, after DATA was answered with 354.
bool SmtpConnImpl::transmitText(std::string_view text, ProgressMonitor* monitor, LogBase& log) {
    const size_t size = smtp::framedSize(text);
    log.logDataLong("email_size", static_cast<long>(size));
    // Framing never shrinks text, so the head of the framed text comes from the text's head.
    const std::string head = smtp::frameData(text.substr(0, kTranscriptHead));
    if (size > kTranscriptHead) {
        appendTranscript(std::string_view(head).substr(0, kTranscriptHead));
        appendTranscript("\n...\n");
    } else {
        appendTranscript(head);
    }
    const std::string_view end = smtp::endOfData(text);
    bool endSent = false;
    if (size <= kCoalesceLimit && !monitor) {
        // A small message goes out with its end marker in one write: one segment, and the
        // server has the whole transaction at once.
        std::string all = size <= kTranscriptHead ? head : smtp::frameData(text);
        all.append(end);
        if (!write(all.data(), all.size(), log, nullptr)) {
            log.logError("Failed when sending email body");
            logTranscript(log);
            return false;
        }
        appendTranscript(end);
        endSent = true;
    } else if (!smtp::frameDataInPieces(text, kFramePiece, [&](std::string_view piece) {
                   return write(piece.data(), piece.size(), log, monitor);
               })) {
        log.logError("Failed when sending email body");
        logTranscript(log);
        return false;
    }
    if (!(endSent ? readReply(250, log) : command(end, 250, log))) {
        log.logError("Failed when sending body end marker");
        logTranscript(log);
        return false;
    }
    consume(monitor, 50);
    return true;
}

bool SmtpConnImpl::sendEmail(SmtpMail& email, const std::string* preRenderedMime,
                             std::string_view sentLogPath, LogBase& log, ProgressMonitor* monitor,
                             SmtpSendCounts& counts, DistributionList& badAddresses) {
    counts = {};
    std::string returnPath = email.headerField("return-path");
    std::string sender = stripAngles(returnPath.empty() ? email.fromAddress() : returnPath);
    if (sender.empty()) {
        log.fail(ErrorCode::BadArgument, "Invalid email object, no return address");
        counts.fatal = true;
        return false;
    }
    log.logData("subject", email.subject());
    log.logData("from", sender);
    const std::vector<std::string> lists[] = {email.recipients(SmtpMail::Kind::To),
                                              email.recipients(SmtpMail::Kind::Cc),
                                              email.recipients(SmtpMail::Kind::Bcc)};
    std::vector<Recipient> rcpts;
    for (size_t i = 0; i < std::size(lists); ++i)
        for (const std::string& address : lists[i])
            if (!address.empty())
                rcpts.push_back({address, kPasses[i].name, kPasses[i].failure});
    // The text is rendered before MAIL FROM: its size and its 8-bit bytes decide parameters.
    std::string rendered;
    std::string_view text;
    if (!textForSending(email, preRenderedMime, rendered, text, log)) {
        for (const Recipient& r : rcpts)
            noteUnsent(r.address, "Not sent: the e-mail could not be rendered");
        return false;
    }
    std::string params;
    bool tooLarge = false;
    if (!envelopeParameters(sender, rcpts, text, params, tooLarge, log)) {
        counts.numTried = static_cast<int>(rcpts.size());
        counts.fatal = tooLarge;
        return false;
    }
    if (ext_.pipelining)
        return sendEmailPipelined(rcpts, sender, params, text, sentLogPath, log, monitor, counts,
                                  badAddresses);
    const size_t first = results_.size();
    if (!mailFrom(sender, params, log)) {
        for (const Recipient& r : rcpts)
            noteUnsent(r.address, "Not sent: MAIL FROM was refused");
        counts.fatal = true;
        return false;
    }
    consume(monitor, 50);
    sendRecipients(rcpts, log, monitor, counts, badAddresses);
    if (counts.numSent == 0) {
        // The server still holds the sender; without RSET the next e-mail's MAIL FROM would
        // be refused as a nested transaction.
        (void)command("RSET\r\n", 250, log);
        return false;
    }
    if (counts.numSent < counts.numTried)
        log.logError(warningText(counts.numTried - counts.numSent, counts.numSent));
    if (!transmitData(text, monitor, log)) {
        noteMessageRefused(first, lastReplyReceived_);
        counts.fatal = true;
        counts.numSent = 0;
        return false;
    }
    appendSentLog(sentLogPath, text);
    counts.fatal = false;
    return counts.numSent >= counts.numTried;
}

bool SmtpConnImpl::sendEmailToList(SmtpMail* email, const std::string* preRenderedMime,
                                   std::string_view sentLogPath, LogBase& log,
                                   ProgressMonitor* monitor, SmtpSendCounts& counts,
                                   DistributionList& badAddresses, bool sendIndividual,
                                   bool autoGenMessageId) {
    counts = {};
    if (!email) {
        log.logError("email argument to SmtpConnImpl is NULL");
        counts.fatal = true;
        return false;
    }
    if (autoGenMessageId)
        email->setMessageId(smtp::newMessageId());
    bool ok = false;
    std::string listPath = email->headerField("NVX-FileDistList");
    DistributionList list;
    if (!sb::trimView(listPath).empty() && list.loadFile(sb::trimView(listPath), log) > 0)
        ok = sendToDistributionList(list, *email, preRenderedMime, sentLogPath, log, monitor,
                                    counts, badAddresses, sendIndividual);
    else
        ok = sendEmail(*email, preRenderedMime, sentLogPath, log, monitor, counts, badAddresses);
    if (ok)
        log.logInfo("Mail sent to " + std::to_string(counts.numSent) + " recipient" +
                    (counts.numSent >= 2 ? "s" : ""));
    return ok;
}

bool SmtpConnImpl::sendToDistributionList(const DistributionList& list, SmtpMail& email,
                                          const std::string* preRenderedMime,
                                          std::string_view sentLogPath, LogBase& log,
                                          ProgressMonitor* monitor, SmtpSendCounts& counts,
                                          DistributionList& badAddresses, bool sendIndividual) {
    counts = {};
    if (list.count() == 0)
        return true;
    email.clearRecipients(SmtpMail::Kind::To);
    email.clearRecipients(SmtpMail::Kind::Cc);
    email.clearRecipients(SmtpMail::Kind::Bcc);
    SmtpMail::Kind kind = sendIndividual ? SmtpMail::Kind::To : SmtpMail::Kind::Bcc;
    size_t batch = sendIndividual ? 1 : kBccBatch;
    const auto& entries = list.entries();
    for (size_t start = 0; start < entries.size(); start += batch) {
        size_t end = std::min(entries.size(), start + batch);
        for (size_t i = start; i < end; ++i)
            email.addRecipient(kind, entries[i]);
        email.setMessageId(smtp::newMessageId());
        SmtpSendCounts one;
        (void)sendEmail(email, preRenderedMime, sentLogPath, log, monitor, one, badAddresses);
        email.clearRecipients(kind);
        counts.numSent += one.numSent;
        counts.numTried += one.numTried;
        if (one.fatal) {
            counts.fatal = true;
            return false;
        }
    }
    return true;
}

bool SmtpConnImpl::sendMime(std::string_view from, std::string_view recipients,
                            std::string_view mimeText, LogBase& log) {
    if (sb::trimView(from).empty()) {
        log.fail(ErrorCode::BadArgument, "No From Address");
        return false;
    }
    std::vector<std::string> sender = smtp::bareAddresses(from);
    if (sender.empty())
        return false;
    if (sb::trimView(recipients).empty()) {
        log.fail(ErrorCode::BadArgument, "No Recipients");
        return false;
    }
    std::vector<std::string> list = smtp::bareAddresses(recipients);
    if (list.empty()) {
        log.fail(ErrorCode::RecipientRefused, "No Valid Recipients");
        return false;
    }
    return sendMimeTo(sender.front(), list, mimeText, log);
}

bool SmtpConnImpl::sendMimeTo(std::string_view from, std::span<const std::string> recipients,
                              std::string_view mimeText, LogBase& log) {
    std::vector<Recipient> rcpts;
    rcpts.reserve(recipients.size());
    for (const std::string& address : recipients)
        rcpts.push_back({address, "recipient", "Failed when sending RCPT TO:<"});
    std::string params;
    bool tooLarge = false;
    if (!envelopeParameters(from, rcpts, mimeText, params, tooLarge, log))
        return false;
    if (ext_.pipelining)
        return sendMimePipelined(from, params, rcpts, mimeText, log);
    const size_t first = results_.size();
    if (!mailFrom(from, params, log)) {
        for (const Recipient& r : rcpts)
            noteUnsent(r.address, "Not sent: MAIL FROM was refused");
        return false;
    }
    int accepted = 0;
    {
        LogContext ctx(log, "recipients");
        for (const Recipient& r : rcpts) {
            if (rcptTo(r.address, log)) {
                log.logData("recipient", r.address);
                ++accepted;
            } else {
                log.logError("Failed when sending RCPT TO:<" + std::string(r.address) + ">");
                log.logData("bad_address", r.address);
            }
        }
    }
    if (accepted == 0) {
        log.fail(ErrorCode::RecipientRefused, "No valid recipients");
        // The server still holds the sender: the next MAIL FROM would be a nested transaction.
        (void)command("RSET\r\n", 250, log);
        return false;
    }
    if (transmitData(mimeText, nullptr, log))
        return true;
    noteMessageRefused(first, lastReplyReceived_);
    return false;
}

bool SmtpConnImpl::closeRefusedData() {
    LogNull quiet;
    bool received = false;
    if (!readReply(354, quiet, received))
        return received;
    // A server that opened the data phase without a recipient gets it closed empty.
    if (!sendCommand(".\r\n", quiet))
        return false;
    (void)readReply(250, quiet, received);
    return received;
}

bool SmtpConnImpl::pipelineEnvelope(std::string_view sender, std::string_view mailParams,
                                    std::span<const Recipient> rcpts, LogBase& log,
                                    ProgressMonitor* monitor, DistributionList* badAddresses,
                                    EnvelopeResult& result) {
    result = {};
    if (smtp::hasLineBreakOrNul(sender)) {
        log.logError("Sender address contains CR, LF or NUL; MAIL FROM not sent");
        for (const Recipient& r : rcpts)
            noteUnsent(r.address, "Not sent: the sender contains CR, LF or NUL");
        return true;
    }
    std::string mailText = "MAIL FROM:<" + std::string(sender) + ">";
    std::string batch = mailText + std::string(mailParams) + "\r\n";
    recordCommand(batch);
    size_t sent = 0;
    for (const Recipient& r : rcpts) {
        if (smtp::hasLineBreakOrNul(r.address))
            continue;
        std::string line = "RCPT TO:<" + std::string(r.address) + ">" + rcptParams_ + "\r\n";
        recordCommand(line);
        batch += line;
        ++sent;
    }
    recordCommand("DATA\r\n");
    batch += "DATA\r\n";
    bool received = false;
    if (write(batch.data(), batch.size(), log, nullptr) && readReply(250, log, received)) {
        result.mailAccepted = true;
    } else {
        log.logError("Failed when sending " + mailText);
        logTranscript(log);
        // The server answers every command of the batch; those replies are read so that the
        // session stays in step, and are each recipient's result.
        LogNull quiet;
        for (const Recipient& r : rcpts) {
            if (smtp::hasLineBreakOrNul(r.address)) {
                noteUnsent(r.address, "Not sent: the address contains CR, LF or NUL");
                continue;
            }
            if (received)
                (void)readReply(250, quiet, received);
            noteRecipient(r.address, received);
        }
        return received && closeRefusedData();
    }
    consume(monitor, 50);
    const size_t first = results_.size();
    {
        LogContext ctx(log, "recipients");
        for (const Recipient& r : rcpts) {
            bool ok = false;
            if (smtp::hasLineBreakOrNul(r.address)) {
                log.logError("Recipient address contains CR, LF or NUL; RCPT TO not sent");
                noteUnsent(r.address, "Not sent: the address contains CR, LF or NUL");
            } else {
                ok = readReply(250, log, received);
                noteRecipient(r.address, received);
                if (!received)
                    return false;
            }
            if (ok) {
                log.logData(r.logName, r.address);
                ++result.accepted;
            } else {
                log.fail(ErrorCode::RecipientRefused, r.failure + std::string(r.address) + ">");
                log.logData("bad_address", r.address);
                if (badAddresses)
                    badAddresses->add(r.address);
            }
            consume(monitor, 50);
        }
    }
    if (result.accepted == 0)
        return closeRefusedData();
    result.dataAccepted = readReply(354, log, received);
    if (!result.dataAccepted)
        noteMessageRefused(first, received);
    return received;
}

bool SmtpConnImpl::sendEmailPipelined(std::span<const Recipient> rcpts, const std::string& sender,
                                      std::string_view mailParams, std::string_view text,
                                      std::string_view sentLogPath, LogBase& log,
                                      ProgressMonitor* monitor, SmtpSendCounts& counts,
                                      DistributionList& badAddresses) {
    EnvelopeResult r;
    const size_t first = results_.size();
    bool alive = pipelineEnvelope(sender, mailParams, rcpts, log, monitor, &badAddresses, r);
    if (!r.mailAccepted) {
        counts.fatal = true;
        return false;
    }
    counts.numTried = static_cast<int>(rcpts.size());
    counts.numSent = r.accepted;
    if (alive && counts.numSent == 0) {
        // The server still holds the sender; without RSET the next e-mail's MAIL FROM would
        // be refused as a nested transaction.
        (void)command("RSET\r\n", 250, log);
        return false;
    }
    if (counts.numSent > 0 && counts.numSent < counts.numTried)
        log.logError(warningText(counts.numTried - counts.numSent, counts.numSent));
    if (!alive || !r.dataAccepted) {
        log.logError("Failed when sending DATA command");
        logTranscript(log);
        counts.fatal = true;
        counts.numSent = 0;
        return false;
    }
    consume(monitor, 50);
    if (!transmitText(text, monitor, log)) {
        noteMessageRefused(first, lastReplyReceived_);
        counts.fatal = true;
        counts.numSent = 0;
        return false;
    }
    appendSentLog(sentLogPath, text);
    counts.fatal = false;
    return counts.numSent >= counts.numTried;
}

bool SmtpConnImpl::sendMimePipelined(std::string_view from, std::string_view mailParams,
                                     std::span<const Recipient> rcpts, std::string_view mimeText,
                                     LogBase& log) {
    EnvelopeResult r;
    const size_t first = results_.size();
    bool alive = pipelineEnvelope(from, mailParams, rcpts, log, nullptr, nullptr, r);
    if (!r.mailAccepted)
        return false;
    if (alive && r.accepted == 0) {
        log.fail(ErrorCode::RecipientRefused, "No valid recipients");
        (void)command("RSET\r\n", 250, log);
        return false;
    }
    if (!alive || !r.dataAccepted) {
        log.logError("Failed when sending DATA command");
        logTranscript(log);
        return false;
    }
    if (transmitText(mimeText, nullptr, log))
        return true;
    noteMessageRefused(first, lastReplyReceived_);
    return false;
}

} // namespace norvane
