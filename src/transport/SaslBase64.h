#pragma once

// Base64 for SASL exchanges: one line, no breaks. Decoding accepts surrounding blanks and a
// missing final padding, as servers send it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::sasl {

[[nodiscard]] std::string base64Encode(std::span<const uint8_t> data);
[[nodiscard]] std::string base64Encode(std::string_view text);
// Empty optional when the text is not base64.
[[nodiscard]] std::optional<std::vector<uint8_t>> base64Decode(std::string_view text);

} // namespace norvane::sasl
