#pragma once

// Process-wide cache of what store files decode to, so that an operation opening the stores
// reads each file (cheap) but does not decode its certificates and keys again (dear: OpenSSL's
// decoders cost far more than the signature itself on a small message). An entry is keyed by
// the file's path and used only while the file still holds exactly the bytes it was decoded
// from, so a file added, replaced or rewritten in place is decoded afresh whatever its times
// and size say. Only files that decode without a password are kept (PEM/DER certificates and
// unencrypted keys): PKCS#12 files and encrypted keys are decoded on every open with the
// caller's password, and no password is ever held here. Safe to use from several threads.

#include "common/OpenSslPtr.h"
#include "security/Certificate.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

struct StoreFileContents {
    std::vector<std::unique_ptr<Certificate>> certs;
    std::vector<EvpPkeyPtr> keys;
};

namespace StoreFileCache {

// Appends copies of the cached contents to out when path was decoded from exactly bytes.
[[nodiscard]] bool find(const std::string& path, std::string_view bytes, StoreFileContents& out);
// Keeps copies of what bytes, read from path, decoded to.
void put(const std::string& path, std::string_view bytes, const StoreFileContents& contents);

} // namespace StoreFileCache

} // namespace norvane
