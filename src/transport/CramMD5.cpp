#include "transport/CramMD5.h"

#include "transport/HmacMD5.h"

#include <cstdint>

namespace norvane {

namespace {
std::span<const uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}
} // namespace

std::string CramMD5::response(std::string_view user, std::string_view password,
                              std::string_view challenge) {
    static const char kHex[] = "0123456789abcdef";
    HmacMD5::Digest d = HmacMD5::compute(bytesOf(password), bytesOf(challenge));
    std::string out(user);
    out.push_back(' ');
    for (uint8_t b : d) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

} // namespace norvane
