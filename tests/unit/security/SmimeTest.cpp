#include "charset/ContentCoding.h"
#include "common/Logger.h"
#include "security/NV_Crypt.h"
#include "security/SmimeUnwrapper.h"
#include "security/SmimeWrap.h"
#include "support/Bytes.h"
#include "support/LogText.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <openssl/pem.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace norvane;
using namespace norvane::test;
using norvane::test::TestPki;

namespace {

constexpr const char* kAddressBook = "Software/Microsoft/SystemCertificates/AddressBook";

std::unique_ptr<Certificate> loadPem(const std::string& name) {
    BioPtr bio(BIO_new_file(TestPki::pkiFile(name).c_str(), "r"));
    return std::make_unique<Certificate>(
        X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)));
}

// jimbob sits in the store searched first, so a substring match would pick him for bob;
// carol's expired certificate comes before her valid one; dave may not protect e-mail.
struct SmimeFixture : ::testing::Test {
    TestPki pki;
    void SetUp() override {
        pki.add("machine", "MY", {"jimbob.pem", "jimbob.key"});
        pki.add("user", "MY", {"alice-rsa.p12", "bob-rsa.pem", "bob-rsa.key"});
        pki.add("user", kAddressBook, {"carol-expired.pem", "carol.pem", "dave-noemail.pem"});
    }
    static std::unique_ptr<Email2> message() {
        auto e = std::make_unique<Email2>();
        (void)e->setFrom("Alice <alice@example.com>");
        (void)e->addTo("Bob", "bob@example.com");
        e->setHeaderField("Subject", "S/MIME test");
        e->setBody("Caf\xc3\xa9 line with trailing space \r\nsecond line\r\n", false);
        return e;
    }
    static std::unique_ptr<Email2> receive(std::string_view mime, LogBase& log) {
        SmimeUnwrapper unwrapper;
        unwrapper.setKeyPassword("alice-pass");
        FromMimeOptions options;
        options.unwrapper = &unwrapper;
        return Email2::fromMime(mime, log, options);
    }
};

} // namespace

