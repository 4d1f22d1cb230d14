#include "transport/SChannel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

namespace norvane {

namespace {

constexpr size_t kReadChunk = 65536;

std::string& processCaFile() {
    static std::string path;
    return path;
}

bool isIpLiteral(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The names the activity log has always used for a failed server check.
const char* trustErrorName(long verifyResult) {
    switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "CERT_E_EXPIRED";
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
        return "CERT_E_PATHLENCONST";
    case X509_V_ERR_INVALID_PURPOSE:
        return "CERT_E_WRONG_USAGE";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "CERT_E_UNTRUSTEDROOT";
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
        return "TRUST_E_FAIL";
    case X509_V_ERR_CERT_REVOKED:
        return "CERT_E_REVOKED";
    case X509_V_ERR_UNABLE_TO_GET_CRL:
        return "CERT_E_REVOCATION_FAILURE";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "CERT_E_CN_NO_MATCH";
    case X509_V_ERR_INVALID_CA:
        return "CERT_E_ROLE";
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return "CERT_E_MALFORMED";
    default:
        return "(unknown)";
    }
}

} // namespace

SChannel::~SChannel() {
    close();
}

void SChannel::setDefaultCaFile(std::string_view path) {
    processCaFile().assign(path);
}
std::string SChannel::defaultCaFile() {
    return processCaFile();
}

void SChannel::setReadTimeout(uint32_t seconds) {
    socket_.setReadTimeoutMs(
        static_cast<uint32_t>(std::clamp<uint64_t>(uint64_t{seconds} * 1000, 1, 500000)));
}

void SChannel::reset() {
    ssl_.reset();
    ctx_.reset();
    toNet_ = nullptr;
    established_ = false;
    pending_.clear();
}

void SChannel::close() {
    if (ssl_ && established_ && socket_.isConnected()) {
        LogNull quiet;
        (void)SSL_shutdown(ssl_.get());
        (void)flushOutput(quiet);
    }
    ERR_clear_error();
    reset();
    socket_.close();
}

namespace {

// One client context per CA file for the whole process, shared by every channel: loading the
// system trust store costs tens of milliseconds, which each session would otherwise pay again.
// A context is safe to share between threads once set up; each channel holds a reference.
SSL_CTX* sharedContext(const std::string& ca, LogBase& log) {
    static std::mutex mutex;
    static std::map<std::string, SslCtxPtr> contexts;
    std::lock_guard<std::mutex> lock(mutex);
    // The system store is found through these variables when they are set: a change of
    // either gets a context of its own.
    std::string key = ca;
    for (const char* var : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
        const char* v = std::getenv(var);
        key.append(1, '\0').append(v ? v : "");
    }
    auto it = contexts.find(key);
    if (it == contexts.end()) {
        SslCtxPtr ctx(SSL_CTX_new(TLS_client_method()));
        if (!ctx) {
            drainOpenSslErrors(log);
            return nullptr;
        }
        SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
        SSL_CTX_set_max_proto_version(ctx.get(), TLS1_3_VERSION);
        SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
        if (SSL_CTX_set_default_verify_paths(ctx.get()) != 1)
            drainOpenSslErrors(log); // no system store: only an added CA file can be trusted
        if (!ca.empty() && SSL_CTX_load_verify_locations(ctx.get(), ca.c_str(), nullptr) != 1) {
            log.fail(ErrorCode::Tls, "Cannot load the CA file");
            log.logData("ca_file", ca);
            drainOpenSslErrors(log);
            return nullptr;
        }
        it = contexts.emplace(std::move(key), std::move(ctx)).first;
    }
    SSL_CTX_up_ref(it->second.get());
    return it->second.get();
}

} // namespace

bool SChannel::createContext(LogBase& log) {
    ctx_.reset(sharedContext(caFile_.empty() ? processCaFile() : caFile_, log));
    if (!ctx_)
        return false;
    ssl_.reset(SSL_new(ctx_.get()));
    BIO* fromNet = BIO_new(BIO_s_mem());
    BIO* toNet = BIO_new(BIO_s_mem());
    if (!ssl_ || !fromNet || !toNet) {
        BIO_free(fromNet);
        BIO_free(toNet);
        drainOpenSslErrors(log);
        return false;
    }
    // An empty memory buffer means "no data yet", not end of stream.
    BIO_set_mem_eof_return(fromNet, -1);
    SSL_set_bio(ssl_.get(), fromNet, toNet);
    toNet_ = toNet;
    SSL_set_connect_state(ssl_.get());
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_.get());
    if (isIpLiteral(serverName_)) {
        if (X509_VERIFY_PARAM_set1_ip_asc(param, serverName_.c_str()) != 1)
            return false;
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                                   X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        if (SSL_set1_host(ssl_.get(), serverName_.c_str()) != 1 ||
            SSL_set_tlsext_host_name(ssl_.get(), serverName_.c_str()) != 1)
            return false;
    }
    return true;
}

