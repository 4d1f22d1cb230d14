#include "security/TwoFish.h"

#include <nettle/cbc.h>
#include <nettle/twofish.h>

namespace norvane {

namespace {

// Nettle's generic modes take a cipher function over an untyped context.
void encryptFn(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
    twofish_encrypt(static_cast<const twofish_ctx*>(ctx), length, dst, src);
}

void decryptFn(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
    twofish_decrypt(static_cast<const twofish_ctx*>(ctx), length, dst, src);
}

} // namespace

void TwoFish::setKeyLength(int bits) {
    keyBits_ = bits >= 193 ? 256 : bits >= 129 ? 192 : 128;
}

bool TwoFish::cryptBlocks(bool encrypt, std::span<uint8_t> data, LogBase& log) {
    std::span<const uint8_t> key;
    if (!cipherKey(static_cast<size_t>(keyBits_) / 8, key, log))
        return false;
    twofish_ctx ctx;
    twofish_set_key(&ctx, key.size(), key.data());
    uint8_t iv[TWOFISH_BLOCK_SIZE] = {};
    if (cipherMode() == CipherMode::Ecb)
        (encrypt ? encryptFn : decryptFn)(&ctx, data.size(), data.data(), data.data());
    else if (encrypt)
        cbc_encrypt(&ctx, encryptFn, TWOFISH_BLOCK_SIZE, iv, data.size(), data.data(), data.data());
    else
        cbc_decrypt(&ctx, decryptFn, TWOFISH_BLOCK_SIZE, iv, data.size(), data.data(), data.data());
    return true;
}

} // namespace norvane
