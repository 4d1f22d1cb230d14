#pragma once

// The client messages of the two SASL mechanisms that carry an OAuth 2.0 bearer token, shared
// by the SMTP and POP3 sessions: XOAUTH2 and OAUTHBEARER (RFC 7628). Both are sent base64
// encoded; neither the messages nor the token may ever reach a log.

#include <string>
#include <string_view>

namespace norvane::sasl {

// Whether a user name and token can be framed: printable ASCII only (a token is base64url or
// similar; a control byte would end a field of the message).
[[nodiscard]] bool validOAuthFields(std::string_view user, std::string_view token);
// "user=" user ^A "auth=Bearer " token ^A ^A
[[nodiscard]] std::string xoauth2Message(std::string_view user, std::string_view token);
// "n,a=" user (',' and '=' escaped) "," ^A "host=" host ^A "port=" port ^A "auth=Bearer " token
// ^A ^A
[[nodiscard]] std::string oauthBearerMessage(std::string_view user, std::string_view host, int port,
                                             std::string_view token);
// What the client answers to a server's error challenge before the final refusal (base64):
// XOAUTH2 an empty response, OAUTHBEARER a lone ^A ("AQ==").
[[nodiscard]] std::string_view oauthErrorAnswer(bool bearer);

} // namespace norvane::sasl
