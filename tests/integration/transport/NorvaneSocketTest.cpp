// The socket against real loopback peers: name handling, refused connects, peers that close,
// read time-outs, and replies split across reads.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "transport/NorvaneSocket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace norvane;
using namespace norvane::test;
using Script = ScriptedServer::Script;

namespace {

// A port on which nothing listens: bound, then closed again.
int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool ipv6Loopback() {
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok;
}

} // namespace

TEST(NorvaneSocketTest, RefusedConnectUsesTheTableText) {
    NorvaneSocket s;
    Logger log;
    bool dns = true;
    EXPECT_FALSE(s.connect("127.0.0.1", closedPort(), log, dns));
    EXPECT_FALSE(dns);
    std::string t = logText(log);
    EXPECT_NE(t.find("Connect function failed."), std::string::npos);
    EXPECT_NE(t.find("WSAECONNREFUSED No connection could be made because the target machine "
                     "actively refused it."),
              std::string::npos);
}

TEST(NorvaneSocketTest, RepliesArriveWholeOverEveryLoopbackName) {
    // A name in capitals with blanks around it, IPv6 (where the machine has it), and a reply
    // longer than one read that arrives in parts with the next one behind it.
    const std::string big(150000, 'z');
    const struct {
        std::string host;
        Script script;
        std::vector<std::string> lines;
    } cases[] = {
        {"  LocalHost\r\n", Script().send("hello\r\n"), {"hello\r\n"}},
        {"::1", Script().send("v6\r\n"), {"v6\r\n"}},
        {"127.0.0.1",
         Script().send(big).sleep(0.2).send("\r\nnext\r\n"),
         {big + "\r\n", "next\r\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        if (c.host == "::1" && !ipv6Loopback())
            continue;
        ScriptedServer srv(c.script, c.host == "::1" ? "::1" : "127.0.0.1");
        NorvaneSocket s;
        Logger log;
        bool dns = false;
        ASSERT_TRUE(s.connect(c.host, srv.port(), log, dns)) << logText(log);
        for (const std::string& want : c.lines) {
            std::string line;
            ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
            EXPECT_EQ(line, want);
        }
    }
    if (!ipv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback here: the ::1 row did not run";
}

TEST(NorvaneSocketTest, UnknownNameSetsDnsFailed) {
    NorvaneSocket s;
    Logger log;
    bool dns = false;
    EXPECT_FALSE(s.connect("no-such-host.invalid", 25, log, dns));
    EXPECT_TRUE(dns);
    EXPECT_NE(logText(log).find("Cannot get host by name."), std::string::npos);
}

TEST(NorvaneSocketTest, ConnectTimeoutAppliesToAPeerThatNeverAccepts) {
    // A listener with a full backlog drops further SYNs, so the connect can only time out.
    int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(l, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        (void)::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    NorvaneSocket s;
    s.setConnectTimeoutSec(1);
    Logger log;
    bool dns = false;
    bool ok = s.connect("127.0.0.1", ntohs(a.sin_port), log, dns);
    for (int f : fillers)
        ::close(f);
    ::close(l);
    EXPECT_FALSE(ok);
    EXPECT_NE(logText(log).find("socket is not ready for writing"), std::string::npos);
}

TEST(NorvaneSocketTest, PeerCloseIsReportedAndLaterSendsFail) {
    ScriptedServer srv(Script().send("bye\r\n").close());
    NorvaneSocket s;
    Logger log;
    bool dns = false;
    ASSERT_TRUE(s.connect("127.0.0.1", srv.port(), log, dns));
    std::string line;
    ASSERT_TRUE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_FALSE(s.receiveUntil(line, "\r\n", 1000, false, log, nullptr));
    EXPECT_NE(logText(log).find("The peer has closed the socket (TCP) connection"),
              std::string::npos);
    log.clearLog();
    EXPECT_FALSE(s.sendBytes("x", 1, log, nullptr));
    EXPECT_NE(logText(log).find("No socket exists for sending"), std::string::npos);
}

TEST(NorvaneSocketTest, ZeroByteSendFailsSilently) {
    ScriptedServer srv(Script().sleep(0.5));
    NorvaneSocket s;
    Logger log;
    bool dns = false;
    ASSERT_TRUE(s.connect("127.0.0.1", srv.port(), log, dns));
    log.clearLog();
    EXPECT_FALSE(s.sendBytes("", 0, log, nullptr));
    EXPECT_EQ(logText(log), "");
}

TEST(NorvaneSocketTest, ByteReadersStopAtTheirTerminators) {
    ScriptedServer srv(Script().send("a: b\r\nc: d\r\n\r\nline\nrest\r\n").sleep(0.5));
    NorvaneSocket s;
    Logger log;
    bool dns = false;
    ASSERT_TRUE(s.connect("127.0.0.1", srv.port(), log, dns));
    std::string header, line, rest;
    ASSERT_TRUE(s.receiveHeaderBlock(header, log));
    EXPECT_EQ(header, "a: b\r\nc: d\r\n\r\n");
    ASSERT_TRUE(s.receiveCrLfLine(line, log));
    EXPECT_EQ(line, "line\nrest\r\n");
}
