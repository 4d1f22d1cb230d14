// TLS for SMTP and POP3 sessions: STARTTLS/STLS against Dovecot (which offers them), Exim on a
// port without TLS, Dovecot's implicit-TLS submission port, and scripted peers for the faults.
// Which sessions ran over TLS is read from the servers' own logs.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "transport/PopSessions.h"
#include "transport/SmtpConnImpl.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

using namespace norvane;
using namespace norvane::test;
using Script = ScriptedServer::Script;

namespace {

// Whether the first line holding text that the server logged after the first skip such lines
// tells a TLS session: Dovecot ends a login line with ", TLS", Exim names the cipher (" X=").
bool loggedTls(const std::string& path, std::string_view text, size_t skip) {
    EXPECT_TRUE(waitUntil([&] { return logLines(path, text).size() > skip; }, 5)) << text;
    std::vector<std::string> lines = logLines(path, text);
    if (lines.size() <= skip)
        return false;
    const std::string& l = lines[skip];
    return l.find(", TLS") != std::string::npos || l.find(" X=") != std::string::npos;
}

} // namespace

TEST(TlsSessionTest, SmtpModesAgainstServersWithAndWithoutStartTls) {
    const ServerEnv& env = serverEnv();
    const struct {
        const char* name;
        int port;
        TlsMode mode;
        const char* user;
        const char* method;
        bool allowPlain, trust, ok;
        std::string serverLog, loginText, clientText; // clientText: in our log on failure
    } cases[] = {
        {"starttls", env.submissionPort, TlsMode::StartTlsIfOffered, "erin", "LOGIN", false, true,
         true, env.dovecotLog, "user=<erin>", ""},
        {"implicit", env.submissionsPort, TlsMode::Implicit, "frank", "PLAIN", false, true, true,
         env.dovecotLog, "user=<frank>", ""},
        {"plain server", env.eximCyrusPort, TlsMode::StartTlsIfOffered, "bob", "LOGIN", true, true,
         true, env.eximCyrusLog, "A=login:bob", ""},
        {"required", env.eximCyrusPort, TlsMode::StartTlsRequired, "bob", "LOGIN", true, true,
         false, "", "", "does not offer STARTTLS, which this session requires"},
        {"plain auth", env.eximCyrusPort, TlsMode::StartTlsIfOffered, "bob", "PLAIN", false, true,
         false, "", "", "LOGIN and PLAIN are not used over a connection without TLS"},
        {"none", env.submissionPort, TlsMode::None, "dave", "LOGIN", false, true, false, "", "",
         "LOGIN and PLAIN are not used over a connection without TLS"},
        {"untrusted", env.submissionPort, TlsMode::StartTlsIfOffered, "carol", "LOGIN", true, false,
         false, "", "", "Error authenticating server credentials!"},
    };
    for (const auto& c : cases) {
        std::optional<TrustTestCa> trust;
        if (c.trust)
            trust.emplace();
        SmtpConnImpl s;
        s.setTlsMode(c.mode);
        s.setAllowPlainAuthWithoutTls(c.allowPlain);
        Logger log;
        size_t before = c.ok ? logLines(c.serverLog, c.loginText).size() : 0;
        std::string pw = std::string(c.user) + "pw";
        bool ok = s.connect("127.0.0.1", c.port, c.user, pw, {}, c.method, 5, 10000, log);
        ASSERT_EQ(ok, c.ok) << c.name << "\n" << logText(log);
        if (!ok) {
            EXPECT_NE(logText(log).find(c.clientText), std::string::npos) << c.name;
            EXPECT_EQ(s.transcript().str().find("AUTH " + std::string(c.method) + "\r\n"),
                      std::string::npos)
                << c.name;
            continue;
        }
        std::string m = marker(c.name);
        ASSERT_TRUE(s.sendMime(std::string(c.user) + "@test.invalid", "x@test.invalid",
                               "Subject: " + m + "\r\n\r\nb\r\n", log))
            << logText(log);
        EXPECT_EQ(waitForSpool(m, 1).size(), 1u) << c.name;
        bool tls = c.port != env.eximCyrusPort; // Exim's port offers no STARTTLS
        EXPECT_EQ(loggedTls(c.serverLog, c.loginText, before), tls) << c.name;
        EXPECT_EQ(s.encrypted(), tls) << c.name;
    }
}

