#include "security/EasyCrypt.h"

#include "charset/ContentCoding.h"
#include "common/FileAccess.h"
#include "security/BlowFish.h"
#include "security/Rijndael2.h"
#include "security/TwoFish.h"

namespace norvane {

namespace {

bool checkPassword(const char* password, LogBase& log) {
    if (password)
        return true;
    log.fail(ErrorCode::Crypto, "No password given");
    return false;
}

using BufferOp = bool (*)(int, int, const char*, std::span<const uint8_t>, DataBuffer&, LogBase&);

bool transformFile(BufferOp op, int algorithm, int keyBits, const char* password,
                   std::string_view inPath, std::string_view outPath, LogBase& log) {
    DataBuffer in;
    if (!file::readWholeFile(inPath, in, &log))
        return false;
    DataBuffer out;
    if (!op(algorithm, keyBits, password, in.span(), out, log))
        return false;
    return file::writeWholeFile(outPath, out.span(), &log);
}

} // namespace

std::unique_ptr<SymmetricAlgorithm2> EasyCrypt::createCipher(int algorithm, int keyBits) {
    std::unique_ptr<SymmetricAlgorithm2> cipher;
    if (algorithm == kAlgorithmAes)
        cipher = std::make_unique<Rijndael2>();
    else if (algorithm == kAlgorithmTwofish)
        cipher = std::make_unique<TwoFish>();
    else
        cipher = std::make_unique<BlowFish>();
    cipher->setKeyLength(keyBits);
    cipher->setCipherMode(CipherMode::Cbc);
    return cipher;
}

bool EasyCrypt::encryptBuffer(int algorithm, int keyBits, const char* password,
                              std::span<const uint8_t> data, DataBuffer& out, LogBase& log) {
    out.clear();
    if (!checkPassword(password, log))
        return false;
    auto cipher = createCipher(algorithm, keyBits);
    cipher->setPassword(password);
    return cipher->encryptBuffer(data, out, log);
}

bool EasyCrypt::decryptBuffer(int algorithm, int keyBits, const char* password,
                              std::span<const uint8_t> data, DataBuffer& out, LogBase& log) {
    out.clear();
    if (!checkPassword(password, log))
        return false;
    if (algorithm == kAlgorithmNone) {
        out.assign(data);
        return true;
    }
    auto cipher = createCipher(algorithm, keyBits);
    cipher->setPassword(password);
    return cipher->decryptBuffer(data, out, log);
}

bool EasyCrypt::encryptFile(int algorithm, int keyBits, const char* password,
                            std::string_view inPath, std::string_view outPath, LogBase& log) {
    return transformFile(&EasyCrypt::encryptBuffer, algorithm, keyBits, password, inPath, outPath,
                         log);
}

bool EasyCrypt::decryptFile(int algorithm, int keyBits, const char* password,
                            std::string_view inPath, std::string_view outPath, LogBase& log) {
    return transformFile(&EasyCrypt::decryptBuffer, algorithm, keyBits, password, inPath, outPath,
                         log);
}

bool EasyCrypt::protectString(const char* password, StringBuffer& s, LogBase& log) {
    if (!checkPassword(password, log))
        return false;
    if (s.isEmpty())
        return true;
    DataBuffer encrypted;
    if (!encryptBuffer(kAlgorithmAes, 128, password, s.bytes(), encrypted, log))
        return false;
    s.setString(ContentCoding::base64Encode(encrypted.span()));
    return true;
}

bool EasyCrypt::unprotectString(const char* password, StringBuffer& s, LogBase& log) {
    if (!checkPassword(password, log))
        return false;
    if (s.isEmpty())
        return true;
    DataBuffer encrypted;
    if (!ContentCoding::base64DecodeStrict(s.view(), encrypted)) {
        log.fail(ErrorCode::Crypto, "Protected string is not base64");
        return false;
    }
    DataBuffer plain;
    if (!decryptBuffer(kAlgorithmAes, 128, password, encrypted.span(), plain, log))
        return false;
    s.setString(plain.view());
    return true;
}

} // namespace norvane
