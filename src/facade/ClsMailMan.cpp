#include "facade/ClsMailMan.h"
#include "facade/FacadeText.h"

#include "facade/ClsEmail.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsStringArray.h"
#include "security/SmimeUnwrapper.h"
#include "transport/PopSessions.h"
#include "transport/SmtpConnImpl.h"

#include <algorithm>
#include <cctype>

namespace norvane {

using facade_text::arg;

namespace {

std::vector<std::string> stringsOf(const ClsStringArray& array) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(array.count()));
    std::string s;
    for (int i = 0; i < array.count(); ++i)
        if (array.get(i, s))
            out.push_back(s);
    return out;
}

} // namespace

ClsMailMan::ClsMailMan() : unwrapper_(std::make_unique<SmimeUnwrapper>()) {
    mailMan_.unwrapper = unwrapper_.get();
}

ClsMailMan::~ClsMailMan() = default;

void ClsMailMan::put_SmtpHost(const char* host) {
    mailMan_.smtp.host = arg(host);
}
void ClsMailMan::put_SmtpUsername(const char* user) {
    mailMan_.smtp.username = arg(user);
}
void ClsMailMan::put_SmtpPassword(const char* password) {
    mailMan_.smtp.password = arg(password);
}
void ClsMailMan::put_SmtpLoginDomain(const char* domain) {
    mailMan_.smtp.loginDomain = arg(domain);
}
void ClsMailMan::put_SmtpAuthMethod(const char* method) {
    mailMan_.smtp.authMethod = arg(method);
}
std::string ClsMailMan::get_SmtpTls() const {
    return std::string(tlsModeName(mailMan_.smtp.tlsFor(mailMan_.smtp.port)));
}
void ClsMailMan::put_SmtpTls(const char* mode) {
    std::optional<TlsMode> m = parseTlsMode(arg(mode));
    if (!m) {
        Frame frame(m_log, "put_SmtpTls");
        m_log.logError("Unknown TLS mode; not changed");
        m_log.logData("SmtpTls", arg(mode));
        return;
    }
    mailMan_.smtp.tls = m;
}
std::string ClsMailMan::get_PopTls() const {
    const PopSettings& p = mailMan_.pop;
    return std::string(tlsModeName(p.popSsl ? TlsMode::Implicit : p.startTls));
}
void ClsMailMan::put_PopTls(const char* mode) {
    std::optional<TlsMode> m = parseTlsMode(arg(mode));
    if (!m) {
        Frame frame(m_log, "put_PopTls");
        m_log.logError("Unknown TLS mode; not changed");
        m_log.logData("PopTls", arg(mode));
        return;
    }
    mailMan_.pop.popSsl = *m == TlsMode::Implicit;
    if (*m != TlsMode::Implicit)
        mailMan_.pop.startTls = *m;
}
void ClsMailMan::put_DsnNotify(const char* notify) {
    if (std::optional<std::string> v = smtp::dsnNotify(arg(notify))) {
        mailMan_.smtp.dsn.notify = std::move(*v);
        return;
    }
    Frame frame(m_log, "put_DsnNotify");
    m_log.logError("NOTIFY is NEVER, or SUCCESS, FAILURE and DELAY joined by commas; not changed");
    m_log.logData("DsnNotify", arg(notify));
}
void ClsMailMan::put_DsnRet(const char* ret) {
    if (std::optional<std::string> v = smtp::dsnRet(arg(ret))) {
        mailMan_.smtp.dsn.ret = std::move(*v);
        return;
    }
    Frame frame(m_log, "put_DsnRet");
    m_log.logError("RET is FULL or HDRS; not changed");
    m_log.logData("DsnRet", arg(ret));
}
void ClsMailMan::put_DsnEnvid(const char* envid) {
    if (smtp::validDsnEnvid(arg(envid))) {
        mailMan_.smtp.dsn.envid = arg(envid);
        return;
    }
    Frame frame(m_log, "put_DsnEnvid");
    m_log.logError("ENVID is at most 100 printable ASCII characters; not changed");
}
void ClsMailMan::put_OAuth2AccessToken(const char* token) {
    mailMan_.smtp.oauthToken = arg(token);
    mailMan_.pop.auth.token = arg(token);
    updatePopAuth();
}
void ClsMailMan::put_PopAuthMethod(const char* method) {
    std::string m(sb::trimView(arg(method)));
    std::transform(m.begin(), m.end(), m.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (m != "" && m != "USER" && m != "APOP" && m != "XOAUTH2" && m != "OAUTHBEARER") {
        Frame frame(m_log, "put_PopAuthMethod");
        m_log.logError("PopAuthMethod is \"\", USER, APOP, XOAUTH2 or OAUTHBEARER; not changed");
        m_log.logData("PopAuthMethod", arg(method));
        return;
    }
    popAuthMethod_ = m;
    updatePopAuth();
}
void ClsMailMan::updatePopAuth() {
    using M = PopAuth::Method;
    PopAuth& a = mailMan_.pop.auth;
    if (popAuthMethod_ == "APOP")
        a.method = M::Apop;
    else if (popAuthMethod_ == "XOAUTH2")
        a.method = M::XOAuth2;
    else if (popAuthMethod_ == "OAUTHBEARER")
        a.method = M::OAuthBearer;
    else
        a.method = popAuthMethod_.empty() && !a.token.empty() ? M::OAuth : M::UserPass;
}
void ClsMailMan::put_LogMailSentFilename(const char* path) {
    mailMan_.sentLogPath = arg(path);
}
void ClsMailMan::put_MailHost(const char* host) {
    mailMan_.pop.mailHost = arg(host);
}
void ClsMailMan::put_PopUsername(const char* user) {
    mailMan_.pop.popUsername = arg(user);
}
void ClsMailMan::put_PopPassword(const char* password) {
    mailMan_.pop.popPassword = arg(password);
}
void ClsMailMan::put_Filter(const char* filter) {
    mailMan_.filter = arg(filter);
}
void ClsMailMan::put_LogMailReceivedFilename(const char* path) {
    mailMan_.receivedLogPath = arg(path);
}

void ClsMailMan::put_AutoUnwrapSecurity(bool on) {
    autoUnwrapSecurity_ = on;
    mailMan_.unwrapper = on ? unwrapper_.get() : nullptr;
}

void ClsMailMan::put_AutoSaveCerts(bool on) {
    autoSaveCerts_ = on;
    mailMan_.saveCerts = on;
}

// A negative time-out is taken as 0 (the default) rather than as a huge unsigned value.
void ClsMailMan::put_ReadTimeout(int seconds) {
    mailMan_.pop.readTimeoutSec = static_cast<uint32_t>(std::max(seconds, 0));
}
void ClsMailMan::put_ConnectTimeout(int seconds) {
    mailMan_.pop.connectTimeoutSec = static_cast<uint32_t>(std::max(seconds, 0));
}

void ClsMailMan::PercentDone(int, bool& abort) {
    abort = false;
}
void ClsMailMan::AbortCheck(bool& abort) {
    abort = false;
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::toBundle(std::unique_ptr<MailBundle> fetched) {
    if (!fetched)
        return nullptr;
    auto bundle = std::make_unique<ClsEmailBundle>();
    bundle->transferFrom(*fetched);
    return bundle;
}

std::unique_ptr<ClsEmail> ClsMailMan::toEmail(std::unique_ptr<Email2> fetched) {
    if (!fetched)
        return nullptr;
    return std::make_unique<ClsEmail>(std::move(fetched));
}

// ---- receiving ----

int ClsMailMan::CheckMail() {
    Frame frame(m_log, "CheckMail");
    return mailMan_.checkMail(m_log);
}

std::unique_ptr<ClsStringArray> ClsMailMan::GetUidls() {
    Frame frame(m_log, "GetUidls");
    std::vector<std::string> uidls;
    if (!mailMan_.getUidls(uidls, m_log))
        return nullptr;
    auto out = std::make_unique<ClsStringArray>();
    for (const std::string& u : uidls)
        out->append(std::string_view(u));
    return out;
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::CopyMail() {
    Frame frame(m_log, "CopyMail");
    return toBundle(mailMan_.copyMail(this, m_log));
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::TransferMail() {
    Frame frame(m_log, "TransferMail");
    return toBundle(mailMan_.transferMail(this, m_log));
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::GetAllHeaders(int numBodyLines) {
    Frame frame(m_log, "GetAllHeaders");
    return toBundle(mailMan_.getAllHeaders(numBodyLines, this, m_log));
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::GetHeaders(int numBodyLines, int fromIndex,
                                                       int toIndex) {
    Frame frame(m_log, "GetHeaders");
    return toBundle(mailMan_.getHeaders(numBodyLines, fromIndex, toIndex, this, m_log));
}

std::unique_ptr<ClsEmail> ClsMailMan::FetchEmail(const char* uidl) {
    Frame frame(m_log, "FetchEmail");
    const std::string id(arg(uidl));
    if (id.empty()) {
        m_log.fail(ErrorCode::BadArgument, "UIDL parameter is empty.");
        return nullptr;
    }
    auto email = toEmail(mailMan_.fetchEmail(id, this, m_log));
    if (!email) {
        m_log.logData("uidl", id);
        m_log.logError("Failed to fetch email from mail server");
    }
    return email;
}

std::unique_ptr<ClsEmail> ClsMailMan::GetFullEmail(ClsEmail* email) {
    Frame frame(m_log, "GetFullEmail");
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "NULL parameter");
        return nullptr;
    }
    const std::string id = email->get_Uidl();
    if (id.empty()) {
        m_log.fail(ErrorCode::NotFound, "This email does not have a UIDL");
        return nullptr;
    }
    auto full = toEmail(mailMan_.fetchEmail(id, this, m_log));
    if (!full) {
        m_log.logData("uidl", id);
        m_log.logError("Failed to fetch email from mail server");
    }
    return full;
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::FetchMultiple(const ClsStringArray* uidls) {
    Frame frame(m_log, "FetchMultiple");
    if (!uidls) {
        m_log.fail(ErrorCode::BadArgument, "UIDL array input parameter is NULL");
        return nullptr;
    }
    auto bundle = toBundle(mailMan_.fetchMultiple(stringsOf(*uidls), this, m_log));
    if (!bundle)
        m_log.logError("Failed to fetch emails by UIDL from mail server");
    return bundle;
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::FetchMultipleHeaders(const ClsStringArray* uidls,
                                                                 int numBodyLines) {
    Frame frame(m_log, "FetchMultipleHeaders");
    if (!uidls) {
        m_log.fail(ErrorCode::BadArgument, "UIDL array input parameter is NULL");
        return nullptr;
    }
    auto bundle =
        toBundle(mailMan_.fetchMultipleHeaders(stringsOf(*uidls), numBodyLines, this, m_log));
    if (!bundle)
        m_log.logError("Failed to fetch emails by UIDL from mail server");
    return bundle;
}

bool ClsMailMan::deleteUidls(const std::vector<std::string>& uidls) {
    return mailMan_.deleteUidls(uidls, this, m_log);
}

bool ClsMailMan::DeleteEmail(ClsEmail* email) {
    Frame frame(m_log, "DeleteEmail");
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "NULL parameter");
        return false;
    }
    const std::string id = email->get_Uidl();
    if (id.empty()) {
        m_log.logError("Cannot delete, message matching UIDL not found on server.");
        return false;
    }
    return deleteUidls({id});
}

bool ClsMailMan::DeleteByUidl(const char* uidl) {
    Frame frame(m_log, "DeleteByUidl");
    const std::string id(arg(uidl));
    if (id.empty()) {
        m_log.fail(ErrorCode::BadArgument, "UIDL parameter is empty");
        return false;
    }
    return deleteUidls({id});
}

bool ClsMailMan::DeleteBundle(ClsEmailBundle* bundle) {
    Frame frame(m_log, "DeleteBundle");
    if (!bundle) {
        m_log.fail(ErrorCode::BadArgument, "Bundle input parameter is NULL");
        return false;
    }
    std::vector<std::string> uidls;
    for (int i = 0; i < bundle->get_MessageCount(); ++i)
        if (std::string id = bundle->emailAt(i)->get_Uidl(); !id.empty())
            uidls.push_back(std::move(id));
    return deleteUidls(uidls);
}

bool ClsMailMan::DeleteMultiple(const ClsStringArray* uidls) {
    Frame frame(m_log, "DeleteMultiple");
    if (!uidls) {
        m_log.fail(ErrorCode::BadArgument, "UIDL array input parameter is NULL");
        return false;
    }
    return deleteUidls(stringsOf(*uidls));
}

bool ClsMailMan::VerifyPopConnection() {
    Frame frame(m_log, "VerifyPopConnection");
    const PopSettings& p = mailMan_.pop;
    if (p.popSsl)
        return popTlsCheck(p.mailHost, p.mailPort, p.connectTimeoutSec, p.readTimeoutSec, m_log);
    return popCheck(p.mailHost, p.mailPort, p.connectTimeoutSec, m_log);
}

bool ClsMailMan::VerifyPopLogin() {
    Frame frame(m_log, "VerifyPopLogin");
    const PopSettings& p = mailMan_.pop;
    if (p.popSsl)
        return popTlsConnect(p.mailHost, p.popUsername, p.popPassword, p.mailPort, p.readTimeoutSec,
                             p.connectTimeoutSec, m_log, p.auth) != nullptr;
    return popConnect(p.mailHost, p.popUsername, p.popPassword, p.mailPort, p.readTimeoutSec,
                      p.connectTimeoutSec, m_log, p.startTls, p.auth) != nullptr;
}

// ---- loading ----

std::unique_ptr<ClsEmail> ClsMailMan::LoadMime(const char* mimeText) {
    if (!mimeText)
        return nullptr;
    auto email = std::make_unique<ClsEmail>();
    (void)email->SetFromMimeText(mimeText);
    return email;
}

std::unique_ptr<ClsEmail> ClsMailMan::LoadEml(const char* emlFilename) {
    Frame frame(m_log, "LoadEml");
    auto email = std::make_unique<ClsEmail>();
    if (!email->LoadEml(emlFilename)) {
        m_log.fail(email->get_LastErrorCode(), "Failed to load the file");
        m_log.logData("filename", arg(emlFilename));
        return nullptr;
    }
    return email;
}

std::unique_ptr<ClsEmail> ClsMailMan::LoadXmlEmail(const char* emailFilename) {
    auto email = std::make_unique<ClsEmail>();
    if (!email->LoadXml(emailFilename))
        return nullptr;
    return email;
}

std::unique_ptr<ClsEmail> ClsMailMan::LoadXmlEmailString(const char* xmlString) {
    auto email = std::make_unique<ClsEmail>();
    if (!email->SetFromXmlText(xmlString))
        return nullptr;
    return email;
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::LoadXmlFile(const char* folderPath) {
    auto bundle = std::make_unique<ClsEmailBundle>();
    if (!bundle->LoadXml(folderPath))
        return nullptr;
    return bundle;
}

std::unique_ptr<ClsEmailBundle> ClsMailMan::LoadXmlString(const char* xmlString) {
    auto bundle = std::make_unique<ClsEmailBundle>();
    if (!bundle->LoadXmlString(xmlString))
        return nullptr;
    return bundle;
}

} // namespace norvane
