#pragma once

// A connected byte stream to a mail server: the plain TCP socket or the TLS channel over it.
// The protocol sessions read replies through receiveUntil, which works the same over both.

#include "common/LogBase.h"
#include "transport/ParseBuffer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvane {

class ProgressMonitor;

class ByteChannel {
public:
    // No reply or message the component reads may grow past this (the largest counted read).
    static constexpr size_t kMaxReceive = 201326592;

    virtual ~ByteChannel() = default;

    // Sends every byte; monitor may be null. False (and a log entry) on failure or abort.
    [[nodiscard]] virtual bool sendBytes(const void* data, size_t length, LogBase& log,
                                         ProgressMonitor* monitor) = 0;
    [[nodiscard]] bool sendText(std::string_view text, LogBase& log) {
        return sendBytes(text.data(), text.size(), log, nullptr);
    }
    [[nodiscard]] virtual bool isConnected() const = 0;
    virtual void close() = 0;

    // Everything up to and including the next match, with the bytes after it kept for the next
    // call. When the data starts with startMatch (if given) that alone is taken. A read
    // time-out, a closed peer, an abort or more than maxBytes without a match fail the call;
    // bytes received so far are never handed out as a result.
    [[nodiscard]] bool receiveUntil(std::string& out, std::string_view match, size_t bufferSize,
                                    bool tailOnly, LogBase& log, ProgressMonitor* monitor,
                                    size_t maxBytes = kMaxReceive,
                                    std::string_view startMatch = {});

    [[nodiscard]] ParseBuffer& pending() { return pending_; }

protected:
    enum class ReadResult { Data, TimedOut, Failed };
    // Appends what arrives next (at least one byte when the result is Data) to pending_,
    // reading at most about maxBytes; got is the number of bytes added.
    virtual ReadResult readMore(size_t maxBytes, LogBase& log, size_t& got) = 0;
    // Whether the peer may still send, for the wording of a failed read.
    [[nodiscard]] virtual bool stillReadable() = 0;

    ParseBuffer pending_;
};

} // namespace norvane
