#pragma once

// Certificate stores: directories of PEM, DER and PKCS#12 files under the configuration roots,
// or one such file.
//
//   kind 1  <user root>/MY                   "[Current User Certificate Store]"
//   kind 2  <machine root>/MY                "[Local Machine Certificate Store]"
//   kind 3  a PEM bundle, DER or PKCS#12 file "(file) " + path
//   kind 4  <hive root>/<path>               "(registry) HKEY_..." + "/" + path
//
// The machine root is $NORVANE_MACHINE_DIR, else /etc/norvane; the user root is
// $NORVANE_USER_DIR, else $XDG_CONFIG_HOME/norvane, else ~/.config/norvane.
//
// Files are read in name order. A private key (PKCS#12 bag, or a PEM/DER key file beside its
// certificate) is attached to the certificate it belongs to; encrypted keys open with the
// password the caller gives. Passwords and keys are never logged. A file that cannot be read is
// logged and skipped: opening a directory store does not fail because of one bad file.

#include "common/LogBase.h"
#include "security/Certificate.h"

#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

struct CertStoreLocation {
    int kind = 1;
    // 1 = current user, 2 = local machine (kind 4 only).
    int hive = 1;
    std::string path;
};

class CertificateStore {
public:
    // Opens the store at where; null (logged) when it cannot be opened. A writable open
    // of a directory store creates the directory. password opens encrypted keys and PKCS#12
    // files (may be empty).
    [[nodiscard]] static std::unique_ptr<CertificateStore> open(const CertStoreLocation& where,
                                                                bool readOnly, LogBase& log,
                                                                std::string_view password = {});
    // "[In-Memory Certificate Store]", empty.
    [[nodiscard]] static std::unique_ptr<CertificateStore> inMemory();

    [[nodiscard]] static std::string machineRoot();
    [[nodiscard]] static std::string userRoot();
    // The directory (or file) a store location maps onto.
    [[nodiscard]] static std::string locationOf(const CertStoreLocation& where);

    [[nodiscard]] const std::string& description() const { return description_; }
    [[nodiscard]] const std::vector<std::unique_ptr<Certificate>>& certificates() const {
        return certs_;
    }

    // The first certificate that matches the address and, unless allowExpired, is not expired
    // at now. Null when none.
    [[nodiscard]] const Certificate* findByAddress(std::string_view address, bool allowExpired,
                                                   std::time_t now) const;
    // The same among certificates with an e-mail attribute.
    [[nodiscard]] const Certificate* findByAddressWithEmailAttribute(std::string_view address,
                                                                     bool allowExpired,
                                                                     std::time_t now) const;
    [[nodiscard]] const Certificate* findByIssuerSerial(const X509_NAME* issuer,
                                                        const ASN1_INTEGER* serial) const;
    // The first certificate with a private key that OpenSSL accepts for it.
    [[nodiscard]] const Certificate* findWithKeyFor(const X509* cert) const;

    // Adds the certificate (without its key) unless it is there; a directory store writes it
    // as <sha256>.pem (atomically, mode 0644), a file store rewrites its PEM bundle.
    bool addCertificate(const Certificate* cert, LogBase& log);
    // Keeps a copy in memory only (in-memory stores, tests of the searches).
    void addInMemory(std::unique_ptr<Certificate> cert) { certs_.push_back(std::move(cert)); }

private:
    CertificateStore() = default;
    void loadFile(const std::string& path, std::string_view password, LogBase& log);
    void loadPkcs12(const std::string& path, std::string_view password, LogBase& log);
    void attachKey(EvpPkeyPtr key);
    [[nodiscard]] bool saveToFile(const Certificate& cert, LogBase& log);

    std::vector<std::unique_ptr<Certificate>> certs_;
    std::vector<EvpPkeyPtr> looseKeys_;
    std::string description_ = "[In-Memory Certificate Store]";
    std::string location_;
    bool isFile_ = false;
    bool readOnly_ = true;
};

} // namespace norvane
