#pragma once

#include <string>
#include <string_view>

namespace norvane {

// The CRAM-MD5 response (RFC 2195): the user name, a blank, and the HMAC-MD5 of the server's
// challenge under the password, as 32 lower-case hexadecimal digits.
class CramMD5 {
public:
    [[nodiscard]] static std::string response(std::string_view user, std::string_view password,
                                              std::string_view challenge);
};

} // namespace norvane
