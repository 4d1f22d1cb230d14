#pragma once

// The POP3 session over TLS from the first byte. Every command is the plain session's,
// TOP, DELE and QUIT included: header fetches and deletions over TLS behave as over TCP.

#include "transport/PopConnImpl.h"
#include "transport/SChannel.h"

#include <string_view>

namespace norvane {

class SPopConnImpl : public PopConnImpl {
public:
    SPopConnImpl();
    // QUIT (when connected) and close_notify.
    ~SPopConnImpl() override;

    // Establishes the channel to host:port and reads the greeting.
    [[nodiscard]] bool connect(std::string_view host, int port, LogBase& log);
    [[nodiscard]] SChannel& tlsChannel() { return *tls_; }

private:
    SChannel* tls_ = nullptr; // owned by the base as its channel
};

} // namespace norvane
