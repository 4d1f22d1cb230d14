#include "security/NV_Crypt.h"

#include "common/StringBuffer.h"

#include <openssl/pem.h>

#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvane {

namespace {

std::string accountName() {
    struct passwd pw {};
    struct passwd* result = nullptr;
    char buf[1024];
    if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &result) == 0 && result)
        return result->pw_name;
    return {};
}

BioPtr memBio(std::span<const uint8_t> data) {
    return BioPtr(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
}

bool bioToBuffer(BIO* bio, DataBuffer& out) {
    char* p = nullptr;
    const long n = BIO_get_mem_data(bio, &p);
    if (n < 0)
        return false;
    out.assign(std::string_view(p, static_cast<size_t>(n)));
    return true;
}

CmsPtr readCms(std::span<const uint8_t> der) {
    BioPtr in = memBio(der);
    return CmsPtr(in ? d2i_CMS_bio(in.get(), nullptr) : nullptr);
}

std::time_t signingTimeOf(CMS_SignerInfo* si) {
    const int idx = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
    if (idx < 0)
        return 0;
    X509_ATTRIBUTE* attr = CMS_signed_get_attr(si, idx);
    ASN1_TYPE* v = X509_ATTRIBUTE_get0_type(attr, 0);
    if (!v || (v->type != V_ASN1_UTCTIME && v->type != V_ASN1_GENERALIZEDTIME))
        return 0;
    struct tm tm {};
    if (!ASN1_TIME_to_tm(reinterpret_cast<ASN1_TIME*>(v->value.asn1_string), &tm))
        return 0;
    return timegm(&tm);
}

void addStoreCerts(const CertificateStore& store, STACK_OF(X509) * to) {
    for (const auto& c : store.certificates()) {
        X509_up_ref(c->x509());
        sk_X509_push(to, c->x509());
    }
}

} // namespace

std::unique_ptr<NorvaneObject> SignerCertificate::copyObject() const {
    auto base = copy();
    X509_up_ref(base->x509());
    auto c = std::make_unique<SignerCertificate>(X509Ptr(base->x509()));
    c->signatureValid = signatureValid;
    c->chainTrusted = chainTrusted;
    c->trustError = trustError;
    c->validAtSigningTime = validAtSigningTime;
    c->signingTime = signingTime;
    c->addressMatchesFrom = addressMatchesFrom;
    return c;
}

NV_Crypt::NV_Crypt() : loggedOnUser_(accountName()) {
    webAccount_ = loggedOnUser_.starts_with("IWAM_");
    hash_ = provider_.firstHashAlgorithm();
    enc_ = provider_.firstEncryptionAlgorithm();
}

NV_Crypt::~NV_Crypt() = default;

std::vector<CertStoreLocation> NV_Crypt::storeSearchList(bool webAccount) {
    std::vector<CertStoreLocation> list{
        {2, 2, ""},
        {4, 2, "Software/Norvane/SystemCertificates"},
        {4, 1, "Software/Microsoft/SystemCertificates/AddressBook"},
        {1, 1, ""},
    };
    if (webAccount)
        list.resize(1);
    return list;
}

void NV_Crypt::setStores(std::vector<std::unique_ptr<CertificateStore>> stores) {
    stores_ = std::move(stores);
    storesLoaded_ = true;
}

const std::vector<std::unique_ptr<CertificateStore>>& NV_Crypt::stores(LogBase& log) {
    if (!storesLoaded_) {
        storesLoaded_ = true;
        for (const auto& where : storeSearchList(webAccount_))
            if (auto s = CertificateStore::open(where, true, log, password_))
                stores_.push_back(std::move(s));
    }
    return stores_;
}

