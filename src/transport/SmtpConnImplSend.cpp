// Mail transactions of SmtpConnImpl: one e-mail, a distribution list, ready MIME text.

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

// Appends the sent text to the sent-mail log; a log that cannot be opened is skipped.
void appendSentLog(std::string_view path, std::string_view framed) {
    if (path.empty())
        return;
    UniqueFd fd(::open(std::string(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!fd)
        return;
    std::string block = "--BEGIN SENT NORVANE EMAIL--\n";
    block.append(framed);
    block.append("\n--END SENT NORVANE EMAIL--\n");
    const char* p = block.data();
    size_t left = block.size();
    while (left > 0) {
        ssize_t n = ::write(fd.get(), p, left);
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

std::string warningText(int failed, int sent) {
    return "Warning: failed to send to " + std::to_string(failed) +
           " recipient(s), continuing to send to " + std::to_string(sent) + " recipient(s)";
}

} // namespace

bool SmtpConnImpl::mailFrom(std::string_view sender, LogBase& log) {
    if (smtp::hasLineBreakOrNul(sender)) {
        log.logError("Sender address contains CR, LF or NUL; MAIL FROM not sent");
        return false;
    }
    if (command("MAIL FROM:<" + std::string(sender) + ">\r\n", 250, log))
        return true;
    log.logError("Failed when sending MAIL FROM:<" + std::string(sender) + ">");
    logTranscript(log);
    return false;
}

bool SmtpConnImpl::rcptTo(std::string_view address, LogBase& log) {
    if (smtp::hasLineBreakOrNul(address)) {
        log.logError("Recipient address contains CR, LF or NUL; RCPT TO not sent");
        return false;
    }
    return command("RCPT TO:<" + std::string(address) + ">\r\n", 250, log);
}

void SmtpConnImpl::sendRecipients(SmtpMail& email, LogBase& log, ProgressMonitor* monitor,
                                  SmtpSendCounts& counts, DistributionList& badAddresses) {
    LogContext ctx(log, "recipients");
    struct Pass {
        SmtpMail::Kind kind;
        const char* name;
        const char* failure;
    };
    static const Pass kPasses[] = {
        {SmtpMail::Kind::To, "to", "Failed when sending RCPT TO:<"},
        {SmtpMail::Kind::Cc, "cc", "Failed when sending cc RCPT TO:<"},
        {SmtpMail::Kind::Bcc, "bcc", "Failed when sending bcc RCPT TO:<"},
    };
    for (const Pass& pass : kPasses) {
        for (const std::string& address : email.recipients(pass.kind)) {
            if (address.empty())
                continue;
            ++counts.numTried;
            if (rcptTo(address, log)) {
                log.logData(pass.name, address);
                ++counts.numSent;
            } else {
                log.logError(pass.failure + address + ">");
                log.logData("bad_address", address);
                badAddresses.add(address);
            }
            consume(monitor, 50);
        }
    }
}

// DATA, the framed text and the end marker, with the failure texts every transaction shares.
bool SmtpConnImpl::transmitData(const std::string& framed, ProgressMonitor* monitor, LogBase& log) {
    if (!command("DATA\r\n", 354, log)) {
        log.logError("Failed when sending DATA command");
        logTranscript(log);
        return false;
    }
    consume(monitor, 50);
    log.logDataLong("email_size", static_cast<long>(framed.size()));
    if (framed.size() > 2500) {
        appendTranscript(std::string_view(framed).substr(0, 2500));
        appendTranscript("\n...\n");
    } else {
        appendTranscript(framed);
    }
    static constexpr std::string_view kEnd = "\r\n.\r\n";
    bool endSent = false;
    if (framed.size() <= kCoalesceLimit && !monitor) {
        // A small message goes out with its end marker in one write: one segment, and the
        // server has the whole transaction at once.
        std::string all = framed;
        all.append(kEnd);
        if (!socket_.sendBytes(all.data(), all.size(), log, nullptr)) {
            log.logError("Failed when sending email body");
            logTranscript(log);
            return false;
        }
        appendTranscript(kEnd);
        endSent = true;
    } else if (!framed.empty() && !socket_.sendBytes(framed.data(), framed.size(), log, monitor)) {
        log.logError("Failed when sending email body");
        logTranscript(log);
        return false;
    }
    if (!(endSent ? readReply(250, log) : command(kEnd, 250, log))) {
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
        log.logError("Invalid email object, no return address");
        counts.fatal = true;
        return false;
    }
    log.logData("subject", email.subject());
    log.logData("from", sender);
    if (!mailFrom(sender, log)) {
        counts.fatal = true;
        return false;
    }
    consume(monitor, 50);
    sendRecipients(email, log, monitor, counts, badAddresses);
    if (counts.numSent == 0) {
        // The server still holds the sender; without RSET the next e-mail's MAIL FROM would
        // be refused as a nested transaction.
        (void)command("RSET\r\n", 250, log);
        return false;
    }
    if (counts.numSent < counts.numTried)
        log.logError(warningText(counts.numTried - counts.numSent, counts.numSent));

    std::string framed;
    if (preRenderedMime) {
        framed = smtp::frameData(*preRenderedMime);
    } else {
        std::string text;
        if (!email.renderForSending(text, log)) {
            // Nothing was sent after RCPT: the server is told to forget the transaction.
            counts.numSent = 0;
            (void)command("RSET\r\n", 250, log);
            return false;
        }
        framed = smtp::frameData(text);
        // The rendering goes before the transfer: a large e-mail is held once, not twice.
    }
    if (!transmitData(framed, monitor, log)) {
        counts.fatal = true;
        counts.numSent = 0;
        return false;
    }
    appendSentLog(sentLogPath, framed);
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
        log.logError("No From Address");
        return false;
    }
    std::vector<std::string> sender = smtp::bareAddresses(from);
    if (sender.empty())
        return false;
    if (sb::trimView(recipients).empty()) {
        log.logError("No Recipients");
        return false;
    }
    std::vector<std::string> list = smtp::bareAddresses(recipients);
    if (list.empty()) {
        log.logError("No Valid Recipients");
        return false;
    }
    return sendMimeTo(sender.front(), list, mimeText, log);
}

bool SmtpConnImpl::sendMimeTo(std::string_view from, std::span<const std::string> recipients,
                              std::string_view mimeText, LogBase& log) {
    if (!mailFrom(from, log))
        return false;
    int accepted = 0;
    {
        LogContext ctx(log, "recipients");
        for (const std::string& address : recipients) {
            if (rcptTo(address, log)) {
                log.logData("recipient", address);
                ++accepted;
            } else {
                log.logError("Failed when sending RCPT TO:<" + address + ">");
                log.logData("bad_address", address);
            }
        }
    }
    if (accepted == 0) {
        log.logError("No valid recipients");
        return false;
    }
    return transmitData(smtp::frameData(mimeText), nullptr, log);
}

} // namespace norvane
