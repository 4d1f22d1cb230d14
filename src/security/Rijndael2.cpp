#include "security/Rijndael2.h"

#include "common/OpenSslPtr.h"

#include <algorithm>
#include <climits>

namespace norvane {

namespace {

const EVP_CIPHER* aesCipher(int bits, CipherMode mode) {
    bool cbc = mode == CipherMode::Cbc;
    switch (bits) {
    case 256:
        return cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
    case 192:
        return cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
    default:
        return cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
    }
}

// EVP counts lengths in int; larger buffers go through in pieces of whole blocks.
constexpr size_t kMaxPiece = size_t{1} << 30;

} // namespace

void Rijndael2::setKeyLength(int bits) {
    keyBits_ = bits >= 193 ? 256 : bits >= 129 ? 192 : 128;
}

bool Rijndael2::cryptBlocks(bool encrypt, std::span<uint8_t> data, LogBase& log) {
    static const uint8_t kZeroIv[16] = {};
    std::span<const uint8_t> key;
    if (!cipherKey(static_cast<size_t>(keyBits_) / 8, key, log))
        return false;
    EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), aesCipher(keyBits_, cipherMode()), nullptr, key.data(),
                          kZeroIv, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) {
        log.fail(ErrorCode::Crypto, "Failed to initialize AES");
        drainOpenSslErrors(log);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        size_t n = std::min(kMaxPiece, data.size() - done);
        int outLen = 0;
        if (EVP_CipherUpdate(ctx.get(), data.data() + done, &outLen, data.data() + done,
                             static_cast<int>(n)) != 1 ||
            static_cast<size_t>(outLen) != n) {
            log.fail(ErrorCode::Crypto, "AES block operation failed");
            drainOpenSslErrors(log);
            return false;
        }
        done += n;
    }
    int finalLen = 0;
    uint8_t tail[32];
    if (EVP_CipherFinal_ex(ctx.get(), tail, &finalLen) != 1 || finalLen != 0) {
        log.fail(ErrorCode::Crypto, "AES block operation failed");
        drainOpenSslErrors(log);
        return false;
    }
    return true;
}

} // namespace norvane
