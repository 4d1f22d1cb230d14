#pragma once

// The connection of an SMTP session: the TCP socket, or the TLS channel once TLS is up, either
// from the first byte or after STARTTLS over that same socket. The session reads and writes
// through it without knowing which; after a failed TLS start nothing more is sent or read, so
// a session never carries on in the clear once it asked for TLS.

#include "common/LogBase.h"
#include "transport/ByteChannel.h"
#include "transport/NorvaneSocket.h"
#include "transport/SChannel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvane {

class ProgressMonitor;

class SessionChannel {
public:
    // A connection in the clear.
    [[nodiscard]] bool connect(std::string_view host, int port, LogBase& log, bool& dnsFailed);
    // TLS from the first byte, the server verified under host.
    [[nodiscard]] bool connectTls(std::string_view host, int port, LogBase& log);
    // TLS over the open connection (after the server's go-ahead to STARTTLS), dropping
    // everything received before the handshake.
    [[nodiscard]] bool startTls(std::string_view host, LogBase& log);
    [[nodiscard]] bool encrypted() const { return useTls_; }

    void setConnectTimeoutSec(uint32_t sec) { tcp_.setConnectTimeoutSec(sec); }
    void setReadTimeoutMs(uint32_t ms) { tcp_.setReadTimeoutMs(ms); }

    [[nodiscard]] bool sendBytes(const void* data, size_t length, LogBase& log,
                                 ProgressMonitor* monitor) {
        return active().sendBytes(data, length, log, monitor);
    }
    [[nodiscard]] bool receiveUntil(std::string& out, std::string_view match, size_t bufferSize,
                                    bool tailOnly, LogBase& log, ProgressMonitor* monitor,
                                    size_t maxBytes, std::string_view startMatch,
                                    ReadDeadline* deadline) {
        return active().receiveUntil(out, match, bufferSize, tailOnly, log, monitor, maxBytes,
                                     startMatch, deadline);
    }
    [[nodiscard]] ReadDeadline replyDeadline() const { return active().replyDeadline(); }
    [[nodiscard]] bool isConnected() const { return active().isConnected(); }
    [[nodiscard]] bool timedOut() const { return active().timedOut(); }
    void close();

    // The TCP socket (the TLS channel runs over a socket of its own once it is up).
    [[nodiscard]] NorvaneSocket& tcp() { return tcp_; }

private:
    [[nodiscard]] ByteChannel& active() { return useTls_ ? static_cast<ByteChannel&>(tls_) : tcp_; }
    [[nodiscard]] const ByteChannel& active() const {
        return useTls_ ? static_cast<const ByteChannel&>(tls_) : tcp_;
    }

    NorvaneSocket tcp_;
    SChannel tls_;
    bool useTls_ = false;
};

} // namespace norvane
