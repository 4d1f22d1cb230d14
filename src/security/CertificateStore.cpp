#include "security/CertificateStore.h"

#include "common/FileAccess.h"
#include "common/UniqueFd.h"
#include "security/StoreFileCache.h"

#include <openssl/pem.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace norvane {

namespace {

std::string envOr(const char* name, std::string fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : std::move(fallback);
}

// The caller's password for encrypted PEM keys; asked records that the file needed it, so
// that what it decoded to is not kept beyond this open.
struct PasswordRequest {
    std::string password;
    bool asked = false;
};

int passwordCallback(char* buf, int size, int /*rwflag*/, void* u) {
    auto* req = static_cast<PasswordRequest*>(u);
    req->asked = true;
    const int n = std::min(size, static_cast<int>(req->password.size()));
    std::memcpy(buf, req->password.data(), static_cast<size_t>(n));
    return n;
}

// Certificates and keys of a PEM file (any number of each) or a DER certificate or key.
void decodeCertsAndKeys(const std::string& bytes, PasswordRequest& pw, StoreFileContents& out) {
    if (bytes.find("-----BEGIN") != std::string::npos) {
        BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        while (X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
            out.certs.push_back(std::make_unique<Certificate>(X509Ptr(x)));
        BioPtr keyBio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
        while (EVP_PKEY* k = PEM_read_bio_PrivateKey(keyBio.get(), nullptr, passwordCallback, &pw))
            out.keys.emplace_back(k);
    } else {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        if (X509* x = d2i_X509(nullptr, &p, static_cast<long>(bytes.size())))
            out.certs.push_back(std::make_unique<Certificate>(X509Ptr(x)));
        else {
            p = reinterpret_cast<const unsigned char*>(bytes.data());
            if (EVP_PKEY* k = d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(bytes.size())))
                out.keys.emplace_back(k);
        }
    }
    ERR_clear_error();
}

bool endsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           sb::equalsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string certToPem(const Certificate& cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || !PEM_write_bio_X509(bio.get(), cert.x509()))
        return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(n));
}

// Writes through a temporary file in the same directory and a rename, so that a reader never
// sees half a certificate.
bool writeAtomically(const std::string& path, std::string_view data, mode_t mode, LogBase& log) {
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    UniqueFd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    bool ok = fd.get() >= 0 && ::fchmod(fd.get(), mode) == 0;
    size_t done = 0;
    while (ok && done < data.size()) {
        const ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd.get()) == 0;
    fd.reset();
    if (ok && ::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    log.fail(ErrorCode::Crypto, "(savingCertStore) " + std::string(std::strerror(errno)));
    ::unlink(tmp.c_str());
    return false;
}

bool bundleFile(std::string_view path) {
    return !endsWithNoCase(path, ".p12") && !endsWithNoCase(path, ".pfx") &&
           !endsWithNoCase(path, ".der") && !endsWithNoCase(path, ".cer");
}

} // namespace

std::string CertificateStore::machineRoot() {
    return envOr("NORVANE_MACHINE_DIR", "/etc/norvane");
}

std::string CertificateStore::userRoot() {
    const char* user = std::getenv("NORVANE_USER_DIR");
    if (user && *user)
        return user;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg)
        return std::string(xdg) + "/norvane";
    return envOr("HOME", "") + "/.config/norvane";
}

std::string CertificateStore::locationOf(const CertStoreLocation& where) {
    switch (where.kind) {
    case 1:
        return userRoot() + "/MY";
    case 2:
        return machineRoot() + "/MY";
    case 3:
        return where.path;
    default:
        return (where.hive == 2 ? machineRoot() : userRoot()) + "/" + where.path;
    }
}

std::unique_ptr<CertificateStore> CertificateStore::inMemory() {
    return std::unique_ptr<CertificateStore>(new CertificateStore());
}

std::unique_ptr<CertificateStore> CertificateStore::open(const CertStoreLocation& where,
                                                         bool readOnly, LogBase& log,
                                                         std::string_view password) {
    auto store = inMemory();
    store->location_ = locationOf(where);
    store->readOnly_ = readOnly;
    switch (where.kind) {
    case 1:
        store->description_ = "[Current User Certificate Store]";
        break;
    case 2:
        store->description_ = "[Local Machine Certificate Store]";
        break;
    case 3:
        store->description_ = "(file) " + where.path;
        break;
    case 4:
        store->description_ = std::string("(registry) ") +
                              (where.hive == 2 ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") + "/" +
                              where.path;
        break;
    default:
        store->description_ = "unknown";
        break;
    }
    const std::string pw(password);
    namespace fs = std::filesystem;
    std::error_code ec;
    if (where.kind == 3) {
        store->isFile_ = true;
        if (fs::exists(store->location_, ec))
            store->loadFile(store->location_, pw, log);
        else if (readOnly) {
            log.fail(ErrorCode::Crypto, "Failed to open certificate store file");
            log.logData("path", store->location_);
            return nullptr;
        }
        return store;
    }
    if (!fs::is_directory(store->location_, ec)) {
        if (readOnly || !fs::create_directories(store->location_, ec)) {
            log.logInfo("Certificate store not found");
            log.logData("path", store->location_);
            return nullptr;
        }
    }
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(store->location_, ec))
        if (entry.is_regular_file(ec))
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    for (const auto& f : files)
        store->loadFile(f, pw, log);
    for (auto& k : store->looseKeys_)
        store->attachKey(std::move(k));
    store->looseKeys_.clear();
    ERR_clear_error(); // key-to-certificate trials leave mismatches behind
    return store;
}

