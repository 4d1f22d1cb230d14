// POP3, plain and over TLS, against Dovecot: list, fetch, fetch headers, delete (gone after
// QUIT), wrong passwords and the server checks of the TLS channel.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "transport/PopSessions.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace norvane;
using namespace norvane::test;

namespace {

const std::string kMsg1 = "From: a@test.invalid\r\nTo: dave@test.invalid\r\nSubject: one\r\n"
                          "\r\nHello.\r\n.starts with a dot\r\n..two dots\r\n.\r\nend\r\n";
const std::string kMsg2 = "From: b@test.invalid\r\nSubject: two\r\n\r\nline 1\r\nline 2\r\n"
                          "line 3\r\n";
const std::string kMsg3 = "Subject: three\r\n\r\nGr\xc3\xb6\xc3\x9f"
                          "e\r\n";

// A logged-in session with Dovecot: TLS by the name in the certificate, plain by address.
std::unique_ptr<PopConnImpl> dovecot(bool tls, const std::string& user, const std::string& pw,
                                     Logger& log, uint32_t readSec = 5) {
    const ServerEnv& env = serverEnv();
    return tls ? popTlsConnect("localhost", user, pw, env.pop3sPort, readSec, 5, log)
               : popConnect("127.0.0.1", user, pw, env.pop3Port, readSec, 5, log);
}

} // namespace

TEST(PopConnImplTest, SessionListsFetchesAndDeletesOverPlainAndTls) {
    TrustTestCa ca;
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "tls" : "plain");
        const std::string user = tls ? "erin" : "dave";
        clearMailbox(user);
        addMessage(user, "1000.one", kMsg1);
        addMessage(user, "1001.two", kMsg2);
        addMessage(user, "1002.three", kMsg3);
        Logger log;
        auto pop = dovecot(tls, user, user + "pw", log);
        ASSERT_TRUE(pop) << logText(log);
        std::string t = logText(log);
        EXPECT_NE(t.find("Login successful"), std::string::npos);
        if (tls) {
            EXPECT_NE(t.find("Secure Channel Established."), std::string::npos);
            EXPECT_TRUE(t.find("protocol: TLSv1.3") != std::string::npos ||
                        t.find("protocol: TLSv1.2") != std::string::npos)
                << t;
        }
        int count = 0;
        long size = 0;
        ASSERT_TRUE(pop->stat(count, size, log)) << logText(log);
        EXPECT_EQ(count, 3);
        EXPECT_EQ(size, static_cast<long>(kMsg1.size() + kMsg2.size() + kMsg3.size()));

        // The server numbers the messages in an order of its own; the UIDLs tell which is which.
        std::vector<int> unums;
        std::vector<std::string> uidls;
        ASSERT_TRUE(pop->uidl(unums, uidls, log));
        ASSERT_EQ(uidls.size(), 3u);
        std::map<std::string, int> num;
        for (size_t i = 0; i < uidls.size(); ++i)
            num[uidls[i]] = unums[i];
        ASSERT_EQ(num.size(), 3u);
        ASSERT_TRUE(num.count("1000.one") && num.count("1001.two") && num.count("1002.three"));

        std::vector<int> numbers;
        std::vector<long> sizes;
        ASSERT_TRUE(pop->list(numbers, sizes, log));
        EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(sizes[num["1001.two"] - 1], static_cast<long>(kMsg2.size()));

        std::string raw;
        ASSERT_TRUE(pop->retr(raw, num["1000.one"], log, nullptr)) << logText(log);
        EXPECT_EQ(PopConnImpl::messageText(raw), kMsg1);
        EXPECT_TRUE(raw.ends_with("end\r\n.\r\n"));

        // The written TLS session answered TOP with an empty success and never sent DELE.
        ASSERT_TRUE(pop->top(num["1001.two"], 0, raw, log));
        EXPECT_EQ(raw, "From: b@test.invalid\r\nSubject: two\r\n\r\nline 1\r\n.\r\n");

        ASSERT_TRUE(pop->retr(raw, num["1002.three"], log, nullptr));
        EXPECT_EQ(PopConnImpl::messageText(raw), kMsg3);

        EXPECT_FALSE(pop->retr(raw, 9, log, nullptr));
        EXPECT_NE(logText(log).find("RETR_response: -ERR"), std::string::npos);

        ASSERT_TRUE(pop->dele(num["1001.two"], log));
        EXPECT_EQ(mailboxCount(user), 3u); // nothing is deleted before QUIT
        ASSERT_TRUE(pop->quit(log)) << logText(log);
        EXPECT_EQ(mailboxCount(user), 2u);
        Logger again;
        auto next = dovecot(tls, user, user + "pw", again);
        ASSERT_TRUE(next);
        ASSERT_TRUE(next->stat(count, size, again));
        EXPECT_EQ(count, 2);
    }
}

TEST(PopConnImplTest, WrongPasswordFailsPlainAndTls) {
    TrustTestCa ca;
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "tls" : "plain");
        Logger log;
        EXPECT_FALSE(dovecot(tls, tls ? "erin" : "dave", "wrong", log));
        EXPECT_NE(logText(log).find(tls ? "Login failed."
                                        : "Failed to login to POP3 server: login name and/or "
                                          "password is invalid"),
                  std::string::npos);
        EXPECT_EQ(logText(log).find("wrong"), std::string::npos);
    }
}

TEST(PopConnImplTest, PasswordWithBlankAndEmptyMailbox) {
    clearMailbox("carol");
    Logger log;
    auto pop = popConnect("localhost", "carol", "s3cret pass!", serverEnv().pop3Port, 5, 5, log);
    ASSERT_TRUE(pop) << logText(log);
    int count = -1;
    long size = -1;
    ASSERT_TRUE(pop->stat(count, size, log));
    EXPECT_EQ(count, 0);
    std::vector<int> n;
    std::vector<long> s;
    ASSERT_TRUE(pop->list(n, s, log));
    EXPECT_TRUE(n.empty());
}

