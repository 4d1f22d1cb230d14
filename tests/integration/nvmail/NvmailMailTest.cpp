// nvmail send and fetch against the servers of the transport fixture: the recording sink,
// Dovecot (POP3, POP3 over TLS, submission) and Exim with its AUTH methods.

#include "ServerEnv.h"
#include "common/FileAccess.h"
#include "transport/SaslBase64.h"
#include "unit/nvmail/NvmailRun.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace norvane;
using namespace norvane::test;

namespace {

std::string server(int port) {
    return " --host 127.0.0.1 --port " + std::to_string(port) + " ";
}

void write(const std::string& path, std::string_view text) {
    ASSERT_TRUE(file::writeWholeFile(path, text, nullptr)) << path;
}

} // namespace

TEST(NvmailSendTest, EnvelopeIsToCcBccAndRefusedRecipientsArePrinted) {
    TempDir dir;
    const std::string eml = dir.file("m.eml"), m1 = marker("eml"), m2 = marker("options");
    write(eml, "From: a@test.invalid\r\nTo: b@test.invalid\r\nCc: c@test.invalid\r\n"
               "Bcc: d@test.invalid\r\nSubject: " +
                   m1 + "\r\n\r\nbody\r\n");
    const struct {
        std::string args, marker;
        int status;
        std::string out;
        std::vector<std::string> envelope;
    } cases[] = {
        {eml, m1, 0, "", {"b@test.invalid", "c@test.invalid", "d@test.invalid"}},
        {"--from a@test.invalid --to ok@test.invalid,reject-x@test.invalid --bcc e@test.invalid"
         " --text-string hi --subject " +
             m2,
         m2,
         1,
         "reject-x@test.invalid\n",
         {"ok@test.invalid", "e@test.invalid"}},
    };
    for (const auto& c : cases) {
        const NvmailResult r = nvmail("send" + server(serverEnv().sinkPort) + c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err.empty(), c.status == 0) << r.err;
        const std::vector<SpoolMessage> spool = waitForSpool(c.marker, 1);
        ASSERT_EQ(spool.size(), 1u) << c.args;
        for (const std::string& rcpt : c.envelope)
            EXPECT_NE(spool[0].envelope.find('"' + rcpt + '"'), std::string::npos) << rcpt;
        EXPECT_EQ(spool[0].envelope.find("reject-x"), std::string::npos);
        EXPECT_EQ(spool[0].data.find("\nBcc:"), std::string::npos) << spool[0].data;
    }
}

TEST(NvmailSendTest, LogsInWithThePasswordOfTheEnvironmentOrAFileAndNeverShowsIt) {
    const ServerEnv& env = serverEnv();
    const std::string secret = "s3cret pass!", wrong = "wrong pass!"; // carol's, and not
    TempDir dir;
    ::setenv("SSL_CERT_FILE", env.caFile.c_str(), 1); // Dovecot offers STARTTLS
    const std::string file = dir.file("pw");
    const struct {
        int port;
        const char* auth;
        std::string envPassword, filePassword;
        int status;
    } cases[] = {
        {env.submissionPort, "PLAIN", secret, "", 0},
        {env.submissionPort, "LOGIN", wrong, secret, 0}, // the file wins
        {env.eximCyrusPort, "CRAM-MD5", secret, "", 0},
        // Over TLS (Dovecot), so that the wrong password really reaches the server.
        {env.submissionPort, "LOGIN", wrong, "", 1},
        {env.submissionPort, "PLAIN", secret, wrong, 1},
    };
    for (const auto& c : cases) {
        ::setenv("NVMAIL_SMTP_PASSWORD", c.envPassword.c_str(), 1);
        write(file, c.filePassword + "\n");
        const std::string m = marker(c.auth);
        const NvmailResult r = nvmailMerged(
            "send --log" + server(c.port) + "--user carol --auth " + c.auth +
            (c.filePassword.empty() ? "" : " --password-file " + file) +
            " --from carol@test.invalid --to z@test.invalid --text-string hi --subject " + m);
        EXPECT_EQ(r.status, c.status) << c.auth << "\n" << r.out;
        EXPECT_EQ(waitForSpool(m, 1, c.status == 0 ? 10 : 0).size(), c.status == 0 ? 1u : 0u);
        EXPECT_NE(r.out.find("smtp_user: carol"), std::string::npos) << r.out; // the log is there
        for (const std::string& pw : {secret, wrong})
            for (const std::string& s : {pw, sasl::base64Encode(pw),
                                         sasl::base64Encode(std::string("carol\0carol\0", 12) + pw),
                                         sasl::base64Encode(std::string("\0carol\0", 7) + pw)})
                EXPECT_EQ(r.out.find(s), std::string::npos) << c.auth << ": " << s;
    }
    ::unsetenv("NVMAIL_SMTP_PASSWORD");
    ::unsetenv("SSL_CERT_FILE");
}

