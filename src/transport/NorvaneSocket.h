#pragma once

// The one TCP client socket of the component. Every SMTP, POP3 and TLS conversation runs over
// it. Reads wait at most readTimeoutMs for data, and never past the read limit a reply's
// deadline sets (ByteChannel); connects wait at most connectTimeoutSec. Failures
// are logged with the fixed texts of the socket error table (Winsock numbering, which the
// activity log has always shown), whatever the errno behind them.

#include "common/LogBase.h"
#include "common/UniqueFd.h"
#include "transport/ByteChannel.h"

#include <cstdint>
#include <string>
#include <string_view>

struct addrinfo;

namespace norvane {

class ProgressMonitor;

class NorvaneSocket : public ByteChannel {
public:
    NorvaneSocket() = default;
    ~NorvaneSocket() override;
    NorvaneSocket(const NorvaneSocket&) = delete;
    NorvaneSocket& operator=(const NorvaneSocket&) = delete;

    // Resolves host (IPv4 or IPv6; "localhost" is the loopback address without a look-up) and
    // connects to the first address that answers. dnsFailed tells a failed name resolution.
    [[nodiscard]] bool connect(std::string_view host, int port, LogBase& log, bool& dnsFailed);
    void close() override;
    // Takes from's connection (descriptor and time-outs) over, leaving from closed. Bytes from
    // had received but not handed out are dropped, never carried over: a TLS channel that
    // takes over a socket after STARTTLS/STLS must not read anything sent before its
    // handshake as if it had come through it.
    void takeOver(NorvaneSocket& from);

    [[nodiscard]] bool sendBytes(const void* data, size_t length, LogBase& log,
                                 ProgressMonitor* monitor) override;
    [[nodiscard]] bool isConnected() const override { return connected_; }

    // One wait and one read: length is the capacity on entry and the bytes read on return.
    [[nodiscard]] bool receiveSome(char* buffer, size_t& length, bool& timedOut, LogBase& log);
    // Exactly n bytes; any failure or time-out fails the call.
    [[nodiscard]] bool receiveExact(char* buffer, size_t n, LogBase& log);
    // Everything until the peer closes or a read times out; true when anything arrived.
    [[nodiscard]] bool receiveToClose(std::string& out, LogBase& log);
    // At most one read of up to 20000 bytes; true when anything arrived.
    [[nodiscard]] bool receiveOnce(std::string& out, LogBase& log);
    // Up to and including the first empty line ("\r\n\r\n" or "\n\n").
    [[nodiscard]] bool receiveHeaderBlock(std::string& out, LogBase& log);
    // Up to and including the first LF that follows a CR or starts a line.
    [[nodiscard]] bool receiveCrLfLine(std::string& out, LogBase& log);
    // Exactly n bytes appended to out; n must be 1 ... 201326592.
    [[nodiscard]] bool receiveCount(size_t n, std::string& out, LogBase& log);
    // True when data (or the peer's close) is waiting to be read.
    [[nodiscard]] bool pollReadable();

    // The local machine's name (empty when the system cannot tell); always true.
    static bool getLocalHostName(std::string& out, LogBase& log);
    // Logs "SocketError" with the table text of a Winsock-numbered error code.
    static void logSocketError(int code, LogBase& log);
    // The Winsock number that the table uses for an errno value.
    [[nodiscard]] static int winsockCode(int err);

    void setReadTimeoutMs(uint32_t ms) { readTimeoutMs_ = ms; }
    void setConnectTimeoutSec(uint32_t sec) { connectTimeoutSec_ = sec; }
    [[nodiscard]] uint32_t readTimeoutMs() const override { return readTimeoutMs_; }
    void setReadLimit(uint64_t atMs) override { readLimitMs_ = atMs; }
    [[nodiscard]] uint32_t connectTimeoutSec() const { return connectTimeoutSec_; }
    [[nodiscard]] int lastSendError() const { return lastSendError_; }
    [[nodiscard]] int fd() const { return fd_.get(); }

protected:
    ReadResult readMore(size_t maxBytes, LogBase& log, size_t& got) override;
    bool stillReadable() override { return fd_.valid() && pollReadable(); }

private:
    [[nodiscard]] bool connectAddress(const ::addrinfo& ai, int& err, LogBase& log);
    [[nodiscard]] bool waitWritable(int& err, LogBase& log);
    [[nodiscard]] bool receiveWire(char* buffer, size_t& length, bool& timedOut, LogBase& log);
    [[nodiscard]] bool sendPiece(const char* data, size_t n, size_t& sent, LogBase& log);
    [[nodiscard]] bool sendWithMonitor(const char* data, size_t length, LogBase& log,
                                       ProgressMonitor& monitor);
    void dropHandle();
    // Gives the kernel the current time-out for blocking reads and writes (once per change).
    [[nodiscard]] bool applyTimeout();
    [[nodiscard]] static bool failTimeoutSetup(LogBase& log);
    [[nodiscard]] int waitMs() const;
    // Waits (at most until the read limit) for data when the limit is nearer than the read
    // time-out; false, logged as a time-out, when the limit passes first.
    [[nodiscard]] bool waitWithinLimit(LogBase& log);

    UniqueFd fd_;
    bool connected_ = false;
    uint32_t readTimeoutMs_ = 30000;
    uint32_t connectTimeoutSec_ = 7;
    int lastSendError_ = 0;
    int appliedTimeoutMs_ = -1;
    uint64_t readLimitMs_ = 0;
};

} // namespace norvane
