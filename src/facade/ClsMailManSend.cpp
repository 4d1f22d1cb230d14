// The sending members of the mail manager. They share one SMTP session, opened by the first
// call and kept for the next while SmtpKeepAliveSeconds allows (openSmtp, releaseSmtp); without
// reuse it ends with QUIT at the end of each call, on every path.

#include "facade/ClsEmail.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsMailMan.h"
#include "facade/ClsStringArray.h"
#include "facade/FacadeText.h"
#include "transport/Email2SmtpMail.h"
#include "transport/SmtpConnImpl.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace norvane {

using facade_text::arg;

namespace {

constexpr uint32_t kStartUnits = 200;
constexpr uint32_t kConnectUnits = 200;
constexpr uint32_t kPrepareOneUnits = 50;
constexpr uint32_t kPrepareBundleUnits = 75;

// What sending is expected to cost: half again the e-mails' size for the SMTP steps, plus the
// fixed start.
uint32_t progressTotal(int64_t bytes) {
    const int64_t total = bytes * 3 / 2 + kStartUnits;
    return static_cast<uint32_t>(std::min<int64_t>(total, std::numeric_limits<uint32_t>::max()));
}

void consume(ProgressMonitor& monitor, uint32_t n) {
    bool abort = false;
    monitor.consume(n, abort);
}

// How one e-mail of a send ended. Partial: the message went to some recipients, not all.
enum class SendOutcome { Sent, Partial, NotSent };

SendOutcome outcomeOf(bool ok, const SmtpSendCounts& counts) {
    if (ok)
        return SendOutcome::Sent;
    if (!counts.fatal && counts.numSent > 0)
        return SendOutcome::Partial;
    return SendOutcome::NotSent;
}

// A send that failed for some recipients only is reported as partial; a message that reached
// nobody (refused, cut off, or never sent) as failed.
void logOutcome(SendOutcome outcome, LogBase& log) {
    if (outcome == SendOutcome::Partial)
        log.logError("Partial send failure.");
    else if (outcome == SendOutcome::NotSent)
        log.logError("Send failed.");
}

} // namespace

bool ClsMailMan::connectOrLog(SmtpConnImpl& conn, std::string_view host, int port) {
    if (mailMan_.connectSmtp(conn, m_log, host, port))
        return true;
    m_log.logError("Failed to connect to SMTP server.");
    return false;
}

std::string ClsMailMan::smtpSessionKey(std::string_view host, int port) const {
    const SmtpSettings& s = mailMan_.smtp;
    if (host.empty())
        host = s.host;
    if (port == 0)
        port = s.port;
    // NUL cannot occur in any of the parts: it separates them unambiguously.
    const std::string portText = std::to_string(port);
    std::string key(host);
    for (std::string_view part :
         {std::string_view(portText), std::string_view(s.username), std::string_view(s.password),
          std::string_view(s.loginDomain), std::string_view(s.authMethod),
          std::string_view(s.oauthToken), tlsModeName(s.tlsFor(port)),
          std::string_view(s.allowPlainAuthWithoutTls ? "1" : "0")}) {
        key.push_back('\0');
        key.append(part);
    }
    return key;
}

SmtpConnImpl* ClsMailMan::openSmtp(std::string_view host, int port) {
    const std::string key = smtpSessionKey(host, port);
    if (smtpSession_) {
        const auto idle = std::chrono::steady_clock::now() - smtpSessionUsed_;
        if (key != smtpSessionKey_ || idle > std::chrono::seconds(smtpKeepAliveSec_)) {
            (void)CloseSmtpConnection();
        } else if (LogNull quiet; smtpSession_->reset(quiet)) {
            m_log.logInfo("Using the SMTP session kept from the last call");
            smtpSession_->setDsn(mailMan_.smtp.dsn);
            return smtpSession_.get();
        } else {
            m_log.logInfo("The kept SMTP session is closed or out of step; connecting again");
            smtpSession_.reset();
        }
    }
    auto conn = std::make_unique<SmtpConnImpl>();
    if (!connectOrLog(*conn, host, port))
        return nullptr;
    smtpSession_ = std::move(conn);
    smtpSessionKey_ = key;
    return smtpSession_.get();
}

void ClsMailMan::releaseSmtp() {
    if (!smtpSession_)
        return;
    collectResults(*smtpSession_);
    if (smtpKeepAliveSec_ > 0 && smtpSession_->inStep()) {
        smtpSessionUsed_ = std::chrono::steady_clock::now();
        return;
    }
    LogNull quiet;
    (void)smtpSession_->quit(quiet);
    smtpSession_.reset();
}

