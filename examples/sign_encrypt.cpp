// Signs and encrypts an e-mail with S/MIME, saves it as sealed.eml, then reads it back,
// decrypts it and verifies the signature. The certificate is a PEM file; its private key must be in
// the user's certificate store ($NORVANE_USER_DIR/MY, else ~/.config/norvane/MY) beside the
// certificate.
//
//   sign_encrypt CERT.pem

#include <norvane/Cert.h>
#include <norvane/Email.h>
#include <norvane/MailMan.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// The base64 text between the PEM armour lines.
std::string pemBody(const char* path) {
    std::ifstream in(path);
    std::string line, body;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.starts_with("-----BEGIN CERTIFICATE"))
            inside = true;
        else if (line.starts_with("-----END"))
            break;
        else if (inside)
            body += line;
    }
    return body;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sign_encrypt CERT.pem\n");
        return 2;
    }
    norvane::Cert cert;
    if (!cert.SetFromEncoded(pemBody(argv[1]).c_str())) {
        std::fprintf(stderr, "not a certificate: %s\n", argv[1]);
        return 1;
    }
    norvane::Email email;
    email.put_From(cert.get_EmailAddress().c_str());
    email.AddTo("", cert.get_EmailAddress().c_str());
    email.put_Subject("Signed and sealed");
    email.put_Body("Only you can read this, and you know it is from me.\n");
    email.SetSigningCert(&cert);
    email.SetEncryptCert(&cert);
    email.put_SendSigned(true);
    email.put_SendEncrypted(true);

    norvane::MailMan mailman;
    const std::string wire = mailman.RenderToMime(&email);
    if (wire.empty() || wire.find("pkcs7-mime") == std::string::npos) {
        std::fprintf(stderr, "could not sign and encrypt:\n%s",
                     mailman.get_LastErrorText().c_str());
        return 1;
    }
    // Loading a file decrypts and verifies, as receiving does.
    {
        std::ofstream out("sealed.eml", std::ios::binary);
        out << wire;
    }
    norvane::Email received;
    if (!received.LoadEml("sealed.eml") || !received.get_ReceivedEncrypted() ||
        !received.get_Decrypted() || !received.get_ReceivedSigned() ||
        !received.get_SignaturesValid() ||
        received.get_Body().find("Only you") == std::string::npos) {
        std::fprintf(stderr, "could not decrypt and verify:\n%s",
                     received.get_LastErrorText().c_str());
        return 1;
    }
    std::printf("encrypted %zu bytes; decrypted and verified, signed by %s\n", wire.size(),
                received.get_SignedBy().c_str());
    return 0;
}
