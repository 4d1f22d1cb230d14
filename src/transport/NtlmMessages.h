#pragma once

// The three NTLMSSP messages of a client: negotiate (type 1), the server's challenge (type 2,
// parsed with every length and offset checked against the message) and authenticate (type 3).

#include "common/LogBase.h"
#include "transport/NtlmCrypto.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace norvane::ntlm {

inline constexpr uint32_t kNegotiateUnicode = 0x00000001;
inline constexpr uint32_t kNegotiateOem = 0x00000002;
inline constexpr uint32_t kRequestTarget = 0x00000004;
inline constexpr uint32_t kNegotiateNtlm = 0x00000200;
inline constexpr uint32_t kNegotiateAlwaysSign = 0x00008000;
inline constexpr uint32_t kNegotiateExtendedSessionSecurity = 0x00080000;
inline constexpr uint32_t kNegotiateTargetInfo = 0x00800000;

enum class Version { V2, V1 };

struct Challenge {
    uint32_t flags = 0;
    Block8 serverChallenge{};
    std::vector<uint8_t> targetInfo;   // the AV pairs as sent, empty when absent
    std::optional<uint64_t> timestamp; // MsvAvTimestamp, when the server sent one
};

struct Identity {
    std::string domain;
    std::string user;
    std::string password;
};

// The type 1 message. Extended session security is not requested: it is used only when a
// server's challenge asks for it on its own.
[[nodiscard]] std::vector<uint8_t> negotiateMessage();

// Parses a type 2 message; empty (with a log entry) when it is not one or any field lies
// outside it.
[[nodiscard]] std::optional<Challenge> parseChallenge(std::span<const uint8_t> msg, LogBase& log);

// The type 3 message answering challenge for the identity. clientChallenge and fileTime are
// the random and time inputs (fixed by tests). Empty when a field would not fit.
[[nodiscard]] std::vector<uint8_t> authenticateMessage(const Challenge& challenge,
                                                       const Identity& id, Version version,
                                                       const Block8& clientChallenge,
                                                       uint64_t fileTime);

} // namespace norvane::ntlm