bool ClsMailMan::CloseSmtpConnection() {
    if (!smtpSession_)
        return true;
    const bool ok = smtpSession_->quit(m_log);
    smtpSession_.reset();
    return ok;
}

void ClsMailMan::put_SmtpKeepAliveSeconds(int seconds) {
    smtpKeepAliveSec_ = std::max(seconds, 0);
    if (smtpKeepAliveSec_ == 0)
        (void)CloseSmtpConnection();
}

void ClsMailMan::collectResults(SmtpConnImpl& conn) {
    for (smtp::RecipientResult& r : conn.takeRecipientResults())
        mailMan_.recipientResults.push_back(std::move(r));
}

const smtp::RecipientResult* ClsMailMan::recipientResult(int index) const {
    const auto& all = mailMan_.recipientResults;
    return index >= 0 && static_cast<size_t>(index) < all.size() ? &all[static_cast<size_t>(index)]
                                                                 : nullptr;
}

std::string ClsMailMan::GetRecipientResultAddress(int index) const {
    const smtp::RecipientResult* r = recipientResult(index);
    return r ? r->address : std::string();
}

int ClsMailMan::GetRecipientResultCode(int index) const {
    const smtp::RecipientResult* r = recipientResult(index);
    return r ? r->reply.code : 0;
}

std::string ClsMailMan::GetRecipientResultEnhancedCode(int index) const {
    const smtp::RecipientResult* r = recipientResult(index);
    return r ? r->reply.enhancedCode : std::string();
}

std::string ClsMailMan::GetRecipientResultText(int index) const {
    const smtp::RecipientResult* r = recipientResult(index);
    return r ? r->reply.text : std::string();
}

bool ClsMailMan::sendOne(SmtpConnImpl& conn, const ClsEmail& email, ProgressMonitor* monitor,
                         bool& reachedNobody) {
    reachedNobody = false;
    std::unique_ptr<Email2> copy = email.copyForSending(m_log);
    if (!copy)
        m_log.logError("Failed to clone with replacements.");
    std::unique_ptr<Email2> prepared = MailManCore::prepareForSending(std::move(copy), m_log);
    if (!prepared) {
        m_log.logError("Failed to prepare email for sending.");
        reachedNobody = true;
        return false;
    }
    if (monitor)
        consume(*monitor, monitor->hasTag("bundle") ? kPrepareBundleUnits : kPrepareOneUnits);
    SmtpSendCounts counts;
    const bool ok = mailMan_.sendPrepared(conn, *prepared, monitor, counts, m_log);
    const SendOutcome outcome = outcomeOf(ok, counts);
    logOutcome(outcome, m_log);
    reachedNobody = outcome == SendOutcome::NotSent;
    return ok;
}

bool ClsMailMan::SendEmail(ClsEmail* email) {
    Frame frame(m_log, "SendEmail");
    mailMan_.recipientResults.clear();
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "Email parameter is NULL in SendEmail");
        return false;
    }
    ProgressMonitor monitor(this, progressTotal(email->email2().sendSizeEstimate()));
    consume(monitor, kStartUnits);
    SmtpConnImpl* conn = openSmtp();
    if (!conn)
        return false;
    consume(monitor, kConnectUnits);
    bool reachedNobody = false;
    const bool ok = sendOne(*conn, *email, &monitor, reachedNobody);
    releaseSmtp();
    monitor.finish();
    return ok;
}

bool ClsMailMan::SendBundle(ClsEmailBundle* bundle) {
    Frame frame(m_log, "SendBundle");
    mailMan_.recipientResults.clear();
    if (!bundle) {
        m_log.fail(ErrorCode::BadArgument, "Bundle parameter is NULL in SendBundle");
        return false;
    }
    int64_t bytes = 0;
    for (int i = 0; i < bundle->get_MessageCount(); ++i)
        bytes += bundle->emailAt(i)->email2().sendSizeEstimate();
    ProgressMonitor monitor(this, progressTotal(bytes));
    monitor.addTag("bundle");
    consume(monitor, kStartUnits);
    SmtpConnImpl* conn = openSmtp();
    if (!conn)
        return false;
    consume(monitor, kConnectUnits);
    // A recipient refused here and there does not fail the bundle (the bad addresses say who);
    // an e-mail that reached nobody does, and the others are still sent.
    bool allSent = true;
    for (int i = 0; i < bundle->get_MessageCount(); ++i) {
        m_log.logDataLong("emailIndex", i);
        bool reachedNobody = false;
        (void)sendOne(*conn, *bundle->emailAt(i), &monitor, reachedNobody);
        collectResults(*conn);
        if (reachedNobody)
            allSent = false;
    }
    releaseSmtp();
    monitor.finish();
    return allSent;
}

