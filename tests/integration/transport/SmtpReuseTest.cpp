// The mail manager's SMTP session kept between send calls: one login for many calls, a new
// session when settings change, the idle time passes or reuse is off, and a transparent
// reconnect when the server has ended the kept session. Logins are counted in Dovecot's log.

#include "ServerEnv.h"

#include "facade/ClsEmail.h"
#include "facade/ClsMailMan.h"

#include <gtest/gtest.h>

#include <thread>

using namespace norvane;
using namespace norvane::test;
using Script = ScriptedServer::Script;

namespace {

size_t count(const std::string& path, std::string_view text) {
    return logLines(path, text).size();
}

bool send(ClsMailMan& mm, const std::string& subject) {
    ClsEmail e;
    e.put_Subject(subject.c_str());
    e.put_From("dave@test.invalid");
    EXPECT_TRUE(e.AddTo("", "x@test.invalid"));
    e.put_Body("b");
    return mm.SendEmail(&e);
}

} // namespace

TEST(SmtpReuseTest, OneSessionServesCallsUntilSomethingEndsIt) {
    const ServerEnv& env = serverEnv();
    TrustTestCa trust;
    ClsMailMan mm;
    mm.put_SmtpHost("127.0.0.1");
    mm.put_SmtpPort(env.submissionPort);
    mm.put_SmtpUsername("dave");
    mm.put_SmtpPassword("davepw");
    EXPECT_EQ(mm.get_SmtpKeepAliveSeconds(), 60);
    const std::string login = "Login: user=<dave>", quit = "(dave)";
    // Each step: what it changes, how many sends, how many new logins they make.
    const struct {
        const char* name;
        std::function<void()> change;
        int sends;
        size_t logins;
    } steps[] = {
        {"first", [] {}, 3, 1},
        {"same settings", [] {}, 2, 0},
        {"method changed", [&] { mm.put_SmtpAuthMethod("LOGIN"); }, 2, 1},
        {"closed", [&] { EXPECT_TRUE(mm.CloseSmtpConnection()); }, 1, 1},
        {"idle too long",
         [&] {
             mm.put_SmtpKeepAliveSeconds(1);
             std::this_thread::sleep_for(std::chrono::milliseconds(1500));
         },
         1, 1},
        {"reuse off", [&] { mm.put_SmtpKeepAliveSeconds(0); }, 2, 2},
    };
    const std::string m = marker("reuse");
    int sent = 0;
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        const size_t before = count(env.dovecotLog, login);
        s.change();
        for (int i = 0; i < s.sends; ++i, ++sent)
            ASSERT_TRUE(send(mm, m)) << mm.get_LastErrorText();
        EXPECT_TRUE(
            waitUntil([&] { return count(env.dovecotLog, login) >= before + s.logins; }, 5));
        EXPECT_EQ(count(env.dovecotLog, login), before + s.logins);
    }
    EXPECT_EQ(waitForSpool(m, static_cast<size_t>(sent)).size(), static_cast<size_t>(sent));
}

// The kept session is gone (the peer closed it after the first message, or answers RSET with
// 421): the next call connects once more and sends, and the caller sees only success.
TEST(SmtpReuseTest, AServerThatEndedTheKeptSessionIsReconnectedBeforeSending) {
    for (const char* rsetReply : {"", "421 4.4.2 idle too long\r\n"}) {
        SCOPED_TRACE(rsetReply);
        auto session = [](Script& s) -> Script& {
            return s.send("220 peer ESMTP\r\n")
                .line()
                .send("250 peer\r\n")
                .line()
                .send("250 ok\r\n")
                .line()
                .send("250 ok\r\n")
                .line()
                .send("354 go\r\n")
                .until("\r\n.\r\n")
                .send("250 queued\r\n");
        };
        Script script;
        session(script);
        if (*rsetReply)
            script.line().send(rsetReply);
        script.close().connection();
        session(script).line().send("221 bye\r\n");
        ScriptedServer srv(script);
        ClsMailMan mm;
        mm.put_SmtpHost("127.0.0.1");
        mm.put_SmtpPort(srv.port());
        ASSERT_TRUE(send(mm, "one")) << mm.get_LastErrorText();
        ASSERT_TRUE(send(mm, "two")) << mm.get_LastErrorText();
        EXPECT_TRUE(mm.CloseSmtpConnection());
        const std::string got = srv.received();
        EXPECT_NE(got.find("subject: two"), std::string::npos) << got;
        EXPECT_EQ(got.find("RSET") != std::string::npos, *rsetReply != '\0') << got;
        EXPECT_NE(got.find("QUIT"), std::string::npos);
    }
}
