#pragma once

// A client TLS channel over a NorvaneSocket, on OpenSSL. Only TLS 1.2 and 1.3 are offered.
// The server's chain is verified against the system CA store (plus a CA file the application
// adds) and its name against the host the caller asked for, in the certificate's
// subjectAltName only (RFC 6125: the subject's common name is never taken for a host name); a
// server that fails either check fails the connect, with the reason in the log. The handshake
// as a whole has the deadline of a reply, so a peer that drips it cannot hold the connect.
//
// OpenSSL never touches the socket itself: it reads from and writes to memory buffers that
// the channel moves over the NorvaneSocket, so time-outs and failures are the socket's.

#include "common/LogBase.h"
#include "common/OpenSslPtr.h"
#include "transport/ByteChannel.h"
#include "transport/NorvaneSocket.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace norvane {

class SChannel : public ByteChannel {
public:
    SChannel() = default;
    ~SChannel() override;
    SChannel(const SChannel&) = delete;
    SChannel& operator=(const SChannel&) = delete;

    void setServer(std::string_view name) { serverName_.assign(name); }
    void setPort(int port) { port_ = port; }
    // Seconds; kept by the socket as 1 ... 500000 ms.
    void setReadTimeout(uint32_t seconds);
    void setConnectTimeout(uint32_t seconds) { socket_.setConnectTimeoutSec(seconds); }
    // A PEM file of CA certificates trusted in addition to the system store.
    void setCaFile(std::string_view path) { caFile_.assign(path); }

    // Connects, runs the handshake and verifies the server.
    [[nodiscard]] bool establish(LogBase& log);
    // The same over a connection already open in the clear (after STARTTLS or STLS): the
    // channel takes plain's connection over, dropping whatever plain had received and not
    // handed out, and runs the handshake with the server named by setServer. On failure the
    // connection is closed; it is never used in the clear again.
    [[nodiscard]] bool establishOver(NorvaneSocket& plain, LogBase& log);
    [[nodiscard]] bool sendEncrypted(const void* data, size_t length, LogBase& log);
    // Appends at least one record's worth of application data to out.
    [[nodiscard]] bool receiveDecrypted(std::string& out, LogBase& log);
    // Sends close_notify (when the channel is up) and closes the socket.
    void close() override;

    [[nodiscard]] bool sendBytes(const void* data, size_t length, LogBase& log,
                                 ProgressMonitor* monitor) override;
    [[nodiscard]] bool isConnected() const override {
        return established_ && socket_.isConnected();
    }
    [[nodiscard]] NorvaneSocket& socket() { return socket_; }
    [[nodiscard]] uint32_t readTimeoutMs() const override { return socket_.readTimeoutMs(); }
    void setReadLimit(uint64_t atMs) override { socket_.setReadLimit(atMs); }

    // The CA file every new channel trusts in addition to the system store ("" for none).
    static void setDefaultCaFile(std::string_view path);
    [[nodiscard]] static std::string defaultCaFile();

protected:
    ReadResult readMore(size_t maxBytes, LogBase& log, size_t& got) override;
    bool stillReadable() override { return isConnected(); }

private:
    [[nodiscard]] bool createContext(LogBase& log);
    [[nodiscard]] bool handshake(LogBase& log);
    [[nodiscard]] bool flushOutput(LogBase& log);
    // Moves one socket read into OpenSSL's input.
    [[nodiscard]] ReadResult feedInput(LogBase& log);
    void logVerifyFailure(LogBase& log);
    void logVersionRefusal(LogBase& log);
    void logConnectionInfo(LogBase& log);
    // The handshake on the connected socket, and what follows it either way.
    [[nodiscard]] bool secureConnected(LogBase& log);
    void reset();

    NorvaneSocket socket_;
    SslCtxPtr ctx_;
    SslPtr ssl_;
    BIO* toNet_ = nullptr; // owned by ssl_
    std::string serverName_;
    int port_ = 443;
    std::string caFile_;
    bool established_ = false;
};

} // namespace norvane
