#pragma once

// The e-mail object as the SMTP session sees it. Recipients come from the e-mail's own lists
// (Bcc included, which has no header field and so never reaches the rendered text); the text
// sent is the e-mail rendered without the header fields that steer the component ("NVX-").
// The adapter borrows the e-mail: changes of recipients and Message-ID made by a
// distribution-list send stay on it, as the caller sees them afterwards.

#include "email/Email2.h"
#include "transport/SmtpMail.h"

namespace norvane {

class Email2SmtpMail : public SmtpMail {
public:
    explicit Email2SmtpMail(Email2& email) : email_(email) {}

    [[nodiscard]] std::string headerField(std::string_view name) const override;
    [[nodiscard]] std::string fromAddress() const override;
    [[nodiscard]] std::string subject() const override;
    [[nodiscard]] std::vector<std::string> recipients(Kind kind) const override;
    void clearRecipients(Kind kind) override;
    void addRecipient(Kind kind, std::string_view address) override;
    void setMessageId(std::string_view messageId) override;
    [[nodiscard]] bool renderForSending(std::string& out, LogBase& log) override;

    [[nodiscard]] Email2& email() { return email_; }

private:
    Email2& email_;
};

} // namespace norvane
