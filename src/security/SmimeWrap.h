#pragma once

// The S/MIME steps of preparing an e-mail for sending. Each returns a new e-mail (the source is
// not changed) or null with the reason in the log.
//
// - signDetached: multipart/signed (RFC 5751 section 3.5.3) whose first part is the e-mail's
//   content, signed exactly as it is rendered, and whose micalg names the hash really used;
// - signOpaque: application/x-pkcs7-mime; smime-type=signed-data carrying the whole rendered
//   e-mail;
// - encrypt: application/x-pkcs7-mime enveloped for the explicit encryption certificate, or
//   else for every recipient (To, Cc, Bcc); a recipient without a certificate fails the step
//   rather than sending mail that recipient cannot read;
// - createSecureEmail: what the mail manager sends: signed only -> signDetached, encrypted
//   only -> encrypt, both -> signOpaque and then encrypt.
//
// The signing certificate is the e-mail's explicit one (its private key is looked up in the
// stores) or else the one the stores hold for the sender's address.

#include "common/LogBase.h"
#include "email/Email2.h"

#include <memory>
#include <string_view>

namespace norvane {

class NV_Crypt;

class SmimeWrap {
public:
    [[nodiscard]] static std::unique_ptr<Email2> signDetached(const Email2& src, NV_Crypt& engine,
                                                              LogBase& log);
    [[nodiscard]] static std::unique_ptr<Email2> signOpaque(const Email2& src, NV_Crypt& engine,
                                                            LogBase& log);
    [[nodiscard]] static std::unique_ptr<Email2> encrypt(const Email2& src, NV_Crypt& engine,
                                                         LogBase& log);
    // keyPassword opens encrypted private keys (never logged).
    [[nodiscard]] static std::unique_ptr<Email2>
    createSecureEmail(const Email2& src, LogBase& log, std::string_view keyPassword = {});
};

} // namespace norvane
