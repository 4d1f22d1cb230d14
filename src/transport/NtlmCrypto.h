#pragma once

// The NTLM response computations (NTLMv1, NTLMv1 with extended session security, NTLMv2),
// kept apart from the message layout so that each can be checked against published vectors.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::ntlm {

using Hash16 = std::array<uint8_t, 16>;
using Block8 = std::array<uint8_t, 8>;

// UTF-16LE bytes of UTF-8 text (invalid sequences become U+FFFD).
[[nodiscard]] std::vector<uint8_t> utf16le(std::string_view utf8);
// Upper case as NTLM's user names need it: ASCII and Latin-1 letters.
[[nodiscard]] std::string upperForNtlm(std::string_view utf8);

// MD4 of the UTF-16LE password.
[[nodiscard]] Hash16 ntowfV1(std::string_view password);
// HMAC-MD5 under NTOWFv1 of the UTF-16LE upper-cased user name followed by the domain.
[[nodiscard]] Hash16 ntowfV2(std::string_view password, std::string_view user,
                             std::string_view domain);
// Three DES encryptions of data under the 16-byte key padded with zeros to 21 bytes.
[[nodiscard]] std::array<uint8_t, 24> desl(const Hash16& key, const Block8& data);

struct Responses {
    std::vector<uint8_t> lm;
    std::vector<uint8_t> nt;
};

// NTLMv1: the NT response in both fields (the LM hash is never computed or sent).
[[nodiscard]] Responses ntlmV1(const Hash16& ntHash, const Block8& serverChallenge);
// NTLMv1 with extended session security, used only when the server asks for it.
[[nodiscard]] Responses ntlmV1Ess(const Hash16& ntHash, const Block8& serverChallenge,
                                  const Block8& clientChallenge);
// NTLMv2 and LMv2. fileTime is the FILETIME (100 ns since 1601) put in the blob; with
// zeroLm the LM field is 24 zero bytes (servers that send a time stamp expect that).
[[nodiscard]] Responses ntlmV2(const Hash16& v2Hash, const Block8& serverChallenge,
                               const Block8& clientChallenge, uint64_t fileTime,
                               std::span<const uint8_t> targetInfo, bool zeroLm);

// The current time as a FILETIME.
[[nodiscard]] uint64_t fileTimeNow();

} // namespace norvane::ntlm
