// POP3 against a scripted peer: cut and stalled messages, odd replies, and what goes on the
// wire for unusual arguments.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "transport/PopSessions.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace norvane;
using namespace norvane::test;
using Script = ScriptedServer::Script;

namespace {

std::unique_ptr<PopConnImpl> login(int port, Logger& log, uint32_t readSec = 5) {
    return popConnect("127.0.0.1", "u", "p", port, readSec, 5, log);
}

} // namespace

TEST(PopFaultTest, LowerCaseStatusIsAccepted) {
    ScriptedServer srv(popLoggedIn("+ok 3 1200\r\n"));
    Logger log;
    auto pop = login(srv.port(), log);
    ASSERT_TRUE(pop) << logText(log);
}

TEST(PopFaultTest, DropInRetrFails) {
    ScriptedServer srv(popLoggedIn().line().send("+OK 500 octets\r\nFrom: x\r\n\r\npart").close());
    Logger log;
    auto pop = login(srv.port(), log);
    ASSERT_TRUE(pop);
    std::string raw;
    EXPECT_FALSE(pop->retr(raw, 1, log, nullptr));
    EXPECT_TRUE(raw.empty());
    EXPECT_NE(logText(log).find("Failed to fetch message data."), std::string::npos);
}

TEST(PopFaultTest, StalledMessageIsNotHandedOutAsComplete) {
    // The written receiveUntil returns the partial text as success on a time-out; a later
    // DELE would then lose the rest of the message.
    ScriptedServer srv(popLoggedIn().line().send("+OK\r\nFrom: x\r\n\r\nfirst half\r\n").sleep(4));
    Logger log;
    auto pop = login(srv.port(), log, 1);
    ASSERT_TRUE(pop);
    std::string raw;
    EXPECT_FALSE(pop->retr(raw, 1, log, nullptr));
    EXPECT_TRUE(raw.empty());
    std::string t = logText(log);
    EXPECT_NE(t.find("Incomplete data at read timeout"), std::string::npos) << t;
    EXPECT_NE(t.find("partial_bytes: 23"), std::string::npos) << t;
}

