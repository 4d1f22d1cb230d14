#pragma once

// The SASL mechanisms an EHLO reply may advertise, the caller's override, and the choice of
// the one mechanism a session runs.

#include <string_view>

namespace norvane {

enum class SmtpMechanism {
    Ntlm,
    Msn,
    Login,
    CramMd5,
    Plain,
    DigestMd5,
    Gssapi,
    KerberosV4,
    Anonymous,
    XOAuth2,
    OAuthBearer,
    None
};

struct SmtpAuthFlags {
    bool cramMd5 = false;
    bool anonymous = false;
    bool plain = false;
    bool login = false;
    bool digestMd5 = false;
    bool gssapi = false;
    bool kerberosV4 = false;
    bool ntlm = false;
    bool msn = false;
    bool xoauth2 = false;
    bool oauthBearer = false;

    // Sets the flags named in one EHLO reply line ("250-AUTH LOGIN PLAIN"). A name counts
    // only after a blank, so "AUTH=LOGIN" sets nothing for LOGIN.
    void scanEhloLine(std::string_view line);
    // The caller's SmtpAuthMethod: LOGIN, PLAIN, CRAM-MD5, NTLM, MSN, XOAUTH2, OAUTHBEARER or
    // NONE (any case) keeps only that mechanism; any other value leaves the advertised ones.
    void applyOverride(std::string_view method);
    // The mechanism to run. With an OAuth 2.0 token XOAUTH2, else OAUTHBEARER, when offered.
    // Without encryption a server that offers CRAM-MD5 gets it before LOGIN and PLAIN, which
    // would show the password to anyone on the path. The token mechanisms come last otherwise:
    // without a token they can only fail, which is the right outcome when nothing else is left.
    [[nodiscard]] SmtpMechanism select(bool encrypted, bool haveToken = false) const;
};

// The "login_method" value logged for a mechanism.
[[nodiscard]] std::string_view mechanismLogName(SmtpMechanism m);

} // namespace norvane
