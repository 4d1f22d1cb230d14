#pragma once

// Every OpenSSL object the project holds lives in one of these std::unique_ptr types, so that
// no path (early return included) frees one by hand or forgets to. Add a type here rather than
// writing a deleter elsewhere. Also the one way of moving OpenSSL's error queue into the log.

#include "common/LogBase.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace norvane {

template <auto Free>
struct OpenSslDeleter {
    template <typename T>
    void operator()(T* p) const noexcept {
        Free(p);
    }
};

using EvpCipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<&EVP_CIPHER_CTX_free>>;
using EvpCipherPtr = std::unique_ptr<EVP_CIPHER, OpenSslDeleter<&EVP_CIPHER_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<&EVP_MD_CTX_free>>;
using EvpMdPtr = std::unique_ptr<EVP_MD, OpenSslDeleter<&EVP_MD_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<&EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<&EVP_PKEY_CTX_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslDeleter<&SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslDeleter<&SSL_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<&BIO_free_all>>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<&X509_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslDeleter<&X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpenSslDeleter<&X509_STORE_CTX_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OpenSslDeleter<&CMS_ContentInfo_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpenSslDeleter<&PKCS12_free>>;

// Stacks own their elements too; the sk_*_pop_free forms are macros, hence the wrappers.
inline void freeX509Stack(STACK_OF(X509) * s) noexcept {
    sk_X509_pop_free(s, X509_free);
}
inline void freeGeneralNames(GENERAL_NAMES* s) noexcept {
    GENERAL_NAMES_free(s);
}
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSslDeleter<&freeX509Stack>>;
using GeneralNamesPtr = std::unique_ptr<GENERAL_NAMES, OpenSslDeleter<&freeGeneralNames>>;

// Logs every error queued by OpenSSL on this thread (oldest first) and empties the queue, so
// that a later failure does not report stale errors.
inline void drainOpenSslErrors(LogBase& log) {
    unsigned long err;
    while ((err = ERR_get_error()) != 0) {
        char text[256];
        ERR_error_string_n(err, text, sizeof text);
        log.logData("openssl_error", text);
    }
}

} // namespace norvane
