// What a transaction of SmtpConnImpl asks of the server beyond the bare envelope (the MAIL FROM
// and RCPT TO parameters of the extensions it offers) and what it answered for each recipient.

#include "transport/SmtpConnImpl.h"
#include "transport/SmtpWire.h"

#include <algorithm>
#include <string>

namespace norvane {

void SmtpConnImpl::noteRecipient(std::string_view address, bool received) {
    smtp::Reply reply = received ? smtp::parseReply(lastReply_, ext_.enhancedCodes)
                                 : smtp::Reply{0, {}, "No reply: the connection failed"};
    results_.push_back({std::string(address), std::move(reply)});
}

void SmtpConnImpl::noteUnsent(std::string_view address, std::string_view reason) {
    results_.push_back({std::string(address), smtp::Reply{0, {}, std::string(reason)}});
}

void SmtpConnImpl::noteMessageRefused(size_t first, bool received) {
    const smtp::Reply refusal = received ? smtp::parseReply(lastReply_, ext_.enhancedCodes)
                                         : smtp::Reply{0, {}, "No reply: the connection failed"};
    for (size_t i = first; i < results_.size(); ++i)
        if (results_[i].reply.code / 100 == 2)
            results_[i].reply = refusal;
}

bool SmtpConnImpl::envelopeParameters(std::string_view sender, std::span<const Recipient> rcpts,
                                      std::string_view text, std::string& mailParams,
                                      bool& tooLarge, LogBase& log) {
    mailParams.clear();
    rcptParams_.clear();
    tooLarge = false;
    std::string refusal;
    const bool international =
        smtp::has8bit(sender) || std::any_of(rcpts.begin(), rcpts.end(), [](const Recipient& r) {
            return smtp::has8bit(r.address);
        });
    if (international) {
        if (ext_.smtpUtf8)
            mailParams += " SMTPUTF8";
        else
            refusal = "The server does not offer SMTPUTF8, which an address beyond ASCII needs; "
                      "the message is not sent";
    }
    const bool eightBit = smtp::has8bit(text);
    if (refusal.empty() && ext_.size) {
        const uint64_t size = smtp::framedSize(text);
        if (ext_.sizeLimit != 0 && size > ext_.sizeLimit) {
            tooLarge = true;
            refusal = "The message (" + std::to_string(size) +
                      " bytes) is larger than the server's SIZE limit (" +
                      std::to_string(ext_.sizeLimit) + " bytes); it is not sent";
        }
        mailParams += " SIZE=" + std::to_string(size);
    }
    if (!refusal.empty()) {
        log.logError(refusal);
        for (const Recipient& r : rcpts)
            noteUnsent(r.address, refusal);
        mailParams.clear();
        return false;
    }
    // 8-bit text goes as it is either way; the parameter tells a server that knows it.
    if (eightBit && ext_.eightBitMime)
        mailParams += " BODY=8BITMIME";
    else if (eightBit)
        log.logInfo("The message holds 8-bit data and the server does not offer 8BITMIME");
    if (dsn_.any() && !ext_.dsn) {
        log.logInfo("The server does not offer DSN; NOTIFY, RET and ENVID are not sent");
    } else if (dsn_.any()) {
        if (!dsn_.ret.empty())
            mailParams += " RET=" + dsn_.ret;
        if (!dsn_.envid.empty())
            mailParams += " ENVID=" + smtp::xtext(dsn_.envid);
        if (!dsn_.notify.empty())
            rcptParams_ = " NOTIFY=" + dsn_.notify;
    }
    return true;
}

} // namespace norvane
