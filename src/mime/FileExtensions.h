#pragma once

// Media types of attachments and related items chosen from their file-name extensions.
//
// The table holds 194 (extension, media type) pairs searched in order, so that an extension
// listed twice (cdf, p7m, p7c) gets its first type. It is a different table from the one the
// MIME tree uses for HTTP form fields: attachments have always been labelled from this one,
// and messages already sent with these labels must keep getting them.

#include <cstddef>
#include <string_view>

namespace norvane::file_extensions {

// The media type for ext (without the dot). The first character must match exactly and the
// rest without regard to ASCII case; callers pass the extension lower-cased. Empty when the
// extension is not in the table. The returned text is static.
[[nodiscard]] std::string_view contentTypeFor(std::string_view ext);

// The extension after the last '.' of the last path component of fileName, lower-cased
// (ASCII); empty when there is no '.'.
[[nodiscard]] std::string extensionOf(std::string_view fileName);

} // namespace norvane::file_extensions
