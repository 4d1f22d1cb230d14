// A fast POP3 server for the transport benchmark: any user name and password log in to a
// mailbox of 1,000 small messages held in memory (the same messages bench/transport.sh puts
// into Dovecot), answered at once, so that a benchmark measures the client and not the
// server. Only what a fetching client says is understood: CAPA (PIPELINING), USER, PASS, STAT,
// LIST, RETR, NOOP, QUIT; commands that arrive together are answered in one write.
//
//   pop3_server [PORT]   listens on 127.0.0.1 (PORT 0 or none: any free port), prints
//                        "PORT n" and serves every connection on a thread of its own until
//                        killed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "LoopbackServer.h"

namespace {

using bench_server::sendAll;
using bench_server::startsNoCase;

constexpr int kMessages = 1000;

// Each message dot-stuffed as it goes on the wire, with the status line before it and the
// terminator after it, so that a RETR is one send.
std::vector<std::string> makeReplies(size_t& total) {
    std::vector<std::string> replies;
    total = 0;
    for (int i = 0; i < kMessages; ++i) {
        std::string msg = "From: a@test.invalid\r\nSubject: m " + std::to_string(i) + "\r\n\r\n";
        for (int j = 0; j < 20; ++j)
            msg += "A small message line.\r\n";
        total += msg.size();
        replies.push_back("+OK " + std::to_string(msg.size()) + " octets\r\n" + msg + ".\r\n");
    }
    return replies;
}

const std::vector<std::string>* gReplies = nullptr;
size_t gTotal = 0;

// The reply to one command line (without CR LF); false ends the session after it.
bool answer(std::string_view line, std::string& out) {
    if (startsNoCase(line, "RETR ")) {
        int n = std::atoi(std::string(line.substr(5)).c_str());
        if (n >= 1 && n <= kMessages)
            out += (*gReplies)[static_cast<size_t>(n - 1)];
        else
            out += "-ERR no such message\r\n";
    } else if (startsNoCase(line, "STAT")) {
        out += "+OK " + std::to_string(kMessages) + " " + std::to_string(gTotal) + "\r\n";
    } else if (startsNoCase(line, "LIST")) {
        out += "+OK\r\n";
        for (int i = 0; i < kMessages; ++i) {
            const std::string& r = (*gReplies)[static_cast<size_t>(i)];
            out += std::to_string(i + 1) + " " + r.substr(4, r.find(' ', 4) - 4) + "\r\n";
        }
        out += ".\r\n";
    } else if (startsNoCase(line, "CAPA")) {
        out += "+OK\r\nUSER\r\nPIPELINING\r\n.\r\n";
    } else if (startsNoCase(line, "QUIT")) {
        out += "+OK bye\r\n";
        return false;
    } else {
        out += "+OK\r\n"; // USER, PASS, NOOP and anything else
    }
    return true;
}

void serve(int fd) {
    int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool open = sendAll(fd, "+OK fast POP3 server ready\r\n");
    std::string in, out;
    char buf[4096];
    while (open) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        in.append(buf, static_cast<size_t>(n));
        out.clear();
        size_t eol;
        while (open && (eol = in.find("\r\n")) != std::string::npos) {
            open = answer(std::string_view(in).substr(0, eol), out);
            in.erase(0, eol + 2);
        }
        if (!out.empty() && !sendAll(fd, out))
            break;
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    static const std::vector<std::string> replies = makeReplies(gTotal);
    gReplies = &replies;
    return bench_server::listenAndServe("pop3_server", argc > 1 ? std::atoi(argv[1]) : 0, serve);
}
