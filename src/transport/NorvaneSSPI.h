#pragma once

// The security-package side of NTLM and MSN logins. Both packages are our own NTLM client
// (MSN is the same NTLMSSP exchange under another mechanism name); the session drives them
// through findPackage and authenticate and carries the tokens through PackageExchange.
//
// NTLMv2 responses are sent unless the session picks NTLMv1 (only when its caller allowed it).
// Credentials are private copies, wiped when the object goes.

#include "common/LogBase.h"
#include "transport/NtlmMessages.h"
#include "transport/PackageExchange.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class NorvaneSSPI {
public:
    NorvaneSSPI();
    virtual ~NorvaneSSPI();
    NorvaneSSPI(const NorvaneSSPI&) = delete;
    NorvaneSSPI& operator=(const NorvaneSSPI&) = delete;

    // Index of the package named name (ignoring case), or -1.
    [[nodiscard]] int findPackage(std::string_view name) const;
    [[nodiscard]] bool acquireCredentials(int index, std::string_view domain, std::string_view user,
                                          std::string_view password, LogBase& log);
    // The next client token: the negotiate message without a server token, the authenticate
    // message with the server's challenge (then done and authenticated are set).
    [[nodiscard]] bool prepareOutboundPackage(int index, std::vector<uint8_t>& clientToken,
                                              const std::vector<uint8_t>* serverToken, bool& done,
                                              bool& authenticated, LogBase& log);
    // The whole exchange through the PackageExchange set with setExchange.
    [[nodiscard]] bool authenticate(int index, std::string_view domain, std::string_view user,
                                    std::string_view password, LogBase& log);

    void setExchange(PackageExchange* exchange) { exchange_ = exchange; }
    void setVersion(ntlm::Version v) { version_ = v; }
    // Fixes the random client challenge and the time stamp (tests only).
    void setFixedInputsForTesting(const ntlm::Block8& clientChallenge, uint64_t fileTime);

    // Hides packages from findPackage, as on a machine without them (tests only).
    static void setPackageHiddenForTesting(std::string_view name, bool hidden);

private:
    void wipeIdentity();

    std::vector<std::string> packages_;
    ntlm::Identity identity_;
    bool haveCredentials_ = false;
    bool haveContext_ = false;
    PackageExchange* exchange_ = nullptr;
    ntlm::Version version_ = ntlm::Version::V2;
    std::optional<ntlm::Block8> fixedClientChallenge_;
    uint64_t fixedFileTime_ = 0;
};

} // namespace norvane
