#include "transport/NorvaneSSPI.h"

#include "common/Platform.h"
#include "common/StringBuffer.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace norvane {

namespace {

std::vector<std::string>& hiddenPackages() {
    static std::vector<std::string> hidden;
    return hidden;
}

} // namespace

NorvaneSSPI::NorvaneSSPI() {
    for (const char* name : {"NTLM", "MSN"}) {
        const auto& hidden = hiddenPackages();
        if (std::find(hidden.begin(), hidden.end(), name) == hidden.end())
            packages_.emplace_back(name);
    }
}

NorvaneSSPI::~NorvaneSSPI() {
    wipeIdentity();
}

void NorvaneSSPI::wipeIdentity() {
    if (!identity_.password.empty())
        OPENSSL_cleanse(identity_.password.data(), identity_.password.size());
    identity_ = {};
    haveCredentials_ = false;
}

void NorvaneSSPI::setPackageHiddenForTesting(std::string_view name, bool hidden) {
    auto& list = hiddenPackages();
    std::erase(list, std::string(name));
    if (hidden)
        list.emplace_back(name);
}

void NorvaneSSPI::setFixedInputsForTesting(const ntlm::Block8& clientChallenge, uint64_t fileTime) {
    fixedClientChallenge_ = clientChallenge;
    fixedFileTime_ = fileTime;
}

int NorvaneSSPI::findPackage(std::string_view name) const {
    for (size_t i = 0; i < packages_.size(); ++i)
        if (sb::equalsNoCase(packages_[i], name))
            return static_cast<int>(i);
    return -1;
}

bool NorvaneSSPI::acquireCredentials(int index, std::string_view domain, std::string_view user,
                                     std::string_view password, LogBase& log) {
    if (user.empty() || password.empty()) {
        log.logError("Failed to acquire alternate credentials: no username and/or password");
        return false;
    }
    if (index < 0 || static_cast<size_t>(index) >= packages_.size()) {
        log.logError("Failed to acquire alternate credentials: package index out of range");
        log.logDataLong("PackageIndex", index);
        log.logDataLong("NumPackages", static_cast<long>(packages_.size()));
        return false;
    }
    wipeIdentity();
    identity_.domain.assign(domain);
    identity_.user.assign(user);
    identity_.password.assign(password);
    haveCredentials_ = true;
    haveContext_ = false;
    return true;
}

bool NorvaneSSPI::prepareOutboundPackage(int index, std::vector<uint8_t>& clientToken,
                                         const std::vector<uint8_t>* serverToken, bool& done,
                                         bool& authenticated, LogBase& log) {
    done = true;
    authenticated = false;
    clientToken.clear();
    if (index < 0 || static_cast<size_t>(index) >= packages_.size()) {
        log.logError("NorvaneSSPI.prepareOutboundPackage: package index out of range");
        log.logDataLong("packageIndex", index);
        return false;
    }
    if (!haveCredentials_) {
        log.logError("NorvaneSSPI.prepareOutboundPackage: SEC_E_NO_CREDENTIALS");
        log.logError("Finished and NOT authenticated");
        return false;
    }
    if (!serverToken) {
        clientToken = ntlm::negotiateMessage();
        haveContext_ = true;
        done = false;
        return true;
    }
    if (!haveContext_) {
        log.logError("NorvaneSSPI.prepareOutboundPackage: SEC_E_INVALID_HANDLE");
        log.logError("Finished and NOT authenticated");
        return false;
    }
    std::optional<ntlm::Challenge> challenge = ntlm::parseChallenge(*serverToken, log);
    if (!challenge) {
        log.logError("NorvaneSSPI.prepareOutboundPackage: SEC_E_INVALID_TOKEN");
        log.logError("Finished and NOT authenticated");
        return false;
    }
    ntlm::Block8 cc{};
    if (fixedClientChallenge_)
        cc = *fixedClientChallenge_;
    else
        platform::randomBytes(cc.data(), cc.size());
    uint64_t now = fixedClientChallenge_ ? fixedFileTime_ : ntlm::fileTimeNow();
    clientToken = ntlm::authenticateMessage(*challenge, identity_, version_, cc, now);
    if (clientToken.empty()) {
        log.logError("NorvaneSSPI.prepareOutboundPackage: SEC_E_INTERNAL_ERROR");
        log.logError("Finished and NOT authenticated");
        return false;
    }
    authenticated = true;
    return true;
}

bool NorvaneSSPI::authenticate(int index, std::string_view domain, std::string_view user,
                               std::string_view password, LogBase& log) {
    if (user.empty() || password.empty())
        return false;
    if (!exchange_) {
        log.logError("NorvaneSSPI.authenticate: no package exchange object");
        return false;
    }
    if (!acquireCredentials(index, domain, user, password, log)) {
        log.logError("NorvaneSSPI.authenticate: cannot acquire alternate credentials");
        return false;
    }
    std::vector<uint8_t> clientToken;
    bool done = false;
    bool authenticated = false;
    if (!prepareOutboundPackage(index, clientToken, nullptr, done, authenticated, log)) {
        log.logError("NorvaneSSPI.authenticate: failed to prepare 1st outbound package");
        return false;
    }
    // NTLM needs one round trip; a server that keeps challenging is cut off.
    for (int round = 0; round < 4; ++round) {
        std::vector<uint8_t> serverToken;
        if (!exchange_->exchangePackage(serverToken, clientToken, &log)) {
            log.logError("NorvaneSSPI.authenticate: exchange failed");
            return false;
        }
        if (!prepareOutboundPackage(index, clientToken, &serverToken, done, authenticated, log)) {
            log.logError("NorvaneSSPI.authenticate: failed to prepare next package");
            return false;
        }
        if (done) {
            bool ok = exchange_->sendFinal(clientToken, &log);
            OPENSSL_cleanse(clientToken.data(), clientToken.size());
            return ok;
        }
    }
    return false;
}

} // namespace norvane
