#pragma once

// Owning pointers for the OpenSSL handles the library uses, so that no code path frees one by
// hand, plus the one way OpenSSL's error queue reaches the activity log.

#include "common/LogBase.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace norvane {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* p) const { Free(p); }
};

using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslDeleter<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslDeleter<SSL, SSL_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO, BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using EvpCipherCtxPtr =
    std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;

// Moves every queued OpenSSL error into the log as "openssl_error" values, oldest first, and
// leaves the queue empty so that a later failure does not report stale causes.
inline void drainOpenSslErrors(LogBase& log) {
    unsigned long code = 0;
    while ((code = ERR_get_error()) != 0) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        log.logData("openssl_error", text);
    }
}

} // namespace norvane