TEST(NvmailFetchTest, SavesAsReceivedNeverOverwritesAndDeletesOnlyWhatItSaved) {
    TempDir dir;
    const std::string d = dir.file("mail"), pop = "fetch" + server(serverEnv().pop3Port);
    auto text = [](const std::string& n) {
        return "From: a@test.invalid\r\nSubject: s" + n + "\r\n folded\r\n\r\n.dot\r\n\r\n";
    };
    clearMailbox("bench");
    ::setenv("SSL_CERT_FILE", serverEnv().caFile.c_str(), 1); // Dovecot offers STLS
    for (const char* n : {"1", "2"})
        addMessage("bench", std::string(n) + ".m", text(n));
    ::setenv("NVMAIL_POP_PASSWORD", "benchpw", 1);
    const struct {
        std::string args;
        std::vector<std::string> add; // messages put on the server first
        int status;
        std::string out;
        size_t left; // on the server after the step
    } steps[] = {
        {"--list",
         {},
         0,
         "1\t1.m\ta@test.invalid\ts1 folded\n2\t2.m\ta@test.invalid\ts2 folded\n",
         2},
        {"--dir " + d, {}, 0, d + "/1.m.eml\n" + d + "/2.m.eml\n", 2},
        {"--dir " + d + " --new", {}, 0, "", 2},
        {"--dir " + d, {}, 1, "", 2}, // the names are taken
        {"--dir " + d + " --delete", {"3", "4"}, 1, d + "/3.m.eml\n", 3},
    };
    for (const auto& s : steps) {
        for (const std::string& n : s.add)
            addMessage("bench", n + ".m", text(n));
        if (!s.add.empty())
            write(d + "/4.m.eml", "not message 4");
        const NvmailResult r = nvmail(pop + "--user bench " + s.args);
        EXPECT_EQ(r.status, s.status) << s.args << "\n" << r.err;
        EXPECT_EQ(r.out, s.out) << s.args;
        EXPECT_EQ(mailboxCount("bench"), s.left) << s.args;
    }
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_EQ(listDir(d), (std::set<std::string>{"1.m.eml", "2.m.eml", "3.m.eml", "4.m.eml"}));
    for (const char* n : {"1", "2", "3"})
        EXPECT_EQ(readFile(d + "/" + n + ".m.eml"), text(n));
    EXPECT_EQ(readFile(d + "/4.m.eml"), "not message 4");
}

TEST(NvmailFetchTest, TlsTrustsTheCaFileOpenSslIsPointedAt) {
    ::setenv("NVMAIL_POP_PASSWORD", "benchpw", 1);
    clearMailbox("bench");
    addMessage("bench", "t.m", "Subject: tls\r\n\r\nb\r\n");
    for (const bool trusted : {true, false}) {
        if (trusted)
            ::setenv("SSL_CERT_FILE", serverEnv().caFile.c_str(), 1);
        const NvmailResult r =
            nvmail("fetch --tls --list --user bench" + server(serverEnv().pop3sPort));
        ::unsetenv("SSL_CERT_FILE");
        EXPECT_EQ(r.status, trusted ? 0 : 1) << r.err;
        EXPECT_EQ(r.out, trusted ? "1\tt.m\t\ttls\n" : "");
    }
    ::unsetenv("NVMAIL_POP_PASSWORD");
}

