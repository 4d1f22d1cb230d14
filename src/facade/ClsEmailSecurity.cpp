// The security members of the e-mail object: what unwrapping found, the signing and
// encryption choices, and the certificates behind them.

#include "email/Email2.h"
#include "facade/ClsCSP.h"
#include "facade/ClsCert.h"
#include "facade/ClsEmail.h"
#include "security/NV_Crypt.h"
#include "security/SmimeUnwrapper.h"

namespace norvane {

namespace {

const Certificate* certAt(const ExtPtrArray<NorvaneObject>& list, int index) {
    return index >= 0 ? dynamic_cast<const Certificate*>(list.elementAt(static_cast<size_t>(index)))
                      : nullptr;
}

const SignerCertificate* signerAt(const Email2& e, int index) {
    return dynamic_cast<const SignerCertificate*>(certAt(e.security().signerCerts, index));
}

// True when there are signers and every one has the property.
template <typename Pred>
bool allSigners(const Email2& e, Pred pred) {
    const int n = static_cast<int>(e.security().signerCerts.getSize());
    for (int i = 0; i < n; ++i) {
        const SignerCertificate* s = signerAt(e, i);
        if (!s || !pred(*s))
            return false;
    }
    return n > 0;
}

std::unique_ptr<ClsCert> certObject(const Certificate* c) {
    if (!c)
        return nullptr;
    auto obj = std::make_unique<ClsCert>();
    obj->setCertificate(*c);
    return obj;
}

std::unique_ptr<ClsCert> certFromEncoded(const std::string& encoded, LogBase& log) {
    auto c = encoded.empty() ? nullptr : Certificate::fromEncoded(encoded, log);
    return certObject(c.get());
}

} // namespace

bool ClsEmail::get_ReceivedEncrypted() const {
    return email_->security().numEncrypted > 0 ||
           email_->contentType().find("pkcs7-mime") != std::string::npos;
}

bool ClsEmail::get_ReceivedSigned() const {
    return email_->security().numSigned > 0 ||
           email_->contentType().find("pkcs7-signature") != std::string::npos;
}

std::string ClsEmail::get_SignedBy() const {
    const Certificate* c = certAt(email_->security().signerCerts, 0);
    return c ? c->subjectName() : std::string();
}

std::string ClsEmail::get_EncryptedBy() const {
    const Certificate* c = certAt(email_->security().decryptCerts, 0);
    return c ? c->subjectName() : std::string();
}

bool ClsEmail::get_SignaturesValid() const {
    return email_->security().signaturesValid;
}
bool ClsEmail::get_Decrypted() const {
    return email_->security().decrypted;
}

bool ClsEmail::get_SignerTrusted() const {
    return allSigners(*email_, [](const SignerCertificate& s) { return s.chainTrusted; });
}

bool ClsEmail::get_SignerValidAtSigningTime() const {
    return allSigners(*email_, [](const SignerCertificate& s) { return s.validAtSigningTime; });
}

bool ClsEmail::get_SignerMatchesFrom() const {
    return allSigners(*email_, [](const SignerCertificate& s) { return s.addressMatchesFrom; });
}

int ClsEmail::get_NumSigners() const {
    return static_cast<int>(email_->security().signerCerts.getSize());
}

bool ClsEmail::GetSignerTrusted(int index) const {
    const SignerCertificate* s = signerAt(*email_, index);
    return s && s->chainTrusted;
}

bool ClsEmail::GetSignerValidAtSigningTime(int index) const {
    const SignerCertificate* s = signerAt(*email_, index);
    return s && s->validAtSigningTime;
}

bool ClsEmail::GetSignerMatchesFrom(int index) const {
    const SignerCertificate* s = signerAt(*email_, index);
    return s && s->addressMatchesFrom;
}

std::unique_ptr<ClsCert> ClsEmail::GetSignerCert(int index) {
    return certObject(signerAt(*email_, index));
}

std::string ClsEmail::get_SecurityLayers() const {
    std::string out;
    for (const auto& l : email_->security().layers)
        out += (out.empty() ? "" : ",") + l;
    return out;
}

bool ClsEmail::get_SendSigned() const {
    return email_->sendSigned();
}
void ClsEmail::put_SendSigned(bool on) {
    email_->setSendSigned(on);
}
bool ClsEmail::get_SendEncrypted() const {
    return email_->sendEncrypted();
}
void ClsEmail::put_SendEncrypted(bool on) {
    email_->setSendEncrypted(on);
}

void ClsEmail::SetSigningCert(const ClsCert* cert) {
    Frame frame(m_log, "SetSigningCert");
    if (!cert || !cert->certificate()) {
        m_log.fail(ErrorCode::BadArgument, "NULL parameter");
        return;
    }
    email_->setSigningCert(cert->certificate()->encoded());
}

void ClsEmail::SetEncryptCert(const ClsCert* cert) {
    Frame frame(m_log, "SetEncryptCert");
    if (!cert || !cert->certificate()) {
        m_log.fail(ErrorCode::BadArgument, "NULL parameter");
        return;
    }
    email_->setEncryptCert(cert->certificate()->encoded());
}

std::unique_ptr<ClsCert> ClsEmail::GetSigningCert() {
    Frame frame(m_log, "GetSigningCert");
    if (email_->signingCert().empty()) {
        m_log.logError("No signing certificate has been set for this email.");
        return nullptr;
    }
    return certFromEncoded(email_->signingCert(), m_log);
}

std::unique_ptr<ClsCert> ClsEmail::GetEncryptCert() {
    Frame frame(m_log, "GetEncryptCert");
    if (email_->encryptCert().empty()) {
        m_log.logError("No encryption certificate has been set for this email.");
        return nullptr;
    }
    return certFromEncoded(email_->encryptCert(), m_log);
}

std::unique_ptr<ClsCert> ClsEmail::GetSignedByCert() {
    Frame frame(m_log, "GetSignedByCert");
    return certObject(certAt(email_->security().signerCerts, 0));
}

std::unique_ptr<ClsCert> ClsEmail::GetEncryptedByCert() {
    Frame frame(m_log, "GetEncryptedByCert");
    return certObject(certAt(email_->security().decryptCerts, 0));
}

void ClsEmail::SetCSP(const ClsCSP* csp) {
    Frame frame(m_log, "SetCSP");
    if (!csp) {
        m_log.fail(ErrorCode::BadArgument, "Null parameter");
        return;
    }
    email_->setCspSpec(csp->Serialize());
}

void ClsEmail::SetPrivateKeyPassword(const char* password) {
    ownUnwrapper_->setKeyPassword(password ? password : "");
}

} // namespace norvane
