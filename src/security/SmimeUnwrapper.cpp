#include "security/SmimeUnwrapper.h"

#include "mime/Rfc822Address.h"
#include "security/NV_Crypt.h"

#include <algorithm>

namespace norvane {

namespace {

bool isSignatureType(std::string_view type) {
    return sb::equalsNoCase(type, "application/x-pkcs7-signature") ||
           sb::equalsNoCase(type, "application/pkcs7-signature");
}

// RFC 5751 section 3.1.1: what was signed is the canonical form, lines ending in CRLF. Messages
// stored with bare LF line ends are verified against that form.
std::string canonicalLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// Whether any node is a layer to unwrap (a superset of the nodes Run::node visits). Most
// received mail has none, and then neither the engine nor the certificate store, whose opening
// reads its directory, is needed: fetching many messages paid for both on every one.
bool hasSecuredNode(const MimeMessage2& n) {
    if (n.isMultipartSigned() || n.isEncrypted() || n.isOpaqueSigned())
        return true;
    for (int i = 0; i < n.partCount(); ++i)
        if (hasSecuredNode(*n.partAt(i)))
            return true;
    return false;
}

} // namespace

struct SmimeUnwrapper::Run {
    NV_Crypt& engine;
    CertificateStore* saveStore;
    SecurityOutcome& out;
    LogBase& log;
    int layers = 0;

