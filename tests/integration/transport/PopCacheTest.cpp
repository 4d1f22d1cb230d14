// The POP3 cache against Dovecot (plain and TLS) and, for cut connections and counted
// commands, against the scripted peer.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"
#include "transport/PopCache.h"
#include "transport/PopSessions.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>

using namespace norvane;
using namespace norvane::test;
using Script = ScriptedServer::Script;

namespace {

// A message of exactly size bytes.
std::string message(const std::string& subject, size_t size) {
    std::string m = "From: a@test.invalid\r\nSubject: " + subject + "\r\n\r\n";
    while (m.size() + 9 < size)
        m += "body 123\r\n";
    return m + std::string(size - m.size() - 2, 'x') + "\r\n";
}

} // namespace

TEST(PopCacheTest, FetchesWithLimitsCachesHeadersAndDeletesByUidl) {
    const ServerEnv& env = serverEnv();
    TrustTestCa ca;
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "tls" : "plain");
        const std::string user = tls ? "erin" : "dave";
        clearMailbox(user);
        // Fresh names: Dovecot keeps the sizes of earlier messages that had the same name.
        const std::string run = std::to_string(std::time(nullptr)) + ".";
        const std::string small = run + "small", large = run + "large", medium = run + "medium";
        const std::map<std::string, size_t> sizes = {{small, 500}, {large, 5000}, {medium, 700}};
        for (const auto& [uidl, size] : sizes)
            addMessage(user, uidl, message(uidl, size));
        PopCache cache;
        cache.configure(tls, tls ? "localhost" : "127.0.0.1", user, user + "pw",
                        tls ? env.pop3sPort : env.pop3Port, 5, 5);
        Logger log;
        std::vector<std::string> order;
        ASSERT_TRUE(cache.getUidls(order, log)) << logText(log);
        ASSERT_EQ(order.size(), 3u);
        // MaxCount 2 looks at the first two in server order; SizeLimit skips the large one.
        std::vector<std::string> want;
        for (size_t i = 0; i < 2; ++i)
            if (sizes.at(order[i]) <= 1000)
                want.push_back(order[i]);

        const TempDir dir;
        const std::string logPath = dir.file("received.txt");
        PopFetchOptions opts;
        opts.receivedLogPath = logPath;
        auto bundle = cache.fetchAll(1000, 2, opts, nullptr, log);
        ASSERT_TRUE(bundle) << logText(log);
        std::vector<std::string> got;
        for (int i = 0; i < bundle->count(); ++i)
            got.push_back(headerOf(*bundle->get(i), "X-UIDL"));
        EXPECT_EQ(got, want);
        const std::string received = readFile(logPath);
        EXPECT_EQ(countOf(received, "--BEGIN RECEIVED NORVANE EMAIL--\n"), want.size());
        EXPECT_NE(received.find("\n--END RECEIVED NORVANE EMAIL--\n"), std::string::npos);

        auto headers = cache.fetchAllHeaders(0, 10, nullptr, log);
        ASSERT_TRUE(headers);
        ASSERT_EQ(headers->count(), 3);
        for (int i = 0; i < 3; ++i) {
            const Email2& h = *headers->get(i);
            EXPECT_EQ(headerOf(h, "NVZ-HeaderOnly"), "true");
            EXPECT_EQ(headerOf(h, "Subject"), headerOf(h, "X-UIDL"));
            EXPECT_EQ(headerOf(h, "NVZ-Size"), std::to_string(sizes.at(headerOf(h, "X-UIDL"))));
        }
        EXPECT_EQ(cache.sizeOfUidls({small, medium, "none"}), 1200);

        // A UIDL the server does not list is reported; the others are deleted.
        Logger del;
        ASSERT_TRUE(cache.deleteUidls({large, "9999.gone", small}, nullptr, true, del))
            << logText(del);
        EXPECT_NE(logText(del).find("Failed to find UIDL after getAllUidls"), std::string::npos);
        EXPECT_EQ(mailboxCount(user), 1u);
        order.clear();
        ASSERT_TRUE(cache.getUidls(order, log));
        EXPECT_EQ(order, std::vector<std::string>{medium});
    }
}

