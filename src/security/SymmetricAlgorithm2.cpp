#include "security/SymmetricAlgorithm2.h"

#include "charset/ContentCoding.h"

#include <openssl/evp.h>

#include <algorithm>

namespace norvane {

namespace {

void appendMd5(std::span<const uint8_t> data, DataBuffer& out) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), digest, &len, EVP_md5(), nullptr);
    out.append(std::span<const uint8_t>(digest, len));
}

} // namespace

void SymmetricAlgorithm2::setPassword(std::string_view password) {
    password_.assign(password);
    derivedKey_.clear();
    appendMd5(password_.span(), derivedKey_);
    std::string b64 = ContentCoding::base64Encode(password_.span());
    appendMd5(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(b64.data()), b64.size()),
              derivedKey_);
}

bool SymmetricAlgorithm2::setKeyBytes(std::span<const uint8_t> key) {
    if (key.empty() || key.size() > kDerivedKeySize)
        return false;
    password_.clear();
    derivedKey_.assign(key);
    return true;
}

bool SymmetricAlgorithm2::cipherKey(size_t bytes, std::span<const uint8_t>& key,
                                    LogBase& log) const {
    // Blowfish allows keys longer than the derived key: those use all of it.
    bytes = std::min(bytes, kDerivedKeySize);
    if (derivedKey_.getSize() < bytes) {
        log.fail(ErrorCode::Crypto, "Key is shorter than the key length");
        log.logDataLong("key_length", static_cast<long>(keyBits_));
        return false;
    }
    key = derivedKey_.span().first(bytes);
    return true;
}

void SymmetricAlgorithm2::addPadding(DataBuffer& data, size_t blockSize) {
    size_t n = blockSize - data.getSize() % blockSize;
    for (size_t i = 0; i < n; ++i)
        data.appendByte(static_cast<uint8_t>(n));
}

void SymmetricAlgorithm2::removePadding(DataBuffer& data, size_t blockSize) {
    if (data.isEmpty())
        return;
    size_t v = data.getData()[data.getSize() - 1];
    if (v == 0 || v > blockSize)
        return;
    if (v >= data.getSize()) {
        data.clear();
        return;
    }
    auto& bytes = data.vec();
    bytes.erase(bytes.end() - static_cast<std::ptrdiff_t>(v), bytes.end());
}

bool SymmetricAlgorithm2::encryptBuffer(std::span<const uint8_t> in, DataBuffer& out,
                                        LogBase& log) {
    out.clear();
    if (in.empty())
        return true;
    if (derivedKey_.isEmpty()) {
        log.fail(ErrorCode::Crypto, "No password set for encryption");
        return false;
    }
    out.reserve(in.size() + blockSize());
    out.assign(in);
    addPadding(out, blockSize());
    if (!cryptBlocks(true, std::span<uint8_t>(out.getData(), out.getSize()), log)) {
        out.clear();
        return false;
    }
    return true;
}

bool SymmetricAlgorithm2::decryptBuffer(std::span<const uint8_t> in, DataBuffer& out,
                                        LogBase& log) {
    out.clear();
    if (in.empty())
        return true;
    if (derivedKey_.isEmpty()) {
        log.fail(ErrorCode::Crypto, "No password set for decryption");
        return false;
    }
    if (in.size() % blockSize() != 0) {
        log.fail(ErrorCode::Crypto, "Encrypted data is not a whole number of cipher blocks");
        log.logDataLong("num_bytes", static_cast<long>(in.size()));
        return false;
    }
    out.assign(in);
    if (!cryptBlocks(false, std::span<uint8_t>(out.getData(), out.getSize()), log)) {
        out.clear();
        return false;
    }
    removePadding(out, blockSize());
    return true;
}

} // namespace norvane
