#include "archive/ZlibCodec.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace norvane::zlibcodec {

namespace {

// zlib counts in 32-bit units; larger buffers are fed in pieces of this size.
constexpr size_t kMaxPiece = size_t{1} << 30;
// Output buffers are made usable (and so written) this much at a time, so that reserved room
// the stream never fills costs no memory.
constexpr size_t kOutputChunk = size_t{4} << 20;
// Deflate cannot expand its input more than 1032 times (a 258-byte match in two bits), so no
// more than that is ever reserved for an input, whatever size its archive declares.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kSlack = 64 << 10;

struct DeflateStream {
    z_stream zs{};
    bool ready = false;
    ~DeflateStream() {
        if (ready)
            deflateEnd(&zs);
    }
};

struct InflateStream {
    z_stream zs{};
    bool ready = false;
    ~InflateStream() {
        if (ready)
            inflateEnd(&zs);
    }
};

// Hands zlib the next piece of input once it has used up the previous one.
void feedInput(z_stream& zs, std::span<const uint8_t> data, size_t& fed) {
    if (zs.avail_in != 0 || fed >= data.size())
        return;
    size_t n = std::min(kMaxPiece, data.size() - fed);
    zs.next_in = const_cast<Bytef*>(data.data() + fed);
    zs.avail_in = static_cast<uInt>(n);
    fed += n;
}

} // namespace

uint32_t crc32Of(std::span<const uint8_t> data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    size_t done = 0;
    while (done < data.size()) {
        size_t n = std::min(kMaxPiece, data.size() - done);
        crc = crc32(crc, data.data() + done, static_cast<uInt>(n));
        done += n;
    }
    return static_cast<uint32_t>(crc);
}

bool deflateRaw(std::span<const uint8_t> data, int level, std::vector<uint8_t>& out, LogBase& log) {
    out.clear();
    return deflateRawAppend(data, level, out, log);
}

bool deflateRawAppend(std::span<const uint8_t> data, int level, std::vector<uint8_t>& out,
                      LogBase& log) {
    const size_t base = out.size();
    if (level < 0 || level > 9)
        level = Z_DEFAULT_COMPRESSION;
    DeflateStream s;
    if (deflateInit2(&s.zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        log.logError("Failed to initialize deflate");
        return false;
    }
    s.ready = true;
    out.reserve(base + std::max<size_t>(deflateBound(&s.zs, data.size()), 64));
    size_t fed = 0;
    size_t produced = base;
    for (;;) {
        feedInput(s.zs, data, fed);
        if (produced == out.size()) {
            // Within the reserved room while there is some: growing past it copies the buffer.
            const size_t spare = out.capacity() - produced;
            out.resize(produced + (spare > 0 ? std::min(spare, kOutputChunk) : kOutputChunk));
        }
        const size_t room = std::min(kMaxPiece, out.size() - produced);
        s.zs.next_out = out.data() + produced;
        s.zs.avail_out = static_cast<uInt>(room);
        const int flush = (fed == data.size()) ? Z_FINISH : Z_NO_FLUSH;
        const int rc = deflate(&s.zs, flush);
        produced += room - s.zs.avail_out;
        if (rc == Z_STREAM_END)
            break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            log.logError("Deflate failed");
            out.resize(base);
            return false;
        }
    }
    out.resize(produced);
    return true;
}

bool inflateRaw(std::span<const uint8_t> data, uint64_t maxOut, std::vector<uint8_t>& out,
                LogBase& log) {
    out.clear();
    InflateStream s;
    if (inflateInit2(&s.zs, -MAX_WBITS) != Z_OK) {
        log.logError("Failed to initialize inflate");
        return false;
    }
    s.ready = true;
    const uint64_t possible = static_cast<uint64_t>(data.size()) * kMaxDeflateRatio + kSlack;
    out.reserve(static_cast<size_t>(std::min(maxOut, possible)));
    // Once maxOut bytes are out, the rest of the stream goes here: any byte is one too many.
    uint8_t probe[64];
    size_t fed = 0;
    size_t produced = 0;
    for (;;) {
        feedInput(s.zs, data, fed);
        const bool full = produced == maxOut;
        size_t room = sizeof probe;
        if (full) {
            s.zs.next_out = probe;
        } else {
            if (produced == out.size()) {
                const size_t spare = out.capacity() - produced;
                out.resize(produced + static_cast<size_t>(std::min<uint64_t>(
                                          {spare > 0 ? std::min(spare, kOutputChunk) : kOutputChunk,
                                           maxOut - produced, kMaxPiece})));
            }
            room = out.size() - produced;
            s.zs.next_out = out.data() + produced;
        }
        s.zs.avail_out = static_cast<uInt>(room);
        const size_t inBefore = s.zs.avail_in;
        const int rc = inflate(&s.zs, Z_NO_FLUSH);
        const size_t got = room - s.zs.avail_out;
        if (full && got > 0) {
            log.logError("Entry inflates past the size limit");
            log.logDataLong("size_limit", static_cast<long>(maxOut));
            out.clear();
            return false;
        }
        produced += full ? 0 : got;
        if (rc == Z_STREAM_END) {
            out.resize(produced);
            return true;
        }
        const bool stalled = s.zs.avail_in == inBefore && got == 0;
        if (rc == Z_OK && !stalled)
            continue;
        if ((rc == Z_BUF_ERROR || stalled) && s.zs.avail_in == 0 && fed == data.size()) {
            log.logError("Compressed data is truncated");
        } else if (rc == Z_BUF_ERROR && s.zs.avail_out == 0) {
            continue;
        } else {
            log.logError("Compressed data is damaged");
        }
        out.clear();
        return false;
    }
}

} // namespace norvane::zlibcodec
