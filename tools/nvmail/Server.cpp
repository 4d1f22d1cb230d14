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
    if (!p.has("--password-file")) {
        out.password = fromEnv(proto, "PASSWORD");
        return kOk;
    }
    std::string text;
    if (!readInput(p.value("--password-file"), text))
        return kFailed;
    // The first line, without its line end; a password may hold spaces.
    out.password = text.substr(0, text.find_first_of("\r\n"));
    std::fill(text.begin(), text.end(), '\0');
    if (out.password.empty()) {
        error("cannot read " + p.value("--password-file") + ": its first line is empty");
        return kFailed;
    }
    return kOk;
}

void forgetPassword(ServerSettings& s) {
    std::fill(s.password.begin(), s.password.end(), '\0');
    release(s.password);
}

} // namespace nvmail
