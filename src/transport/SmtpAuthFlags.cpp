#include "transport/SmtpAuthFlags.h"

#include "common/StringBuffer.h"

#include <string>

namespace norvane {

void SmtpAuthFlags::scanEhloLine(std::string_view line) {
    if (line.size() < 4)
        return;
    std::string_view text = line.substr(4);
    if (!sb::startsWithNoCase(text, "AUTH"))
        return;
    std::string_view rest = text.substr(4);
    auto has = [&](std::string_view name) {
        return sb::findNoCase(rest, name) != std::string_view::npos;
    };
    login |= has(" LOGIN");
    ntlm |= has(" NTLM");
    msn |= has(" MSN");
    gssapi |= has(" GSSAPI");
    anonymous |= has(" ANONYMOUS");
    plain |= has(" PLAIN");
    cramMd5 |= has(" CRAM-MD5");
    digestMd5 |= has(" DIGEST-MD5");
    kerberosV4 |= has(" KERBEROS_V4");
    xoauth2 |= has(" XOAUTH2");
    oauthBearer |= has(" OAUTHBEARER");
}

void SmtpAuthFlags::applyOverride(std::string_view methodArg) {
    std::string method(sb::trimView(methodArg));
    for (char& c : method)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    SmtpAuthFlags only;
    if (method == "LOGIN")
        only.login = true;
    else if (method == "PLAIN")
        only.plain = true;
    else if (method == "CRAM-MD5")
        only.cramMd5 = true;
    else if (method == "NTLM")
        only.ntlm = true;
    else if (method == "MSN")
        only.msn = true;
    else if (method == "XOAUTH2")
        only.xoauth2 = true;
    else if (method == "OAUTHBEARER")
        only.oauthBearer = true;
    else if (method != "NONE")
        return;
    *this = only;
}

SmtpMechanism SmtpAuthFlags::select(bool encrypted, bool haveToken) const {
    if (haveToken && xoauth2)
        return SmtpMechanism::XOAuth2;
    if (haveToken && oauthBearer)
        return SmtpMechanism::OAuthBearer;
    if (ntlm)
        return SmtpMechanism::Ntlm;
    if (msn)
        return SmtpMechanism::Msn;
    if (!encrypted && cramMd5)
        return SmtpMechanism::CramMd5;
    if (login)
        return SmtpMechanism::Login;
    if (cramMd5)
        return SmtpMechanism::CramMd5;
    if (plain)
        return SmtpMechanism::Plain;
    if (digestMd5)
        return SmtpMechanism::DigestMd5;
    if (gssapi)
        return SmtpMechanism::Gssapi;
    if (kerberosV4)
        return SmtpMechanism::KerberosV4;
    if (anonymous)
        return SmtpMechanism::Anonymous;
    if (xoauth2)
        return SmtpMechanism::XOAuth2;
    if (oauthBearer)
        return SmtpMechanism::OAuthBearer;
    return SmtpMechanism::None;
}

std::string_view mechanismLogName(SmtpMechanism m) {
    switch (m) {
    case SmtpMechanism::Ntlm:
        return "NTLM";
    case SmtpMechanism::Msn:
        return "MSN";
    case SmtpMechanism::Login:
        return "LOGIN";
    case SmtpMechanism::CramMd5:
        return "CRAM_MD5";
    case SmtpMechanism::Plain:
        return "PLAIN";
    case SmtpMechanism::DigestMd5:
        return "DIGEST-MD5";
    case SmtpMechanism::Gssapi:
        return "GSSAPI";
    case SmtpMechanism::KerberosV4:
        return "Kerberos-V4";
    case SmtpMechanism::Anonymous:
        return "anonymous";
    case SmtpMechanism::XOAuth2:
        return "XOAUTH2";
    case SmtpMechanism::OAuthBearer:
        return "OAUTHBEARER";
    case SmtpMechanism::None:
        return "NONE or already authenticated";
    }
    return "";
}

} // namespace norvane
