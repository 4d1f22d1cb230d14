#include "security/BlowFish.h"

#include <nettle/blowfish.h>
#include <nettle/cbc.h>

#include <algorithm>

namespace norvane {

namespace {

void encryptFn(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
    blowfish_encrypt(static_cast<const blowfish_ctx*>(ctx), length, dst, src);
}

void decryptFn(const void* ctx, size_t length, uint8_t* dst, const uint8_t* src) {
    blowfish_decrypt(static_cast<const blowfish_ctx*>(ctx), length, dst, src);
}

} // namespace

void BlowFish::setKeyLength(int bits) {
    keyBits_ = std::clamp(bits - bits % 8, 40, 448);
}

bool BlowFish::cryptBlocks(bool encrypt, std::span<uint8_t> data, LogBase& log) {
    std::span<const uint8_t> key;
    if (!cipherKey(static_cast<size_t>(keyBits_) / 8, key, log))
        return false;
    blowfish_ctx ctx;
    // Nettle reports weak keys (repeated S-box entries); like every other Blowfish they are
    // used all the same, since the key comes from a password the caller chose.
    (void)blowfish_set_key(&ctx, key.size(), key.data());
    uint8_t iv[BLOWFISH_BLOCK_SIZE] = {};
    if (cipherMode() == CipherMode::Ecb)
        (encrypt ? encryptFn : decryptFn)(&ctx, data.size(), data.data(), data.data());
    else if (encrypt)
        cbc_encrypt(&ctx, encryptFn, BLOWFISH_BLOCK_SIZE, iv, data.size(), data.data(),
                    data.data());
    else
        cbc_decrypt(&ctx, decryptFn, BLOWFISH_BLOCK_SIZE, iv, data.size(), data.data(),
                    data.data());
    return true;
}

} // namespace norvane
