// The sending steps of the mail manager: one SMTP session with its settings, the preparation
// that turns the caller's e-mail into what goes on the wire, and the send itself.

#include "security/SmimeWrap.h"
#include "transport/Email2SmtpMail.h"
#include "transport/MailManCore.h"
#include "transport/SmtpConnImpl.h"

#include <algorithm>

namespace norvane {

uint32_t MailManCore::smtpReadTimeoutMs() const {
    // The session turns 0 into its own 30 s default and caps the rest at 500 s.
    return std::min<uint32_t>(pop.readTimeoutSec, 500000) * 1000u;
}

bool MailManCore::connectSmtp(SmtpConnImpl& conn, LogBase& log, std::string_view host,
                              int port) const {
    if (port == 0)
        port = smtp.port;
    conn.setTlsMode(smtp.tlsFor(port));
    conn.setAllowPlainAuthWithoutTls(smtp.allowPlainAuthWithoutTls);
    conn.setDsn(smtp.dsn);
    conn.setOAuthToken(smtp.oauthToken);
    return conn.connect(host.empty() ? std::string_view(smtp.host) : host, port, smtp.username,
                        smtp.password, smtp.loginDomain, smtp.authMethod, pop.connectTimeoutSec,
                        smtpReadTimeoutMs(), log);
}

std::unique_ptr<Email2> MailManCore::prepareForSending(std::unique_ptr<Email2> copy, LogBase& log) {
    if (!copy)
        return nullptr;
    // A Bcc field read from MIME text would show every recipient the hidden ones; they stay
    // in the envelope only.
    copy->removeHeaderField("Bcc");
    StringBuffer receipt;
    if (copy->getHeaderField("NVX-ReturnReceipt", receipt) && receipt.view() == "YES" &&
        copy->from() && !copy->from()->getAddress().empty())
        copy->setHeaderField("Disposition-Notification-To", "<" + copy->from()->getAddress() + ">");
    if (!copy->sendSigned() && !copy->sendEncrypted())
        return copy;
    return SmimeWrap::createSecureEmail(*copy, log);
}

bool MailManCore::sendPrepared(SmtpConnImpl& conn, Email2& prepared, ProgressMonitor* monitor,
                               SmtpSendCounts& counts, LogBase& log) {
    Email2SmtpMail mail(prepared);
    return conn.sendEmailToList(&mail, nullptr, sentLogPath, log, monitor, counts, badAddresses,
                                sendIndividual, autoGenMessageId);
}

} // namespace norvane