bool SChannel::flushOutput(LogBase& log) {
    char buf[16384];
    while (BIO_ctrl_pending(toNet_) > 0) {
        int n = BIO_read(toNet_, buf, sizeof buf);
        if (n <= 0)
            break;
        if (!socket_.sendBytes(buf, static_cast<size_t>(n), log, nullptr))
            return false;
    }
    return true;
}

ByteChannel::ReadResult SChannel::feedInput(LogBase& log) {
    char buf[kReadChunk];
    size_t n = sizeof buf;
    bool timedOut = false;
    if (!socket_.receiveSome(buf, n, timedOut, log))
        return timedOut ? ReadResult::TimedOut : ReadResult::Failed;
    BIO_write(SSL_get_rbio(ssl_.get()), buf, static_cast<int>(n));
    return ReadResult::Data;
}

// A server stuck at TLS 1.0 or 1.1 fails the handshake with a terse library reason; the log
// says in plain words why the connection was refused.
void SChannel::logVersionRefusal(LogBase& log) {
    for (unsigned long e : {ERR_peek_error(), ERR_peek_last_error()}) {
        if (ERR_GET_LIB(e) != ERR_LIB_SSL)
            continue;
        switch (ERR_GET_REASON(e)) {
        case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_WRONG_SSL_VERSION:
        case SSL_R_NO_PROTOCOLS_AVAILABLE:
        case SSL_R_VERSION_TOO_LOW:
            log.fail(ErrorCode::Tls,
                     "The server does not offer TLS 1.2 or 1.3; older protocol versions "
                     "are refused");
            return;
        default:
            break;
        }
    }
}

void SChannel::logVerifyFailure(LogBase& log) {
    long vr = SSL_get_verify_result(ssl_.get());
    if (vr == X509_V_OK)
        return;
    log.logData("WinVerifyTrustError", trustErrorName(vr));
    log.logData("verify_error", X509_verify_cert_error_string(vr));
    log.fail(ErrorCode::Tls, "Error authenticating server credentials!");
}

bool SChannel::handshake(LogBase& log) {
    for (;;) {
        int r = SSL_do_handshake(ssl_.get());
        int err = r == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_.get(), r);
        // Whatever OpenSSL produced (handshake records, or the alert of a failure) goes out.
        if (!flushOutput(log)) {
            log.fail(ErrorCode::Tls, "Error sending data to server in client handshake");
            return false;
        }
        if (r == 1)
            return true;
        if (err == SSL_ERROR_WANT_READ) {
            if (feedInput(log) != ReadResult::Data) {
                log.fail(ErrorCode::Tls, "Error reading data from server in handshake loop");
                return false;
            }
            continue;
        }
        logVerifyFailure(log);
        logVersionRefusal(log);
        drainOpenSslErrors(log);
        log.fail(ErrorCode::Tls, "Aborting because of fatal error");
        return false;
    }
}

void SChannel::logConnectionInfo(LogBase& log) {
    LogContext ctx(log, "ConnectionInfo");
    log.logData("protocol", SSL_get_version(ssl_.get()));
    const SSL_CIPHER* c = SSL_get_current_cipher(ssl_.get());
    if (!c)
        return;
    log.logData("cipher", SSL_CIPHER_get_name(c));
    int bits = SSL_CIPHER_get_bits(c, nullptr);
    log.logDataLong("cipherStrength", bits);
    const EVP_MD* md = SSL_CIPHER_get_handshake_digest(c);
    if (md) {
        log.logData("hash", EVP_MD_get0_name(md));
        log.logDataLong("hashStrength", EVP_MD_get_size(md) * 8);
    }
    int kx = SSL_CIPHER_get_kx_nid(c);
    if (kx != NID_undef)
        log.logData("keyExchange", OBJ_nid2sn(kx));
}

bool SChannel::establish(LogBase& log) {
    close();
    if (!createContext(log)) {
        log.fail(ErrorCode::Tls, "Error creating credentials");
        reset();
        return false;
    }
    bool dnsFailed = false;
    if (!socket_.connect(serverName_, port_, log, dnsFailed)) {
        reset();
        return false;
    }
    return secureConnected(log);
}

