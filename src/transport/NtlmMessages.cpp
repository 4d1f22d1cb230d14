#include "transport/NtlmMessages.h"

#include <cstring>

namespace norvane::ntlm {

namespace {

constexpr uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr uint16_t kAvEol = 0;
constexpr uint16_t kAvTimestamp = 7;

uint16_t le16(std::span<const uint8_t> m, size_t at) {
    return static_cast<uint16_t>(m[at] | (m[at + 1] << 8));
}
uint32_t le32(std::span<const uint8_t> m, size_t at) {
    return static_cast<uint32_t>(m[at]) | (static_cast<uint32_t>(m[at + 1]) << 8) |
           (static_cast<uint32_t>(m[at + 2]) << 16) | (static_cast<uint32_t>(m[at + 3]) << 24);
}
void put16(std::vector<uint8_t>& m, size_t at, uint16_t v) {
    m[at] = static_cast<uint8_t>(v);
    m[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& m, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        m[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A (length, allocated, offset) field: the span it names, or empty when it lies outside msg.
std::optional<std::span<const uint8_t>> field(std::span<const uint8_t> msg, size_t at) {
    uint16_t len = le16(msg, at);
    uint32_t off = le32(msg, at + 4);
    if (len == 0)
        return std::span<const uint8_t>();
    if (static_cast<uint64_t>(off) + len > msg.size() || off < 32)
        return std::nullopt;
    return msg.subspan(off, len);
}

// Walks the AV pairs; false when a pair runs past the end or the closing pair is missing.
bool scanTargetInfo(std::span<const uint8_t> info, Challenge& c) {
    size_t at = 0;
    while (at + 4 <= info.size()) {
        uint16_t id = le16(info, at);
        uint16_t len = le16(info, at + 2);
        if (at + 4 + len > info.size())
            return false;
        if (id == kAvEol)
            return true;
        if (id == kAvTimestamp && len == 8) {
            uint64_t t = 0;
            for (int i = 7; i >= 0; --i)
                t = (t << 8) | info[at + 4 + i];
            c.timestamp = t;
        }
        at += 4 + len;
    }
    return false;
}

// Appends a payload and fills its (length, allocated, offset) field at fieldAt.
void addPayload(std::vector<uint8_t>& m, size_t fieldAt, std::span<const uint8_t> data) {
    put16(m, fieldAt, static_cast<uint16_t>(data.size()));
    put16(m, fieldAt + 2, static_cast<uint16_t>(data.size()));
    put32(m, fieldAt + 4, static_cast<uint32_t>(m.size()));
    m.insert(m.end(), data.begin(), data.end());
}

std::vector<uint8_t> encodeString(std::string_view s, bool unicode) {
    if (unicode)
        return utf16le(s);
    return std::vector<uint8_t>(s.begin(), s.end());
}

} // namespace

std::vector<uint8_t> negotiateMessage() {
    std::vector<uint8_t> m(32, 0);
    std::memcpy(m.data(), kSignature, 8);
    put32(m, 8, 1);
    put32(m, 12,
          kNegotiateUnicode | kNegotiateOem | kRequestTarget | kNegotiateNtlm |
              kNegotiateAlwaysSign);
    return m;
}

std::optional<Challenge> parseChallenge(std::span<const uint8_t> msg, LogBase& log) {
    auto bad = [&log](const char* why) {
        log.logError("NTLM challenge message is malformed");
        log.logData("reason", why);
        return std::nullopt;
    };
    if (msg.size() < 32)
        return bad("shorter than 32 bytes");
    if (std::memcmp(msg.data(), kSignature, 8) != 0 || le32(msg, 8) != 2)
        return bad("not an NTLMSSP challenge");
    Challenge c;
    if (!field(msg, 12))
        return bad("target name outside the message");
    c.flags = le32(msg, 20);
    std::copy(msg.begin() + 24, msg.begin() + 32, c.serverChallenge.begin());
    // Early servers end the message after the challenge and the reserved bytes.
    if (msg.size() >= 48) {
        auto info = field(msg, 40);
        if (!info)
            return bad("target information outside the message");
        if (!info->empty()) {
            if (!scanTargetInfo(*info, c))
                return bad("target information pairs run past their field");
            c.targetInfo.assign(info->begin(), info->end());
        }
    }
    return c;
}

std::vector<uint8_t> authenticateMessage(const Challenge& challenge, const Identity& id,
                                         Version version, const Block8& clientChallenge,
                                         uint64_t fileTime) {
    bool unicode = (challenge.flags & kNegotiateUnicode) != 0;
    bool ess = (challenge.flags & kNegotiateExtendedSessionSecurity) != 0;
    Responses r;
    if (version == Version::V2) {
        Hash16 key = ntowfV2(id.password, id.user, id.domain);
        uint64_t t = challenge.timestamp.value_or(fileTime);
        r = ntlmV2(key, challenge.serverChallenge, clientChallenge, t, challenge.targetInfo,
                   challenge.timestamp.has_value());
    } else if (ess) {
        r = ntlmV1Ess(ntowfV1(id.password), challenge.serverChallenge, clientChallenge);
    } else {
        r = ntlmV1(ntowfV1(id.password), challenge.serverChallenge);
    }
    std::vector<uint8_t> domain = encodeString(id.domain, unicode);
    std::vector<uint8_t> user = encodeString(id.user, unicode);
    // Payload lengths are 16-bit fields.
    if (r.nt.size() > 0xFFFF || domain.size() > 0xFFFF || user.size() > 0xFFFF)
        return {};
    uint32_t flags = (unicode ? kNegotiateUnicode : kNegotiateOem) | kRequestTarget |
                     kNegotiateNtlm | kNegotiateAlwaysSign |
                     (challenge.flags & kNegotiateTargetInfo);
    if (ess && version == Version::V1)
        flags |= kNegotiateExtendedSessionSecurity;

    // Header of 64 bytes: signature, type, six payload fields, flags; payloads follow.
    std::vector<uint8_t> m(64, 0);
    std::memcpy(m.data(), kSignature, 8);
    put32(m, 8, 3);
    put32(m, 60, flags);
    addPayload(m, 28, domain);
    addPayload(m, 36, user);
    addPayload(m, 44, {});
    addPayload(m, 12, r.lm);
    addPayload(m, 20, r.nt);
    addPayload(m, 52, {});
    return m;
}

} // namespace norvane::ntlm
