#pragma once

// A connected byte stream to a mail server: the plain TCP socket or the TLS channel over it.
// The protocol sessions read replies through receiveUntil, which works the same over both.
//
// Each wait for data is bounded by the read time-out, but a peer that sends one byte just
// before every time-out would keep a read going for ever. So every reply also has an overall
// deadline (ReadDeadline): a reply or line must be complete within kDeadlineFactor read
// time-outs, and a message body or listing must bring at least kMinBodyRate bytes per second
// in every such window. A large message over a slow but working link passes; a drip fails
// within one window.

#include "common/LogBase.h"
#include "transport/ParseBuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvane {

class ProgressMonitor;

// The overall limit of one read: a window of windowMs that starts when the read starts. For
// a body the window starts again each time minBytes more bytes have arrived in it; for a reply
// (minBytes 0) it never does.
class ReadDeadline {
public:
    ReadDeadline(uint32_t windowMs, uint64_t minBytes);

    // Counts n bytes that just arrived.
    void received(size_t n);
    // The steady-clock millisecond by which the current window must be satisfied.
    [[nodiscard]] uint64_t limit() const { return windowStart_ + windowMs_; }
    [[nodiscard]] uint32_t windowMs() const { return windowMs_; }
    [[nodiscard]] uint64_t minBytes() const { return minBytes_; }

private:
    uint32_t windowMs_;
    uint64_t minBytes_;
    uint64_t windowStart_;
    uint64_t inWindow_ = 0;
};

class ByteChannel {
public:
    // No reply or message the component reads may grow past this (the largest counted read).
    static constexpr size_t kMaxReceive = 201326592;
    // A reply or line must be complete within this many read time-outs.
    static constexpr uint32_t kDeadlineFactor = 2;
    // A body or listing must arrive at least this fast (bytes per second), averaged over each
    // deadline window: 32 kbit/s, below any working link.
    static constexpr uint32_t kMinBodyRate = 4096;

    virtual ~ByteChannel() = default;

    // Sends every byte; monitor may be null. False (and a log entry) on failure or abort.
    [[nodiscard]] virtual bool sendBytes(const void* data, size_t length, LogBase& log,
                                         ProgressMonitor* monitor) = 0;
    [[nodiscard]] bool sendText(std::string_view text, LogBase& log) {
        return sendBytes(text.data(), text.size(), log, nullptr);
    }
    [[nodiscard]] virtual bool isConnected() const = 0;
    virtual void close() = 0;
    // The time-out of each wait for data, milliseconds (0: the 60 s default).
    [[nodiscard]] virtual uint32_t readTimeoutMs() const = 0;
    // Every wait for data ends no later than this steady-clock millisecond (0: no limit); a
    // wait cut short by it counts as a read time-out.
    virtual void setReadLimit(uint64_t atMs) = 0;

    // The deadline of a reply (complete within kDeadlineFactor read time-outs) and of a body
    // (kMinBodyRate in every such window), starting now.
    [[nodiscard]] ReadDeadline replyDeadline() const;
    [[nodiscard]] ReadDeadline bodyDeadline() const;

    // Everything up to and including the next match, with the bytes after it kept for the next
    // call. When the data starts with startMatch (if given) that alone is taken. A read
    // time-out, a missed deadline, a closed peer, an abort or more than maxBytes without a
    // match fail the call; bytes received so far are never handed out as a result. Without a
    // deadline the call has a reply deadline of its own; one deadline shared by several calls
    // bounds them together (the lines of one reply, a listing).
    [[nodiscard]] bool receiveUntil(std::string& out, std::string_view match, size_t bufferSize,
                                    bool tailOnly, LogBase& log, ProgressMonitor* monitor,
                                    size_t maxBytes = kMaxReceive, std::string_view startMatch = {},
                                    ReadDeadline* deadline = nullptr);

    // Whether a read timed out (or missed its deadline) since the connection was made: the
    // peer is then slow or stuck, and a session closes without waiting for it again.
    [[nodiscard]] bool timedOut() const { return timedOut_; }

    [[nodiscard]] ParseBuffer& pending() { return pending_; }

protected:
    enum class ReadResult { Data, TimedOut, Failed };
    // Appends what arrives next (at least one byte when the result is Data) to pending_,
    // reading at most about maxBytes; got is the number of bytes added.
    virtual ReadResult readMore(size_t maxBytes, LogBase& log, size_t& got) = 0;
    // Whether the peer may still send, for the wording of a failed read.
    [[nodiscard]] virtual bool stillReadable() = 0;

    ParseBuffer pending_;
    bool timedOut_ = false;
};

} // namespace norvane
