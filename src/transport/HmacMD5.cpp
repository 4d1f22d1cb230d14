#include "transport/HmacMD5.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace norvane {

HmacMD5::Digest HmacMD5::compute(std::span<const uint8_t> key, std::span<const uint8_t> data) {
    Digest out{};
    unsigned int len = 0;
    static const uint8_t kNoKey = 0;
    // HMAC wants a non-null key pointer even for an empty key.
    const uint8_t* k = key.empty() ? &kNoKey : key.data();
    HMAC(EVP_md5(), k, static_cast<int>(key.size()), data.data(), data.size(), out.data(), &len);
    return out;
}

} // namespace norvane