void CertificateStore::attachKey(EvpPkeyPtr key) {
    if (!key)
        return;
    for (auto& c : certs_) {
        if (!c->hasPrivateKey() && X509_check_private_key(c->x509(), key.get()) == 1) {
            c->setPrivateKey(std::move(key));
            return;
        }
    }
    ERR_clear_error();
    looseKeys_.push_back(std::move(key));
}

void CertificateStore::loadFile(const std::string& path, std::string_view password, LogBase& log) {
    if (endsWithNoCase(path, ".p12") || endsWithNoCase(path, ".pfx")) {
        loadPkcs12(path, password, log);
        return;
    }
    std::string bytes;
    if (!file::readWholeFile(path, bytes, &log))
        return;
    StoreFileContents found;
    if (!StoreFileCache::find(path, bytes, found)) {
        PasswordRequest pw{std::string(password)};
        decodeCertsAndKeys(bytes, pw, found);
        if (found.certs.empty() && found.keys.empty()) {
            log.logInfo("No certificate or key found in file");
            log.logData("path", path);
            return;
        }
        if (!pw.asked)
            StoreFileCache::put(path, bytes, found);
    }
    for (auto& c : found.certs)
        certs_.push_back(std::move(c));
    for (auto& k : found.keys)
        attachKey(std::move(k));
}

void CertificateStore::loadPkcs12(const std::string& path, std::string_view password,
                                  LogBase& log) {
    std::string bytes;
    if (!file::readWholeFile(path, bytes, &log))
        return;
    std::string pw(password);
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    Pkcs12Ptr p12(d2i_PKCS12_bio(bio.get(), nullptr));
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* ca = nullptr;
    const bool ok = p12 && (PKCS12_parse(p12.get(), pw.c_str(), &key, &cert, &ca) ||
                            (!pw.empty() && PKCS12_parse(p12.get(), "", &key, &cert, &ca)));
    X509StackPtr chain(ca);
    if (!ok) {
        ERR_clear_error(); // the queue may name the password check; keep it out of the log
        log.fail(ErrorCode::Crypto, "Failed to open PKCS#12 file (wrong password or damaged file)");
        log.logData("path", path);
        return;
    }
    if (cert)
        certs_.push_back(std::make_unique<Certificate>(X509Ptr(cert), EvpPkeyPtr(key)));
    else
        EVP_PKEY_free(key);
    while (chain && sk_X509_num(chain.get()) > 0)
        certs_.push_back(std::make_unique<Certificate>(X509Ptr(sk_X509_shift(chain.get()))));
}

const Certificate* CertificateStore::findByAddress(std::string_view address, bool allowExpired,
                                                   std::time_t now) const {
    for (const auto& c : certs_)
        if (c->matchesAddress(address) && (allowExpired || !c->isExpired(now)))
            return c.get();
    return nullptr;
}

const Certificate* CertificateStore::findByAddressWithEmailAttribute(std::string_view address,
                                                                     bool allowExpired,
                                                                     std::time_t now) const {
    for (const auto& c : certs_)
        if (c->hasEmailAttribute() && c->matchesAddress(address) &&
            (allowExpired || !c->isExpired(now)))
            return c.get();
    return nullptr;
}

const Certificate* CertificateStore::findByIssuerSerial(const X509_NAME* issuer,
                                                        const ASN1_INTEGER* serial) const {
    for (const auto& c : certs_)
        if (X509_NAME_cmp(X509_get_issuer_name(c->x509()), issuer) == 0 &&
            ASN1_INTEGER_cmp(X509_get0_serialNumber(c->x509()), serial) == 0)
            return c.get();
    return nullptr;
}

const Certificate* CertificateStore::findWithKeyFor(const X509* cert) const {
    for (const auto& c : certs_)
        if (c->hasPrivateKey() && X509_cmp(c->x509(), cert) == 0)
            return c.get();
    return nullptr;
}

bool CertificateStore::addCertificate(const Certificate* cert, LogBase& log) {
    if (!cert) {
        log.fail(ErrorCode::Crypto, "NULL value passed to addCertificate");
        return false;
    }
    log.logData("adding_cert", cert->subjectName());
    log.logData("cert_store_location", description_);
    if (readOnly_ || location_.empty()) {
        log.fail(ErrorCode::Crypto, "addCertificate internal error");
        return false;
    }
    for (const auto& c : certs_) {
        if (c->sameAs(*cert)) {
            log.logInfo("Certificate already exists in store, no need to add.");
            return true;
        }
    }
    if (!saveToFile(*cert, log)) {
        log.fail(ErrorCode::Crypto, "Failed to save cert store");
        return false;
    }
    certs_.push_back(cert->copy());
    certs_.back()->setPrivateKey(nullptr);
    log.logInfo("Successfully added certificate to certificate store.");
    return true;
}

bool CertificateStore::saveToFile(const Certificate& cert, LogBase& log) {
    if (!isFile_)
        return writeAtomically(location_ + "/" + cert.sha256Fingerprint() + ".pem", certToPem(cert),
                               0644, log);
    // Rewriting a PKCS#12 or DER file as a PEM bundle would lose its key or its format.
    if (!bundleFile(location_)) {
        log.fail(ErrorCode::Crypto, "(addCertificate) only PEM bundle file stores can be added to");
        return false;
    }
    std::string bundle;
    for (const auto& c : certs_)
        bundle += certToPem(*c);
    bundle += certToPem(cert);
    return writeAtomically(location_, bundle, 0644, log);
}

} // namespace norvane
