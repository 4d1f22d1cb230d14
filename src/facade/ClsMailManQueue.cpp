// Queued and HTTP submission: the mail manager writes an e-mail, with the SMTP settings to send
// it with, as a file for a queue runner, or posts it to a web relay; and the runner's step,
// sending one queue file.

#include "common/FileAccess.h"
#include "common/Platform.h"
#include "facade/ClsEmail.h"
#include "facade/ClsMailMan.h"
#include "facade/FacadeText.h"
#include "mime/MimeMessage2.h"
#include "transport/HttpPost.h"
#include "transport/MailQueue.h"
#include "transport/SaslBase64.h"

#include <sys/stat.h>

#include <cerrno>

namespace norvane {

using facade_text::arg;

namespace {

std::string bccOf(const Email2& email) {
    std::string joined;
    for (int i = 0; i < email.numRecipients(RecipientKind::Bcc); ++i) {
        if (!joined.empty())
            joined += ',';
        joined += email.recipient(RecipientKind::Bcc, i)->getAddress();
    }
    return joined;
}

} // namespace

std::unique_ptr<Email2> ClsMailMan::prepareForTransfer(const ClsEmail& email,
                                                       std::string_view failure) {
    std::unique_ptr<Email2> prepared =
        MailManCore::prepareForSending(email.copyForSending(m_log), m_log);
    if (!prepared) {
        m_log.logError(failure);
        return nullptr;
    }
    for (const auto& [name, value] :
         mail_queue::transferFields(mailMan_, bccOf(*prepared), nullptr, m_log))
        prepared->setHeaderField(name, value);
    return prepared;
}

bool ClsMailMan::queueEmail(const ClsEmail& email, std::string_view dir) {
    std::unique_ptr<Email2> prepared =
        prepareForTransfer(email, "Failed to prepare email for sending.");
    if (!prepared)
        return false;
    StringBuffer mime;
    prepared->renderMime(mime, "NVX-", m_log);
    std::string path;
    if (!mail_queue::writeFile(dir, prepared->date(), mime.view(), path, m_log)) {
        m_log.fail(ErrorCode::Io, "Failed to write EML file.");
        return false;
    }
    m_log.logData("filename", path);
    lastSendQFilename_ = path;
    return true;
}

bool ClsMailMan::SendQ(ClsEmail* email) {
    Frame frame(m_log, "SendQ");
    lastSendQFilename_.clear();
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "Email parameter is NULL in SendQ");
        return false;
    }
    return queueEmail(*email, mail_queue::defaultDirectory());
}

bool ClsMailMan::SendQ2(ClsEmail* email, const char* queueDir) {
    Frame frame(m_log, "SendQ2");
    lastSendQFilename_.clear();
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "Email parameter is NULL in SendQ2");
        return false;
    }
    if (!queueDir) {
        m_log.fail(ErrorCode::BadArgument, "Queue Directory parameter is NULL in SendQ2");
        return false;
    }
    return queueEmail(*email, queueDir);
}

bool ClsMailMan::SendMimeQ(const char* from, const char* recipients, const char* mimeMsg) {
    Frame frame(m_log, "SendMimeQ");
    lastSendQFilename_.clear();
    // A file without a sender or a recipient could never be sent: the runner would only move
    // it to failed/, long after this call reported success.
    if (sb::trimView(arg(from)).empty() || sb::trimView(arg(recipients)).empty())
        return m_log.fail(ErrorCode::BadArgument, "No sender or no recipients; nothing queued");
    MimeMessage2 mime;
    mime.loadFromText(arg(mimeMsg), m_log);
    const std::pair<std::string, std::string> envelope{std::string(arg(from)),
                                                       std::string(arg(recipients))};
    for (const auto& [name, value] : mail_queue::transferFields(mailMan_, "", &envelope, m_log))
        mime.setHeaderField(name, value);
    StringBuffer text;
    mime.render(text);
    std::string path;
    if (!mail_queue::writeFile(mail_queue::defaultDirectory(), Email2().date(), text.view(), path,
                               m_log)) {
        m_log.fail(ErrorCode::Io, "Failed to write EML file.");
        return false;
    }
    m_log.logData("filename", path);
    lastSendQFilename_ = path;
    return true;
}

bool ClsMailMan::SendCGI(const char* url, ClsEmail* email) {
    Frame frame(m_log, "SendCGI");
    if (!url) {
        m_log.fail(ErrorCode::BadArgument, "URL parameter is NULL in SendCGI");
        return false;
    }
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "Email parameter is NULL in SendCGI");
        return false;
    }
    std::unique_ptr<Email2> prepared = prepareForTransfer(*email, "Failed to prepare email");
    if (!prepared)
        return false;
    StringBuffer mime;
    prepared->renderMime(mime, "NVX-", m_log);
    std::string response;
    if (!http::postForm(url, {{"email", sasl::base64Encode(mime.view())}},
                        mailMan_.pop.connectTimeoutSec, response, m_log)) {
        m_log.logError("POST Failed");
        return false;
    }
    if (response == "<success/>")
        return true;
    m_log.logError("Failed to send email from remote server");
    m_log.logData("response", response);
    return false;
}

int ClsMailMan::SendQueueFile(const char* path, const char* sentDir) {
    Frame frame(m_log, "SendQueueFile");
    const std::string from(arg(path));
    m_log.logData("filename", from);
    std::string text;
    mail_queue::QueuedMessage message;
    if (from.empty() || !file::readWholeFile(from, text, &m_log) ||
        !mail_queue::parse(text, message, m_log))
        return -1;
    message.smtp.tls = mailMan_.smtp.tls;
    message.smtp.allowPlainAuthWithoutTls = mailMan_.smtp.allowPlainAuthWithoutTls;
    bool moved = false;
    auto fileAway = [&] {
        const std::string dir(arg(sentDir));
        const std::string to = dir + "/" + from.substr(from.find_last_of('/') + 1);
        moved = !dir.empty() && (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) &&
                ::rename(from.c_str(), to.c_str()) == 0;
        if (!moved)
            m_log.logError("Sent, but the queue file could not be moved: " +
                           platform::systemErrorText(errno));
    };
    switch (mail_queue::send(message, mailMan_.pop.connectTimeoutSec, m_log, fileAway)) {
    case mail_queue::SendResult::Sent:
        return moved ? 1 : -2;
    case mail_queue::SendResult::RetryLater:
        return 0;
    case mail_queue::SendResult::Failed:
        break;
    }
    return -1;
}

} // namespace norvane
