// nvmail send: an .eml file, or the e-mail of compose's options, over SMTP through the mail
// manager. The envelope's recipients are the e-mail's To, Cc and Bcc addresses.

#include "Commands.h"
#include "Server.h"

#include "norvane/Email.h"
#include "norvane/MailMan.h"
#include "norvane/StringArray.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

using norvane::Email;
using norvane::MailMan;

namespace nvmail {

namespace {

// The options of send itself; any other (compose's) builds the e-mail.
constexpr std::array<std::string_view, 10> kSendOptions = {
    "--host",     "--port", "--user",   "--auth", "--password-file", "--oauth-token-file",
    "--starttls", "--tls",  "--no-tls", "--log"};
constexpr int kSubmissionsPort = 465;

bool buildsEmail(const Parsed& p) {
    return std::any_of(p.options.begin(), p.options.end(), [](const auto& o) {
        return std::find(kSendOptions.begin(), kSendOptions.end(), o.first) == kSendOptions.end();
    });
}

// The method in the mail manager's spelling, or false for one it does not offer.
bool authMethod(std::string value, std::string& out) {
    std::transform(value.begin(), value.end(), value.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (std::string_view m : {"", "LOGIN", "PLAIN", "CRAM-MD5", "NTLM", "XOAUTH2", "OAUTHBEARER"})
        if (value == m) {
            out = value;
            return true;
        }
    error("--auth: not LOGIN, PLAIN, CRAM-MD5, NTLM, XOAUTH2, OAUTHBEARER or \"\": '" +
          oneLine(value) + "'");
    return false;
}

// The e-mail of the operand or of the options.
int loadEmail(const Parsed& p, std::unique_ptr<Email>& email) {
    if (p.operands.empty())
        return buildEmail(p, email);
    if (buildsEmail(p)) {
        error("send takes FILE.eml or options that build an e-mail, not both");
        return kUsage;
    }
    std::vector<uint8_t> mime;
    if (!readInput(p.operands[0], mime))
        return kFailed;
    email = std::make_unique<Email>();
    if (!email->SetFromMimeBytes(mime)) {
        error("cannot read " + p.operands[0] + ": not an e-mail");
        return kFailed;
    }
    return kOk;
}

// --starttls (required), --tls (from the first byte, port 465 unless given) or --no-tls (never,
// and LOGIN or PLAIN may then send the password in the clear: the caller asked for that); none
// of them: STARTTLS when the server offers it.
int tlsSettings(const Parsed& p, const ServerSettings& s, MailMan& mailMan) {
    const bool startTls = p.has("--starttls"), tls = p.has("--tls"), noTls = p.has("--no-tls");
    if (startTls + tls + noTls > 1) {
        error("--starttls, --tls and --no-tls exclude one another");
        return kUsage;
    }
    if (tls && s.port == 0)
        mailMan.put_SmtpPort(kSubmissionsPort);
    if (startTls || tls || noTls)
        mailMan.put_SmtpTls(startTls ? "starttls-required" : tls ? "implicit" : "none");
    mailMan.put_AllowPlainAuthWithoutTls(noTls);
    return kOk;
}

int configure(const Parsed& p, MailMan& mailMan) {
    ServerSettings s;
    std::string method;
    if (const int status = serverSettings(p, "SMTP", s); status != kOk)
        return status;
    if (!authMethod(p.value("--auth"), method))
        return kUsage;
    if (const int status = tlsSettings(p, s, mailMan); status != kOk)
        return status;
    if (!s.user.empty() && s.password.empty() && s.oauthToken.empty()) {
        error("--user needs a password (NVMAIL_SMTP_PASSWORD or --password-file) or an access "
              "token (NVMAIL_SMTP_OAUTH_TOKEN or --oauth-token-file)");
        return kUsage;
    }
    mailMan.put_SmtpHost(s.host.c_str());
    if (s.port != 0)
        mailMan.put_SmtpPort(s.port);
    mailMan.put_SmtpUsername(s.user.c_str());
    mailMan.put_SmtpPassword(s.password.c_str());
    mailMan.put_SmtpAuthMethod(method.c_str());
    mailMan.put_OAuth2AccessToken(s.oauthToken.c_str());
    forgetPassword(s);
    return kOk;
}

} // namespace

int sendMail(const Parsed& p) {
    MailMan mailMan;
    std::unique_ptr<Email> email;
    if (const int status = configure(p, mailMan); status != kOk)
        return status;
    if (const int status = loadEmail(p, email); status != kOk)
        return status;
    const bool sent = mailMan.SendEmail(email.get());
    norvane::StringArray refused;
    mailMan.GetBadEmailAddresses(&refused);
    for (int i = 0; i < refused.get_Count(); ++i)
        std::printf("%s\n", oneLine(refused.GetString(i)).c_str());
    std::fflush(stdout);
    if (p.wantsLog())
        std::fprintf(stderr, "%s", mailMan.get_LastErrorText().c_str());
    if (sent && refused.get_Count() == 0)
        return kOk;
    if (refused.get_Count() > 0)
        error(std::to_string(refused.get_Count()) +
              " recipient(s) refused (printed on standard output)");
    else
        error("the message was not sent through " + mailMan.get_SmtpHost() + ":" +
              std::to_string(mailMan.get_SmtpPort()) + " (--log shows why)");
    return kFailed;
}

} // namespace nvmail
