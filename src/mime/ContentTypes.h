#pragma once

// Media types guessed from file-name extensions, for attachments and HTTP form file fields.

#include <string_view>

namespace norvane::content_types {

// The media type registered for ext (without the dot), compared without regard to ASCII case;
// "application/octet-stream" when the extension is not in the table. The returned text is static.
[[nodiscard]] std::string_view forExtension(std::string_view ext);

} // namespace norvane::content_types
