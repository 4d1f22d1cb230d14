#pragma once

// One X.509 certificate, optionally with its private key. The key never leaves this object
// except as the EVP_PKEY handed to the CMS functions, and nothing here logs it.
//
// Names are rendered in the simple form: the attribute values of the name, in order, separated
// by ", " (no attribute keywords). An e-mail address belongs to a certificate when it is one of
// its subjectAltName rfc822Name entries or the subject's E (emailAddress) attribute; matching an
// address is an exact, ASCII case-insensitive comparison of the whole address, so that
// "bob@x.com" never picks the certificate of "jimbob@x.com".

#include "common/LogBase.h"
#include "common/OpenSslPtr.h"
#include "email/Email2.h"

#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class Certificate : public CopyableObject {
public:
    // Takes ownership of both; key may be null.
    explicit Certificate(X509Ptr cert, EvpPkeyPtr key = nullptr);

    // From DER bytes; null (logged) when OpenSSL rejects them.
    [[nodiscard]] static std::unique_ptr<Certificate> fromDer(std::span<const uint8_t> der,
                                                              LogBase& log);
    // From the encoded form (base64 of the DER certificate); null when it does not decode.
    [[nodiscard]] static std::unique_ptr<Certificate> fromEncoded(std::string_view base64,
                                                                  LogBase& log);
    // The encoded form (base64 of the DER bytes, one line).
    [[nodiscard]] std::string encoded() const;
    [[nodiscard]] std::vector<uint8_t> der() const;

    [[nodiscard]] std::string subjectName() const;
    [[nodiscard]] std::string issuerName() const;
    [[nodiscard]] std::string serialHex() const;
    // subjectAltName rfc822Name entries first, then the subject's E attributes; no duplicates.
    [[nodiscard]] const std::vector<std::string>& emailAddresses() const { return emails_; }
    // The first of emailAddresses, or "".
    [[nodiscard]] std::string emailAddress() const;
    // The subject's E attribute, trimmed, is non-empty and contains '@'.
    [[nodiscard]] bool hasEmailAttribute() const { return hasEmailAttribute_; }
    [[nodiscard]] bool matchesAddress(std::string_view address) const;
    // Whether t lies inside the validity window.
    [[nodiscard]] bool validAt(std::time_t t) const;
    [[nodiscard]] bool isExpired(std::time_t now) const;
    // No extendedKeyUsage, or one that lists emailProtection or anyExtendedKeyUsage.
    [[nodiscard]] bool allowsEmailProtection() const;
    // Lower-case hexadecimal SHA-256 of the DER bytes.
    [[nodiscard]] std::string sha256Fingerprint() const;

    [[nodiscard]] X509* x509() const { return cert_.get(); }
    [[nodiscard]] EVP_PKEY* privateKey() const { return key_.get(); }
    [[nodiscard]] bool hasPrivateKey() const { return key_ != nullptr; }
    void setPrivateKey(EvpPkeyPtr key) { key_ = std::move(key); }
    [[nodiscard]] bool sameAs(const Certificate& other) const;

    [[nodiscard]] std::unique_ptr<Certificate> copy() const;
    [[nodiscard]] std::unique_ptr<NorvaneObject> copyObject() const override { return copy(); }

private:
    void readAddresses();

    X509Ptr cert_;
    EvpPkeyPtr key_;
    std::vector<std::string> emails_;
    bool hasEmailAttribute_ = false;
};

} // namespace norvane
