#pragma once

// What an SMTP session needs from an e-mail: its envelope sender, its recipients, a way to
// change recipients and Message-ID between the transactions of a distribution-list send, and
// its MIME text as sent (without the header fields that steer the component). The e-mail
// object provides it; the session never sees the e-mail's own type.

#include "common/LogBase.h"

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class SmtpMail {
public:
    enum class Kind { To, Cc, Bcc };

    virtual ~SmtpMail() = default;

    // The unfolded value of a header field ("" when absent); names compare without case.
    [[nodiscard]] virtual std::string headerField(std::string_view name) const = 0;
    // The bare address of the first From mailbox ("" when there is none).
    [[nodiscard]] virtual std::string fromAddress() const = 0;
    [[nodiscard]] virtual std::string subject() const = 0;
    // Bare addresses of one recipient list, in the e-mail's order.
    [[nodiscard]] virtual std::vector<std::string> recipients(Kind kind) const = 0;
    virtual void clearRecipients(Kind kind) = 0;
    virtual void addRecipient(Kind kind, std::string_view address) = 0;
    virtual void setMessageId(std::string_view messageId) = 0;
    // The MIME text to transmit, leaving out header fields whose names begin with "NVX-".
    [[nodiscard]] virtual bool renderForSending(std::string& out, LogBase& log) = 0;
};

} // namespace norvane
