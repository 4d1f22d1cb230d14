#include "facade/ClsCert.h"

#include "security/Certificate.h"

#include <ctime>

namespace norvane {

ClsCert::ClsCert() = default;
ClsCert::~ClsCert() = default;

bool ClsCert::SetFromEncoded(const char* encodedCert) {
    Frame frame(m_log, "SetFromEncoded");
    auto c = Certificate::fromEncoded(encodedCert ? encodedCert : "", m_log);
    if (!c)
        return false;
    cert_ = std::move(c);
    return true;
}

std::string ClsCert::GetEncoded() {
    Frame frame(m_log, "GetEncoded");
    if (!cert_) {
        m_log.fail(ErrorCode::NotFound, "Object does not contain a certificate");
        return {};
    }
    return cert_->encoded();
}

std::string ClsCert::get_SubjectName() const {
    return cert_ ? cert_->subjectName() : std::string();
}

std::string ClsCert::get_IssuerName() const {
    return cert_ ? cert_->issuerName() : std::string();
}

std::string ClsCert::get_EmailAddress() const {
    return cert_ ? cert_->emailAddress() : std::string();
}

std::string ClsCert::get_Sha256Thumbprint() const {
    return cert_ ? cert_->sha256Fingerprint() : std::string();
}

bool ClsCert::get_Expired() const {
    return cert_ && cert_->isExpired(std::time(nullptr));
}

void ClsCert::setCertificate(const Certificate& cert) {
    cert_ = cert.copy();
    cert_->setPrivateKey(nullptr);
}

} // namespace norvane
