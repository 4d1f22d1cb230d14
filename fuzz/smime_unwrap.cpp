// Received S/MIME from any byte string: the message is parsed and its signed and encrypted
// layers unwrapped (verify, decrypt, parse the content, again) with a test key able to open
// what the seed corpus encrypts, then read and rendered. None of it may crash, leak, hit
// undefined behaviour or run without bound.

#include "common/LogBase.h"
#include "email/Email2.h"
#include "security/SmimeUnwrapper.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unistd.h>

using namespace norvane;

namespace {

// Stores under a temporary configuration root: bob's key and the test CAs.
void setUpStores() {
    namespace fs = std::filesystem;
    const fs::path pki = fs::path(NORVANE_SOURCE_DIR) / "tests/data/smime";
    const fs::path root =
        fs::temp_directory_path() / ("nv_fuzz_smime_" + std::to_string(::getpid()));
    std::error_code ec;
    for (const char* dir : {"MY", "Root", "CA"})
        fs::create_directories(root / dir, ec);
    fs::copy_file(pki / "bob-rsa.pem", root / "MY/bob-rsa.pem",
                  fs::copy_options::overwrite_existing, ec);
    fs::copy_file(pki / "bob-rsa.key", root / "MY/bob-rsa.key",
                  fs::copy_options::overwrite_existing, ec);
    fs::copy_file(pki / "ca-root.pem", root / "Root/ca-root.pem",
                  fs::copy_options::overwrite_existing, ec);
    fs::copy_file(pki / "ca-inter.pem", root / "CA/ca-inter.pem",
                  fs::copy_options::overwrite_existing, ec);
    ::setenv("NORVANE_USER_DIR", root.c_str(), 1);
    ::setenv("NORVANE_MACHINE_DIR", root.c_str(), 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (setUpStores(), true);
    (void)ready;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LogNull log;
    SmimeUnwrapper unwrapper;
    FromMimeOptions options;
    options.unwrapper = &unwrapper;
    options.limits.maxDepth = 20;
    options.limits.maxParts = 500;
    auto e = Email2::fromMime(text, log, options);
    (void)e->getBody();
    (void)e->security().layers.size();
    StringBuffer out;
    e->renderMime(out, "", log);
    return 0;
}