bool SChannel::establishOver(NorvaneSocket& plain, LogBase& log) {
    close();
    size_t early = plain.pending().size();
    socket_.takeOver(plain);
    if (early != 0) {
        // A reply the server sent ahead of the handshake cannot be told from one an attacker
        // on the path injected in the clear; it is never read.
        log.logInfo("Discarded data the server sent before the TLS handshake");
        log.logDataLong("discarded_bytes", static_cast<long>(early));
    }
    if (!createContext(log)) {
        log.fail(ErrorCode::Tls, "Error creating credentials");
        reset();
        socket_.close();
        return false;
    }
    return secureConnected(log);
}

bool SChannel::secureConnected(LogBase& log) {
    timedOut_ = false;
    socket_.setReadLimit(replyDeadline().limit());
    bool shook = handshake(log);
    socket_.setReadLimit(0);
    if (!shook) {
        log.fail(ErrorCode::Tls, "Error performing handshake");
        reset();
        socket_.close();
        return false;
    }
    established_ = true;
    logConnectionInfo(log);
    log.logInfo("Secure Channel Established.");
    return true;
}

bool SChannel::sendEncrypted(const void* data, size_t length, LogBase& log) {
    if (!ssl_ || !established_) {
        log.fail(ErrorCode::Tls, "Cannot send data, no context exists");
        return false;
    }
    const char* p = static_cast<const char*>(data);
    size_t off = 0;
    while (off < length) {
        int chunk = static_cast<int>(std::min<size_t>(length - off, 16384));
        int r = SSL_write(ssl_.get(), p + off, chunk);
        if (r > 0) {
            off += static_cast<size_t>(r);
            if (!flushOutput(log)) {
                log.fail(ErrorCode::Tls, "Failed to send secure");
                return false;
            }
            continue;
        }
        int err = SSL_get_error(ssl_.get(), r);
        if (!flushOutput(log)) {
            log.fail(ErrorCode::Tls, "Failed to send secure");
            return false;
        }
        // A renegotiation in progress needs the server's records before the write can go.
        if (err == SSL_ERROR_WANT_READ && feedInput(log) == ReadResult::Data)
            continue;
        drainOpenSslErrors(log);
        log.fail(ErrorCode::Tls, "Failed to encrypt secure send request");
        return false;
    }
    return true;
}

bool SChannel::receiveDecrypted(std::string& out, LogBase& log) {
    // Data already decrypted ahead of a line reader is handed out first.
    size_t got = 0;
    if (pending_.empty() && readMore(kReadChunk, log, got) != ReadResult::Data)
        return false;
    out.append(pending_.view());
    pending_.clear();
    return true;
}

ByteChannel::ReadResult SChannel::readMore(size_t maxBytes, LogBase& log, size_t& got) {
    got = 0;
    if (!ssl_ || !established_) {
        log.fail(ErrorCode::Tls, "Cannot receive data, no context exists");
        return ReadResult::Failed;
    }
    size_t want = std::max<size_t>(maxBytes, kReadChunk);
    for (;;) {
        char* dst = pending_.prepareAppend(want);
        if (!dst) {
            log.fail(ErrorCode::LimitExceeded, "Out of memory for received data");
            return ReadResult::Failed;
        }
        int n = SSL_read(ssl_.get(), dst, static_cast<int>(want));
        pending_.commitAppend(n > 0 ? static_cast<size_t>(n) : 0);
        if (n > 0) {
            got += static_cast<size_t>(n);
            // Take what OpenSSL already decrypted, but never wait for more once data is in.
            if (SSL_pending(ssl_.get()) > 0)
                continue;
            return ReadResult::Data;
        }
        int err = SSL_get_error(ssl_.get(), n);
        if (!flushOutput(log))
            return ReadResult::Failed;
        if (err == SSL_ERROR_WANT_READ) {
            if (got > 0)
                return ReadResult::Data;
            ReadResult fed = feedInput(log);
            if (fed != ReadResult::Data) {
                if (fed == ReadResult::Failed)
                    log.fail(ErrorCode::Tls, "Failed to read response (1)");
                return fed;
            }
            continue;
        }
        if (got > 0)
            return ReadResult::Data;
        if (err == SSL_ERROR_ZERO_RETURN) {
            log.fail(ErrorCode::Tls, "End of session has been signalled.");
            established_ = false;
            return ReadResult::Failed;
        }
        drainOpenSslErrors(log);
        log.fail(ErrorCode::Tls, "Error in DecryptMessage");
        return ReadResult::Failed;
    }
}

bool SChannel::sendBytes(const void* data, size_t length, LogBase& log, ProgressMonitor* monitor) {
    (void)monitor;
    if (length == 0)
        return false;
    return sendEncrypted(data, length, log);
}

} // namespace norvane