// A reply the server pipelined behind its go-ahead to STARTTLS arrived in the clear: the
// session must not take it for the reply to its EHLO over TLS.
TEST(TlsSessionTest, RepliesSentBeforeTheHandshakeAreNeverRead) {
    const ServerEnv& env = serverEnv();
    TrustTestCa trust;
    ScriptedServer srv(Script()
                           .send("220 peer ESMTP\r\n")
                           .line()
                           .send("250-peer\r\n250 STARTTLS\r\n")
                           .until("STARTTLS\r\n")
                           .send("220 go ahead\r\n250-injected\r\n250 AUTH LOGIN\r\n")
                           .startTls()
                           .line()
                           .send("250-peer\r\n250 AUTH PLAIN\r\n")
                           .line()
                           .send("334 \r\n")
                           .line()
                           .send("235 ok\r\n")
                           .line()
                           .send("221 bye\r\n"),
                       "127.0.0.1", env.serverCert, env.serverKey);
    Logger log;
    {
        SmtpConnImpl s;
        s.setTlsMode(TlsMode::StartTlsRequired);
        ASSERT_TRUE(s.connect("127.0.0.1", srv.port(), "u", "p", {}, {}, 5, 10000, log))
            << logText(log);
        EXPECT_TRUE(s.encrypted());
    }
    std::string got = srv.received();
    EXPECT_NE(got.find("AUTH PLAIN"), std::string::npos) << got;
    EXPECT_EQ(got.find("AUTH LOGIN"), std::string::npos) << got;
    EXPECT_NE(logText(log).find("Discarded data the server sent before the TLS handshake"),
              std::string::npos);
}

TEST(TlsSessionTest, PopStls) {
    const ServerEnv& env = serverEnv();
    // A POP3 peer whose capabilities do not list STLS.
    ScriptedServer noStls(Script()
                              .send("+OK hi\r\n")
                              .line()
                              .send("+OK\r\nUSER\r\n.\r\n")
                              .line()
                              .send("+OK\r\n")
                              .line()
                              .send("+OK\r\n")
                              .line()
                              .send("+OK 0 0\r\n")
                              .line()
                              .send("+OK\r\n")
                              .connection()
                              .send("+OK hi\r\n")
                              .line()
                              .send("+OK\r\nUSER\r\n.\r\n")
                              .drain());
    const struct {
        int port;
        TlsMode mode;
        bool trust, ok, tls;
    } cases[] = {
        {env.pop3Port, TlsMode::StartTlsIfOffered, true, true, true},
        {env.pop3Port, TlsMode::StartTlsRequired, true, true, true},
        {env.pop3Port, TlsMode::StartTlsIfOffered, false, false, false},
        {noStls.port(), TlsMode::StartTlsIfOffered, true, true, false},
        {noStls.port(), TlsMode::StartTlsRequired, true, false, false},
    };
    for (const auto& c : cases) {
        std::optional<TrustTestCa> trust;
        if (c.trust)
            trust.emplace();
        Logger log;
        size_t before = logLines(env.dovecotLog, "Login: user=<bob>").size();
        auto s = popConnect("127.0.0.1", "bob", "bobpw", c.port, 5, 5, log, c.mode);
        ASSERT_EQ(s != nullptr, c.ok) << logText(log);
        if (!s)
            continue;
        EXPECT_EQ(s->encrypted(), c.tls);
        if (c.port == env.pop3Port) {
            EXPECT_TRUE(loggedTls(env.dovecotLog, "Login: user=<bob>", before));
        }
    }
    // Required and not offered: the peer never saw a login.
    EXPECT_EQ(noStls.received().rfind("USER"), noStls.received().find("USER"));
}

// A server that offers STARTTLS and then fails the handshake (it answers in the clear), or
// completes it with a certificate for another host (a man in the middle): the session ends,
// and nothing more goes out in the clear, even in the STARTTLS-if-offered mode.
TEST(TlsSessionTest, FailedStartTlsNeverContinuesInTheClear) {
    const ServerEnv& env = serverEnv();
    TrustTestCa trust;
    const struct {
        const char* name;
        std::string cert, key;
        bool handshake;
    } cases[] = {
        {"no handshake", "", "", false}, // (a peer with a certificate would speak TLS at once)
        {"wrong host", env.wrongHostCert, env.wrongHostKey, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.send("220 peer ESMTP\r\n")
            .line()
            .send("250-peer\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN\r\n")
            .until("STARTTLS\r\n")
            .send("220 go ahead\r\n");
        if (c.handshake)
            script.startTls().drain();
        else
            script.send("250 not TLS at all\r\n").drain();
        ScriptedServer srv(script, "127.0.0.1", c.cert, c.key);
        Logger log;
        {
            SmtpConnImpl s;
            s.setTlsMode(TlsMode::StartTlsIfOffered);
            EXPECT_FALSE(s.connect("127.0.0.1", srv.port(), "u", "p", {}, {}, 5, 5000, log));
        }
        EXPECT_NE(logText(log).find("TLS could not be started after STARTTLS"), std::string::npos)
            << logText(log);
        const std::string got = srv.received();
        const std::string after = got.substr(got.find("STARTTLS\r\n") + 10);
        for (const char* clear : {"EHLO", "AUTH", "QUIT"})
            EXPECT_EQ(after.find(clear), std::string::npos) << clear;
    }
}
