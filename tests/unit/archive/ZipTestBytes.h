#pragma once

// Hand-made zip records for tests that need archives no well-behaved writer produces: lying
// sizes, overlapping entries, odd flags and methods.

#include "archive/ZlibCodec.h"
#include "common/Logger.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::test {

struct RawEntry {
    std::string name;
    std::string data; // as stored (already compressed for method 8)
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t size = 0; // uncompressed size declared in both headers
    uint16_t madeBy = 20;
    uint32_t externalAttr = 0;
};

// An entry stored as it is, with its true CRC and size.
inline RawEntry stored(std::string name, std::string data) {
    RawEntry e{.name = std::move(name), .data = std::move(data)};
    e.crc = zlibcodec::crc32Of(bytesOf(e.data));
    e.size = static_cast<uint32_t>(e.data.size());
    return e;
}

// An entry deflated at level 9, with the CRC and size of the plain bytes.
inline RawEntry deflatedEntry(std::string name, std::string_view plain) {
    std::vector<uint8_t> packed;
    LogNull log;
    EXPECT_TRUE(zlibcodec::deflateRaw(bytesOf(plain), 9, packed, log));
    RawEntry e{
        .name = std::move(name), .data = std::string(packed.begin(), packed.end()), .method = 8};
    e.crc = zlibcodec::crc32Of(bytesOf(plain));
    e.size = static_cast<uint32_t>(plain.size());
    return e;
}

inline void le16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

inline void le32(std::string& out, uint32_t v) {
    le16(out, static_cast<uint16_t>(v));
    le16(out, static_cast<uint16_t>(v >> 16));
}

inline std::string localHeader(const RawEntry& e) {
    std::string h;
    le32(h, 0x04034b50);
    le16(h, 20);
    le16(h, e.flags);
    le16(h, e.method);
    le16(h, 0);
    le16(h, 0x21);
    le32(h, e.crc);
    le32(h, static_cast<uint32_t>(e.data.size()));
    le32(h, e.size);
    le16(h, static_cast<uint16_t>(e.name.size()));
    le16(h, 0);
    return h + e.name;
}

inline std::string centralHeader(const RawEntry& e, uint32_t offset) {
    std::string h;
    le32(h, 0x02014b50);
    le16(h, e.madeBy);
    le16(h, 20);
    le16(h, e.flags);
    le16(h, e.method);
    le16(h, 0);
    le16(h, 0x21);
    le32(h, e.crc);
    le32(h, static_cast<uint32_t>(e.data.size()));
    le32(h, e.size);
    le16(h, static_cast<uint16_t>(e.name.size()));
    le16(h, 0);
    le16(h, 0);
    le16(h, 0);
    le16(h, 0);
    le32(h, e.externalAttr);
    le32(h, offset);
    return h + e.name;
}

inline std::string endRecord(uint16_t count, uint32_t dirSize, uint32_t dirOffset,
                             std::string_view comment = {}) {
    std::string h;
    le32(h, 0x06054b50);
    le16(h, 0);
    le16(h, 0);
    le16(h, count);
    le16(h, count);
    le32(h, dirSize);
    le32(h, dirOffset);
    le16(h, static_cast<uint16_t>(comment.size()));
    return h + std::string(comment);
}

// A well-formed archive of the entries, in order.
inline std::string buildArchive(const std::vector<RawEntry>& entries) {
    std::string body, dir;
    for (const RawEntry& e : entries) {
        dir += centralHeader(e, static_cast<uint32_t>(body.size()));
        body += localHeader(e) + e.data;
    }
    return body + dir +
           endRecord(static_cast<uint16_t>(entries.size()), static_cast<uint32_t>(dir.size()),
                     static_cast<uint32_t>(body.size()));
}

} // namespace norvane::test
