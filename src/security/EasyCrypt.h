#pragma once

// Password-based encryption of whole buffers, files and short strings in one call. The
// algorithm numbers are 1 = AES, 2 = Twofish, anything else Blowfish (decryption also knows
// 0 = no encryption at all). Every call derives the key from the password afresh and uses CBC
// with an all-zero initialisation vector; see SymmetricAlgorithm2 for key and padding.
//
// The password is a NUL-terminated string; null fails. Nothing here keeps state.

#include "common/DataBuffer.h"
#include "common/LogBase.h"
#include "common/StringBuffer.h"
#include "security/SymmetricAlgorithm2.h"

#include <memory>
#include <span>
#include <string_view>

namespace norvane {

class EasyCrypt {
public:
    static constexpr int kAlgorithmNone = 0;
    static constexpr int kAlgorithmAes = 1;
    static constexpr int kAlgorithmTwofish = 2;
    static constexpr int kAlgorithmBlowfish = 3;

    // The cipher for an algorithm number, key length and CBC mode set, no password yet.
    [[nodiscard]] static std::unique_ptr<SymmetricAlgorithm2> createCipher(int algorithm,
                                                                           int keyBits);

    // out replaces its contents. Empty data gives empty output and success.
    [[nodiscard]] static bool encryptBuffer(int algorithm, int keyBits, const char* password,
                                            std::span<const uint8_t> data, DataBuffer& out,
                                            LogBase& log);
    // Algorithm 0 returns the data unchanged.
    [[nodiscard]] static bool decryptBuffer(int algorithm, int keyBits, const char* password,
                                            std::span<const uint8_t> data, DataBuffer& out,
                                            LogBase& log);

    // Whole file in, whole file out (the output is replaced only once complete).
    [[nodiscard]] static bool encryptFile(int algorithm, int keyBits, const char* password,
                                          std::string_view inPath, std::string_view outPath,
                                          LogBase& log);
    [[nodiscard]] static bool decryptFile(int algorithm, int keyBits, const char* password,
                                          std::string_view inPath, std::string_view outPath,
                                          LogBase& log);

    // AES-128 (key MD5 of the password), then base64 without line breaks, in place. An empty
    // string stays empty.
    [[nodiscard]] static bool protectString(const char* password, StringBuffer& s, LogBase& log);
    // The reverse, in place. Text that is not base64, or does not decrypt to whole blocks,
    // leaves the string unchanged and returns false. A wrong password is not detected: the
    // result is other bytes.
    [[nodiscard]] static bool unprotectString(const char* password, StringBuffer& s, LogBase& log);
};

} // namespace norvane