namespace {

// The trust store takes tens of milliseconds to build (the system CA bundle alone holds over a
// hundred certificates), so it is built once per configuration and shared. The key names the
// roots and the change times of their Root and CA directories, so that a certificate added
// there is seen by the next operation.
struct TrustCache {
    std::mutex mutex;
    std::string key;
    X509StorePtr store;
    X509StackPtr intermediates;
};

std::string trustKey() {
    std::string key;
    for (const std::string& root :
         {CertificateStore::machineRoot(), CertificateStore::userRoot()}) {
        key += root + '\n';
        for (const char* dir : {"/Root", "/CA"}) {
            struct stat st {};
            if (::stat((root + dir).c_str(), &st) == 0)
                key += std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
            key += '\n';
        }
    }
    return key;
}

void buildTrust(X509_STORE* trust, STACK_OF(X509) * intermediates) {
    X509_STORE_set_default_paths(trust);
    LogNull quiet;
    for (int hive : {2, 1}) {
        for (const char* dir : {"Root", "CA"}) {
            auto store = CertificateStore::open({4, hive, dir}, true, quiet);
            for (size_t i = 0; store && i < store->certificates().size(); ++i) {
                X509* x = store->certificates()[i]->x509();
                if (std::string_view(dir) == "Root")
                    X509_STORE_add_cert(trust, x);
                else {
                    X509_up_ref(x);
                    sk_X509_push(intermediates, x);
                }
            }
        }
    }
    ERR_clear_error();
}

} // namespace

X509_STORE* NV_Crypt::trustStore() {
    if (trust_)
        return trust_.get();
    static TrustCache cache;
    const std::string key = trustKey();
    std::lock_guard lock(cache.mutex);
    if (!cache.store || cache.key != key) {
        cache.store.reset(X509_STORE_new());
        cache.intermediates.reset(sk_X509_new_null());
        buildTrust(cache.store.get(), cache.intermediates.get());
        cache.key = key;
    }
    X509_STORE_up_ref(cache.store.get());
    trust_.reset(cache.store.get());
    intermediates_.reset(X509_chain_up_ref(cache.intermediates.get()));
    return trust_.get();
}

bool NV_Crypt::setPreferences(std::string_view serializedCsp, LogBase& log) {
    std::vector<std::string> fields;
    std::string cur;
    for (char c : serializedCsp) {
        if (c == ',') {
            fields.push_back(cur);
            cur.clear();
        } else
            cur += c;
    }
    fields.push_back(cur);
    if (fields.empty() || fields[0].empty()) {
        log.fail(ErrorCode::Crypto, "NV_Crypt::setPreferences -- provider is missing");
        return false;
    }
    provider_ = CryptoSP(fields[0], fields.size() > 1 ? fields[1] : "");
    hash_ = provider_.firstHashAlgorithm();
    enc_ = provider_.firstEncryptionAlgorithm();
    bool ok = true;
    if (fields.size() > 7 && !fields[7].empty() && fields[7][0] != '*') {
        hash_ = provider_.findHashAlgorithm(fields[7]);
        if (!hash_) {
            log.fail(ErrorCode::Crypto,
                     "Unsupported hash algorithm.  Please contact Norvane Software for support.");
            log.logData("alg_name", fields[7]);
            ok = false;
        }
    }
    if (fields.size() > 6 && !fields[6].empty() && fields[6][0] != '*') {
        const int bits = fields.size() > 8 ? std::atoi(fields[8].c_str()) : 0;
        enc_ = provider_.findEncryptionAlgorithm(fields[6], bits);
        if (!enc_) {
            log.fail(ErrorCode::Crypto, "Failed to get requested encryption algorithm");
            log.logData("requested_algorithm", fields[6]);
            ok = false;
        } else
            log.logData("using_algorithm", enc_->name);
    }
    return ok;
}

std::string NV_Crypt::micalg() const {
    return hash_ ? CryptoSP::micalgFor(*hash_) : "sha-256";
}

bool NV_Crypt::createDetachedSignature(const Certificate* cert, std::span<const uint8_t> data,
                                       DataBuffer& out, LogBase& log) {
    if (!cert)
        log.fail(ErrorCode::Crypto, "createDetachedSignature.3: certificate param is null");
    if (!data.data())
        log.fail(ErrorCode::Crypto, "createDetachedSignature.3: data param is null");
    if (!cert || !data.data())
        return false;
    log.logInfo("creating detached digital signature");
    return sign(cert, data, true, out, log);
}

bool NV_Crypt::createAttachedSignature(const Certificate* cert, std::span<const uint8_t> data,
                                       DataBuffer& out, LogBase& log) {
    if (!cert)
        log.fail(ErrorCode::Crypto, "createAttachedSignature.1: certificate param is null");
    if (!data.data())
        log.fail(ErrorCode::Crypto, "createAttachedSignature.1: data param is null");
    if (!cert || !data.data())
        return false;
    log.logInfo("creating attached digital signature");
    return sign(cert, data, false, out, log);
}

