#pragma once

// The S/MIME engine: turns bytes into CMS (PKCS#7) signed or enveloped data and back, through
// OpenSSL's CMS functions. It does no MIME work: callers render, hand over bytes and wrap what
// comes back. One engine per operation.
//
// Choices made here:
// - signing uses SHA-256 and encryption AES-256-CBC unless a provider description names
//   another algorithm; a named algorithm OpenSSL does not offer fails the operation (logged),
//   it never falls back silently;
// - certificates are found by an exact match of the whole address, only among certificates
//   allowed for e-mail protection, valid ones before expired ones, and for signing only those
//   with a private key;
// - a signature verifies only when every signer's signature verifies; whether the signer is
//   trusted (chain to the trust store), was valid at signing time and matches the sender is
//   reported beside it per signer, never folded into the verification result;
// - private keys and passwords never reach the log.

#include "common/DataBuffer.h"
#include "common/LogBase.h"
#include "security/CertificateStore.h"
#include "security/CryptoSP.h"

#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// A signer's certificate with what verification found out about it.
class SignerCertificate : public Certificate {
public:
    using Certificate::Certificate;
    bool signatureValid = false;
    // The chain verifies against the trust store (system CAs, the "Root" and "CA" stores).
    bool chainTrusted = false;
    std::string trustError;
    // The certificate's validity window contains the signing-time attribute (false without one).
    bool validAtSigningTime = false;
    std::time_t signingTime = 0;
    // One of the certificate's addresses is the From address.
    bool addressMatchesFrom = false;

    [[nodiscard]] std::unique_ptr<NorvaneObject> copyObject() const override;
};

class NV_Crypt {
public:
    NV_Crypt();
    ~NV_Crypt();
    NV_Crypt(const NV_Crypt&) = delete;
    NV_Crypt& operator=(const NV_Crypt&) = delete;

    // Applies a serialized provider description (ClsCSP::serialize): provider, hash and
    // encryption algorithm. False (logged) when a named algorithm is not offered.
    bool setPreferences(std::string_view serializedCsp, LogBase& log);
    // Password for encrypted private keys and PKCS#12 files of the stores.
    void setKeyPassword(std::string_view password) { password_ = password; }
    // Uses these stores instead of the store search list (tests, callers with own stores).
    void setStores(std::vector<std::unique_ptr<CertificateStore>> stores);
    // The address the signer's certificate should carry (From), for the per-signer report.
    void setFromAddress(std::string_view address) { fromAddress_ = address; }

    [[nodiscard]] const CryptoAlg* hashAlgorithm() const { return hash_; }
    [[nodiscard]] const CryptoAlg* encryptionAlgorithm() const { return enc_; }
    // micalg parameter for the hash signing will use.
    [[nodiscard]] std::string micalg() const;

    [[nodiscard]] bool createDetachedSignature(const Certificate* cert,
                                               std::span<const uint8_t> data, DataBuffer& out,
                                               LogBase& log);
    [[nodiscard]] bool createAttachedSignature(const Certificate* cert,
                                               std::span<const uint8_t> data, DataBuffer& out,
                                               LogBase& log);
    [[nodiscard]] bool createDetachedSignatureByAddress(std::string_view address,
                                                        std::span<const uint8_t> data,
                                                        DataBuffer& out, LogBase& log);
    // A copy of the certificate for the address (see the file comment); null when none.
    // storeDescription receives the store it came from.
    [[nodiscard]] std::unique_ptr<Certificate> findCertByAddress(std::string_view address,
                                                                 bool needKey,
                                                                 std::string& storeDescription,
                                                                 LogBase& log);

    // The same certificate from the stores with its private key; null when no store has it.
    [[nodiscard]] std::unique_ptr<Certificate> withPrivateKey(const Certificate& cert,
                                                              LogBase& log);

    // signers receives every signer (also when verification fails). saveStore may be null.
    [[nodiscard]] bool
    verifyDetachedSignature(std::span<const uint8_t> signature, std::span<const uint8_t> data,
                            CertificateStore* saveStore,
                            std::vector<std::unique_ptr<SignerCertificate>>& signers, LogBase& log);
    [[nodiscard]] bool verifySignature(std::span<const uint8_t> signedData, DataBuffer& content,
                                       std::vector<std::unique_ptr<SignerCertificate>>& signers,
                                       LogBase& log);
    [[nodiscard]] bool encryptData(std::span<const uint8_t> data, DataBuffer& out,
                                   const std::vector<const Certificate*>& recipients, LogBase& log);
    // decryptCert receives the certificate whose key opened the message.
    [[nodiscard]] bool decryptMessage(std::span<const uint8_t> enveloped, DataBuffer& out,
                                      std::unique_ptr<Certificate>& decryptCert, LogBase& log);

    // The store search list; only its first entry for a web account.
    [[nodiscard]] static std::vector<CertStoreLocation> storeSearchList(bool webAccount);
    [[nodiscard]] bool isWebAccount() const { return webAccount_; }

private:
    bool sign(const Certificate* cert, std::span<const uint8_t> data, bool detached,
              DataBuffer& out, LogBase& log);
    bool verify(std::span<const uint8_t> cmsBytes, std::span<const uint8_t>* detachedData,
                DataBuffer* content, CertificateStore* saveStore,
                std::vector<std::unique_ptr<SignerCertificate>>& signers, LogBase& log);
    void reportSigners(CMS_ContentInfo* cms, bool valid,
                       std::vector<std::unique_ptr<SignerCertificate>>& signers);
    const std::vector<std::unique_ptr<CertificateStore>>& stores(LogBase& log);
    X509_STORE* trustStore();

    std::string loggedOnUser_;
    bool webAccount_ = false;
    CryptoSP provider_;
    const CryptoAlg* hash_ = nullptr;
    const CryptoAlg* enc_ = nullptr;
    std::string password_;
    std::string fromAddress_;
    bool storesLoaded_ = false;
    std::vector<std::unique_ptr<CertificateStore>> stores_;
    // Intermediate certificates of the "CA" stores, offered when building chains.
    X509StackPtr intermediates_;
    X509StorePtr trust_;
};

} // namespace norvane
