#include "facade/ClsCSP.h"

#include "common/StringBuffer.h"

#include <cstdlib>
#include <vector>

namespace norvane {

ClsCSP::ClsCSP()
    : hash_(*provider_.firstHashAlgorithm()), enc_(*provider_.firstEncryptionAlgorithm()) {}

void ClsCSP::put_ProviderName(const char* name) {
    Frame frame(m_log, "ProviderName");
    const std::string_view n = name ? name : "";
    if (n.empty() || sb::equalsNoCase(n, provider_.name()))
        return;
    m_log.logData("KeyContainer", provider_.container());
    provider_ = CryptoSP(n, provider_.container());
}

void ClsCSP::put_KeyContainerName(const char* name) {
    provider_ = CryptoSP(provider_.name(), name ? name : "");
}

bool ClsCSP::SetEncryptAlgorithm(const char* name) {
    Frame frame(m_log, "SetEncryptAlgorithm");
    const std::string_view n = name ? name : "";
    const CryptoAlg* a =
        provider_.findEncryptionAlgorithm(n, sb::equalsNoCase(n, enc_.name) ? enc_.bits : 0);
    if (!a) {
        m_log.logError("Failed to get requested encryption algorithm");
        m_log.logData("requested_algorithm", n);
        return false;
    }
    enc_ = *a;
    return true;
}

bool ClsCSP::put_EncryptKeyLength(int bits) {
    const CryptoAlg* a = provider_.findEncryptionAlgorithm(enc_.name, bits);
    if (!a)
        return false;
    enc_ = *a;
    return true;
}

bool ClsCSP::SetHashAlgorithm(const char* name) {
    Frame frame(m_log, "SetHashAlgorithm");
    const std::string_view n = name ? name : "";
    const CryptoAlg* a = provider_.findHashAlgorithm(n);
    if (!a) {
        m_log.logError("Unsupported hash algorithm.  Please contact Norvane Software for support.");
        m_log.logData("alg_name", n);
        return false;
    }
    hash_ = *a;
    return true;
}

std::string ClsCSP::Serialize() const {
    return provider_.name() + "," + provider_.container() + "," +
           std::to_string(provider_.count(false)) + "," + std::to_string(provider_.count(true)) +
           ",0,0," + enc_.name + "," + hash_.name + "," + std::to_string(enc_.bits);
}

bool ClsCSP::setFromSerialized(std::string_view text) {
    const std::string t(sb::trimView(text));
    std::vector<std::string> f(1);
    for (char c : t) {
        if (c == ',')
            f.emplace_back();
        else
            f.back() += c;
    }
    if (f.size() < 6)
        return false;
    CryptoSP provider(f[0], f[1]);
    CryptoAlg hash = *provider.firstHashAlgorithm();
    CryptoAlg enc = *provider.firstEncryptionAlgorithm();
    if (f.size() > 6 && !f[6].empty() && f[6][0] != '*') {
        const CryptoAlg* a =
            provider.findEncryptionAlgorithm(f[6], f.size() > 8 ? std::atoi(f[8].c_str()) : 0);
        if (!a)
            return false;
        enc = *a;
    }
    if (f.size() > 7 && !f[7].empty() && f[7][0] != '*') {
        const CryptoAlg* a = provider.findHashAlgorithm(f[7]);
        if (!a)
            return false;
        hash = *a;
    }
    provider_ = std::move(provider);
    hash_ = hash;
    enc_ = enc;
    return true;
}

} // namespace norvane
