#include "transport/ByteChannel.h"

#include "common/Platform.h"
#include "transport/ProgressMonitor.h"

#include <algorithm>

namespace norvane {

namespace {

uint32_t windowFor(uint32_t readTimeoutMs) {
    uint64_t t = readTimeoutMs == 0 ? 60000 : readTimeoutMs;
    return static_cast<uint32_t>(std::min<uint64_t>(t * ByteChannel::kDeadlineFactor, 0x7fffffff));
}

} // namespace

ReadDeadline::ReadDeadline(uint32_t windowMs, uint64_t minBytes)
    : windowMs_(windowMs), minBytes_(minBytes), windowStart_(platform::steadyMillis()) {}

void ReadDeadline::received(size_t n) {
    if (minBytes_ == 0)
        return;
    inWindow_ += n;
    if (inWindow_ >= minBytes_) {
        windowStart_ = platform::steadyMillis();
        inWindow_ = 0;
    }
}

ReadDeadline ByteChannel::replyDeadline() const {
    return ReadDeadline(windowFor(readTimeoutMs()), 0);
}

ReadDeadline ByteChannel::bodyDeadline() const {
    uint32_t w = windowFor(readTimeoutMs());
    return ReadDeadline(w, uint64_t{kMinBodyRate} * w / 1000);
}

bool ByteChannel::receiveUntil(std::string& out, std::string_view match, size_t bufferSize,
                               bool tailOnly, LogBase& log, ProgressMonitor* monitor,
                               size_t maxBytes, std::string_view startMatch,
                               ReadDeadline* deadlineArg) {
    out.clear();
    ReadDeadline own = replyDeadline();
    ReadDeadline& deadline = deadlineArg ? *deadlineArg : own;
    size_t searchFrom = 0;
    bool atStart = !startMatch.empty();
    setReadLimit(deadline.limit());
    // Later reads outside this call are bounded only by their own time-outs.
    struct Clear {
        ByteChannel* c;
        ~Clear() { c->setReadLimit(0); }
    } clear{this};
    for (;;) {
        std::string_view data = pending_.view();
        if (atStart && data.size() >= startMatch.size()) {
            atStart = false;
            if (data.starts_with(startMatch)) {
                pending_.takeFront(startMatch.size(), out);
                return true;
            }
        }
        if (pending_.takeThrough(match, tailOnly, out, searchFrom))
            return true;
        // Resume the search where a match could still begin, so long replies stay linear.
        searchFrom = data.size() >= match.size() ? data.size() - match.size() + 1 : 0;
        if (data.size() > maxBytes) {
            log.logError("Received data exceeds the size limit");
            log.logDataLong("limit", static_cast<long>(maxBytes));
            return false;
        }
        size_t got = 0;
        ReadResult r = readMore(bufferSize, log, got);
        if (r == ReadResult::TimedOut) {
            timedOut_ = true;
            if (platform::steadyMillis() >= deadline.limit()) {
                log.logDataLong("deadlineMS", static_cast<long>(deadline.windowMs()));
                if (deadline.minBytes() != 0)
                    log.logDataLong("minBytesPerDeadline", static_cast<long>(deadline.minBytes()));
            }
            // Half a reply is not a reply: a POP3 message cut short must not pass as complete.
            log.logError("Incomplete data at read timeout");
            log.logDataLong("partial_bytes", static_cast<long>(pending_.size()));
            return false;
        }
        if (r == ReadResult::Failed || got == 0) {
            log.logError(stillReadable() ? "Failed to read data from socket"
                                         : "Socket is no longer readable");
            return false;
        }
        deadline.received(got);
        setReadLimit(deadline.limit());
        if (monitor) {
            bool abort = false;
            monitor->consume(static_cast<uint32_t>(got), abort);
            if (abort) {
                log.logError("Socket read aborted by application");
                return false;
            }
        }
    }
}

} // namespace norvane
