#include "transport/SaslBase64.h"

#include "charset/ContentCoding.h"
#include "common/DataBuffer.h"

namespace norvane::sasl {

std::string base64Encode(std::span<const uint8_t> data) {
    return ContentCoding::base64Encode(data);
}

std::string base64Encode(std::string_view text) {
    return ContentCoding::base64Encode(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<std::vector<uint8_t>> base64Decode(std::string_view text) {
    // The strict decoder skips blanks and line breaks, stops at the padding and refuses
    // anything outside the alphabet, which is what a server challenge must be.
    DataBuffer out;
    if (!ContentCoding::base64DecodeStrict(text, out))
        return std::nullopt;
    return std::move(out.vec());
}

} // namespace norvane::sasl
