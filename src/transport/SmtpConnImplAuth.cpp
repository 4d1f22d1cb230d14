// The SASL mechanisms of SmtpConnImpl and the PackageExchange it offers to NTLM and MSN.

#include "transport/CramMD5.h"
#include "transport/NorvaneSSPI.h"
#include "transport/SaslBase64.h"
#include "transport/SaslOAuth.h"
#include "transport/SmtpConnImpl.h"
#include "transport/SmtpWire.h"

#include <openssl/crypto.h>

namespace norvane {

namespace {

// A string that wipes itself: credential lines live in these.
struct SecretString {
    std::string s;
    ~SecretString() {
        if (!s.empty())
            OPENSSL_cleanse(s.data(), s.size());
    }
};

std::string_view afterCode(std::string_view line) {
    line = line.size() > 4 ? line.substr(4) : std::string_view();
    return sb::trimView(line);
}

bool credentialsPresent(std::string_view user, std::string_view password, LogBase& log) {
    if (user.empty() || password.empty()) {
        log.logError("Username and/or password is empty");
        return false;
    }
    if (smtp::hasLineBreakOrNul(user)) {
        log.logError("User name contains CR, LF or NUL; not sent");
        return false;
    }
    return true;
}

} // namespace

bool SmtpConnImpl::runAuthentication(std::string_view user, std::string_view password,
                                     std::string_view domain, LogBase& log) {
    // In the clear CRAM-MD5 goes before LOGIN and PLAIN.
    SmtpMechanism m = flags_.select(encrypted(), !oauthToken_.empty());
    log.logData("login_method", mechanismLogName(m));
    if ((m == SmtpMechanism::Login || m == SmtpMechanism::Plain) && plainAuthRefused(log))
        return false;
    bool fallback = false;
    switch (m) {
    case SmtpMechanism::Ntlm:
    case SmtpMechanism::Msn: {
        bool ntlm = m == SmtpMechanism::Ntlm;
        bool ok = ntlm ? authNtlm(domain, user, password, fallback, log)
                       : authMsn(domain, user, password, fallback, log);
        if (ok)
            return true;
        if (fallback) {
            log.logData("alt_login_method", "LOGIN");
            if (plainAuthRefused(log))
                return false;
            if (authLogin(user, password, log))
                return true;
            log.logInfo("Failed to login using LOGIN method");
            return false;
        }
        log.logInfo(ntlm ? "Failed to login using NTLM method"
                         : "Failed to login using MSN method");
        return false;
    }
    case SmtpMechanism::Login:
        if (authLogin(user, password, log))
            return true;
        log.logInfo("Failed to login using LOGIN method");
        return false;
    case SmtpMechanism::CramMd5:
        if (authCramMd5(user, password, log))
            return true;
        log.logInfo("Failed to login using CRAM-MD5 method");
        return false;
    case SmtpMechanism::Plain:
        if (authPlain(user, password, log))
            return true;
        log.logInfo("Failed to login using PLAIN method");
        return false;
    case SmtpMechanism::DigestMd5:
        log.logError("DIGEST-MD5 login method not supported");
        return true;
    case SmtpMechanism::Gssapi:
        log.logError("GSSAPI login method not supported");
        return true;
    case SmtpMechanism::KerberosV4:
        log.logError("Kerberos v4 login method not supported");
        return true;
    case SmtpMechanism::Anonymous:
        log.logError("Anonymous login method not supported");
        return true;
    case SmtpMechanism::XOAuth2:
    case SmtpMechanism::OAuthBearer:
        return authOAuth(m == SmtpMechanism::OAuthBearer, user, log);
    case SmtpMechanism::None:
        return true;
    }
    return true;
}

bool SmtpConnImpl::authOAuth(bool bearer, std::string_view user, LogBase& log) {
    const std::string name = bearer ? "OAUTHBEARER" : "XOAUTH2";
    if (oauthToken_.empty()) {
        log.fail(ErrorCode::Authentication,
                 name + " needs an OAuth 2.0 access token, and there is none");
        return false;
    }
    if (!sasl::validOAuthFields(user, oauthToken_)) {
        log.logError("User name or access token is empty or not printable ASCII; not sent");
        return false;
    }
    SecretString message{bearer ? sasl::oauthBearerMessage(user, host_, port_, oauthToken_)
                                : sasl::xoauth2Message(user, oauthToken_)};
    SecretString line{"AUTH " + name + " " + sasl::base64Encode(message.s) + "\r\n"};
    appendTranscript("AUTH " + name + " (credentials not shown)\r\n");
    if (!sendUnrecorded(line.s, log)) {
        log.logError("Failed to send AUTH " + name);
        return false;
    }
    bool received = false;
    if (readReply(235, log, received))
        return true;
    if (received && lastReplyCode_ == 334) {
        // The server's reasons come as a challenge (base64 JSON); the client answers it and
        // the server then refuses the login.
        if (auto why = sasl::base64Decode(afterCode(lastReply_)))
            log.logData("oauth_error", std::string(why->begin(), why->end()));
        if (sendUnrecorded(std::string(sasl::oauthErrorAnswer(bearer)) + "\r\n", log))
            (void)readReply(235, log);
    }
    log.fail(ErrorCode::Authentication, "Failed to login using " + name + " method");
    logTranscript(log);
    return false;
}

bool SmtpConnImpl::plainAuthRefused(LogBase& log) const {
    if (allowPlainAuth_ || encrypted())
        return false;
    log.fail(ErrorCode::Authentication,
             "LOGIN and PLAIN are not used over a connection without TLS: the password "
             "would cross the network readable. Use TLS, or allow them with "
             "AllowPlainAuthWithoutTls");
    return true;
}

bool SmtpConnImpl::authLogin(std::string_view user, std::string_view password, LogBase& log) {
    if (!credentialsPresent(user, password, log))
        return false;
    if (!command("AUTH LOGIN\r\n", 334, log)) {
        log.logError("Failed to send AUTH LOGIN");
        logTranscript(log);
        return false;
    }
    if (!sendUnrecorded(sasl::base64Encode(user) + "\r\n", log)) {
        log.logError("Failed to send login name");
        return false;
    }
    if (!readReply(334, log)) {
        log.logError("Failed to get response to login name");
        log.fail(ErrorCode::Authentication,
                 "Check your username/password or your SMTP server's auth settings");
        logTranscript(log);
        return false;
    }
    SecretString line{sasl::base64Encode(password) + "\r\n"};
    if (!sendUnrecorded(line.s, log)) {
        log.logError("Failed to send login password");
        return false;
    }
    if (!readReply(235, log)) {
        log.logError("Failed to get response to login password");
        logTranscript(log);
        return false;
    }
    return true;
}

bool SmtpConnImpl::authPlain(std::string_view user, std::string_view password, LogBase& log) {
    if (!credentialsPresent(user, password, log))
        return false;
    if (!command("AUTH PLAIN\r\n", 334, log)) {
        log.logError("Failed to send AUTH PLAIN");
        logTranscript(log);
        return false;
    }
    // The user name is both the authorisation and the authentication identity.
    SecretString creds;
    creds.s.append(user).push_back('\0');
    creds.s.append(user).push_back('\0');
    creds.s.append(password);
    SecretString line{sasl::base64Encode(creds.s) + "\r\n"};
    if (!sendUnrecorded(line.s, log)) {
        log.logError("Failed to send plain login info");
        return false;
    }
    if (!readReply(235, log)) {
        log.logError("Failed to get response to plain login info");
        logTranscript(log);
        return false;
    }
    return true;
}

bool SmtpConnImpl::authCramMd5(std::string_view user, std::string_view password, LogBase& log) {
    if (!credentialsPresent(user, password, log))
        return false;
    std::string line;
    if (!sendCommand("AUTH CRAM-MD5\r\n", log) || !readSingleLineReply(334, line, log))
        return false;
    auto challenge = sasl::base64Decode(afterCode(line));
    if (!challenge) {
        log.logError("CRAM-MD5 challenge is not base64");
        return false;
    }
    std::string_view text(reinterpret_cast<const char*>(challenge->data()), challenge->size());
    SecretString response{sasl::base64Encode(CramMD5::response(user, password, text)) + "\r\n"};
    if (!sendUnrecorded(response.s, log)) {
        log.logError("Failed to send CRAM-MD5 response");
        return false;
    }
    if (!readReply(235, log)) {
        log.logError("Failed to get CRAM-MD5 response");
        log.fail(ErrorCode::Authentication,
                 "Check your username/password or your SMTP server's auth settings");
        logTranscript(log);
        return false;
    }
    return true;
}

bool SmtpConnImpl::authNtlm(std::string_view domain, std::string_view user,
                            std::string_view password, bool& fallbackToLogin, LogBase& log) {
    return authPackage("NTLM", domain, user, password, fallbackToLogin, log);
}

bool SmtpConnImpl::authMsn(std::string_view domain, std::string_view user,
                           std::string_view password, bool& fallbackToLogin, LogBase& log) {
    return authPackage("MSN", domain, user, password, fallbackToLogin, log);
}

// NTLMv2 only, unless the caller allowed NTLMv1: then a server that refuses the v2 response
// with a 5xx reply gets one more exchange with NTLMv1 (older servers know only v1, and a wrong
// password simply fails twice). Never by default: a server could refuse v2 just to obtain a
// v1 response over its own challenge, which can be cracked to the password's hash.
bool SmtpConnImpl::authPackage(std::string_view name, std::string_view domain,
                               std::string_view user, std::string_view password,
                               bool& fallbackToLogin, LogBase& log) {
    if (user.empty() || password.empty())
        return false;
    if (smtp::hasLineBreakOrNul(user) || smtp::hasLineBreakOrNul(domain)) {
        log.logError("User name or domain contains CR, LF or NUL; not sent");
        return false;
    }
    NorvaneSSPI sspi;
    int index = sspi.findPackage(name);
    if (index < 0) {
        fallbackToLogin = true;
        return false;
    }
    fallbackToLogin = false;
    std::string cmd = "AUTH " + std::string(name) + "\r\n";
    for (ntlm::Version v : {ntlm::Version::V2, ntlm::Version::V1}) {
        if (v == ntlm::Version::V1) {
            if (lastReplyCode_ < 500 || lastReplyCode_ > 599)
                break;
            if (!allowNtlmV1_) {
                log.fail(ErrorCode::Authentication,
                         "The server refused the NTLMv2 response; it may accept only "
                         "NTLMv1, which is weak and not used unless AllowNtlmV1 is set");
                break;
            }
            log.logInfo("NTLMv2 response refused, retrying with NTLMv1 (AllowNtlmV1 is set)");
        }
        if (!command(cmd, 334, log)) {
            log.logError("Failed to send AUTH " + std::string(name));
            logTranscript(log);
            return false;
        }
        sspi.setExchange(this);
        sspi.setVersion(v);
        lastReplyCode_ = 0;
        if (sspi.authenticate(index, domain, user, password, log))
            return true;
    }
    log.fail(ErrorCode::Authentication, std::string(name) + " authentication failed");
    return false;
}

bool SmtpConnImpl::exchangePackage(std::vector<uint8_t>& serverToken,
                                   std::span<const uint8_t> clientToken, LogBase* logp) {
    LogNull quiet;
    LogBase& log = logp ? *logp : quiet;
    serverToken.clear();
    if (!sendUnrecorded(sasl::base64Encode(clientToken) + "\r\n", log)) {
        log.logError("exchangePackage: failed to send package on socket");
        return false;
    }
    std::string line;
    if (!readSingleLineReply(334, line, log)) {
        log.logError("exchangePackage: failed to get success response");
        return false;
    }
    auto token = sasl::base64Decode(afterCode(line));
    if (!token) {
        log.logError("exchangePackage: server token is not base64");
        return false;
    }
    serverToken = std::move(*token);
    return true;
}

bool SmtpConnImpl::sendFinal(std::span<const uint8_t> clientToken, LogBase* logp) {
    LogNull quiet;
    LogBase& log = logp ? *logp : quiet;
    SecretString line{sasl::base64Encode(clientToken) + "\r\n"};
    if (!sendUnrecorded(line.s, log)) {
        log.logError("sendFinal: failed to send package on socket");
        return false;
    }
    std::string reply;
    if (!readSingleLineReply(235, reply, log)) {
        log.fail(ErrorCode::Authentication, "Logon denied.  Check username, password, and domain");
        return false;
    }
    return true;
}

} // namespace norvane