// The TLS flags of send and fetch, read from what Dovecot logged for the login.
TEST(NvmailTlsTest, FlagsChooseHowTheSessionIsProtected) {
    const ServerEnv& env = serverEnv();
    ::setenv("SSL_CERT_FILE", env.caFile.c_str(), 1);
    ::setenv("NVMAIL_SMTP_PASSWORD", "benchpw", 1);
    ::setenv("NVMAIL_POP_PASSWORD", "benchpw", 1);
    const std::string send = "send --user bench --auth LOGIN --from f@test.invalid --to "
                             "z@test.invalid --text-string hi --subject s ";
    const struct {
        std::string args;
        int status;
        bool tls; // how Dovecot logged the login, when there was one
    } cases[] = {
        {send + "--starttls" + server(env.submissionPort), 0, true},
        {send + "--starttls" + server(env.eximCyrusPort), 1, false},
        {send + "--tls" + server(env.submissionsPort), 0, true},
        {send + "--no-tls" + server(env.submissionPort), 0, false},
        {send + "--no-tls --tls" + server(env.submissionPort), 2, false},
        {"fetch --list --stls --user bench" + server(env.pop3Port), 0, true},
        {"fetch --list --stls --tls --user bench" + server(env.pop3Port), 2, false},
    };
    for (const auto& c : cases) {
        const size_t before = logLines(env.dovecotLog, "Login: user=<bench>").size();
        const NvmailResult r = nvmail(c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
        if (c.status != 0 ||
            c.args.find("--port " + std::to_string(env.eximCyrusPort)) != std::string::npos)
            continue;
        ASSERT_TRUE(waitUntil(
            [&] { return logLines(env.dovecotLog, "Login: user=<bench>").size() > before; }, 5));
        const std::string line = logLines(env.dovecotLog, "Login: user=<bench>")[before];
        EXPECT_EQ(line.find(", TLS") != std::string::npos, c.tls) << c.args << "\n" << line;
    }
    for (const char* v : {"SSL_CERT_FILE", "NVMAIL_SMTP_PASSWORD", "NVMAIL_POP_PASSWORD"})
        ::unsetenv(v);
}

TEST(NvmailTlsTest, AccessTokenFromAFileOrTheEnvironmentAndNeverShown) {
    const ServerEnv& env = serverEnv();
    TempDir dir;
    const std::string file = dir.file("token");
    write(file, env.oauthToken + "\n");
    // A ready message: the token file is one of send's own options, not one that builds it.
    const std::string eml = dir.file("m.eml");
    write(eml, "From: f@test.invalid\r\nTo: z@test.invalid\r\nSubject: t\r\n\r\nhi\r\n");
    ::setenv("SSL_CERT_FILE", env.caFile.c_str(), 1);
    ::setenv("NVMAIL_POP_OAUTH_TOKEN", env.oauthToken.c_str(), 1);
    const std::string user = " --user " + env.oauthUser;
    for (const std::string& args :
         {"send --log --oauth-token-file " + file + user + server(env.submissionPort) + eml,
          "fetch --log --list" + user + server(env.pop3Port)}) {
        const NvmailResult r = nvmailMerged(args);
        EXPECT_EQ(r.status, 0) << args << "\n" << r.out;
        EXPECT_EQ(r.out.find(env.oauthToken), std::string::npos);
    }
    ::unsetenv("NVMAIL_POP_OAUTH_TOKEN");
    ::unsetenv("SSL_CERT_FILE");
}
