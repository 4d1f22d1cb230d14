#pragma once

// A certificate as exchanged with the e-mail object: its encoded form (base64 of the DER
// certificate) is the whole contract. Reading it with GetEncoded and writing it back with
// SetFromEncoded gives the same certificate. The private key never travels this way.

#include "facade/ClsBase.h"

#include <memory>
#include <string>

namespace norvane {

class Certificate;

class ClsCert : public ClsBase {
public:
    ClsCert();
    ~ClsCert() override;

    // True when the text decodes to a certificate; otherwise the object stays as it was.
    bool SetFromEncoded(const char* encodedCert);
    // Empty (and "Object does not contain a certificate" logged) when the object is empty.
    [[nodiscard]] std::string GetEncoded();
    [[nodiscard]] std::string get_SubjectName() const;
    [[nodiscard]] std::string get_IssuerName() const;
    [[nodiscard]] std::string get_EmailAddress() const;
    [[nodiscard]] std::string get_Sha256Thumbprint() const;
    // Whether the certificate's validity window has ended.
    [[nodiscard]] bool get_Expired() const;

    [[nodiscard]] const Certificate* certificate() const { return cert_.get(); }
    // Takes a copy (without its key).
    void setCertificate(const Certificate& cert);

private:
    std::unique_ptr<Certificate> cert_;
};

} // namespace norvane
