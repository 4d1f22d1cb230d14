#include "transport/ByteChannel.h"

#include "transport/ProgressMonitor.h"

namespace norvane {

bool ByteChannel::receiveUntil(std::string& out, std::string_view match, size_t bufferSize,
                               bool tailOnly, LogBase& log, ProgressMonitor* monitor,
                               size_t maxBytes, std::string_view startMatch) {
    out.clear();
    size_t searchFrom = 0;
    bool atStart = !startMatch.empty();
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
