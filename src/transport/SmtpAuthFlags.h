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

    // Sets the flags named in one EHLO reply line ("250-AUTH LOGIN PLAIN"). A name counts
    // only after a blank, so "AUTH=LOGIN" sets nothing for LOGIN.
    void scanEhloLine(std::string_view line);
    // The caller's SmtpAuthMethod: LOGIN, PLAIN, CRAM-MD5, NTLM, MSN or NONE (any case) keeps
    // only that mechanism; any other value leaves the advertised ones.
    void applyOverride(std::string_view method);
    // The mechanism to run. Without encryption a server that offers CRAM-MD5 gets it before
    // LOGIN and PLAIN, which would show the password to anyone on the path.
    [[nodiscard]] SmtpMechanism select(bool encrypted) const;
};

// The "login_method" value logged for a mechanism.
[[nodiscard]] std::string_view mechanismLogName(SmtpMechanism m);

} // namespace norvane