TEST(CertificateTest, AddressMatchIsWholeAndCaseInsensitive) {
    const struct {
        const char* cert;
        const char* address;
        bool match;
    } cases[] = {
        {"bob-rsa.pem", "bob@example.com", true},    {"bob-rsa.pem", "BOB@Example.COM", true},
        {"jimbob.pem", "bob@example.com", false},    {"bob-rsa.pem", "ob@example.com", false},
        {"bob-rsa.pem", "bob@example.co", false},    {"bob-rsa.pem", "", false},
        {"alice-ec.pem", "alice@example.com", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(loadPem(c.cert)->matchesAddress(c.address), c.match)
            << c.cert << " " << c.address;
}

TEST_F(SmimeFixture, FindsCertificatesByWholeAddressPreferringValidOnes) {
    const struct {
        const char* address;
        bool needKey;
        const char* subjectStart; // null: none found
    } cases[] = {
        {"bob@example.com", true, "bob-rsa"},   {"BOB@EXAMPLE.COM", false, "bob-rsa"},
        {"jimbob@example.com", true, "jimbob"}, {"carol@example.com", false, "carol,"},
        {"carol@example.com", true, nullptr},   {"dave@example.com", false, nullptr},
        {"ob@example.com", false, nullptr},     {"alice@example.com", true, "alice-rsa"},
    };
    for (const auto& c : cases) {
        NV_Crypt engine;
        engine.setKeyPassword("alice-pass");
        LogNull log;
        std::string where;
        auto cert = engine.findCertByAddress(c.address, c.needKey, where, log);
        const std::string subject = cert ? cert->subjectName() : "(none)";
        EXPECT_TRUE(c.subjectStart ? subject.starts_with(c.subjectStart) : !cert)
            << c.address << " -> " << subject;
    }
}

TEST_F(SmimeFixture, KeyPasswordOpensPkcs12AndNeverReachesTheLog) {
    for (const char* password : {"alice-pass", "wrong-pass"}) {
        Logger log;
        auto store = CertificateStore::open({1, 1, ""}, true, log, password);
        ASSERT_NE(store, nullptr);
        const Certificate* alice = store->findByAddress("alice@example.com", false, time(nullptr));
        EXPECT_EQ(alice != nullptr && alice->hasPrivateKey(), password[0] == 'a');
        EXPECT_EQ(logText(log).find(password), std::string::npos);
        EXPECT_EQ(logText(log).find("PRIVATE"), std::string::npos);
    }
}

// Stores are decoded once per process and kept while their files stay unchanged; a file added,
// or rewritten in place under the same name, must be seen by the next open.
TEST_F(SmimeFixture, StoreOpensSeeFilesAddedOrRewrittenSinceTheLastOpen) {
    const std::string dir = pki.userDir() + "/Extra";
    std::filesystem::create_directories(dir);
    auto holds = [](const char* address) {
        LogNull log;
        auto store = CertificateStore::open({4, 1, "Extra"}, true, log);
        return store && store->findByAddress(address, true, time(nullptr)) != nullptr;
    };
    auto writeAs = [&](const char* pkiName) {
        std::ifstream in(TestPki::pkiFile(pkiName), std::ios::binary);
        std::ofstream(dir + "/a.pem", std::ios::binary | std::ios::trunc) << in.rdbuf();
    };
    EXPECT_FALSE(holds("carol@example.com"));
    writeAs("carol.pem");
    EXPECT_TRUE(holds("carol@example.com"));
    writeAs("bob-rsa.pem");
    EXPECT_TRUE(holds("bob@example.com"));
    EXPECT_FALSE(holds("carol@example.com"));
}

// What a password opened belongs to that open only: a later open with a wrong password must
// not find the key decoded earlier.
TEST_F(SmimeFixture, EncryptedPemKeyOpensOnlyWithEachOpensOwnPassword) {
    const std::string dir = pki.userDir() + "/Locked";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(TestPki::pkiFile("bob-rsa.pem"), dir + "/bob.pem");
    {
        BioPtr in(BIO_new_file(TestPki::pkiFile("bob-rsa.key").c_str(), "r"));
        EvpPkeyPtr key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
        BioPtr out(BIO_new_file((dir + "/bob.key").c_str(), "w"));
        ASSERT_TRUE(key && out);
        char pass[] = "key-pass";
        ASSERT_EQ(PEM_write_bio_PrivateKey(out.get(), key.get(), EVP_aes_256_cbc(), nullptr, 0,
                                           nullptr, pass),
                  1);
    }
    for (const char* password : {"key-pass", "wrong-pass", "", "key-pass"}) {
        LogNull log;
        auto store = CertificateStore::open({4, 1, "Locked"}, true, log, password);
        ASSERT_NE(store, nullptr);
        const Certificate* bob = store->findByAddress("bob@example.com", false, time(nullptr));
        ASSERT_NE(bob, nullptr);
        EXPECT_EQ(bob->hasPrivateKey(), std::string_view(password) == "key-pass") << password;
    }
}

TEST_F(SmimeFixture, SaveStoreKeepsEachSignerOnceAsWorldReadablePem) {
    Logger log;
    auto store = CertificateStore::open({4, 2, "Software/Norvane/SystemCertificates"}, false, log);
    ASSERT_NE(store, nullptr);
    auto bob = loadPem("bob-rsa.pem");
    ASSERT_TRUE(store->addCertificate(bob.get(), log));
    ASSERT_TRUE(store->addCertificate(bob.get(), log));
    EXPECT_NE(logText(log).find("Certificate already exists in store, no need to add."),
              std::string::npos);
    const std::string file = pki.machineDir() + "/Software/Norvane/SystemCertificates/" +
                             bob->sha256Fingerprint() + ".pem";
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(std::distance(
                  std::filesystem::directory_iterator(std::filesystem::path(file).parent_path()),
                  std::filesystem::directory_iterator()),
              1);
}

// What each provider description selects, and the hash the signature really carries.
TEST_F(SmimeFixture, AlgorithmChoiceDefaultsAndRefusals) {
    const struct {
        const char* csp;
        bool accepted;
        int digestNid;
        const char* micalg;
        const char* cipherInDump;
    } cases[] = {
        {"OpenSSL,,0,0,0,0,*,*", true, NID_sha256, "sha-256", "aes-256-cbc"},
        {"Microsoft Base Cryptographic Provider v1.0,,0,0,0,0,3des,sha1", true, NID_sha1, "sha-1",
         "des-ede3-cbc"},
        {"OpenSSL,,0,0,0,0,aes,sha384,128", true, NID_sha384, "sha-384", "aes-128-cbc"},
        {"OpenSSL,,0,0,0,0,*,SHA-512", true, NID_sha512, "sha-512", "aes-256-cbc"},
        {"OpenSSL,,0,0,0,0,*,md5", true, NID_md5, "md5", "aes-256-cbc"},
        {"OpenSSL,,0,0,0,0,*,md4", false, 0, "", ""},
        {"OpenSSL,,0,0,0,0,*,md2", false, 0, "", ""},
        {"OpenSSL,,0,0,0,0,rc4,*", false, 0, "", ""},
        {"OpenSSL,,0,0,0,0,des,*", false, 0, "", ""},
        {"OpenSSL,,0,0,0,0,rc2,*,40", false, 0, "", ""},
    };
    auto bob = loadPem("bob-rsa.pem");
    for (const auto& c : cases) {
        NV_Crypt engine;
        Logger log;
        ASSERT_EQ(engine.setPreferences(c.csp, log), c.accepted) << c.csp;
        if (!c.accepted)
            continue;
        EXPECT_EQ(engine.micalg(), c.micalg);
        std::string where;
        auto signer = engine.findCertByAddress("bob@example.com", true, where, log);
        DataBuffer sig, env;
        ASSERT_TRUE(engine.createDetachedSignature(signer.get(), bytesOf("x\r\n"), sig, log))
            << logText(log);
        const unsigned char* p = sig.getData();
        CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(sig.getSize())));
        X509_ALGOR* digest = nullptr;
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0),
                                 nullptr, nullptr, &digest, nullptr);
        const ASN1_OBJECT* oid = nullptr;
        X509_ALGOR_get0(&oid, nullptr, nullptr, digest);
        EXPECT_EQ(OBJ_obj2nid(oid), c.digestNid) << c.csp;
        ASSERT_TRUE(engine.encryptData(bytesOf("x\r\n"), env, {bob.get()}, log));
        p = env.getData();
        CmsPtr envCms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(env.getSize())));
        BioPtr dump(BIO_new(BIO_s_mem()));
        CMS_ContentInfo_print_ctx(dump.get(), envCms.get(), 0, nullptr);
        char* text = nullptr;
        const long n = BIO_get_mem_data(dump.get(), &text);
        EXPECT_NE(std::string_view(text, n).find(c.cipherInDump), std::string_view::npos) << c.csp;
    }
}

