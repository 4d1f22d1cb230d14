#pragma once

// The common part of the password-based block ciphers: the password, the key derived from it,
// the chaining mode, and padding. Subclasses supply the block cipher itself (taken from
// OpenSSL or Nettle) for whole blocks with an all-zero initialisation vector.
//
// Key derivation: the 32-byte key is MD5 of the password bytes followed by MD5 of their base64
// text (no line breaks); a cipher uses as many leading bytes as its key length asks for.
// Padding: n bytes of value n up to the next block boundary (a whole block when aligned). On
// decryption the last byte v says how much to remove: nothing when v is 0 or larger than a
// block, everything when v is not less than the length, else the last v bytes.

#include "common/DataBuffer.h"
#include "common/LogBase.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace norvane {

enum class CipherMode { Ecb, Cbc };

class SymmetricAlgorithm2 {
public:
    static constexpr size_t kDerivedKeySize = 32;

    virtual ~SymmetricAlgorithm2() = default;

    // Key length in bits, adjusted to what the cipher accepts; keyLength() tells the result.
    virtual void setKeyLength(int bits) = 0;
    [[nodiscard]] int keyLength() const { return keyBits_; }
    [[nodiscard]] virtual size_t blockSize() const = 0;

    void setCipherMode(CipherMode mode) { mode_ = mode; }
    [[nodiscard]] CipherMode cipherMode() const { return mode_; }

    // Keeps the password's bytes and derives the key from them.
    void setPassword(std::string_view password);
    [[nodiscard]] const DataBuffer& derivedKey() const { return derivedKey_; }
    // Uses the bytes as the key instead of deriving one from a password: for keys that come
    // from elsewhere and for known-answer tests. At most 32 bytes; the cipher needs at least
    // as many as its key length.
    [[nodiscard]] bool setKeyBytes(std::span<const uint8_t> key);

    // Pads and encrypts (out replaces its contents). Empty input gives empty output.
    [[nodiscard]] bool encryptBuffer(std::span<const uint8_t> in, DataBuffer& out, LogBase& log);
    // Decrypts and removes the padding. Input that is not whole blocks fails (out empty).
    [[nodiscard]] bool decryptBuffer(std::span<const uint8_t> in, DataBuffer& out, LogBase& log);

    // The padding rules on their own (block size given).
    static void addPadding(DataBuffer& data, size_t blockSize);
    static void removePadding(DataBuffer& data, size_t blockSize);

protected:
    // Encrypts or decrypts whole blocks in place with the current key and mode.
    [[nodiscard]] virtual bool cryptBlocks(bool encrypt, std::span<uint8_t> data, LogBase& log) = 0;
    // The leading bytes of the key that the cipher uses; false (logged) when the key is
    // shorter than that.
    [[nodiscard]] bool cipherKey(size_t bytes, std::span<const uint8_t>& key, LogBase& log) const;

    int keyBits_ = 128;

private:
    DataBuffer password_;
    DataBuffer derivedKey_;
    CipherMode mode_ = CipherMode::Cbc;
};

} // namespace norvane
