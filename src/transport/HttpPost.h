#pragma once

// The mail manager's HTTP client: one form POST to a web relay that sends the e-mail on, over
// plain HTTP or, for an "https://" URL, over the TLS channel (chain and host name verified).
// Only what the relay needs: no cookies, no proxies, no redirects (a 3xx answer is a failure,
// so an e-mail never follows a redirect to another host). Credentials from the URL go into a
// Basic Authorization header and never into the log.

#include "common/LogBase.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane {

struct HttpUrl {
    bool tls = false;
    std::string host, user, password, path = "/", query;
    int port = 80;
};

namespace http {

// Largest response body read.
inline constexpr size_t kMaxBody = 16u << 20;

// "http[s]://[user[:password]@]host[:port][/path][?query]"; false for anything else.
[[nodiscard]] bool parseUrl(std::string_view url, HttpUrl& out);
// Letters and digits as they are, space as "+", every other byte as "%XX".
[[nodiscard]] std::string formEncode(std::string_view value);
// The whole request for a form of (name, value) fields.
[[nodiscard]] std::string formRequest(const HttpUrl& url,
                                      const std::vector<std::pair<std::string, std::string>>& form);
// Posts the form; body receives the response body of a 2xx answer. False (with the status or
// the reason in the log) for anything else.
[[nodiscard]] bool postForm(std::string_view url,
                            const std::vector<std::pair<std::string, std::string>>& form,
                            uint32_t connectTimeoutSec, std::string& body, LogBase& log);

} // namespace http

} // namespace norvane
