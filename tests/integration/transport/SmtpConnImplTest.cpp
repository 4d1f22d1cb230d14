// SMTP sessions against the real servers the fixture started: Exim (PLAIN, LOGIN, CRAM-MD5,
// NTLM, MSN), Dovecot submission and the recording sink. What the servers received is read
// back from the sink's spool and compared byte for byte.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "support/TestDirs.h"
#include "transport/NorvaneSSPI.h"
#include "transport/SaslBase64.h"
#include "transport/SmtpConnImpl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

using namespace norvane;
using namespace norvane::test;

namespace {

bool connectTo(SmtpConnImpl& s, int port, Logger& log, std::string_view user = {},
               std::string_view password = {}, std::string_view method = {},
               std::string_view domain = {}) {
    return s.connect("127.0.0.1", port, user, password, domain, method, 5, 10000, log);
}

// Sends a small message under a fresh marker and checks that it reached the sink.
void expectDelivered(SmtpConnImpl& s, Logger& log, const char* tag, const std::string& from) {
    std::string m = marker(tag);
    ASSERT_TRUE(s.sendMime(from, "x@test.invalid", "Subject: " + m + "\r\n\r\nb\r\n", log))
        << logText(log);
    EXPECT_EQ(waitForSpool(m, 1).size(), 1u);
}

void expectNoSecret(const Logger& log, const SmtpConnImpl& s, std::string_view user,
                    std::string_view password) {
    std::string text = logText(log) + s.transcript().str();
    EXPECT_EQ(text.find(password), std::string::npos);
    EXPECT_EQ(text.find(sasl::base64Encode(password)), std::string::npos);
    std::string plain = std::string(user) + '\0' + std::string(user) + '\0' + std::string(password);
    EXPECT_EQ(text.find(sasl::base64Encode(plain)), std::string::npos);
}

} // namespace

TEST(SmtpConnImplTest, SinkReceivesFramedTextExactly) {
    const ServerEnv& env = serverEnv();
    SmtpConnImpl s;
    Logger log;
    ASSERT_TRUE(connectTo(s, env.sinkPort, log)) << logText(log);
    std::string m = marker("frame");
    // A first line starting with ".", bare LF and CR line ends, a lone "." after a bare LF.
    std::string text = ".first " + m + "\nbare LF\rbare CR\r\n.\n..two dots\r\nlast";
    ASSERT_TRUE(s.sendMime("Sender <sender@test.invalid>", "rcpt@test.invalid", text, log))
        << logText(log);
    auto got = waitForSpool(m, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data, ".first " + m + "\r\nbare LF\r\nbare CR\r\n.\r\n..two dots\r\nlast\r\n");
    EXPECT_NE(got[0].envelope.find("\"mail_from\": \"sender@test.invalid\""), std::string::npos);
}