TEST(PopCacheTest, SecondHeaderListingSendsTopOnlyForNewMessages) {
    Script s = popLoggedIn();
    s.line()
        .send("+OK\r\n1 100\r\n2 200\r\n.\r\n")
        .line()
        .send("+OK\r\n1 a\r\n2 b\r\n.\r\n")
        .line()
        .send("+OK\r\nSubject: one\r\n\r\n.\r\n")
        .line()
        .send("+OK\r\nSubject: two\r\n\r\n.\r\n")
        .line()
        .send("+OK\r\n1 100\r\n2 200\r\n3 300\r\n.\r\n")
        .line()
        .send("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n")
        .line()
        .send("+OK\r\nSubject: three\r\n\r\n.\r\n")
        .line()
        .send("+OK\r\n");
    ScriptedServer srv(s);
    Logger log;
    {
        PopCache cache;
        cache.configure(false, "127.0.0.1", "u", "p", srv.port(), 5, 5);
        ASSERT_TRUE(cache.fetchAllHeaders(0, 10, nullptr, log)) << logText(log);
        auto again = cache.fetchAllHeaders(0, 10, nullptr, log);
        ASSERT_TRUE(again) << logText(log);
        ASSERT_EQ(again->count(), 3);
        EXPECT_EQ(headerOf(*again->get(0), "Subject"), "one");
        EXPECT_EQ(headerOf(*again->get(2), "X-UIDL"), "c");
    }
    const std::string wire = srv.received();
    EXPECT_EQ(countOf(wire, "TOP "), 3u) << wire;
    EXPECT_EQ(countOf(wire, "TOP 3 1\r\n"), 1u);
}

TEST(PopCacheTest, FetchStopsAtTheFirstFailedMessage) {
    Script s = popLoggedIn();
    s.line().send("+OK\r\n1 10\r\n2 10\r\n3 10\r\n4 10\r\n5 10\r\n.\r\n");
    s.line().send("+OK\r\n1 a\r\n2 b\r\n3 c\r\n4 d\r\n5 e\r\n.\r\n");
    s.line().send("-ERR no capabilities\r\n"); // CAPA: the fetch goes one by one
    s.line().send("+OK\r\nSubject: 1\r\n\r\nx\r\n.\r\n");
    s.line().send("+OK\r\nSubject: 2\r\n\r\nx\r\n.\r\n");
    s.line().send("+OK\r\nSubject: 3\r\n\r\nx").close();
    ScriptedServer srv(s);
    PopCache cache;
    cache.configure(false, "127.0.0.1", "u", "p", srv.port(), 5, 5);
    Logger log;
    auto bundle = cache.fetchAll(1000, 10, {}, nullptr, log);
    ASSERT_TRUE(bundle) << logText(log);
    EXPECT_EQ(bundle->count(), 2);
}

