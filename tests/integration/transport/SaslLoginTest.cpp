// Logins beyond user name and password: APOP against Dovecot's POP3 service, and OAuth 2.0
// bearer tokens (XOAUTH2, OAUTHBEARER) for SMTP submission and POP3 against Dovecot, which
// checks the JWTs locally; scripted peers for the exact wire bytes and the error exchange.

#include "ServerEnv.h"

#include "facade/ClsMailMan.h"
#include "transport/PopSessions.h"
#include "transport/SaslBase64.h"
#include "transport/SmtpConnImpl.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;
using Script = ScriptedServer::Script;

namespace {

bool has(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

} // namespace

TEST(SaslLoginTest, ApopUsesTheGreetingsTimeStampAndNeverFallsBackToPass) {
    const ServerEnv& env = serverEnv();
    for (const char* pw : {"bobpw", "wrong"}) {
        ClsMailMan mm;
        mm.put_MailHost("127.0.0.1");
        mm.put_MailPort(env.pop3Port);
        mm.put_PopUsername("bob");
        mm.put_PopPassword(pw);
        mm.put_PopTls("none");
        mm.put_PopAuthMethod("apop");
        const size_t before = logLines(env.dovecotLog, "Login: user=<bob>, method=APOP").size();
        const bool ok = pw == std::string("bobpw");
        EXPECT_EQ(mm.CheckMail() >= 0, ok) << mm.get_LastErrorText();
        EXPECT_EQ(logLines(env.dovecotLog, "Login: user=<bob>, method=APOP").size(), before + ok);
    }
    ScriptedServer srv(Script().send("+OK no stamp here\r\n").line().send("+OK\r\n"));
    Logger log;
    EXPECT_EQ(popConnect("127.0.0.1", "u", "p", srv.port(), 5, 5, log, TlsMode::None,
                         PopAuth{PopAuth::Method::Apop, {}}),
              nullptr);
    EXPECT_TRUE(has(logText(log), "greeting has no time stamp")) << logText(log);
    EXPECT_EQ(srv.received(), "QUIT\r\n");
}

TEST(SaslLoginTest, AccessTokensLogInToSubmissionAndPop3) {
    const ServerEnv& env = serverEnv();
    TrustTestCa trust;
    const struct {
        bool smtp;
        const char* method;
        bool goodToken;
        const char* logged; // the mechanism Dovecot logs
    } cases[] = {
        {true, "", true, "XOAUTH2"},
        {true, "OAUTHBEARER", true, "OAUTHBEARER"},
        {true, "XOAUTH2", false, ""},
        {false, "", true, "XOAUTH2"},
        {false, "OAUTHBEARER", true, "OAUTHBEARER"},
        {false, "OAUTHBEARER", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.smtp ? "smtp " : "pop3 ") + c.method);
        const std::string& token = c.goodToken ? env.oauthToken : env.oauthBadToken;
        ClsMailMan mm;
        mm.put_OAuth2AccessToken(token.c_str());
        mm.put_SmtpHost("127.0.0.1");
        mm.put_SmtpPort(env.submissionPort);
        mm.put_SmtpUsername(env.oauthUser.c_str());
        mm.put_SmtpAuthMethod(c.method);
        mm.put_MailHost("127.0.0.1");
        mm.put_MailPort(env.pop3Port);
        mm.put_PopUsername(env.oauthUser.c_str());
        mm.put_PopAuthMethod(c.method);
        const std::string login = "Login: user=<" + env.oauthUser + ">, method=" + c.logged;
        const size_t before = logLines(env.dovecotLog, login).size();
        EXPECT_EQ(c.smtp ? mm.VerifySmtpLogin() : mm.VerifyPopLogin(), c.goodToken)
            << mm.get_LastErrorText();
        const std::string log = mm.get_LastErrorText();
        EXPECT_FALSE(has(log, token));
        if (c.goodToken) {
            EXPECT_TRUE(
                waitUntil([&] { return logLines(env.dovecotLog, login).size() > before; }, 5));
        } else {
            EXPECT_TRUE(has(log, "oauth_error")) << log; // the server's reasons, decoded
        }
    }
}

// The bytes of both mechanisms, and the answer to an error challenge: an empty line for
// XOAUTH2 (POP3, in the AUTH line itself, short enough), "AQ==" for OAUTHBEARER (SMTP).
TEST(SaslLoginTest, TokenMechanismsOnTheWire) {
    const std::string challenge = "+ " + sasl::base64Encode("{\"status\":\"401\"}") + "\r\n";
    ScriptedServer pop(Script()
                           .send("+OK hi\r\n")
                           .line()
                           .send(challenge)
                           .line()
                           .send("-ERR [AUTH] denied\r\n")
                           .line()
                           .send("+OK bye\r\n"));
    Logger log;
    EXPECT_EQ(popConnect("127.0.0.1", "u", {}, pop.port(), 5, 5, log, TlsMode::None,
                         PopAuth{PopAuth::Method::XOAuth2, "tok"}),
              nullptr);
    EXPECT_TRUE(has(logText(log), "{\"status\":\"401\"}")) << logText(log);
    EXPECT_EQ(pop.received(), "AUTH XOAUTH2 " +
                                  sasl::base64Encode("user=u\x01"
                                                     "auth=Bearer tok\x01\x01") +
                                  "\r\n\r\nQUIT\r\n");

    ScriptedServer smtp(Script()
                            .send("220 peer ESMTP\r\n")
                            .line()
                            .send("250-peer\r\n250 AUTH PLAIN OAUTHBEARER\r\n")
                            .line()
                            .send("334 " + challenge.substr(2))
                            .line()
                            .send("535 5.7.8 denied\r\n")
                            .line()
                            .send("221 bye\r\n"));
    {
        SmtpConnImpl s;
        s.setOAuthToken("tok");
        EXPECT_FALSE(s.connect("127.0.0.1", smtp.port(), "u,x", {}, {}, {}, 5, 5000, log));
        EXPECT_FALSE(has(s.transcript().str(), "tok"));
    }
    const std::string got = smtp.received();
    const std::string bearer =
        "n,a=u=2Cx,\x01host=127.0.0.1\x01port=" + std::to_string(smtp.port()) +
        "\x01"
        "auth=Bearer tok\x01\x01";
    EXPECT_TRUE(has(got, "AUTH OAUTHBEARER " + sasl::base64Encode(bearer) + "\r\nAQ==\r\n")) << got;
}
