#pragma once

// The one cryptographic provider: OpenSSL. Every provider name callers know is accepted as an
// alias of it; what it offers is what the running OpenSSL can do, checked when the list is
// built.
//
// Algorithms:
//   hash        sha256 (first), sha384, sha512, sha1, md5
//   encryption  aes 256 (first), aes 192, aes 128, 3des, rc2 128 and 64 bits (only when
//               OpenSSL's legacy provider loads)
// md2, md4, SHA-0, rc4, single DES and 40-bit RC2 are not offered: asking for them fails.

#include "common/LogBase.h"

#include <openssl/evp.h>

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

struct CryptoAlg {
    bool isHash = false;
    int bits = 0;
    std::string name;
    std::string oid;
};

class CryptoSP {
public:
    static constexpr std::string_view kName = "OpenSSL";

    // The provider; name and container are kept as given (empty name: kName).
    explicit CryptoSP(std::string_view name = {}, std::string_view container = {});

    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] const std::string& container() const { return container_; }
    // The provider type a provider name has always been given (1 for the RSA families).
    [[nodiscard]] static int typeForName(std::string_view name);
    [[nodiscard]] int type() const { return typeForName(name_); }

    [[nodiscard]] const std::vector<CryptoAlg>& algorithms() const { return algs_; }
    // Case-insensitive name; "sha-256" and "sha256" are one algorithm. Null when not offered.
    [[nodiscard]] const CryptoAlg* findHashAlgorithm(std::string_view name) const;
    // bits 0: the first (strongest) of that name.
    [[nodiscard]] const CryptoAlg* findEncryptionAlgorithm(std::string_view name,
                                                           int bits = 0) const;
    [[nodiscard]] const CryptoAlg* firstHashAlgorithm() const;
    [[nodiscard]] const CryptoAlg* firstEncryptionAlgorithm() const;
    [[nodiscard]] int count(bool hash) const;

    // The OpenSSL objects behind an algorithm; null when not available.
    [[nodiscard]] static const EVP_MD* digestFor(const CryptoAlg& alg);
    [[nodiscard]] static const EVP_CIPHER* cipherFor(const CryptoAlg& alg);
    // RFC 5751 micalg value: "sha-256", "sha-1", "md5", ...
    [[nodiscard]] static std::string micalgFor(const CryptoAlg& alg);
    // Loads OpenSSL's legacy provider next to the default one (once); false when it is missing.
    static bool loadLegacyProvider();

private:
    std::string name_;
    std::string container_;
    std::vector<CryptoAlg> algs_;
};

} // namespace norvane