// After a lost session the number is found again by UIDL: another client may have expunged
// a message meanwhile, and the old number would then delete the wrong one.
TEST(PopCacheTest, DeleteAfterReconnectFollowsTheUidl) {
    const struct {
        const char* secondListing;
        bool ok;
        const char* wireEnd;
    } cases[] = {
        {"+OK\r\n1 b\r\n2 c\r\n.\r\n", true, "DELE 1\r\nQUIT\r\n"},
        {"+OK\r\n1 a\r\n2 c\r\n.\r\n", false, "UIDL\r\nQUIT\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.secondListing);
        Script s;
        s.popLogin().line().send("+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n").line().close();
        s.connection().popLogin().line().send(c.secondListing);
        if (c.ok)
            s.line().send("+OK\r\n");
        s.line().send("+OK\r\n");
        ScriptedServer srv(s);
        Logger log;
        {
            PopCache cache;
            cache.configure(false, "127.0.0.1", "u", "p", srv.port(), 5, 5);
            std::vector<std::string> uidls;
            ASSERT_TRUE(cache.getUidls(uidls, log)) << logText(log);
            EXPECT_EQ(cache.deleteByNumber(2, nullptr, log), c.ok) << logText(log);
        }
        const std::string wire = srv.received();
        EXPECT_EQ(countOf(wire, "DELE 2\r\n"), 1u) << wire;
        EXPECT_TRUE(wire.ends_with(c.wireEnd)) << wire;
    }
}

// The same against Dovecot with two real clients: the server cuts our session (our own close
// would forget the numbers, and deleteByNumber would refuse), and another client expunges a
// message before we reconnect.
TEST(PopCacheTest, DeleteByNumberFollowsTheUidlWhenAnotherClientExpunged) {
    const ServerEnv& env = serverEnv();
    // A second client: DELE of that number (none for 0), then the UIDLs it lists, and QUIT.
    auto otherClient = [&](int number) {
        Logger log;
        std::vector<int> numbers;
        std::vector<std::string> uidls;
        auto s = popConnect("127.0.0.1", "dave", "davepw", env.pop3Port, 5, 5, log);
        EXPECT_TRUE(s && (number == 0 || s->dele(number, log)) && s->uidl(numbers, uidls, log) &&
                    s->quit(log))
            << logText(log);
        return uidls;
    };
    const struct {
        int otherDeletes;
        bool ok;
        std::vector<size_t> left; // positions in the first listing
    } cases[] = {{1, true, {2}}, {2, false, {0, 2}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.otherDeletes);
        clearMailbox("dave");
        for (int i = 1; i <= 3; ++i) {
            const std::string uidl = marker("two-clients");
            addMessage("dave", uidl, "From: a@test.invalid\r\nSubject: " + uidl + "\r\n\r\nx\r\n");
        }
        PopCache cache;
        cache.configure(false, "127.0.0.1", "dave", "davepw", env.pop3Port, 5, 5);
        Logger log;
        std::vector<std::string> listed, want;
        ASSERT_TRUE(cache.getUidls(listed, log)) << logText(log);
        ASSERT_EQ(listed.size(), 3u);
        ASSERT_EQ(runCommand("doveadm -c " + shellQuote(env.stateDir + "/dovecot/dovecot.conf") +
                             " kick dave >/dev/null"),
                  0);
        otherClient(c.otherDeletes);
        EXPECT_EQ(cache.deleteByNumber(2, nullptr, log), c.ok) << logText(log);
        cache.close();
        for (size_t i : c.left)
            want.push_back(listed[i]);
        EXPECT_EQ(otherClient(0), want);
    }
}

// Deletions are committed by QUIT every 500 DELE commands; the next session renumbers the
// messages, and the map is reloaded so that each UIDL is deleted by its new number.
TEST(PopCacheTest, DeletionsAreCommittedInBatchesOf500) {
    auto listing = [](int first, int last) {
        std::string t = "+OK\r\n";
        for (int u = first; u <= last; ++u)
            t += std::to_string(u - first + 1) + " u" + std::to_string(u) + "\r\n";
        return t + ".\r\n";
    };
    Script s;
    for (int first : {1, 501, 1001}) {
        (first == 1 ? s : s.connection()).popLogin().line().send(listing(first, 1200));
        for (int i = first; i <= std::min(first + 499, 1200); ++i)
            s.line().send("+OK\r\n");
        s.line().send("+OK\r\n");
    }
    ScriptedServer srv(s);
    std::vector<std::string> uidls;
    for (int u = 1; u <= 1200; ++u)
        uidls.push_back("u" + std::to_string(u));
    PopCache cache;
    cache.configure(false, "127.0.0.1", "u", "p", srv.port(), 5, 5);
    Logger log;
    EXPECT_TRUE(cache.deleteUidls(uidls, nullptr, true, log));
    const std::string wire = srv.received();
    EXPECT_EQ(countOf(wire, "DELE "), 1200u);
    EXPECT_EQ(countOf(wire, "QUIT\r\n"), 3u);
    // Each batch starts again at number 1 and ends where its session's listing ends.
    EXPECT_EQ(countOf(wire, "DELE 1\r\n"), 3u);
    EXPECT_EQ(countOf(wire, "DELE 501\r\n"), 0u);
    EXPECT_TRUE(wire.ends_with("DELE 200\r\nQUIT\r\n"));
}
