// S/MIME both ways with the openssl command and GnuPG's gpgsm: what we sign and encrypt they
// verify and decrypt, and what they make we open through the e-mail object, content byte for
// byte. The signed content carries 8-bit text, trailing white space and a nested multipart,
// where canonicalisation faults would show.
#include "charset/ContentCoding.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "facade/ClsEmail.h"
#include "mime/MimeMessage2.h"
#include "security/SmimeUnwrapper.h"
#include "security/SmimeWrap.h"
#include "support/LogText.h"
#include "support/RunCommand.h"
#include "support/TestPki.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace norvane;
using namespace norvane::test;
using test::runCommand;
using test::shellQuote;
using test::TestPki;

namespace {

// A nested multipart whose text has 8-bit bytes and trailing blanks.
constexpr std::string_view kContent =
    "Content-Type: multipart/mixed; boundary=\"inner\"\r\n\r\n"
    "--inner\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: 8bit\r\n\r\n"
    "Gr\xfc\xdf Gott, trailing blanks   \r\ntab\t\r\n\r\n"
    "--inner\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n--inner--\r\n";

std::string pki(const std::string& f) {
    return shellQuote(TestPki::pkiFile(f));
}

void writeFile(const std::string& path, std::string_view data) {
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

struct SmimeInterop : ::testing::Test {
    TestPki pki_;
    test::TempDir work;
    std::string gpg;

    void SetUp() override {
        pki_.add("user", "MY", {"alice-rsa.p12", "bob-rsa.pem", "bob-rsa.key"});
        pki_.trustTestCa();
        // gpgsm: the test CAs trusted, bob's key imported (gpgsm reads only the older PKCS#12
        // encryption), no CRL or policy checks for a PKI that has neither.
        gpg = "GNUPGHOME=" + shellQuote(work.file("gnupg")) + " gpgsm --batch ";
        std::filesystem::create_directory(work.file("gnupg"));
        std::filesystem::permissions(work.file("gnupg"), std::filesystem::perms::owner_all);
        writeFile(work.file("gnupg/gpgsm.conf"), "disable-crl-checks\ndisable-policy-checks\n");
        writeFile(work.file("gnupg/gpg-agent.conf"), "allow-loopback-pinentry\n");
        ASSERT_EQ(sh(gpg + "--import " + pki("ca-root.pem") + " " + pki("ca-inter.pem")), 0);
        ASSERT_EQ(sh("echo \"$(openssl x509 -in " + pki("ca-root.pem") +
                     " -noout -fingerprint -sha1 | cut -d= -f2) S relax\" >" +
                     work.file("gnupg/trustlist.txt")),
                  0);
        ASSERT_EQ(sh("openssl pkcs12 -export -legacy -in " + pki("bob-rsa.pem") + " -inkey " +
                     pki("bob-rsa.key") + " -passout pass:x -out " + work.file("bob.p12")),
                  0);
        ASSERT_EQ(sh("echo x | " + gpg + "--pinentry-mode loopback --passphrase-fd 0 --import " +
                     work.file("bob.p12")),
                  0);
    }
    void TearDown() override {
        (void)sh("GNUPGHOME=" + shellQuote(work.file("gnupg")) + " gpgconf --kill gpg-agent");
    }
    static int sh(const std::string& cmd, std::string* out = nullptr) {
        return runCommand(cmd + " 2>/dev/null", out);
    }

    // Our message from alice to bob, secured as asked, as MIME text.
    std::string ours(bool sign, bool encrypt) {
        Logger log;
        auto inner = Email2::fromMime("From: Alice <alice@example.com>\r\n"
                                      "To: Bob <bob@example.com>\r\nSubject: interop\r\n" +
                                          std::string(kContent),
                                      log);
        inner->setSendSigned(sign);
        inner->setSendEncrypted(encrypt);
        auto secure = SmimeWrap::createSecureEmail(*inner, log, "alice-pass");
        EXPECT_NE(secure, nullptr) << logText(log);
        StringBuffer mime;
        if (secure)
            secure->renderMime(mime, "", log);
        return mime.str();
    }

    // The decoded body of the part at path (child indexes) of MIME text.
    static std::string bodyAt(std::string_view mime, std::initializer_list<int> path) {
        LogNull log;
        MimeMessage2 root;
        root.loadFromText(mime, log);
        const MimeMessage2* n = &root;
        for (int i : path)
            n = n ? n->partAt(i) : nullptr;
        return n ? std::string(n->body().view()) : std::string();
    }
    static std::string rawAt(std::string_view mime, int index) {
        LogNull log;
        MimeMessage2 root;
        root.loadFromText(mime, log);
        return root.partAt(index) ? root.partAt(index)->rawText() : std::string();
    }

    // Received through the e-mail object: body of the first nested text part, and state.
    struct Received {
        std::string layers, body;
        bool valid, decrypted, trusted, fromMatches;
    };
    Received receive(std::string_view mime) {
        writeFile(work.file("in.eml"), mime);
        ClsEmail e;
        e.SetPrivateKeyPassword("alice-pass");
        EXPECT_TRUE(e.LoadEml(work.file("in.eml").c_str()));
        if (!e.get_SignaturesValid() || !e.get_Decrypted()) { // show why
            Logger log;
            SmimeUnwrapper u;
            u.setKeyPassword("alice-pass");
            FromMimeOptions o;
            o.unwrapper = &u;
            (void)Email2::fromMime(mime, log, o);
            ADD_FAILURE() << logText(log);
        }
        const Email2* text = &e.email2();
        while (text->partCount() > 0)
            text = text->partAt(0);
        return {e.get_SecurityLayers(),  std::string(text->body().view()),
                e.get_SignaturesValid(), e.get_Decrypted(),
                e.get_SignerTrusted(),   e.get_SignerMatchesFrom()};
    }
};

constexpr std::string_view kText = "Gr\xc3\xbc\xc3\x9f Gott, trailing blanks   \r\ntab\t\r\n";

} // namespace

TEST_F(SmimeInterop, OpensslReadsOurs) {
    const std::string ca = " -CAfile " + pki("ca-root.pem") + " -certfile " + pki("ca-inter.pem");
    const std::string bob = " -recip " + pki("bob-rsa.pem") + " -inkey " + pki("bob-rsa.key");
    const struct {
        bool sign, encrypt;
        std::string command;
    } cases[] = {
        {true, false, "openssl cms -verify -purpose smimesign" + ca},
        {false, true, "openssl cms -decrypt" + bob},
        {true, true,
         "openssl cms -decrypt" + bob + " | openssl cms -verify -purpose smimesign" + ca},
    };
    for (const auto& c : cases) {
        const std::string mime = ours(c.sign, c.encrypt);
        writeFile(work.file("ours.eml"), mime);
        std::string out;
        ASSERT_EQ(sh("cat " + work.file("ours.eml") + " | " + c.command, &out), 0) << c.command;
        if (c.sign && !c.encrypt) {
            EXPECT_EQ(out, rawAt(mime, 0)); // exactly the signed part, 8-bit bytes intact
        }
        EXPECT_NE(out.find("Gr\xfc\xdf Gott, trailing blanks   \r\ntab\t\r\n"), std::string::npos)
            << c.command;
    }
}

TEST_F(SmimeInterop, GpgsmReadsOurs) {
    const struct { bool sign, encrypt; } cases[] = {{true, false}, {false, true}, {true, true}};
    for (const auto& c : cases) {
        const std::string mime = ours(c.sign, c.encrypt);
        std::string out;
        if (!c.encrypt) {
            writeFile(work.file("sig.der"), bodyAt(mime, {1}));
            writeFile(work.file("content"), rawAt(mime, 0));
            EXPECT_EQ(sh(gpg + "--verify " + work.file("sig.der") + " " + work.file("content")), 0);
            continue;
        }
        writeFile(work.file("env.der"), bodyAt(mime, {}));
        ASSERT_EQ(sh("echo x | " + gpg + "--pinentry-mode loopback --passphrase-fd 0 --decrypt " +
                         work.file("env.der"),
                     &out),
                  0);
        if (c.sign) {
            writeFile(work.file("signed.der"), bodyAt(out, {}));
            ASSERT_EQ(sh(gpg + "--verify -o - " + work.file("signed.der"), &out), 0);
        }
        EXPECT_NE(out.find("Gr\xfc\xdf Gott, trailing blanks   \r\ntab\t\r\n"), std::string::npos);
    }
}

TEST_F(SmimeInterop, WeReadOpensslMail) {
    writeFile(work.file("content"), kContent);
    const std::string in = " -in " + work.file("content");
    const std::string alice = " -signer " + pki("alice-rsa.pem") + " -inkey " +
                              pki("alice-rsa.key") + " -from alice@example.com -binary -crlfeol";
    const std::string toBob =
        " -crlfeol -to bob@example.com -from alice@example.com " + pki("bob-rsa.pem");
    const struct {
        std::string command;
        const char* layers;
        bool signedByAlice;
    } cases[] = {
        {"openssl cms -sign" + alice + in, "signed", true},
        {"openssl cms -sign -nodetach" + alice + in, "signed", true},
        {"openssl cms -encrypt -aes256 -binary" + in + toBob, "encrypted", false},
        {"openssl cms -encrypt -des3 -binary" + in + toBob, "encrypted", false},
        {"openssl cms -sign -nodetach" + alice + in + " | openssl cms -encrypt -binary" + toBob,
         "encrypted,signed", true},
    };
    for (const auto& c : cases) {
        std::string mime;
        ASSERT_EQ(sh(c.command, &mime), 0) << c.command;
        const Received r = receive(mime);
        EXPECT_EQ(r.layers, c.layers) << c.command;
        EXPECT_TRUE(r.valid && r.decrypted) << c.command;
        EXPECT_EQ(r.trusted && r.fromMatches, c.signedByAlice) << c.command;
        EXPECT_TRUE(r.body == kText) << c.command;
    }
}

TEST_F(SmimeInterop, WeReadGpgsmMail) {
    writeFile(work.file("content"), kContent);
    const std::string sign =
        "echo x | " + gpg + "--pinentry-mode loopback --passphrase-fd 0 -u bob@example.com ";
    auto wrap = [](std::string_view der, std::string_view smimeType) {
        std::string b64;
        ContentCoding::base64EncodeLines(der, b64);
        return "From: bob@example.com\r\nContent-Type: application/pkcs7-mime; smime-type=" +
               std::string(smimeType) + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + b64;
    };
    std::string der;
    ASSERT_EQ(sh(sign + "--sign --detach " + work.file("content"), &der), 0);
    std::string b64;
    ContentCoding::base64EncodeLines(der, b64);
    const std::string detached =
        "From: bob@example.com\r\nContent-Type: multipart/signed; "
        "protocol=\"application/pkcs7-signature\"; micalg=sha-256; boundary=\"outer\"\r\n\r\n"
        "--outer\r\n" +
        std::string(kContent) +
        "\r\n--outer\r\nContent-Type: application/pkcs7-signature\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        b64 + "\r\n--outer--\r\n";
    der.clear();
    ASSERT_EQ(sh(sign + "--sign " + work.file("content"), &der), 0);
    const std::string opaque = wrap(der, "signed-data");
    writeFile(work.file("opaque"), opaque);
    std::string env;
    ASSERT_EQ(sh(gpg + "--encrypt -r bob@example.com " + work.file("content"), &env), 0);
    std::string env2;
    ASSERT_EQ(sh(gpg + "--encrypt -r bob@example.com " + work.file("opaque"), &env2), 0);
    const struct {
        std::string mime;
        const char* layers;
        bool signedByBob;
    } cases[] = {
        {detached, "signed", true},
        {opaque, "signed", true},
        {wrap(env, "enveloped-data"), "encrypted", false},
        {wrap(env2, "enveloped-data"), "encrypted,signed", true},
    };
    for (const auto& c : cases) {
        const Received r = receive(c.mime);
        EXPECT_EQ(r.layers, c.layers);
        EXPECT_TRUE(r.valid && r.decrypted) << c.layers;
        EXPECT_EQ(r.trusted && r.fromMatches, c.signedByBob) << c.layers;
        EXPECT_TRUE(r.body == kText) << c.layers;
    }
}
