// What the receiving mail manager adds to the POP3 cache: the filter, deletion after a
// transfer, and its own results and log entries. Dovecot, and the scripted peer for a cut
// transfer.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "transport/MailManCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

using namespace norvane;
using namespace norvane::test;
using Script = ScriptedServer::Script;

namespace {

std::vector<std::string> subjects(const MailBundle& b) {
    std::vector<std::string> r;
    for (int i = 0; i < b.count(); ++i)
        r.push_back(headerOf(*b.get(i), "Subject"));
    std::sort(r.begin(), r.end());
    return r;
}

// Three messages named after their subjects, fresh names for every call.
std::map<std::string, std::string> fill(const std::string& user) {
    static int calls = 0;
    clearMailbox(user);
    std::map<std::string, std::string> uidls;
    for (const char* subject : {"keep one", "drop two", "keep three"}) {
        const std::string uidl = std::to_string(std::time(nullptr)) + "." + std::to_string(++calls);
        addMessage(user, uidl,
                   std::string("From: a@test.invalid\r\nSubject: ") + subject + "\r\n\r\nbody\r\n");
        uidls[subject] = uidl;
    }
    return uidls;
}

void useDovecot(MailManCore& m) {
    m.pop.mailHost = "127.0.0.1";
    m.pop.mailPort = serverEnv().pop3Port;
    m.pop.popUsername = "dave";
    m.pop.popPassword = "davepw";
    m.pop.connectTimeoutSec = 5;
    m.pop.startTls = TlsMode::None; // STLS has tests of its own
}

std::vector<std::string> serverUidls(MailManCore& m) {
    std::vector<std::string> u;
    Logger log;
    EXPECT_TRUE(m.getUidls(u, log)) << logText(log);
    std::sort(u.begin(), u.end());
    return u;
}

} // namespace

TEST(MailManReceiveTest, TransferDeletesOnlyWhatTheFilterKeeps) {
    const struct {
        const char* filter;
        std::vector<std::string> fetched;
    } cases[] = {
        {R"(Subject like "*nothing*")", {}},
        {R"(Subject like "keep*")", {"keep one", "keep three"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.filter);
        auto uidls = fill("dave");
        MailManCore m;
        useDovecot(m);
        m.filter = c.filter;
        Logger log;
        auto bundle = m.transferMail(nullptr, log);
        ASSERT_TRUE(bundle) << logText(log);
        EXPECT_EQ(subjects(*bundle), c.fetched);
        EXPECT_EQ(mailboxCount("dave"), 3 - c.fetched.size());
        std::vector<std::string> left;
        for (const auto& [subject, uidl] : uidls)
            if (std::find(c.fetched.begin(), c.fetched.end(), subject) == c.fetched.end())
                left.push_back(uidl);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(serverUidls(m), left);
    }
}

TEST(MailManReceiveTest, CopyHeadersFetchAndDeleteKeepTheServerState) {
    auto uidls = fill("dave");
    MailManCore m;
    useDovecot(m);
    Logger log;
    EXPECT_EQ(m.checkMail(log), 3);
    m.filter = R"(not (Subject contains "drop"))";
    auto copied = m.copyMail(nullptr, log);
    ASSERT_TRUE(copied) << logText(log);
    EXPECT_EQ(subjects(*copied), (std::vector<std::string>{"keep one", "keep three"}));
    auto headers = m.getAllHeaders(1, nullptr, log);
    ASSERT_TRUE(headers);
    EXPECT_EQ(subjects(*headers), subjects(*copied));
    EXPECT_EQ(mailboxCount("dave"), 3u);

    // Fetches by UIDL ignore the filter, skip what is missing and keep the order asked for.
    auto some = m.fetchMultiple({uidls["drop two"], "missing", uidls["keep one"]}, nullptr, log);
    ASSERT_TRUE(some);
    ASSERT_EQ(some->count(), 2);
    EXPECT_EQ(headerOf(*some->get(0), "Subject"), "drop two");
    EXPECT_EQ(headerOf(*some->get(1), "X-UIDL"), uidls["keep one"]);
    auto one = m.fetchEmail(uidls["drop two"], nullptr, log);
    ASSERT_TRUE(one);
    EXPECT_EQ(headerOf(*one, "X-UIDL"), uidls["drop two"]);

    ASSERT_TRUE(m.deleteBundle(*copied, nullptr, log)) << logText(log);
    EXPECT_EQ(serverUidls(m), std::vector<std::string>{uidls["drop two"]});
}

TEST(MailManReceiveTest, EmptyMailboxAndRefusedLogin) {
    clearMailbox("dave");
    MailManCore m;
    useDovecot(m);
    Logger log;
    auto empty = m.copyMail(nullptr, log);
    ASSERT_TRUE(empty) << logText(log);
    EXPECT_EQ(empty->count(), 0);
    EXPECT_NE(logText(log).find("No messages found on the POP3 server."), std::string::npos);

    m.pop.popPassword = "wrong";
    Logger bad;
    EXPECT_FALSE(m.copyMail(nullptr, bad));
    EXPECT_NE(logText(bad).find("Failed to get mail."), std::string::npos);
    EXPECT_EQ(m.checkMail(bad), -1);
    EXPECT_EQ(logText(bad).find("wrong"), std::string::npos); // the password is never logged
}

// A message whose RETR is cut is neither handed back nor deleted; the one before it is
// handed back, and deleted only if the session that numbered it is still there.
TEST(MailManReceiveTest, CutTransferDeletesNothingUnreceived) {
    Script s = popLoggedIn("+OK 2 20\r\n");
    s.line().send("+OK\r\n1 10\r\n2 10\r\n.\r\n");
    s.line().send("+OK\r\n1 a\r\n2 b\r\n.\r\n");
    s.line().send("-ERR no capabilities\r\n"); // CAPA: the fetch goes one by one
    s.line().send("+OK\r\nSubject: 1\r\n\r\nx\r\n.\r\n");
    s.line().send("+OK\r\nSubject: 2\r\n\r\nhalf").close();
    ScriptedServer srv(s);
    MailManCore m;
    m.pop.mailHost = "127.0.0.1";
    m.pop.mailPort = srv.port();
    m.pop.popUsername = "u";
    m.pop.popPassword = "p";
    m.pop.startTls = TlsMode::None; // the script has no CAPA before the login
    Logger log;
    auto bundle = m.transferMail(nullptr, log);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->count(), 1);
    EXPECT_EQ(srv.received().find("DELE"), std::string::npos);
}
