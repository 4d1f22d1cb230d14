#include "security/CryptoSP.h"

#include "common/StringBuffer.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <array>

namespace norvane {

namespace {

struct HashRow {
    std::string_view name;
    std::string_view altName;
    int bits;
    std::string_view oid;
    std::string_view micalg;
};

constexpr std::array kHashes{
    HashRow{"sha256", "sha-256", 256, "2.16.840.1.101.3.4.2.1", "sha-256"},
    HashRow{"sha384", "sha-384", 384, "2.16.840.1.101.3.4.2.2", "sha-384"},
    HashRow{"sha512", "sha-512", 512, "2.16.840.1.101.3.4.2.3", "sha-512"},
    HashRow{"sha1", "sha-1", 160, "1.3.14.3.2.26", "sha-1"},
    HashRow{"md5", "md5", 128, "1.2.840.113549.2.5", "md5"},
};

std::string canonicalHash(std::string_view name) {
    for (const auto& h : kHashes)
        if (sb::equalsNoCase(name, h.name) || sb::equalsNoCase(name, h.altName))
            return std::string(h.name);
    return sb::lowerAscii(name);
}

// Loaded once and unloaded at exit, before OpenSSL's own clean-up runs.
struct LoadedProviders {
    OSSL_PROVIDER* base = nullptr;
    OSSL_PROVIDER* legacy = nullptr;
    LoadedProviders() {
        // Loading any provider explicitly stops the default one from loading implicitly.
        base = OSSL_PROVIDER_load(nullptr, "default");
        legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        ERR_clear_error();
    }
    ~LoadedProviders() {
        if (legacy)
            OSSL_PROVIDER_unload(legacy);
        if (base)
            OSSL_PROVIDER_unload(base);
    }
    LoadedProviders(const LoadedProviders&) = delete;
    LoadedProviders& operator=(const LoadedProviders&) = delete;
};

} // namespace

bool CryptoSP::loadLegacyProvider() {
    static const LoadedProviders providers;
    return providers.base && providers.legacy;
}

int CryptoSP::typeForName(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, int>, 13> kTypes{{
        {"Gemplus GemSAFE Card CSP v1.0", 1},
        {"Infineon SICRYPT Base Smart Card CSP", 1},
        {"Microsoft Base Cryptographic Provider v1.0", 1},
        {"Microsoft Enhanced Cryptographic Provider v1.0", 1},
        {"Microsoft Strong Cryptographic Provider", 1},
        {"Schlumberger Cryptographic Service Provider", 1},
        {"Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", 13},
        {"Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider", 13},
        {"Microsoft Base DSS Cryptographic Provider", 3},
        {"Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)", 24},
        {"Microsoft DH SChannel Cryptographic Provider", 18},
        {"Microsoft Exchange Cryptographic Provider v1.0", 5},
        {"Microsoft RSA SChannel Cryptographic Provider", 1},
    }};
    if (name.empty() || name == kName)
        return 1;
    for (const auto& [n, t] : kTypes)
        if (n == name)
            return t;
    return 12;
}

CryptoSP::CryptoSP(std::string_view name, std::string_view container)
    : name_(name.empty() ? std::string(kName) : std::string(name)), container_(container) {
    for (const auto& h : kHashes) {
        CryptoAlg a{true, h.bits, std::string(h.name), std::string(h.oid)};
        if (digestFor(a))
            algs_.push_back(a);
    }
    const CryptoAlg enc[] = {{false, 256, "aes", "2.16.840.1.101.3.4.1.42"},
                             {false, 192, "aes", "2.16.840.1.101.3.4.1.22"},
                             {false, 128, "aes", "2.16.840.1.101.3.4.1.2"},
                             {false, 192, "3des", "1.2.840.113549.3.7"},
                             {false, 128, "rc2", "1.2.840.113549.3.2"},
                             {false, 64, "rc2", "1.2.840.113549.3.2"}};
    for (const auto& a : enc)
        if (a.name != "rc2" || loadLegacyProvider())
            if (cipherFor(a))
                algs_.push_back(a);
}

const CryptoAlg* CryptoSP::findHashAlgorithm(std::string_view name) const {
    const std::string n = canonicalHash(name);
    for (const auto& a : algs_)
        if (a.isHash && a.name == n)
            return &a;
    return nullptr;
}

const CryptoAlg* CryptoSP::findEncryptionAlgorithm(std::string_view name, int bits) const {
    for (const auto& a : algs_)
        if (!a.isHash && sb::equalsNoCase(a.name, name) && (bits == 0 || a.bits == bits))
            return &a;
    return nullptr;
}

const CryptoAlg* CryptoSP::firstHashAlgorithm() const {
    for (const auto& a : algs_)
        if (a.isHash)
            return &a;
    return nullptr;
}

const CryptoAlg* CryptoSP::firstEncryptionAlgorithm() const {
    for (const auto& a : algs_)
        if (!a.isHash)
            return &a;
    return nullptr;
}

int CryptoSP::count(bool hash) const {
    int n = 0;
    for (const auto& a : algs_)
        n += a.isHash == hash ? 1 : 0;
    return n;
}

const EVP_MD* CryptoSP::digestFor(const CryptoAlg& alg) {
    if (!alg.isHash)
        return nullptr;
    const EVP_MD* md = EVP_get_digestbyname(alg.name.c_str());
    ERR_clear_error();
    return md;
}

const EVP_CIPHER* CryptoSP::cipherFor(const CryptoAlg& alg) {
    if (alg.isHash)
        return nullptr;
    const char* name = nullptr;
    if (alg.name == "aes")
        name = alg.bits == 128 ? "aes-128-cbc" : alg.bits == 192 ? "aes-192-cbc" : "aes-256-cbc";
    else if (alg.name == "3des")
        name = "des-ede3-cbc";
    else if (alg.name == "rc2")
        name = alg.bits == 128 ? "rc2-cbc" : alg.bits == 64 ? "rc2-64-cbc" : nullptr;
    if (!name)
        return nullptr;
    // The legacy ciphers are only there once their provider is loaded.
    EVP_CIPHER* fetched = EVP_CIPHER_fetch(nullptr, name, nullptr);
    ERR_clear_error();
    if (!fetched)
        return nullptr;
    EVP_CIPHER_free(fetched);
    return EVP_get_cipherbyname(name);
}

std::string CryptoSP::micalgFor(const CryptoAlg& alg) {
    for (const auto& h : kHashes)
        if (h.name == alg.name)
            return std::string(h.micalg);
    return "sha-256";
}

} // namespace norvane
