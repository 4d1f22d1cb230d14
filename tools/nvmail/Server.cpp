#include "Server.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace nvmail {

namespace {

std::string fromEnv(std::string_view proto, std::string_view what) {
    const std::string name = "NVMAIL_" + std::string(proto) + "_" + std::string(what);
    const char* v = std::getenv(name.c_str());
    return v ? std::string(v) : std::string();
}

// The option's value when given, else the environment's.
std::string setting(const Parsed& p, std::string_view option, std::string_view proto,
                    std::string_view what) {
    return p.has(option) ? p.value(option) : fromEnv(proto, what);
}

// The first line of the option's file (a password may hold spaces), else the environment's
// NVMAIL_<proto>_<what>.
int secret(const Parsed& p, std::string_view option, std::string_view proto, std::string_view what,
           std::string& out) {
    if (!p.has(option)) {
        out = fromEnv(proto, what);
        return kOk;
    }
    std::string text;
    if (!readInput(p.value(option), text))
        return kFailed;
    out = text.substr(0, text.find_first_of("\r\n"));
    std::fill(text.begin(), text.end(), '\0');
    if (out.empty()) {
        error("cannot read " + p.value(option) + ": its first line is empty");
        return kFailed;
    }
    return kOk;
}

} // namespace

int serverSettings(const Parsed& p, std::string_view proto, ServerSettings& out) {
    const std::string env = "NVMAIL_" + std::string(proto) + "_";
    out.host = setting(p, "--host", proto, "HOST");
    if (out.host.empty()) {
        error(std::string(p.command->name) + " needs a server: --host or " + env + "HOST");
        return kUsage;
    }
    const std::string port = setting(p, "--port", proto, "PORT");
    if (!port.empty()) {
        const char* end = port.data() + port.size();
        const auto [ptr, ec] = std::from_chars(port.data(), end, out.port);
        if (ec != std::errc() || ptr != end || out.port < 1 || out.port > 65535) {
            error("--port: not a port number: '" + oneLine(port) + "'");
            return kUsage;
        }
    }
    out.user = setting(p, "--user", proto, "USER");
    if (const int status = secret(p, "--oauth-token-file", proto, "OAUTH_TOKEN", out.oauthToken);
        status != kOk)
        return status;
    return secret(p, "--password-file", proto, "PASSWORD", out.password);
}

void forgetPassword(ServerSettings& s) {
    for (std::string* secret : {&s.password, &s.oauthToken}) {
        std::fill(secret->begin(), secret->end(), '\0');
        release(*secret);
    }
}

} // namespace nvmail
