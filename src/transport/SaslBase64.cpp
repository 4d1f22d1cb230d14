#include "transport/SaslBase64.h"

#include "common/StringBuffer.h"

#include <openssl/evp.h>

namespace norvane::sasl {

std::string base64Encode(std::span<const uint8_t> data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(),
                            static_cast<int>(data.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

std::string base64Encode(std::string_view text) {
    return base64Encode(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<std::vector<uint8_t>> base64Decode(std::string_view textArg) {
    std::string text(sb::trimView(textArg));
    if (text.empty())
        return std::vector<uint8_t>{};
    while (text.size() % 4 != 0)
        text.push_back('=');
    size_t padding = 0;
    if (text.ends_with("=="))
        padding = 2;
    else if (text.ends_with('='))
        padding = 1;
    std::vector<uint8_t> out(text.size() / 4 * 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0 || static_cast<size_t>(n) < padding)
        return std::nullopt;
    // EVP_DecodeBlock counts the zero bytes that padding stands for.
    out.resize(static_cast<size_t>(n) - padding);
    return out;
}

} // namespace norvane::sasl
