#pragma once

// S/MIME unwrapping of a received message, in place: multipart/signed and opaque signed layers
// are verified, enveloped layers decrypted, and each node that was unwrapped becomes its content.
//
// Bounds: at most kMaxLayers layers are unwrapped in one message and nesting below kMaxDepth is
// not followed; beyond either the rest stays as it is and the outcome is not reported as fully
// valid or decrypted. A signature over only one part of a message is verified but recorded as
// "signed-part" and does not count as a signed message, so that nothing outside the signed
// content is shown as signed. A node that fails to verify or decrypt is left unchanged.

#include "email/Email2.h"
#include "mime/MimeMessage2.h"

#include <string>
#include <string_view>

namespace norvane {

class NV_Crypt;
class CertificateStore;

class SmimeUnwrapper : public SecurityUnwrapper {
public:
    static constexpr int kMaxLayers = 30;
    static constexpr int kMaxDepth = 32;

    // Password for encrypted private keys in the stores (never logged).
    void setKeyPassword(std::string_view password) { password_ = password; }

    void unwrap(MimeMessage2& entity, bool saveCerts, SecurityOutcome& out, LogBase& log) override;

private:
    struct Run;
    std::string password_;
};

} // namespace norvane
