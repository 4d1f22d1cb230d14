#include "security/SmimeWrap.h"

#include "security/NV_Crypt.h"

#include <array>

namespace norvane {

namespace {

std::span<const uint8_t> bytesOf(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The explicit certificate with its private key from the stores, else the sender's.
std::unique_ptr<Certificate> signingCertificate(const Email2& src, NV_Crypt& engine, LogBase& log) {
    std::string where;
    const std::string address = src.from() ? src.from()->getAddress() : std::string();
    if (!src.signingCert().empty()) {
        auto explicitCert = Certificate::fromEncoded(src.signingCert(), log);
        if (explicitCert)
            if (auto withKey = engine.withPrivateKey(*explicitCert, log))
                return withKey;
        log.fail(ErrorCode::Crypto,
                 "The signing certificate has no private key in the certificate stores");
    } else if (auto found = engine.findCertByAddress(address, true, where, log)) {
        log.logData("signature_certificate", found->subjectName());
        log.logData("certificate_store", where);
        return found;
    }
    log.fail(ErrorCode::Crypto, "Failed to find certificate for digital signature");
    log.logData("certificate_email_address", address);
    return nullptr;
}

std::unique_ptr<Email2> wrapBody(const Email2& src, DataBuffer&& der, std::string_view smimeType) {
    auto e = std::make_unique<Email2>(Email2::Blank{});
    Email2::copyEnvelope(*e, src);
    e->setCspSpec(src.cspSpec());
    e->setDisposition("attachment", "smime.p7m");
    e->setTransferEncoding("base64");
    e->setContentType({.type = "application/x-pkcs7-mime",
                       .name = "smime.p7m",
                       .smimeType = std::string(smimeType)});
    e->setBodyBytes(std::move(der));
    e->setSigningCert(src.signingCert());
    e->setEncryptCert(src.encryptCert());
    return e;
}

bool isTopLevelField(std::string_view line) {
    static constexpr std::array kTopFields{"subject",      "to",
                                           "cc",           "from",
                                           "date",         "return-path",
                                           "X-Mailer",     "Message-ID",
                                           "MIME-Version", "X-Priority",
                                           "X-RCPT-TO",    "Status",
                                           "X-UIDL",       "Importance",
                                           "X-MimeOLE",    "X-MSMail-Priority",
                                           "Reply-To",     "Disposition-Notification-To",
                                           "Bcc"};
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    for (const char* f : kTopFields)
        if (sb::equalsNoCase(name, f))
            return true;
    return false;
}

// The rendered e-mail without its message-level fields: the content part of multipart/signed.
// Works on the text, so that the part is byte for byte what the e-mail renders to (folded
// fields included), without building the tree a second time; the body is moved down in place
// rather than copied, which matters for large messages.
void keepContentPart(std::string& mime) {
    const size_t headerEnd = mime.find("\r\n\r\n");
    const std::string_view header =
        std::string_view(mime).substr(0, headerEnd == std::string::npos ? mime.size() : headerEnd);
    std::string kept;
    bool keep = false;
    for (size_t pos = 0; pos < header.size();) {
        size_t eol = header.find("\r\n", pos);
        if (eol == std::string_view::npos)
            eol = header.size();
        const std::string_view line = header.substr(pos, eol - pos);
        if (line.empty() || (line[0] != ' ' && line[0] != '\t'))
            keep = !isTopLevelField(line); // a field starts; continuation lines follow it
        if (keep) {
            kept.append(line);
            kept.append("\r\n");
        }
        pos = eol + 2;
    }
    kept.append("\r\n");
    if (headerEnd == std::string::npos)
        mime = std::move(kept);
    else
        mime.replace(0, headerEnd + 4, kept);
}

} // namespace

std::unique_ptr<Email2> SmimeWrap::signOpaque(const Email2& src, NV_Crypt& engine, LogBase& log) {
    auto cert = signingCertificate(src, engine, log);
    if (!cert)
        return nullptr;
    StringBuffer mime;
    src.renderMime(mime, "", log);
    DataBuffer der;
    if (!engine.createAttachedSignature(cert.get(), bytesOf(mime.view()), der, log)) {
        log.fail(ErrorCode::Crypto, "Failed to create digitally signed message");
        return nullptr;
    }
    return wrapBody(src, std::move(der), "signed-data");
}

std::unique_ptr<Email2> SmimeWrap::encrypt(const Email2& src, NV_Crypt& engine, LogBase& log) {
    std::vector<std::unique_ptr<Certificate>> certs;
    if (!src.encryptCert().empty()) {
        log.logInfo("Using explicit certificate.");
        if (auto c = Certificate::fromEncoded(src.encryptCert(), log))
            certs.push_back(std::move(c));
    } else {
        log.logInfo("Searching for certificate based on recipient email address.");
        for (auto kind : {RecipientKind::To, RecipientKind::Cc, RecipientKind::Bcc}) {
            for (int i = 0; i < src.numRecipients(kind); ++i) {
                const std::string& address = src.recipient(kind, i)->getAddress();
                std::string where;
                auto c = engine.findCertByAddress(address, false, where, log);
                if (!c) {
                    log.fail(ErrorCode::Crypto, "Failed to find certificate for encryption");
                    log.logData("certificate_email_address", address);
                    return nullptr;
                }
                log.logData("encryption_certificate", c->subjectName());
                log.logData("certificate_store", where);
                certs.push_back(std::move(c));
            }
        }
    }
    if (certs.empty()) {
        log.fail(ErrorCode::Crypto, "Failed to find certificate for encryption");
        return nullptr;
    }
    std::vector<const Certificate*> recipients;
    for (const auto& c : certs)
        recipients.push_back(c.get());
    StringBuffer mime;
    src.renderMime(mime, "", log);
    DataBuffer der;
    if (!engine.encryptData(bytesOf(mime.view()), der, recipients, log)) {
        log.fail(ErrorCode::Crypto, "Failed to encrypt message");
        return nullptr;
    }
    return wrapBody(src, std::move(der), "");
}

std::unique_ptr<Email2> SmimeWrap::signDetached(const Email2& src, NV_Crypt& engine, LogBase& log) {
    auto fail = [&]() -> std::unique_ptr<Email2> {
        log.fail(ErrorCode::Crypto, "Failed to create detached signature");
        log.logData("signer_address", src.from() ? src.from()->getAddress() : "");
        return nullptr;
    };
    auto cert = signingCertificate(src, engine, log);
    if (!cert)
        return fail();
    StringBuffer full;
    src.renderMime(full, "", log);
    std::string signedText = std::move(full.str());
    keepContentPart(signedText);
    DataBuffer sig;
    if (!engine.createDetachedSignature(cert.get(), bytesOf(signedText), sig, log))
        return fail();
    // The signed part goes out exactly as signed; the node carries its bytes only.
    auto content = std::make_unique<Email2>(Email2::Blank{});
    content->setRawText(std::move(signedText));

    auto top = std::make_unique<Email2>(Email2::Blank{});
    Email2::copyEnvelope(*top, src);
    top->removeHeaderField("Content-Transfer-Encoding");
    top->removeHeaderField("Content-Disposition");
    top->setContentType({.type = "multipart/signed",
                         .protocol = "application/x-pkcs7-signature",
                         .micalg = engine.micalg(),
                         .boundary = Email2::newBoundary("")});
    top->setCspSpec(src.cspSpec());
    top->setSigningCert(src.signingCert());
    top->setEncryptCert(src.encryptCert());
    auto sigPart = Email2::newPart();
    sigPart->setContentType({.type = "application/x-pkcs7-signature", .name = "smime.p7s"});
    sigPart->setTransferEncoding("base64");
    sigPart->setDisposition("attachment", "smime.p7s");
    sigPart->setBodyBytes(std::move(sig));
    top->addPart(std::move(content));
    top->addPart(std::move(sigPart));
    return top;
}

std::unique_ptr<Email2> SmimeWrap::createSecureEmail(const Email2& src, LogBase& log,
                                                     std::string_view keyPassword) {
    if (!src.sendSigned() && !src.sendEncrypted()) {
        log.fail(ErrorCode::Crypto,
                 "Internal error: called createSecureEmail without needing security");
        return nullptr;
    }
    NV_Crypt engine;
    engine.setKeyPassword(keyPassword);
    if (!src.cspSpec().empty() && !engine.setPreferences(src.cspSpec(), log))
        return nullptr;
    if (!src.sendEncrypted())
        return signDetached(src, engine, log);
    if (!src.sendSigned())
        return encrypt(src, engine, log);
    auto signedCopy = signOpaque(src, engine, log);
    return signedCopy ? encrypt(*signedCopy, engine, log) : nullptr;
}

} // namespace norvane