bool NV_Crypt::sign(const Certificate* cert, std::span<const uint8_t> data, bool detached,
                    DataBuffer& out, LogBase& log) {
    const char* name = detached ? "createDetachedSignature" : "createAttachedSignature";
    log.logData("cert_subject", cert->subjectName());
    log.logData("csp", provider_.name());
    if (!hash_) {
        log.fail(ErrorCode::Crypto, "No hash algorithm was specified.");
        return false;
    }
    log.logData("hash_alg", hash_->name);
    log.logDataLong("alg_bits", hash_->bits);
    log.logData("hashOid", hash_->oid);
    if (!cert->hasPrivateKey()) {
        log.fail(ErrorCode::Crypto, std::string(name) + ": the certificate has no private key");
        return false;
    }
    // Binary: the caller hands canonical MIME text (CRLF line ends) and it is signed as is.
    const unsigned flags = CMS_BINARY | CMS_PARTIAL | (detached ? CMS_DETACHED : 0u);
    BioPtr in = memBio(data);
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    bool ok = cms && CMS_add1_signer(cms.get(), cert->x509(), cert->privateKey(),
                                     CryptoSP::digestFor(*hash_), flags) != nullptr;
    // The intermediate certificates go along, so that recipients can build the chain to a root
    // they trust (RFC 5751 section 2.4.1); the root itself is left out.
    X509_STORE* trust = trustStore(); // also loads intermediates_
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (ok && ctx &&
        X509_STORE_CTX_init(ctx.get(), trust, cert->x509(), intermediates_.get()) == 1 &&
        X509_verify_cert(ctx.get()) == 1) {
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(ctx.get());
        for (int i = 1; i + 1 < sk_X509_num(chain); ++i)
            ok = ok && CMS_add1_cert(cms.get(), sk_X509_value(chain, i)) == 1;
    }
    ERR_clear_error();
    ok = ok && CMS_final(cms.get(), in.get(), nullptr, flags) == 1;
    BioPtr der(BIO_new(BIO_s_mem()));
    if (!ok || i2d_CMS_bio(der.get(), cms.get()) != 1 || !bioToBuffer(der.get(), out)) {
        log.fail(ErrorCode::Crypto,
                 std::string(name) + (detached ? ".1: " : ".2: ") + "signing failed");
        drainOpenSslErrors(log);
        return false;
    }
    return true;
}

std::unique_ptr<Certificate> NV_Crypt::findCertByAddress(std::string_view address, bool needKey,
                                                         std::string& storeDescription,
                                                         LogBase& log) {
    if (address.empty())
        return nullptr;
    const std::time_t now = std::time(nullptr);
    // Round one wants the address in the subject's E attribute, round two anywhere; each
    // round prefers certificates that have not expired.
    for (int round = 0; round < 2; ++round) {
        for (bool allowExpired : {false, true}) {
            for (const auto& store : stores(log)) {
                for (const auto& c : store->certificates()) {
                    if ((round == 0 && !c->hasEmailAttribute()) || !c->matchesAddress(address) ||
                        (!allowExpired && c->isExpired(now)) || !c->allowsEmailProtection() ||
                        (needKey && !c->hasPrivateKey()))
                        continue;
                    storeDescription = store->description();
                    return c->copy();
                }
            }
        }
    }
    return nullptr;
}

std::unique_ptr<Certificate> NV_Crypt::withPrivateKey(const Certificate& cert, LogBase& log) {
    for (const auto& store : stores(log))
        if (const Certificate* c = store->findWithKeyFor(cert.x509()))
            return c->copy();
    return nullptr;
}

bool NV_Crypt::createDetachedSignatureByAddress(std::string_view address,
                                                std::span<const uint8_t> data, DataBuffer& out,
                                                LogBase& log) {
    if (!data.data()) {
        log.fail(ErrorCode::Crypto, "createDetachedSignature.10: data param is null");
        return false;
    }
    if (address.empty()) {
        log.fail(ErrorCode::Crypto, "createDetachedSignature.2: Email address is empty");
        return false;
    }
    std::string where;
    auto cert = findCertByAddress(address, true, where, log);
    if (!cert) {
        log.fail(ErrorCode::Crypto, "No certificates for signing could be located");
        return false;
    }
    return createDetachedSignature(cert.get(), data, out, log);
}

