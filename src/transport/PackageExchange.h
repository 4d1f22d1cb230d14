#pragma once

#include "common/LogBase.h"

#include <cstdint>
#include <span>
#include <vector>

namespace norvane {

// How an authentication package talks to the server through the session that owns the
// connection. Both calls accept a null log.
class PackageExchange {
public:
    virtual ~PackageExchange() = default;
    // Sends the client token and hands back the server's next token.
    [[nodiscard]] virtual bool exchangePackage(std::vector<uint8_t>& serverToken,
                                               std::span<const uint8_t> clientToken,
                                               LogBase* log) = 0;
    // Sends the last client token; true when the server accepted the authentication.
    [[nodiscard]] virtual bool sendFinal(std::span<const uint8_t> clientToken, LogBase* log) = 0;
};

} // namespace norvane
