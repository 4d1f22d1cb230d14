// The POP3 logins other than USER and PASS: APOP (RFC 1939) and SASL AUTH (RFC 5034) with an
// OAuth 2.0 bearer token, XOAUTH2 or OAUTHBEARER (RFC 7628).

#include "common/StringBuffer.h"
#include "transport/PopConnImpl.h"
#include "transport/SaslBase64.h"
#include "transport/SaslOAuth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace norvane {

namespace {

// A POP3 command line, initial response included, may not exceed 255 octets (RFC 5034); a
// longer response follows the server's "+ " go-ahead instead.
constexpr size_t kMaxCommandLine = 255;

struct SecretString {
    std::string s;
    ~SecretString() {
        if (!s.empty())
            OPENSSL_cleanse(s.data(), s.size());
    }
};

std::string md5Hex(std::string_view text) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(text.data(), text.size(), md, &n, EVP_md5(), nullptr) != 1)
        return {};
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        out.push_back(kHex[md[i] >> 4]);
        out.push_back(kHex[md[i] & 15]);
    }
    return out;
}

bool isContinuation(std::string_view line) {
    return line.size() >= 1 && line[0] == '+' &&
           (line.size() == 1 || line[1] == ' ' || line[1] == '\r' || line[1] == '\n');
}

} // namespace

bool PopConnImpl::loginApop(std::string_view user, std::string_view password, LogBase& log) {
    // The time stamp: from '<' through the next '>' of the greeting.
    const size_t open = greeting_.find('<');
    const size_t close = open == std::string::npos ? open : greeting_.find('>', open);
    if (close == std::string::npos) {
        log.fail(ErrorCode::Authentication,
                 "The server's greeting has no time stamp: APOP is not possible, and the "
                 "password is not sent another way");
        return false;
    }
    if (password.empty()) {
        log.fail(ErrorCode::Authentication, "APOP needs a password");
        return false;
    }
    SecretString stamped{greeting_.substr(open, close - open + 1)};
    stamped.s.append(password);
    const std::string digest = md5Hex(stamped.s);
    if (!sendCommand("APOP " + std::string(user) + " " + digest + "\r\n", log) ||
        !readStatus(log)) {
        log.fail(ErrorCode::Authentication, "Failed to login to POP3 server with APOP");
        return false;
    }
    return true;
}

bool PopConnImpl::loginOAuth(std::string_view user, LogBase& log) {
    PopAuth::Method m = auth_.method;
    if (m == PopAuth::Method::OAuth) {
        bool pipelines = false;
        if (!serverPipelines(pipelines, log)) {
            log.fail(ErrorCode::Authentication, "Failed to get the POP3 server's capabilities");
            return false;
        }
        if (sasl_.find(" XOAUTH2 ") != std::string::npos)
            m = PopAuth::Method::XOAuth2;
        else if (sasl_.find(" OAUTHBEARER ") != std::string::npos)
            m = PopAuth::Method::OAuthBearer;
        else {
            log.fail(ErrorCode::Authentication,
                     "The server lists neither XOAUTH2 nor OAUTHBEARER for an access token");
            return false;
        }
    }
    const bool bearer = m == PopAuth::Method::OAuthBearer;
    if (auth_.token.empty()) {
        log.fail(ErrorCode::Authentication,
                 "OAuth 2.0 login needs an access token, and there is none");
        return false;
    }
    if (!sasl::validOAuthFields(user, auth_.token)) {
        log.fail(ErrorCode::Authentication,
                 "User name or access token is empty or not printable ASCII; not sent");
        return false;
    }
    SecretString message{bearer ? sasl::oauthBearerMessage(user, host_, port_, auth_.token)
                                : sasl::xoauth2Message(user, auth_.token)};
    SecretString response{sasl::base64Encode(message.s)};
    if (saslExchange(bearer ? "OAUTHBEARER" : "XOAUTH2", response.s, bearer, log))
        return true;
    log.fail(ErrorCode::Authentication, "Failed to login to POP3 server with an OAuth 2.0 token");
    return false;
}

bool PopConnImpl::saslExchange(std::string_view name, std::string_view response, bool bearer,
                               LogBase& log) {
    const std::string command = "AUTH " + std::string(name);
    SecretString oneLine{command + " " + std::string(response) + "\r\n"};
    std::string line;
    if (oneLine.s.size() <= kMaxCommandLine) {
        if (!sendCommand(oneLine.s, log) || !readLine(line, log))
            return false;
    } else {
        SecretString answer{std::string(response) + "\r\n"};
        if (!sendCommand(command + "\r\n", log) || !readLine(line, log))
            return false;
        if (!isContinuation(line)) {
            log.fail(ErrorCode::Authentication, sb::trimView(line));
            return false;
        }
        line.clear();
        if (!sendCommand(answer.s, log) || !readLine(line, log))
            return false;
    }
    if (sb::startsWithNoCase(line, "+OK"))
        return true;
    if (isContinuation(line)) {
        // The server's reasons come as a challenge (base64 JSON); the client answers it and
        // the server then refuses the login.
        if (auto why = sasl::base64Decode(sb::trimView(std::string_view(line).substr(1))))
            log.logData("oauth_error", std::string(why->begin(), why->end()));
        line.clear();
        if (!sendCommand(std::string(sasl::oauthErrorAnswer(bearer)) + "\r\n", log) ||
            !readLine(line, log))
            return false;
    }
    log.fail(ErrorCode::Authentication, sb::trimView(line));
    return false;
}

} // namespace norvane