void NV_Crypt::reportSigners(CMS_ContentInfo* cms, bool valid,
                             std::vector<std::unique_ptr<SignerCertificate>>& signers) {
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* si = sk_CMS_SignerInfo_value(infos, i);
        X509* x = nullptr;
        CMS_SignerInfo_get0_algs(si, nullptr, &x, nullptr, nullptr);
        if (!x)
            continue;
        X509_up_ref(x);
        auto s = std::make_unique<SignerCertificate>(X509Ptr(x));
        s->signatureValid = valid;
        s->signingTime = signingTimeOf(si);
        s->validAtSigningTime = s->signingTime != 0 && s->validAt(s->signingTime);
        s->addressMatchesFrom = s->matchesAddress(fromAddress_);
        X509StoreCtxPtr ctx(X509_STORE_CTX_new());
        X509StackPtr untrusted(sk_X509_new_null());
        STACK_OF(X509)* carried = CMS_get1_certs(cms);
        for (int j = 0; carried && j < sk_X509_num(carried); ++j)
            sk_X509_push(untrusted.get(), sk_X509_value(carried, j));
        for (int j = 0; j < sk_X509_num(intermediates_.get()); ++j) {
            X509_up_ref(sk_X509_value(intermediates_.get(), j));
            sk_X509_push(untrusted.get(), sk_X509_value(intermediates_.get(), j));
        }
        sk_X509_free(carried); // its elements now belong to untrusted
        if (ctx && X509_STORE_CTX_init(ctx.get(), trustStore(), x, untrusted.get()) == 1) {
            X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SMIME_SIGN);
            s->chainTrusted = X509_verify_cert(ctx.get()) == 1;
            if (!s->chainTrusted)
                s->trustError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
        }
        ERR_clear_error();
        signers.push_back(std::move(s));
    }
}

bool NV_Crypt::verify(std::span<const uint8_t> cmsBytes, std::span<const uint8_t>* detachedData,
                      DataBuffer* content, CertificateStore* saveStore,
                      std::vector<std::unique_ptr<SignerCertificate>>& signers, LogBase& log) {
    const char* name = detachedData ? "verifyDetachedSignature" : "verifySignature";
    CmsPtr cms = readCms(cmsBytes);
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
        log.fail(ErrorCode::Crypto, std::string(name) + ".1: not a CMS signed-data message");
        drainOpenSslErrors(log);
        return false;
    }
    (void)trustStore();
    // Signer certificates missing from the message are looked for in the searched stores.
    X509StackPtr extra(sk_X509_new_null());
    for (const auto& s : stores(log))
        addStoreCerts(*s, extra.get());
    BioPtr data = detachedData ? memBio(*detachedData) : nullptr;
    BioPtr out(BIO_new(BIO_s_mem()));
    // Chain trust is reported separately per signer; this call checks the signatures.
    const unsigned flags = CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY;
    bool ok = CMS_verify(cms.get(), extra.get(), nullptr, data.get(), out.get(), flags) == 1;
    if (!ok) {
        log.fail(ErrorCode::Crypto, "Failed to verify signature;");
        log.fail(ErrorCode::Crypto, std::string(name) + ".2: signature does not verify");
        drainOpenSslErrors(log);
        // Name the signers that could be identified, without claiming anything for them.
        CMS_set1_signers_certs(cms.get(), extra.get(), 0);
        ERR_clear_error();
    } else if (content)
        ok = bioToBuffer(out.get(), *content);
    const auto first = signers.size();
    reportSigners(cms.get(), ok, signers);
    for (size_t i = first; ok && saveStore && i < signers.size(); ++i)
        (void)saveStore->addCertificate(signers[i].get(), log);
    return ok;
}