// Each way of sending, received again: the layers in order, the content byte for byte, and
// the trust report beside the signature result.
TEST_F(SmimeFixture, SentMessagesUnwrapWithLayersAndSignerReport) {
    const struct {
        bool sign, encrypt, trustCa, ecdsa;
        std::vector<std::string> layers;
        bool trusted;
    } cases[] = {
        {true, false, true, false, {"signed"}, true},
        {true, false, false, false, {"signed"}, false},
        {false, true, false, false, {"encrypted"}, false},
        {true, true, true, false, {"encrypted", "signed"}, true},
        {true, true, true, true, {"encrypted", "signed"}, true},
    };
    for (const auto& c : cases) {
        if (c.trustCa)
            pki.trustTestCa();
        else
            std::filesystem::remove_all(pki.machineDir() + "/Root");
        auto e = message();
        e->setSendSigned(c.sign);
        e->setSendEncrypted(c.encrypt);
        if (c.ecdsa) { // explicit certificates: ECDSA signature, ECDH key agreement
            pki.add("user", "MY", {"alice-ec.p12", "bob-ec.p12"});
            e->setSigningCert(loadPem("alice-ec.pem")->encoded());
            e->setEncryptCert(loadPem("bob-ec.pem")->encoded());
        }
        Logger log;
        auto secure = SmimeWrap::createSecureEmail(*e, log, "alice-pass");
        ASSERT_NE(secure, nullptr) << logText(log);
        if (c.sign && !c.encrypt) {
            EXPECT_EQ(secure->micalg(), "sha-256");
        }
        StringBuffer mime;
        secure->renderMime(mime, "", log);
        auto got = receive(mime.view(), log);
        const SecurityOutcome& s = got->security();
        EXPECT_EQ(s.layers, c.layers) << logText(log);
        EXPECT_TRUE(s.signaturesValid && s.decrypted);
        EXPECT_EQ(got->getBody().view(), e->getBody().view());
        EXPECT_EQ(s.signerCerts.getSize(), c.sign ? 1u : 0u);
        if (auto* signer = dynamic_cast<SignerCertificate*>(s.signerCerts.elementAt(0))) {
            EXPECT_EQ(signer->chainTrusted, c.trusted) << signer->trustError;
            EXPECT_TRUE(signer->validAtSigningTime);
            EXPECT_TRUE(signer->addressMatchesFrom);
            EXPECT_EQ(signer->subjectName().substr(0, 8), c.ecdsa ? "alice-ec" : "alice-rs");
        }
    }
}