TEST(SmtpConnImplTest, EveryMechanismAuthenticatesAgainstExim) {
    const ServerEnv& env = serverEnv();
    // NTLMv1 is off by default: only a correct NTLMv2 response can pass with NTLM and MSN.
    const struct {
        const char *method, *user, *password, *domain, *logged;
    } cases[] = {
        {"LOGIN", "carol", "s3cret pass!", "", "A=login:carol"},
        {"PLAIN", "carol", "s3cret pass!", "", "A=plain:carol"},
        {"cram-md5", "carol", "s3cret pass!", "", "A=cram_md5:carol"},
        {"NTLM", "alice", "alicepw", "TESTDOM", "A=ntlm:alice"},
        {"MSN", "alice", "alicepw", "TESTDOM", "A=msn:alice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        SmtpConnImpl s;
        Logger log;
        ASSERT_TRUE(connectTo(s, env.eximCyrusPort, log, c.user, c.password, c.method, c.domain))
            << logText(log);
        expectDelivered(s, log, c.method, std::string(c.user) + "@test.invalid");
        expectNoSecret(log, s, c.user, c.password);
        EXPECT_TRUE(waitForLog(env.eximCyrusLog, c.logged));
    }
}

TEST(SmtpConnImplTest, WrongPasswordFailsCleanlyForEveryMechanism) {
    const ServerEnv& env = serverEnv();
    const char* secret = "Wr0ng-Secret!";
    for (const char* method : {"LOGIN", "PLAIN", "CRAM-MD5", "NTLM", "MSN"}) {
        SCOPED_TRACE(method);
        SmtpConnImpl s;
        Logger log;
        EXPECT_FALSE(connectTo(s, env.eximCyrusPort, log, "alice", secret, method));
        std::string text = logText(log);
        EXPECT_NE(text.find("Failed to login using " + std::string(method) + " method"),
                  std::string::npos)
            << text;
        expectNoSecret(log, s, "alice", secret);
    }
}

TEST(SmtpConnImplTest, NtlmV1OnlyServerNeedsV1AllowedExplicitly) {
    // The SPA server knows NTLMv1 only (what happens without the setting is the fault suite's).
    const ServerEnv& env = serverEnv();
    for (const char* method : {"NTLM", "MSN"}) {
        SCOPED_TRACE(method);
        SmtpConnImpl s;
        s.setAllowNtlmV1(true);
        Logger log;
        ASSERT_TRUE(connectTo(s, env.eximSpaPort, log, "bob", "bobpw", method)) << logText(log);
        EXPECT_NE(logText(log).find("NTLMv2 response refused, retrying with NTLMv1"),
                  std::string::npos);
        expectDelivered(s, log, "spa", "bob@test.invalid");
    }
    SmtpConnImpl s;
    s.setAllowNtlmV1(true);
    Logger log;
    EXPECT_FALSE(connectTo(s, env.eximSpaPort, log, "bob", "not-bobpw", "NTLM"));
    EXPECT_NE(logText(log).find("NTLM authentication failed"), std::string::npos);
}

TEST(SmtpConnImplTest, MissingNtlmPackageFallsBackToLogin) {
    const ServerEnv& env = serverEnv();
    NorvaneSSPI::setPackageHiddenForTesting("NTLM", true);
    SmtpConnImpl s;
    Logger log;
    bool ok = connectTo(s, env.eximCyrusPort, log, "alice", "alicepw");
    NorvaneSSPI::setPackageHiddenForTesting("NTLM", false);
    EXPECT_TRUE(ok) << logText(log);
    EXPECT_NE(logText(log).find("alt_login_method: LOGIN"), std::string::npos);
}

TEST(SmtpConnImplTest, CramMd5IsPreferredOverCleartextMechanisms) {
    const ServerEnv& env = serverEnv();
    SmtpConnImpl s;
    Logger log;
    // Dovecot submission offers PLAIN, LOGIN and CRAM-MD5; the written order would send LOGIN.
    ASSERT_TRUE(connectTo(s, env.submissionPort, log, "dave", "davepw")) << logText(log);
    EXPECT_NE(logText(log).find("login_method: CRAM_MD5"), std::string::npos);
    EXPECT_TRUE(waitForLog(env.dovecotLog, "user=<dave>, method=CRAM-MD5"));
    expectDelivered(s, log, "submission", "dave@test.invalid");
}

TEST(SmtpConnImplTest, AllRecipientsRefusedLeavesTheSessionUsable) {
    const ServerEnv& env = serverEnv();
    // Both servers refuse a MAIL FROM while the sender of an aborted transaction is still
    // held: every later send fails unless each refusal was followed by RSET.
    for (bool pipelined : {false, true}) {
        SCOPED_TRACE(pipelined ? "pipelined" : "one command at a time");
        SmtpConnImpl s;
        Logger log;
        ASSERT_TRUE(pipelined ? connectTo(s, env.eximCyrusPort, log, "alice", "alicepw", "PLAIN")
                              : connectTo(s, env.sinkPort, log));
        EXPECT_EQ(s.serverPipelines(), pipelined);
        TestMail mail("alice@test.invalid", {"reject1@test.invalid"});
        SmtpSendCounts counts;
        DistributionList bad;
        EXPECT_FALSE(s.sendEmail(mail, nullptr, "", log, nullptr, counts, bad));
        EXPECT_FALSE(counts.fatal);
        EXPECT_EQ(counts.numTried, 1);
        EXPECT_EQ(bad.entries(), std::vector<std::string>{"reject1@test.invalid"});
        std::vector<std::string> refused = {"reject2@test.invalid"};
        EXPECT_FALSE(s.sendMimeTo(mail.from, refused, "Subject: x\r\n\r\nx\r\n", log));
        mail.to = {"fine@test.invalid"};
        mail.subjectText = marker("after-refused");
        EXPECT_TRUE(s.sendEmail(mail, nullptr, "", log, nullptr, counts, bad)) << logText(log);
        EXPECT_EQ(waitForSpool(mail.subjectText, 1).size(), 1u);
    }
}

TEST(SmtpConnImplTest, DistributionListFileSendsBccBatchesOfHundred) {
    const ServerEnv& env = serverEnv();
    TempDir dir;
    std::string list;
    for (int i = 0; i < 250; ++i)
        list += "member" + std::to_string(i) + "@test.invalid\r\n";
    list += "member7@TEST.invalid\r\nno address here\r\n";
    std::string listPath = dir.file("list.txt");
    { std::ofstream(listPath) << list; }
    SmtpConnImpl s;
    Logger log;
    ASSERT_TRUE(connectTo(s, env.sinkPort, log));
    TestMail mail("lists@test.invalid", {"ignored@test.invalid"});
    mail.subjectText = marker("distlist");
    mail.distListFile = listPath;
    SmtpSendCounts counts;
    DistributionList bad;
    ASSERT_TRUE(s.sendEmailToList(&mail, nullptr, dir.file("no/such/dir/sent.log"), log, nullptr,
                                  counts, bad, false, true))
        << logText(log);
    EXPECT_EQ(counts.numSent, 251);
    auto got = waitForSpool(mail.subjectText, 3);
    ASSERT_EQ(got.size(), 3u);
    std::set<std::string> ids;
    size_t sizes[3];
    for (size_t i = 0; i < 3; ++i) {
        size_t pos = got[i].data.find("Message-ID: <NORVANE-MID-");
        ASSERT_NE(pos, std::string::npos);
        ids.insert(got[i].data.substr(pos, got[i].data.find("\r\n", pos) - pos));
        sizes[i] = std::count(got[i].envelope.begin(), got[i].envelope.end(), '@');
        EXPECT_EQ(got[i].data.find("ignored@"), std::string::npos);
    }
    EXPECT_EQ(ids.size(), 3u);
    // One "@" belongs to mail_from.
    EXPECT_EQ(sizes[0], 101u);
    EXPECT_EQ(sizes[1], 101u);
    EXPECT_EQ(sizes[2], 52u);
    EXPECT_NE(logText(log).find("Mail sent to 251 recipients"), std::string::npos);
}

TEST(SmtpConnImplTest, IndividualSendingAndSentMailLog) {
    const ServerEnv& env = serverEnv();
    TempDir dir;
    SmtpConnImpl s;
    Logger log;
    ASSERT_TRUE(connectTo(s, env.sinkPort, log));
    DistributionList list;
    for (const char* a : {"p1@test.invalid", "p2@test.invalid", "p3@test.invalid"})
        list.add(a);
    TestMail mail("solo@test.invalid");
    mail.subjectText = marker("individual");
    mail.body = ".dot line\r\n";
    SmtpSendCounts counts;
    DistributionList bad;
    std::string sentLog = dir.file("sent.log");
    ASSERT_TRUE(
        s.sendToDistributionList(list, mail, nullptr, sentLog, log, nullptr, counts, bad, true));
    EXPECT_EQ(counts.numSent, 3);
    EXPECT_TRUE(mail.to.empty()); // the last address does not stay on the e-mail
    auto got = waitForSpool(mail.subjectText, 3);
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_NE(got[i].data.find("To: p" + std::to_string(i + 1) + "@test.invalid\r\n"),
                  std::string::npos);
    std::string logged = readFile(sentLog);
    EXPECT_TRUE(logged.starts_with("--BEGIN SENT NORVANE EMAIL--\nFrom: solo@test.invalid\r\n"));
    EXPECT_NE(logged.find("\r\n\r\n..dot line\r\n\n--END SENT NORVANE EMAIL--\n"),
              std::string::npos);
}

TEST(SmtpConnImplTest, CheckConnectivityAndEmptyCredentials) {
    const ServerEnv& env = serverEnv();
    SmtpConnImpl s;
    Logger log;
    EXPECT_TRUE(SmtpConnImpl().checkConnectivity("127.0.0.1", env.eximCyrusPort, 5, log));
    // An empty password turns authentication off even though Exim offers mechanisms.
    ASSERT_TRUE(connectTo(s, env.eximCyrusPort, log, "alice", ""));
    EXPECT_TRUE(s.authFlags().ntlm == false && s.authFlags().login == false);
    EXPECT_NE(logText(log).find("smtp_user: NULL"), std::string::npos);
}

TEST(SmtpConnImplTest, PipelinedTransactionsDeliverTheSameBytesAsOneByOne) {
    const ServerEnv& env = serverEnv();
    TestMail mail("sender@test.invalid", {"one@test.invalid", "reject-me@test.invalid"});
    mail.subjectText = marker("pipelined");
    mail.cc = {"two@test.invalid"};
    mail.bcc = {"three@test.invalid"};
    mail.body = ".dot-led line\r\nmiddle\r\n.\r\nlast\r\n";
    // The sink does not offer PIPELINING, Dovecot submission and Exim do.
    struct Target {
        int port;
        const char* user;
        const char* password;
        bool pipelines;
    };
    const Target targets[] = {{env.sinkPort, "", "", false},
                              {env.submissionPort, "dave", "davepw", true},
                              {env.eximCyrusPort, "alice", "alicepw", true}};
    for (const Target& t : targets) {
        SCOPED_TRACE(t.port);
        SmtpConnImpl s;
        Logger log;
        ASSERT_TRUE(connectTo(s, t.port, log, t.user, t.password)) << logText(log);
        EXPECT_EQ(s.serverPipelines(), t.pipelines);
        SmtpSendCounts counts;
        DistributionList bad;
        EXPECT_FALSE(s.sendEmail(mail, nullptr, "", log, nullptr, counts, bad));
        EXPECT_EQ(counts.numSent, 3) << logText(log) << s.transcript().str();
        EXPECT_EQ(counts.numTried, 4);
        EXPECT_FALSE(counts.fatal);
        EXPECT_EQ(bad.entries(), std::vector<std::string>{"reject-me@test.invalid"});
        std::string text = logText(log);
        EXPECT_NE(text.find("Failed when sending RCPT TO:<reject-me@test.invalid>"),
                  std::string::npos);
        EXPECT_NE(text.find("Warning: failed to send to 1 recipient(s), continuing to send to 3 "
                            "recipient(s)"),
                  std::string::npos);
        // Ready MIME text through the same session, with one refused recipient.
        std::vector<std::string> rcpts = {"reject-too@test.invalid", "four@test.invalid"};
        EXPECT_TRUE(s.sendMimeTo("sender@test.invalid", rcpts,
                                 "Subject: " + mail.subjectText + "-mime\r\n\r\n.x\r\n", log))
            << logText(log);
    }
    auto got = waitForSpool(mail.subjectText, 6);
    ASSERT_EQ(got.size(), 6u);
    std::string direct, directMime;
    for (const auto& m : got)
        if (m.envelope.find("\"helo\": \"exim.test.invalid\"") == std::string::npos &&
            m.data.find("Received:") == std::string::npos)
            (m.data.find("-mime") == std::string::npos ? direct : directMime) = m.data;
    ASSERT_FALSE(direct.empty());
    ASSERT_FALSE(directMime.empty());
    EXPECT_TRUE(direct.ends_with("\r\n\r\n.dot-led line\r\nmiddle\r\n.\r\nlast\r\n")) << direct;
    for (const auto& m : got) {
        bool isMime = m.data.find("-mime") != std::string::npos;
        // The relays put only their trace fields in front.
        EXPECT_TRUE(m.data.ends_with(isMime ? directMime : direct)) << m.data;
        if (isMime) {
            EXPECT_NE(m.envelope.find("four@test.invalid"), std::string::npos);
        } else {
            for (const char* a : {"one@", "two@", "three@"})
                EXPECT_NE(m.envelope.find(a), std::string::npos) << m.envelope;
        }
        EXPECT_EQ(m.envelope.find("reject"), std::string::npos);
    }
}
