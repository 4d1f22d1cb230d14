#pragma once

// What send and fetch share: the server, user and password, from the command line and the
// environment. A password is never an option (other users could read it in the process list);
// it comes from the environment or a file, and nvmail never prints it.

#include "Cli.h"

#include <string>
#include <string_view>

namespace nvmail {

struct ServerSettings {
    std::string host;
    int port = 0; // 0: the protocol's default
    std::string user;
    std::string password;
    std::string oauthToken; // an OAuth 2.0 access token, used instead of the password
};

// --host, --port and --user, else NVMAIL_<proto>_HOST, _PORT and _USER; the password from
// --password-file (its first line), else NVMAIL_<proto>_PASSWORD; the access token likewise
// from --oauth-token-file, else NVMAIL_<proto>_OAUTH_TOKEN. A missing host, a bad port or an
// unreadable file is reported: kUsage or kFailed, else kOk.
int serverSettings(const Parsed& p, std::string_view proto, ServerSettings& out);

// Overwrites the password and token before their memory is freed.
void forgetPassword(ServerSettings& s);

} // namespace nvmail
