#include "transport/Email2SmtpMail.h"

#include "common/StringBuffer.h"

namespace norvane {

namespace {

RecipientKind toEmailKind(SmtpMail::Kind kind) {
    switch (kind) {
    case SmtpMail::Kind::To:
        return RecipientKind::To;
    case SmtpMail::Kind::Cc:
        return RecipientKind::Cc;
    case SmtpMail::Kind::Bcc:
        break;
    }
    return RecipientKind::Bcc;
}

} // namespace

std::string Email2SmtpMail::headerField(std::string_view name) const {
    StringBuffer value;
    if (!email_.getHeaderField(name, value))
        return {};
    return std::move(value.str());
}

std::string Email2SmtpMail::fromAddress() const {
    const Rfc822Address* from = email_.from();
    return from ? from->getAddress() : std::string();
}

std::string Email2SmtpMail::subject() const {
    return headerField("Subject");
}

std::vector<std::string> Email2SmtpMail::recipients(Kind kind) const {
    RecipientKind k = toEmailKind(kind);
    int n = email_.numRecipients(k);
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        if (const Rfc822Address* a = email_.recipient(k, i))
            out.push_back(a->getAddress());
    return out;
}

void Email2SmtpMail::clearRecipients(Kind kind) {
    email_.clearRecipients(toEmailKind(kind));
}

void Email2SmtpMail::addRecipient(Kind kind, std::string_view address) {
    (void)email_.addRecipient(toEmailKind(kind), {}, address);
}

void Email2SmtpMail::setMessageId(std::string_view messageId) {
    email_.setHeaderField("Message-ID", messageId);
}

bool Email2SmtpMail::renderForSending(std::string& out, LogBase& log) {
    StringBuffer text;
    email_.renderMime(text, "NVX-", log);
    out = std::move(text.str());
    return true;
}

} // namespace norvane