TEST(PopConnImplTest, ConnectionChecks) {
    const ServerEnv& env = serverEnv();
    TrustTestCa ca;
    Logger log;
    EXPECT_TRUE(popCheck("127.0.0.1", env.pop3Port, 5, log));
    EXPECT_NE(logText(log).find("Connection successful"), std::string::npos);
    EXPECT_TRUE(popTlsCheck("127.0.0.1", env.pop3sPort, 5, 5, log)) << logText(log);
    Logger none;
    EXPECT_FALSE(popCheck("", env.pop3Port, 5, none));
    EXPECT_NE(logText(none).find("Hostname is missing for POP connection"), std::string::npos);
}

TEST(PopConnImplTest, UntrustedServerFailsTheTlsConnect) {
    const ServerEnv& env = serverEnv();
    // No CA added: the test CA is in no system store. The written channel went on anyway.
    Logger log;
    EXPECT_FALSE(popTlsConnect("localhost", "erin", "erinpw", env.pop3sPort, 5, 5, log));
    std::string t = logText(log);
    EXPECT_NE(t.find("WinVerifyTrustError: CERT_E_UNTRUSTEDROOT"), std::string::npos) << t;
    EXPECT_NE(t.find("Error authenticating server credentials!"), std::string::npos);
    EXPECT_NE(t.find("Failed to establish channel to Secure POP3 server"), std::string::npos);
    EXPECT_EQ(t.find("Login successful"), std::string::npos);
}

TEST(PopConnImplTest, TlsHostNameMustMatchTheCertificatesAltNames) {
    const ServerEnv& env = serverEnv();
    // Another host's name, and the right name only in the subject's CN (no subjectAltName),
    // which OpenSSL would accept on its own.
    for (const auto& [cert, key] : {std::pair{env.wrongHostCert, env.wrongHostKey},
                                    std::pair{env.cnOnlyCert, env.cnOnlyKey}}) {
        SCOPED_TRACE(cert);
        ScriptedServer srv(ScriptedServer::Script().send("+OK hi\r\n").sleep(1), "127.0.0.1", cert,
                           key);
        SPopConnImpl pop;
        pop.tlsChannel().setCaFile(env.caFile);
        pop.tlsChannel().setReadTimeout(3);
        Logger log;
        EXPECT_FALSE(pop.connect("localhost", srv.port(), log));
        EXPECT_NE(logText(log).find("WinVerifyTrustError: CERT_E_CN_NO_MATCH"), std::string::npos)
            << logText(log);
    }
}

TEST(PopConnImplTest, RetrManyReturnsWhatRetrReturnsOverPlainAndTls) {
    TrustTestCa ca;
    // More messages than one window holds, of differing sizes, with dot-led lines, and one of
    // about 6 MB: several growth steps of the receive buffer and a page-wise move into the
    // result.
    clearMailbox("erin");
    std::vector<std::string> texts;
    for (int i = 0; i < 45; ++i) {
        std::string t = "From: many@test.invalid\r\nSubject: m" + std::to_string(i) + "\r\n\r\n";
        t += "body\r\n";
        for (int k = 0; i == 7 && t.size() < 6'000'000; ++k)
            t += (k % 7 == 0 ? "." : "") + std::to_string(k) + std::string(60 + k % 40, 'q') +
                 "\r\n";
        for (int j = 0; j < i % 5; ++j)
            t += ".dot line " + std::to_string(j) + "\r\n";
        texts.push_back(t);
        addMessage("erin", std::to_string(3000 + i) + ".many", t);
    }
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "tls" : "plain");
        Logger log;
        auto pop = dovecot(tls, "erin", "erinpw", log, 30);
        ASSERT_TRUE(pop) << logText(log);
        std::vector<int> numbers;
        std::vector<long> sizes;
        if (tls) { // the sizes then come from LIST as well as from the RETR replies
            ASSERT_TRUE(pop->list(numbers, sizes, log));
        }
        bool pipelines = false;
        ASSERT_TRUE(pop->serverPipelines(pipelines, log)) << logText(log);
        EXPECT_TRUE(pipelines);
        numbers.clear();
        for (int i = 45; i >= 1; --i)
            numbers.push_back(i);
        std::vector<std::string> many;
        ASSERT_TRUE(pop->retrMany(numbers, many, log, nullptr)) << logText(log);
        ASSERT_EQ(many.size(), numbers.size());
        std::set<std::string> seen;
        for (size_t i = 0; i < numbers.size(); ++i) {
            std::string one;
            ASSERT_TRUE(pop->retr(one, numbers[i], log, nullptr));
            EXPECT_TRUE(many[i] == one) << "message " << numbers[i];
            seen.insert(PopConnImpl::messageText(one));
        }
        EXPECT_EQ(seen, std::set<std::string>(texts.begin(), texts.end()));

        // A refused number fails the call with the messages before it; the session goes on.
        EXPECT_FALSE(pop->retrMany({3, 99, 4, 5}, many, log, nullptr));
        ASSERT_EQ(many.size(), 1u);
        std::string three;
        ASSERT_TRUE(pop->retr(three, 3, log, nullptr));
        EXPECT_EQ(many[0], three);
        EXPECT_NE(logText(log).find("RETR_response: -ERR"), std::string::npos);
        int count = 0;
        long size = 0;
        EXPECT_TRUE(pop->stat(count, size, log)) << logText(log);
        EXPECT_EQ(count, 45);
    }
}
