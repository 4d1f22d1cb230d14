#include "transport/SaslOAuth.h"

#include <algorithm>

namespace norvane::sasl {

bool validOAuthFields(std::string_view user, std::string_view token) {
    auto printable = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c > ' ' && c <= '~'; });
    };
    return !user.empty() && !token.empty() && printable(user) && printable(token);
}

std::string xoauth2Message(std::string_view user, std::string_view token) {
    std::string m = "user=";
    m.append(user)
        .append("\x01"
                "auth=Bearer ")
        .append(token)
        .append("\x01\x01");
    return m;
}

std::string oauthBearerMessage(std::string_view user, std::string_view host, int port,
                               std::string_view token) {
    std::string m = "n,a=";
    for (char c : user) {
        if (c == ',')
            m += "=2C";
        else if (c == '=')
            m += "=3D";
        else
            m.push_back(c);
    }
    m.append(",\x01"
             "host=")
        .append(host);
    m.append("\x01"
             "port=")
        .append(std::to_string(port));
    m.append("\x01"
             "auth=Bearer ")
        .append(token)
        .append("\x01\x01");
    return m;
}

std::string_view oauthErrorAnswer(bool bearer) {
    return bearer ? "AQ==" : "";
}

} // namespace norvane::sasl