bool NV_Crypt::verifyDetachedSignature(std::span<const uint8_t> signature,
                                       std::span<const uint8_t> data, CertificateStore* saveStore,
                                       std::vector<std::unique_ptr<SignerCertificate>>& signers,
                                       LogBase& log) {
    if (!signature.data() || !data.data() || data.empty()) {
        log.fail(ErrorCode::Crypto, "verifyDetachedSignature.1: invalid parameters");
        if (!signature.data())
            log.fail(ErrorCode::Crypto, "digital signature is missing");
        if (!data.data())
            log.fail(ErrorCode::Crypto, "signed data is null");
        else if (data.empty())
            log.fail(ErrorCode::Crypto, "length of signed data is 0");
        return false;
    }
    if (signature.empty()) {
        log.fail(ErrorCode::Crypto, "verifyDetachedSignature.4: signature is empty");
        return false;
    }
    return verify(signature, &data, nullptr, saveStore, signers, log);
}

bool NV_Crypt::verifySignature(std::span<const uint8_t> signedData, DataBuffer& content,
                               std::vector<std::unique_ptr<SignerCertificate>>& signers,
                               LogBase& log) {
    if (signedData.empty())
        return false;
    return verify(signedData, nullptr, &content, nullptr, signers, log);
}

bool NV_Crypt::encryptData(std::span<const uint8_t> data, DataBuffer& out,
                           const std::vector<const Certificate*>& recipients, LogBase& log) {
    if (!data.data() || data.empty()) {
        log.fail(ErrorCode::Crypto, "Nothing to encrypt, data size is zero");
        return false;
    }
    log.logData("logged_on_user", loggedOnUser_);
    log.logData("csp", provider_.name());
    if (!enc_) {
        log.fail(ErrorCode::Crypto, "No encryption algorithm was specified.");
        return false;
    }
    log.logData("alg_name", enc_->name);
    log.logDataLong("alg_bits", enc_->bits);
    log.logData("encryptOid", enc_->oid);
    X509StackPtr recips(sk_X509_new_null());
    for (const Certificate* c : recipients) {
        if (!c)
            continue;
        X509_up_ref(c->x509());
        sk_X509_push(recips.get(), c->x509());
    }
    if (sk_X509_num(recips.get()) == 0) {
        log.fail(ErrorCode::Crypto, "encryptData.1: no recipient certificate");
        return false;
    }
    BioPtr in = memBio(data);
    CmsPtr cms(CMS_encrypt(recips.get(), in.get(), CryptoSP::cipherFor(*enc_), CMS_BINARY));
    BioPtr der(BIO_new(BIO_s_mem()));
    if (!cms || i2d_CMS_bio(der.get(), cms.get()) != 1 || !bioToBuffer(der.get(), out)) {
        log.fail(ErrorCode::Crypto, "encryptData.2: encryption failed");
        drainOpenSslErrors(log);
        return false;
    }
    return true;
}

bool NV_Crypt::decryptMessage(std::span<const uint8_t> enveloped, DataBuffer& out,
                              std::unique_ptr<Certificate>& decryptCert, LogBase& log) {
    if (enveloped.empty()) {
        log.fail(ErrorCode::Crypto, "No data to decrypt");
        return false;
    }
    CmsPtr cms = readCms(enveloped);
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped) {
        log.fail(ErrorCode::Crypto, "decodeMessage.1: not a CMS enveloped-data message");
        drainOpenSslErrors(log);
        return false;
    }
    // Only recipients the message names are tried, each with the key of a matching certificate.
    std::vector<const Certificate*> candidates;
    for (const auto& s : stores(log))
        for (const auto& c : s->certificates())
            if (c->hasPrivateKey())
                candidates.push_back(c.get());
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (const Certificate* c : candidates) {
            BioPtr plain(BIO_new(BIO_s_mem()));
            if (CMS_decrypt(cms.get(), c->privateKey(), c->x509(), nullptr, plain.get(),
                            CMS_BINARY) == 1) {
                ERR_clear_error();
                decryptCert = c->copy();
                decryptCert->setPrivateKey(nullptr);
                return bioToBuffer(plain.get(), out);
            }
        }
        // Old messages may use ciphers only OpenSSL's legacy provider still has.
        if (attempt > 0 || !CryptoSP::loadLegacyProvider())
            break;
    }
    log.fail(ErrorCode::Crypto,
             "decodeMessage.2: no certificate with a private key opens the message");
    drainOpenSslErrors(log);
    {
        LogContext ctx(log, "certsWithPrivateKeys");
        for (const Certificate* c : candidates)
            log.logData("cert", c->subjectName());
    }
    return false;
}

} // namespace norvane