TEST(PopFaultTest, DrippingServerFailsWithinTheDeadline) {
    // Each byte arrives within the 1 s read time-out. The greeting must be whole within two
    // read time-outs; a body must bring 4096 bytes a second over each such window.
    struct Case {
        const char* name;
        Script script;
    };
    const Case cases[] = {
        {"greeting", Script().drip("+OK " + std::string(200, 'x') + "\r\n", 0.3)},
        {"RETR body", popLoggedIn().line().send("+OK\r\n").drip(
                          "Subject: drip\r\n\r\n" + std::string(200, 'x'), 0.3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer srv(c.script);
        Logger log;
        auto t0 = std::chrono::steady_clock::now();
        {
            auto pop = login(srv.port(), log, 1);
            if (pop) {
                t0 = std::chrono::steady_clock::now();
                std::string raw;
                EXPECT_FALSE(pop->retr(raw, 1, log, nullptr));
                EXPECT_TRUE(raw.empty());
            }
        } // QUIT goes without a second wait
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(),
                  3.0);
        std::string t = logText(log);
        EXPECT_NE(t.find("Socket read deadline exceeded"), std::string::npos) << t;
        EXPECT_NE(t.find("deadlineMS: 2000"), std::string::npos) << t;
    }
}

TEST(PopFaultTest, EndlessListingsStopAtTheCap) {
    // 2,000,000 entries, twice the cap; the session is closed since the rest is unread.
    for (const char* command : {"LIST", "UIDL"}) {
        SCOPED_TRACE(command);
        std::string entry = std::string(command) == "LIST" ? "%d 100\r\n" : "%d uid-%d\r\n";
        ScriptedServer srv(popLoggedIn().line().send("+OK\r\n").seq(entry, 2000000).send(".\r\n"));
        Logger log;
        auto pop = login(srv.port(), log);
        ASSERT_TRUE(pop);
        std::vector<int> numbers;
        std::vector<long> sizes;
        std::vector<std::string> uidls;
        EXPECT_FALSE(std::string(command) == "LIST" ? pop->list(numbers, sizes, log)
                                                    : pop->uidl(numbers, uidls, log));
        EXPECT_EQ(numbers.size(), 1000000u);
        EXPECT_NE(logText(log).find("POP3 listing exceeds the limit"), std::string::npos);
        EXPECT_FALSE(pop->isConnected());
    }
}

TEST(PopFaultTest, EmptyMessageAndTrailingBlankLinesArriveUnchanged) {
    ScriptedServer srv(popLoggedIn()
                           .line()
                           .send("+OK 0 octets\r\n.\r\n")
                           .line()
                           .send("+OK\r\nSubject: s\r\n\r\nbody\r\n\r\n\r\n.\r\n")
                           .line()
                           .send("+OK\r\nSubject: s\r\n\r\nbody\r\n\r\n.\r\n"));
    Logger log;
    auto pop = login(srv.port(), log);
    ASSERT_TRUE(pop);
    std::string raw;
    ASSERT_TRUE(pop->retr(raw, 1, log, nullptr)) << logText(log);
    EXPECT_EQ(raw, ".\r\n");
    EXPECT_EQ(PopConnImpl::messageText(raw), "");
    // Empty lines at the end belong to the message: nothing before the terminator goes.
    ASSERT_TRUE(pop->retr(raw, 2, log, nullptr));
    EXPECT_EQ(PopConnImpl::messageText(raw), "Subject: s\r\n\r\nbody\r\n\r\n\r\n");
    ASSERT_TRUE(pop->retr(raw, 3, log, nullptr));
    EXPECT_EQ(PopConnImpl::messageText(raw), "Subject: s\r\n\r\nbody\r\n\r\n");
}

TEST(PopFaultTest, AnnouncedSizeIsOnlyAHint) {
    // Sizes that lie both ways, and one too large for any message: the text decides.
    ScriptedServer srv(
        popLoggedIn()
            .line()
            .send("+OK 99999999999999 octets\r\nSubject: a\r\n\r\nx\r\n.\r\n")
            .line()
            .send("+OK 3 octets\r\n")
            .flood("0123456789abcdef0123456789abcdef0123456789abcdef01234\r\n", 40000)
            .send(".\r\n")
            .line()
            .send("+OK -5 octets\r\nSubject: c\r\n\r\n.\r\n"));
    Logger log;
    auto pop = login(srv.port(), log);
    ASSERT_TRUE(pop);
    std::string raw;
    ASSERT_TRUE(pop->retr(raw, 1, log, nullptr)) << logText(log);
    EXPECT_EQ(raw, "Subject: a\r\n\r\nx\r\n.\r\n");
    ASSERT_TRUE(pop->retr(raw, 2, log, nullptr)) << logText(log);
    EXPECT_EQ(raw.size(), 40000u * 55 + 3);
    EXPECT_TRUE(raw.ends_with("01234\r\n.\r\n"));
    ASSERT_TRUE(pop->retr(raw, 3, log, nullptr)) << logText(log);
    EXPECT_EQ(raw, "Subject: c\r\n\r\n.\r\n");
}

TEST(PopFaultTest, WireFormsOfTopEmptyPasswordAndQuit) {
    ScriptedServer srv(popLoggedIn("+OK 1 10\r\n")
                           .line()
                           .send("+OK\r\nSubject: s\r\n\r\n.\r\n")
                           .line()
                           .send("+OK deleted\r\n")
                           .line()
                           .send("+OK bye\r\n"));
    {
        Logger log;
        auto pop = popConnect("127.0.0.1", "user", "", srv.port(), 5, 5, log);
        ASSERT_TRUE(pop) << logText(log);
        std::string raw;
        ASSERT_TRUE(pop->top(1, 0, raw, log));
        ASSERT_TRUE(pop->dele(1, log));
    }
    EXPECT_EQ(srv.received(), "USER user\r\nPASS\r\nSTAT\r\nTOP 1 1\r\nDELE 1\r\nQUIT\r\n");
}

TEST(PopFaultTest, CredentialsWithLineBreaksAreNeverSent) {
    ScriptedServer srv(Script().send("+OK ready\r\n").drain());
    {
        Logger log;
        EXPECT_FALSE(popConnect("127.0.0.1", "u\r\nDELE 1", "p", srv.port(), 2, 5, log));
        EXPECT_NE(logText(log).find("contains CR, LF or NUL"), std::string::npos);
        Logger log2;
        EXPECT_FALSE(popConnect("127.0.0.1", "u", "p\nDELE 1", srv.port(), 2, 5, log2));
    }
    // Only the QUIT of the session that was greeted.
    EXPECT_EQ(srv.received(), "QUIT\r\n");
}

TEST(PopFaultTest, GreetingErrorAndSilence) {
    ScriptedServer bad(Script().send("-ERR unavailable\r\n"));
    Logger log;
    EXPECT_FALSE(login(bad.port(), log));
    EXPECT_NE(logText(log).find("Failed to get POP server's hello"), std::string::npos);
    ScriptedServer silent(Script().sleep(4));
    Logger log2;
    EXPECT_FALSE(login(silent.port(), log2, 1));
    EXPECT_NE(logText(log2).find("Socket read timeout"), std::string::npos);
}

TEST(PopFaultTest, TlsServerWithOnlyOldVersionsIsRefused) {
    const ServerEnv& env = serverEnv();
    TrustTestCa ca;
    for (const char* version : {"1.0", "1.1"}) {
        SCOPED_TRACE(version);
        ScriptedServer srv(Script().send("+OK old tls\r\n").line(), "127.0.0.1", env.serverCert,
                           env.serverKey, version);
        Logger log;
        EXPECT_FALSE(popTlsConnect("127.0.0.1", "u", "p", srv.port(), 5, 5, log));
        std::string t = logText(log);
        EXPECT_NE(t.find("The server does not offer TLS 1.2 or 1.3; older protocol versions are "
                         "refused"),
                  std::string::npos)
            << t;
        EXPECT_NE(t.find("Failed to establish channel to Secure POP3 server"), std::string::npos);
        EXPECT_EQ(srv.received(), "");
    }
}

TEST(PopFaultTest, RetrManyWithoutPipeliningWaitsForEachReply) {
    // CAPA refused: one RETR at a time, so the refusal of the first stops the call before a
    // second RETR is written.
    ScriptedServer srv(popLoggedIn()
                           .line()
                           .send("-ERR unknown command\r\n")
                           .line()
                           .send("-ERR no such message\r\n")
                           .line()
                           .send("+OK bye\r\n"));
    Logger log;
    {
        auto pop = login(srv.port(), log);
        ASSERT_TRUE(pop);
        std::vector<std::string> out;
        EXPECT_FALSE(pop->retrMany({1, 2}, out, log, nullptr));
        EXPECT_TRUE(out.empty());
        bool pipelines = true;
        EXPECT_TRUE(pop->serverPipelines(pipelines, log)); // remembered, not asked again
        EXPECT_FALSE(pipelines);
    }
    EXPECT_EQ(srv.received(), "USER u\r\nPASS p\r\nSTAT\r\nCAPA\r\nRETR 1\r\nQUIT\r\n");
}

TEST(PopFaultTest, PipelinedRetrCutOffReturnsOnlyCompleteMessages) {
    // The peer answers only once all three commands are in: a client that waited for each
    // reply would never get one.
    ScriptedServer srv(popLoggedIn()
                           .line()
                           .send("+OK\r\nUSER\r\nPIPELINING\r\n.\r\n")
                           .until("RETR 3\r\n")
                           .send("+OK 20 octets\r\nSubject: a\r\n\r\n..x\r\n.\r\n"
                                 "+OK\r\nSubject: b\r\n\r\nhalf")
                           .close());
    Logger log;
    auto pop = login(srv.port(), log);
    ASSERT_TRUE(pop);
    std::vector<std::string> out;
    EXPECT_FALSE(pop->retrMany({1, 2, 3}, out, log, nullptr));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0], "Subject: a\r\n\r\n..x\r\n.\r\n");
    EXPECT_NE(logText(log).find("Failed to fetch message data."), std::string::npos);
    EXPECT_FALSE(pop->isConnected());
    EXPECT_EQ(srv.received(), "USER u\r\nPASS p\r\nSTAT\r\nCAPA\r\nRETR 1\r\nRETR 2\r\nRETR 3\r\n");
}
