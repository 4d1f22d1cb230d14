// A server's NTLM challenge is the one binary structure the client takes from the network:
// every length and offset in it must be checked before use.

#include "common/LogBase.h"
#include "transport/NtlmMessages.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    norvane::LogNull log;
    auto c = norvane::ntlm::parseChallenge({data, size}, log);
    if (c) {
        norvane::ntlm::Block8 cc{};
        for (auto v : {norvane::ntlm::Version::V2, norvane::ntlm::Version::V1})
            (void)norvane::ntlm::authenticateMessage(*c, {"Dom", "user", "pw"}, v, cc, 0);
    }
    return 0;
}