bool ClsMailMan::QuickSend(const char* from, const char* to, const char* subject, const char* body,
                           const char* smtpServer) {
    Frame frame(m_log, "QuickSend");
    mailMan_.recipientResults.clear();
    ClsEmail email;
    email.put_Subject(subject);
    email.put_Body(body);
    (void)email.AddMultipleTo(to);
    email.put_From(from);
    SmtpConnImpl* conn = openSmtp(arg(smtpServer), mailMan_.quickSendPort);
    if (!conn)
        return false;
    Email2SmtpMail mail(email.email2());
    SmtpSendCounts counts;
    const bool ok =
        conn->sendEmailToList(&mail, nullptr, mailMan_.sentLogPath, m_log, nullptr, counts,
                              mailMan_.badAddresses, mailMan_.sendIndividual, true);
    releaseSmtp();
    if (!ok)
        m_log.logError("Send failed.");
    return ok;
}

bool ClsMailMan::SendMime(const char* from, const char* recipients, const char* mimeMsg) {
    Frame frame(m_log, "SendMime");
    mailMan_.recipientResults.clear();
    const std::string sender(arg(from)), rcpts(arg(recipients)), mime(arg(mimeMsg));
    SmtpConnImpl* conn = openSmtp();
    if (!conn)
        return false;
    const bool ok = conn->sendMime(sender, rcpts, mime, m_log);
    releaseSmtp();
    return ok;
}

bool ClsMailMan::SendToDistributionList(ClsEmail* email, const ClsStringArray* distList) {
    Frame frame(m_log, "SendToDistributionList");
    mailMan_.recipientResults.clear();
    if (!email || !distList) {
        m_log.fail(ErrorCode::BadArgument, "NULL parameter(s)");
        return false;
    }
    if (distList->count() == 0) {
        m_log.logError("Distribution list is empty.");
        return false;
    }
    DistributionList list;
    std::string entry;
    for (int i = 0; i < distList->count(); ++i)
        if (distList->get(i, entry))
            (void)list.add(entry);
    std::unique_ptr<Email2> prepared =
        MailManCore::prepareForSending(email->copyForSending(m_log), m_log);
    if (!prepared) {
        m_log.logError("Failed to prepare email for sending.");
        return false;
    }
    SmtpConnImpl* conn = openSmtp();
    if (!conn)
        return false;
    Email2SmtpMail mail(*prepared);
    SmtpSendCounts counts;
    const bool ok =
        conn->sendToDistributionList(list, mail, nullptr, mailMan_.sentLogPath, m_log, nullptr,
                                     counts, mailMan_.badAddresses, mailMan_.sendIndividual);
    releaseSmtp();
    logOutcome(outcomeOf(ok, counts), m_log);
    return ok;
}

std::string ClsMailMan::RenderToMime(ClsEmail* email) {
    Frame frame(m_log, "RenderToMime");
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "NULL parameter");
        return {};
    }
    std::unique_ptr<Email2> prepared =
        MailManCore::prepareForSending(email->copyForSending(m_log), m_log);
    if (!prepared) {
        m_log.logError("Failed to prepare email");
        return {};
    }
    StringBuffer mime;
    prepared->renderMime(mime, "", m_log);
    return std::move(mime.str());
}

void ClsMailMan::GetBadEmailAddresses(ClsStringArray* strArray) const {
    if (!strArray)
        return;
    for (const std::string& a : mailMan_.badAddresses.entries())
        strArray->append(std::string_view(a));
}

bool ClsMailMan::VerifySmtpConnection() {
    Frame frame(m_log, "VerifySmtpConnection");
    SmtpConnImpl conn;
    conn.setTlsMode(mailMan_.smtp.tlsFor(mailMan_.smtp.port));
    return conn.checkConnectivity(mailMan_.smtp.host, mailMan_.smtp.port,
                                  mailMan_.pop.connectTimeoutSec, m_log);
}

bool ClsMailMan::VerifySmtpLogin() {
    Frame frame(m_log, "VerifySmtpLogin");
    SmtpConnImpl conn;
    if (!connectOrLog(conn))
        return false;
    return true;
}

} // namespace norvane
