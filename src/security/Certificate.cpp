#include "security/Certificate.h"

#include "charset/ContentCoding.h"
#include "common/StringBuffer.h"

#include <openssl/asn1.h>

#include <algorithm>

namespace norvane {

namespace {

std::string asn1Text(const ASN1_STRING* s) {
    unsigned char* utf8 = nullptr;
    const int n = ASN1_STRING_to_UTF8(&utf8, s);
    if (n < 0)
        return {};
    std::string out(reinterpret_cast<const char*>(utf8), static_cast<size_t>(n));
    OPENSSL_free(utf8);
    return out;
}

std::string simpleName(const X509_NAME* name) {
    std::string out;
    const int n = X509_NAME_entry_count(name);
    for (int i = 0; i < n; ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
        if (!out.empty())
            out += ", ";
        out += asn1Text(X509_NAME_ENTRY_get_data(e));
    }
    return out;
}

std::string trimmed(std::string s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

Certificate::Certificate(X509Ptr cert, EvpPkeyPtr key)
    : cert_(std::move(cert)), key_(std::move(key)) {
    readAddresses();
}

std::unique_ptr<Certificate> Certificate::fromDer(std::span<const uint8_t> der, LogBase& log) {
    const unsigned char* p = der.data();
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!x) {
        log.fail(ErrorCode::Crypto,
                 "CertCreateCertificateContext: certificate could not be decoded");
        drainOpenSslErrors(log);
        return nullptr;
    }
    return std::make_unique<Certificate>(std::move(x));
}

std::unique_ptr<Certificate> Certificate::fromEncoded(std::string_view base64, LogBase& log) {
    DataBuffer der;
    ContentCoding::base64Decode(base64, der);
    if (der.getSize() == 0)
        return nullptr;
    return fromDer(der.span(), log);
}

std::vector<uint8_t> Certificate::der() const {
    unsigned char* buf = nullptr;
    const int n = i2d_X509(cert_.get(), &buf);
    if (n <= 0)
        return {};
    std::vector<uint8_t> out(buf, buf + n);
    OPENSSL_free(buf);
    return out;
}

std::string Certificate::encoded() const {
    return ContentCoding::base64Encode(std::span<const uint8_t>(der()));
}

std::string Certificate::subjectName() const {
    return simpleName(X509_get_subject_name(cert_.get()));
}

std::string Certificate::issuerName() const {
    return simpleName(X509_get_issuer_name(cert_.get()));
}

std::string Certificate::serialHex() const {
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert_.get()), nullptr);
    if (!bn)
        return {};
    char* hex = BN_bn2hex(bn);
    std::string out = hex ? hex : "";
    OPENSSL_free(hex);
    BN_free(bn);
    return out;
}

void Certificate::readAddresses() {
    auto add = [this](std::string a) {
        a = trimmed(std::move(a));
        if (a.empty())
            return;
        for (const auto& e : emails_)
            if (sb::equalsNoCase(e, a))
                return;
        emails_.push_back(std::move(a));
    };
    GeneralNamesPtr san(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(cert_.get(), NID_subject_alt_name, nullptr, nullptr)));
    for (int i = 0; san && i < sk_GENERAL_NAME_num(san.get()); ++i) {
        const GENERAL_NAME* g = sk_GENERAL_NAME_value(san.get(), i);
        if (g->type == GEN_EMAIL)
            add(asn1Text(g->d.rfc822Name));
    }
    const X509_NAME* subject = X509_get_subject_name(cert_.get());
    for (int i = -1; (i = X509_NAME_get_index_by_NID(subject, NID_pkcs9_emailAddress, i)) >= 0;) {
        std::string e =
            trimmed(asn1Text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i))));
        if (e.find('@') != std::string::npos)
            hasEmailAttribute_ = true;
        add(std::move(e));
    }
}

std::string Certificate::emailAddress() const {
    return emails_.empty() ? std::string() : emails_.front();
}

bool Certificate::matchesAddress(std::string_view address) const {
    if (address.empty())
        return false;
    return std::any_of(emails_.begin(), emails_.end(),
                       [&](const std::string& e) { return sb::equalsNoCase(e, address); });
}

bool Certificate::validAt(std::time_t t) const {
    return X509_cmp_time(X509_get0_notBefore(cert_.get()), &t) <= 0 &&
           X509_cmp_time(X509_get0_notAfter(cert_.get()), &t) >= 0;
}

bool Certificate::isExpired(std::time_t now) const {
    return X509_cmp_time(X509_get0_notAfter(cert_.get()), &now) < 0;
}

bool Certificate::allowsEmailProtection() const {
    const uint32_t flags = X509_get_extension_flags(cert_.get());
    if (!(flags & EXFLAG_XKUSAGE))
        return true;
    return (X509_get_extended_key_usage(cert_.get()) & (XKU_SMIME | XKU_ANYEKU)) != 0;
}

std::string Certificate::sha256Fingerprint() const {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!X509_digest(cert_.get(), EVP_sha256(), md, &len))
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < len; ++i) {
        out += kHex[md[i] >> 4];
        out += kHex[md[i] & 15];
    }
    return out;
}

bool Certificate::sameAs(const Certificate& other) const {
    return X509_cmp(cert_.get(), other.cert_.get()) == 0;
}

std::unique_ptr<Certificate> Certificate::copy() const {
    X509_up_ref(cert_.get());
    EvpPkeyPtr key;
    if (key_) {
        EVP_PKEY_up_ref(key_.get());
        key.reset(key_.get());
    }
    return std::make_unique<Certificate>(X509Ptr(cert_.get()), std::move(key));
}

} // namespace norvane