    void node(MimeMessage2& n, int depth, bool wholeMessage);
    bool detached(MimeMessage2& n, int depth, bool wholeMessage);
    bool opaque(MimeMessage2& n, bool wholeMessage);
    bool decrypt(MimeMessage2& n);
    void takeSigners(std::vector<std::unique_ptr<SignerCertificate>>& signers);
    void countSigned(bool wholeMessage) {
        out.secured = true;
        if (wholeMessage) {
            ++out.numSigned;
            out.layers.emplace_back("signed");
        } else {
            out.layers.emplace_back("signed-part");
            log.logInfo("A signature covers only part of the message");
        }
    }
};

void SmimeUnwrapper::unwrap(MimeMessage2& entity, bool saveCerts, SecurityOutcome& out,
                            LogBase& log) {
    if (!hasSecuredNode(entity))
        return;
    NV_Crypt engine;
    engine.setKeyPassword(password_);
    StringBuffer from;
    if (entity.getHeaderField("From", from))
        if (auto a = Rfc822Address::parseAddress(from.view()))
            engine.setFromAddress(a->getAddress());
    std::unique_ptr<CertificateStore> save;
    if (saveCerts)
        save = CertificateStore::open({4, 2, "Software/Norvane/SystemCertificates"}, false, log);
    Run run{engine, save.get(), out, log};
    run.node(entity, 0, true);
}

void SmimeUnwrapper::Run::node(MimeMessage2& n, int depth, bool wholeMessage) {
    // Every pass unwraps one layer or returns; the layer bound ends the loop.
    for (;;) {
        const bool secured = n.isMultipartSigned() || n.isEncrypted() || n.isOpaqueSigned();
        if (!secured)
            break;
        if (layers >= kMaxLayers || depth >= kMaxDepth) {
            log.fail(ErrorCode::Crypto, "Too many nested S/MIME layers; the rest is left as it is");
            if (n.isEncrypted())
                out.decrypted = false;
            else
                out.signaturesValid = false;
            return;
        }
        ++layers;
        bool ok;
        if (n.isMultipartSigned())
            ok = detached(n, depth, wholeMessage);
        else if (n.isEncrypted())
            ok = decrypt(n);
        else
            ok = opaque(n, wholeMessage);
        if (!ok)
            return;
    }
    if (n.isMultipartMixed())
        return;
    const bool onlyChild = n.partCount() == 1;
    for (int i = 0; i < n.partCount(); ++i)
        node(*n.partAt(i), depth + 1, wholeMessage && onlyChild);
}

void SmimeUnwrapper::Run::takeSigners(std::vector<std::unique_ptr<SignerCertificate>>& signers) {
    for (auto& s : signers) {
        log.logData("signature_cert_issuer", s->issuerName());
        log.logData("signature_cert_subject", s->subjectName());
        if (!s->chainTrusted) {
            log.logInfo("The signer's certificate is not trusted");
            log.logData("trust_error", s->trustError);
        }
        out.signerCerts.appendObject(std::move(s));
    }
}

bool SmimeUnwrapper::Run::detached(MimeMessage2& n, int depth, bool wholeMessage) {
    countSigned(wholeMessage);
    if (n.partCount() != 2) {
        log.fail(ErrorCode::Crypto, "unwrap multipart/signed: number of parts is not equal to 2");
        log.logDataLong("num_parts", n.partCount());
        out.signaturesValid = false;
        return false;
    }
    int contentIndex = 0;
    if (isSignatureType(n.partAt(0)->contentType()))
        contentIndex = 1;
    else if (!isSignatureType(n.partAt(1)->contentType())) {
        log.fail(ErrorCode::Crypto, "unwrap multipart/signed: unexpected content type");
        log.logData("content_type", n.partAt(1)->contentType());
        out.signaturesValid = false;
        return false;
    }
    MimeMessage2* content = n.partAt(contentIndex);
    const MimeMessage2* sig = n.partAt(1 - contentIndex);
    const std::string& raw = content->rawText();
    std::vector<std::unique_ptr<SignerCertificate>> signers;
    auto attempt = [&](std::string_view data, LogBase& l) {
        signers.clear();
        const auto* p = reinterpret_cast<const uint8_t*>(data.data());
        return engine.verifyDetachedSignature(sig->body().span(), {p, data.size()}, saveStore,
                                              signers, l);
    };
    const std::string canon = canonicalLineEnds(raw);
    LogNull quiet;
    const bool ok = canon == raw ? attempt(raw, log) : attempt(raw, quiet) || attempt(canon, log);
    takeSigners(signers);
    if (!ok) {
        log.fail(ErrorCode::Crypto, "Failed to verify detached digital signature");
        out.signaturesValid = false;
        return false;
    }
    node(*content, depth + 1, wholeMessage);
    std::unique_ptr<MimeMessage2> taken = n.removePartAt(contentIndex);
    (void)n.removePartAt(0);
    n.adoptContent(std::move(taken));
    return true;
}

bool SmimeUnwrapper::Run::opaque(MimeMessage2& n, bool wholeMessage) {
    countSigned(wholeMessage);
    DataBuffer content;
    std::vector<std::unique_ptr<SignerCertificate>> signers;
    const bool ok = engine.verifySignature(n.body().span(), content, signers, log);
    takeSigners(signers);
    if (!ok) {
        log.fail(ErrorCode::Crypto, "Failed to verify signature (Unwrap Signed Data)");
        out.signaturesValid = false;
        return false;
    }
    auto inner = std::make_unique<MimeMessage2>();
    inner->loadFromText(content.view(), log);
    n.adoptContent(std::move(inner));
    return true;
}

bool SmimeUnwrapper::Run::decrypt(MimeMessage2& n) {
    out.secured = true;
    ++out.numEncrypted;
    out.layers.emplace_back("encrypted");
    DataBuffer content;
    std::unique_ptr<Certificate> cert;
    const bool ok = engine.decryptMessage(n.body().span(), content, cert, log);
    if (cert) {
        log.logData("decrypt_cert_issuer", cert->issuerName());
        log.logData("decrypt_cert_subject", cert->subjectName());
        out.decryptCerts.appendObject(std::move(cert));
    }
    if (!ok) {
        log.fail(ErrorCode::Crypto, "Failed to decrypt message");
        out.decrypted = false;
        return false;
    }
    auto inner = std::make_unique<MimeMessage2>();
    inner->loadFromText(content.view(), log);
    n.adoptContent(std::move(inner));
    return true;
}

} // namespace norvane