// Damaged and hostile input ends in a clear failure, never a crash or a false "valid".
TEST_F(SmimeFixture, HostileInputFailsClearly) {
    auto e = message();
    e->setSendSigned(true);
    LogNull quiet;
    StringBuffer signedMime;
    SmimeWrap::createSecureEmail(*e, quiet, "alice-pass")->renderMime(signedMime, "", quiet);
    std::string tampered = signedMime.str();
    tampered.replace(tampered.find("second line"), 6, "SECOND");
    auto opaque = [](std::string_view base64) {
        return "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n" +
               std::string(base64) + "\r\n";
    };
    const struct {
        std::string mime;
        const char* expectedLog;
    } cases[] = {
        {tampered, "Failed to verify detached digital signature"},
        {opaque("garbage!!"), "Failed to decrypt message"},
        {opaque("MIAGCSqGSIb3DQEHA6CAMIACAQAxggE"), "Failed to decrypt message"},
    };
    for (const auto& c : cases) {
        Logger log;
        auto got = receive(c.mime, log);
        EXPECT_FALSE(got->security().signaturesValid && got->security().decrypted);
        EXPECT_NE(logText(log).find(c.expectedLog), std::string::npos) << logText(log);
    }
}

TEST_F(SmimeFixture, NestingAndRecipientCountsAreBounded) {
    auto bob = loadPem("bob-rsa.pem");
    NV_Crypt engine;
    LogNull quiet;
    // One message addressed to 10,000 recipients, none of whom we are.
    std::vector<const Certificate*> many(10000, loadPem("carol.pem").release());
    std::unique_ptr<Certificate> owner(const_cast<Certificate*>(many[0]));
    DataBuffer env;
    ASSERT_TRUE(engine.encryptData(bytesOf("x\r\n"), env, many, quiet));
    DataBuffer out;
    std::unique_ptr<Certificate> used;
    EXPECT_FALSE(engine.decryptMessage(env.span(), out, used, quiet));

    // Forty encrypted layers: unwrapping stops at its bound and says so.
    std::string mime = "Content-Type: text/plain\r\n\r\nhello\r\n";
    for (int i = 0; i < SmimeUnwrapper::kMaxLayers + 10; ++i) {
        DataBuffer layer;
        ASSERT_TRUE(engine.encryptData(bytesOf(mime), layer, {bob.get()}, quiet));
        // Binary bodies keep the layers from growing by a third each.
        mime = "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
               "Content-Transfer-Encoding: binary\r\n\r\n";
        mime += layer.view();
    }
    Logger log;
    auto got = receive(mime, log);
    EXPECT_FALSE(got->security().decrypted);
    EXPECT_EQ(got->security().numEncrypted, SmimeUnwrapper::kMaxLayers);
    EXPECT_NE(logText(log).find("Too many nested S/MIME layers"), std::string::npos);
}

// A self-made certificate with a 64 KB subject signs a message: the signature verifies, the
// signer is reported untrusted, and nothing breaks on the size.
TEST_F(SmimeFixture, HugeSubjectSignerVerifiesButIsNotTrusted) {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr x(X509_new());
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), 7);
    X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 3600);
    const std::string cn(65536, 'A');
    X509_NAME* name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "CN", V_ASN1_UTF8STRING, // past the 64-byte bound
                               reinterpret_cast<const unsigned char*>(cn.data()),
                               static_cast<int>(cn.size()), -1, 0);
    X509_set_issuer_name(x.get(), name);
    X509_set_pubkey(x.get(), key.get());
    ASSERT_GT(X509_sign(x.get(), key.get(), EVP_sha256()), 0);
    Certificate signer(std::move(x), std::move(key));
    const std::string content = "Content-Type: text/plain\r\n\r\nhuge\r\n";
    NV_Crypt engine;
    LogNull quiet;
    DataBuffer sig;
    ASSERT_TRUE(engine.createDetachedSignature(&signer, bytesOf(content), sig, quiet));
    std::string b64;
    ContentCoding::base64EncodeLines(sig.span(), b64);
    const std::string mime = "Content-Type: multipart/signed; boundary=\"b\"\r\n\r\n--b\r\n" +
                             content +
                             "\r\n--b\r\nContent-Type: application/pkcs7-signature\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\n" +
                             b64 + "\r\n--b--\r\n";
    Logger log;
    auto got = receive(mime, log);
    ASSERT_EQ(got->security().signerCerts.getSize(), 1u) << logText(log);
    const auto* s = dynamic_cast<SignerCertificate*>(got->security().signerCerts.elementAt(0));
    EXPECT_TRUE(got->security().signaturesValid && s->signatureValid);
    EXPECT_FALSE(s->chainTrusted);
    EXPECT_EQ(s->subjectName().size(), cn.size());
    EXPECT_EQ(got->getBody().view(), "huge\r\n");
}
