#pragma once

// The one way a Content-Type value is written, for the MIME tree and the e-mail object alike:
// the type, then charset, type, boundary, name, protocol, micalg, smime-type and format, each
// only when set. Parameters after the first go on folded lines, so that long boundaries and
// file names never make the field overflow a line.

#include <string>
#include <string_view>

namespace norvane {

struct ContentTypeValue {
    std::string_view type;
    std::string_view charset; // a charset name, or empty for none
    std::string_view typeParam;
    std::string_view boundary;
    std::string_view name;
    std::string_view protocol;
    std::string_view micalg;    // a token: written unquoted
    std::string_view smimeType; // a token: written unquoted
    bool formatFlowed = false;  // honoured for text/plain only
};

[[nodiscard]] std::string composeContentType(const ContentTypeValue& v);

} // namespace norvane
