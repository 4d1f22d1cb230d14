#pragma once

// Opening POP3 sessions for the mail manager: logged in and ready, plain or over TLS, and
// the reachability checks behind its Verify members.

#include "common/LogBase.h"
#include "transport/PopConnImpl.h"
#include "transport/SPopConnImpl.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace norvane {

// A logged-in session on a plain POP3 port, or null (with the reasons in the log); startTls
// says whether it sends STLS before the login.
[[nodiscard]] std::unique_ptr<PopConnImpl>
popConnect(std::string_view host, std::string_view user, std::string_view password, int port,
           uint32_t readTimeoutSec, uint32_t connectTimeoutSec, LogBase& log,
           TlsMode startTls = TlsMode::None, const PopAuth& auth = {});
// Greeting only, then the connection is closed.
[[nodiscard]] bool popCheck(std::string_view host, int port, uint32_t connectTimeoutSec,
                            LogBase& log);
// A logged-in TLS session, or null. Time-outs of 0 keep the socket's defaults.
[[nodiscard]] std::unique_ptr<SPopConnImpl>
popTlsConnect(std::string_view host, std::string_view user, std::string_view password, int port,
              uint32_t readTimeoutSec, uint32_t connectTimeoutSec, LogBase& log,
              const PopAuth& auth = {});
[[nodiscard]] bool popTlsCheck(std::string_view host, int port, uint32_t connectTimeoutSec,
                               uint32_t readTimeoutSec, LogBase& log);

} // namespace norvane
