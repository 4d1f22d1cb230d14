#include "email/Email2.h"
#include "facade/ClsCSP.h"
#include "facade/ClsCert.h"
#include "facade/ClsEmail.h"
#include "security/SmimeWrap.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace norvane;
using norvane::test::TestPki;

namespace {

// The base64 body of a PEM certificate on one line: the encoded form.
std::string encodedOf(const std::string& name) {
    const std::string p = test::readFile(TestPki::pkiFile(name));
    const size_t begin = p.find('\n') + 1;
    std::string b64 = p.substr(begin, p.find("-----END") - begin);
    std::erase(b64, '\n');
    return b64;
}

bool logHas(const ClsBase& o, const std::string& text) {
    return o.get_LastErrorText().find(text) != std::string::npos;
}

} // namespace

TEST(ClsEmailSecurityTest, CertificateMembersCheckArgumentsAndRoundTrip) {
    ClsEmail e;
    ClsCert empty;
    EXPECT_EQ(empty.GetEncoded(), "");
    EXPECT_TRUE(logHas(empty, "Object does not contain a certificate"));
    e.SetSigningCert(nullptr);
    EXPECT_TRUE(logHas(e, "NULL parameter"));
    EXPECT_EQ(e.GetSigningCert(), nullptr);
    EXPECT_TRUE(logHas(e, "No signing certificate has been set for this email."));

    ClsCert bob;
    ASSERT_TRUE(bob.SetFromEncoded(encodedOf("bob-rsa.pem").c_str()));
    EXPECT_FALSE(bob.SetFromEncoded("not a certificate"));
    EXPECT_EQ(bob.get_EmailAddress(), "bob@example.com");
    e.SetSigningCert(&bob);
    e.SetEncryptCert(&bob);
    EXPECT_EQ(e.GetSigningCert()->GetEncoded(), bob.GetEncoded());
    EXPECT_EQ(e.GetEncryptCert()->get_Sha256Thumbprint(), bob.get_Sha256Thumbprint());
}

TEST(ClsEmailSecurityTest, ProviderDescriptionSelectsAlgorithms) {
    ClsEmail e;
    e.SetCSP(nullptr);
    EXPECT_TRUE(logHas(e, "Null parameter"));
    ClsCSP csp;
    EXPECT_EQ(csp.Serialize().substr(csp.Serialize().find(",aes,")), ",aes,sha256,256");
    EXPECT_FALSE(csp.setFromSerialized("OpenSSL,box,1,2,3"));
    EXPECT_FALSE(csp.setFromSerialized("OpenSSL,box,1,2,3,4,rc4,sha1"));
    ASSERT_TRUE(
        csp.setFromSerialized("Microsoft Base DSS Cryptographic Provider,box,9,9,9,9,*,sha1"));
    EXPECT_EQ(csp.get_ProviderType(), 3);
    EXPECT_EQ(csp.get_EncryptAlgorithm() + std::to_string(csp.get_EncryptKeyLength()), "aes256");
    EXPECT_TRUE(csp.SetEncryptAlgorithm("3des"));
    e.SetCSP(&csp);
    EXPECT_EQ(e.email2().cspSpec(), csp.Serialize());
}

TEST(ClsEmailSecurityTest, LoadEmlReportsSignerAndDecrypter) {
    TestPki pki;
    pki.add("user", "MY", {"alice-rsa.pem", "alice-rsa.key", "bob-rsa.pem", "bob-rsa.key"});
    Email2 src;
    (void)src.setFrom("alice@example.com");
    (void)src.addTo("", "bob@example.com");
    src.setSendSigned(true);
    src.setSendEncrypted(true);
    LogNull log;
    StringBuffer mime;
    SmimeWrap::createSecureEmail(src, log)->renderMime(mime, "", log);
    test::TempDir dir;
    std::ofstream(dir.file("m.eml"), std::ios::binary) << mime.str();
    ClsEmail e;
    ASSERT_TRUE(e.LoadEml(dir.file("m.eml").c_str()));
    EXPECT_TRUE(e.get_ReceivedSigned() && e.get_ReceivedEncrypted());
    EXPECT_EQ(e.get_SecurityLayers(), "encrypted,signed");
    EXPECT_EQ(e.get_SignedBy(), "alice-rsa, alice@example.com, Norvane Test");
    EXPECT_EQ(e.get_EncryptedBy(), "bob-rsa, bob@example.com, Norvane Test");
    EXPECT_EQ(e.GetSignedByCert()->get_EmailAddress(), "alice@example.com");
    EXPECT_FALSE(e.get_SignerTrusted()); // no trust anchors in this configuration
    EXPECT_TRUE(e.get_SignerMatchesFrom());
}
