#pragma once

// The provider description an e-mail carries: provider name, key container and the chosen
// hash and encryption algorithms. There is one provider (OpenSSL); every provider name is
// accepted as an alias of it and kept as given. Defaults are SHA-256 and AES-256-CBC.
//
// Serialized form: "provider,container,numEncrypt,numHash,numKeyExchange,numSignature,
// encryptionAlgorithm,hashAlgorithm,encryptionBits" (the counts are informational and ignored
// when read; a field beginning with "*" keeps the default).

#include "facade/ClsBase.h"
#include "security/CryptoSP.h"

#include <string>
#include <string_view>

namespace norvane {

class ClsCSP : public ClsBase {
public:
    ClsCSP();

    [[nodiscard]] std::string get_ProviderName() const { return provider_.name(); }
    // Empty or the same name (any case) does nothing; the algorithm choices are kept when the
    // provider offers them.
    void put_ProviderName(const char* name);
    [[nodiscard]] std::string get_KeyContainerName() const { return provider_.container(); }
    void put_KeyContainerName(const char* name);
    [[nodiscard]] int get_ProviderType() const { return provider_.type(); }

    // False (logged, choice unchanged) for an algorithm the provider does not offer.
    bool SetEncryptAlgorithm(const char* name);
    bool SetHashAlgorithm(const char* name);
    // Selects among the algorithms of that name (aes 128, 192 or 256).
    bool put_EncryptKeyLength(int bits);
    [[nodiscard]] std::string get_EncryptAlgorithm() const { return enc_.name; }
    [[nodiscard]] int get_EncryptKeyLength() const { return enc_.bits; }
    [[nodiscard]] std::string get_EncryptAlgorithmOid() const { return enc_.oid; }
    [[nodiscard]] std::string get_HashAlgorithm() const { return hash_.name; }
    [[nodiscard]] int get_HashBits() const { return hash_.bits; }
    [[nodiscard]] std::string get_HashAlgorithmOid() const { return hash_.oid; }
    [[nodiscard]] int get_NumEncryptAlgorithms() const { return provider_.count(false); }
    [[nodiscard]] int get_NumHashAlgorithms() const { return provider_.count(true); }

    [[nodiscard]] std::string Serialize() const;
    // False (nothing applied) with fewer than six fields or an algorithm not offered.
    bool setFromSerialized(std::string_view text);

private:
    CryptoSP provider_;
    CryptoAlg hash_;
    CryptoAlg enc_;
};

} // namespace norvane
