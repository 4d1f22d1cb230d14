#include "archive/ZlibCodec.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

namespace norvane::zlibcodec {

namespace {

// zlib counts in 32-bit units; larger buffers are fed in pieces of this size.
constexpr size_t kMaxPiece = size_t{1} << 30;
constexpr size_t kMinOutputStep = size_t{64} << 10;

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
    if (level < 0 || level > 9)
        level = Z_DEFAULT_COMPRESSION;
    DeflateStream s;
    if (deflateInit2(&s.zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        log.logError("Failed to initialize deflate");
        return false;
    }
    s.ready = true;
    out.resize(std::max<size_t>(deflateBound(&s.zs, data.size()), 64));
    size_t fed = 0;
    for (;;) {
        feedInput(s.zs, data, fed);
        if (s.zs.total_out >= out.size())
            out.resize(out.size() * 2);
        size_t room = std::min(kMaxPiece, out.size() - s.zs.total_out);
        s.zs.next_out = out.data() + s.zs.total_out;
        s.zs.avail_out = static_cast<uInt>(room);
        int flush = (fed == data.size()) ? Z_FINISH : Z_NO_FLUSH;
        int rc = deflate(&s.zs, flush);
        if (rc == Z_STREAM_END)
            break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            log.logError("Deflate failed");
            out.clear();
            return false;
        }
    }
    out.resize(s.zs.total_out);
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
    size_t fed = 0;
    size_t produced = 0;
    for (;;) {
        feedInput(s.zs, data, fed);
        // Grow geometrically, but never hold more than one byte past the limit.
        uint64_t allowed = maxOut + 1 - produced;
        size_t step = std::max(kMinOutputStep, produced);
        step = static_cast<size_t>(std::min<uint64_t>({step, allowed, kMaxPiece}));
        out.resize(produced + step);
        s.zs.next_out = out.data() + produced;
        s.zs.avail_out = static_cast<uInt>(step);
        size_t inBefore = s.zs.avail_in;
        int rc = inflate(&s.zs, Z_NO_FLUSH);
        produced += step - s.zs.avail_out;
        out.resize(produced);
        if (produced > maxOut) {
            log.logError("Entry inflates past the size limit");
            log.logDataLong("size_limit", static_cast<long>(maxOut));
            out.clear();
            return false;
        }
        if (rc == Z_STREAM_END)
            return true;
        bool stalled = s.zs.avail_in == inBefore && s.zs.avail_out == step;
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
