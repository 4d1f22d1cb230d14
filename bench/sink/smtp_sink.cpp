// A fast SMTP sink for the transport benchmark: it says just enough SMTP for a client that
// sends mail (greeting, EHLO/HELO, MAIL, RCPT, DATA, RSET, NOOP, QUIT), throws the message text
// away and answers at once, so that a benchmark measures the client and not the server. It
// offers PIPELINING: commands that arrive together are answered together, and text that
// follows DATA in the same read is taken as message text. The
// recording sink of the integration tests stays the place where bytes are checked.
//
//   smtp_sink [PORT]     listens on 127.0.0.1 (PORT 0 or none: any free port), prints
//                        "PORT n" and serves every connection on a thread of its own until
//                        killed. Messages received so far are counted in "MESSAGES n" lines
//                        on stderr when a connection ends.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "LoopbackServer.h"

namespace {

using bench_server::sendAll;
using bench_server::startsNoCase;

std::atomic<long> gMessages{0};

// One command line (without CR LF); the reply is appended to out. False ends the session.
bool answer(std::string_view line, std::string& out, bool& inData) {
    if (startsNoCase(line, "EHLO")) {
        out += "250-sink.test\r\n250-8BITMIME\r\n250-PIPELINING\r\n250 SIZE 0\r\n";
    } else if (startsNoCase(line, "DATA")) {
        out += "354 End data with <CR><LF>.<CR><LF>\r\n";
        inData = true;
    } else if (startsNoCase(line, "QUIT")) {
        out += "221 Bye\r\n";
        return false;
    } else if (startsNoCase(line, "HELO") || startsNoCase(line, "MAIL") ||
               startsNoCase(line, "RCPT") || startsNoCase(line, "RSET") ||
               startsNoCase(line, "NOOP")) {
        out += "250 OK\r\n";
    } else {
        out += "502 Command not implemented\r\n";
    }
    return true;
}

void serve(int fd) {
    int one = 1;
    (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string in, out = "220 sink.test ESMTP fast sink\r\n";
    bool inData = false;
    bool open = sendAll(fd, out);
    // In DATA the bytes are scanned for the end marker and dropped; the CR LF that ended the
    // DATA command counts as the line end before a first line of ".".
    std::string_view kEnd = "\r\n.\r\n";
    size_t matched = 0;
    char buf[65536];
    while (open) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.clear();
        size_t i = 0;
        while (i < static_cast<size_t>(n) && open) {
            if (inData) {
                for (; i < static_cast<size_t>(n); ++i) {
                    char c = buf[i];
                    matched = c == kEnd[matched] ? matched + 1 : (c == '\r' ? 1 : 0);
                    if (matched == kEnd.size()) {
                        ++i;
                        inData = false;
                        ++gMessages;
                        out += "250 OK queued\r\n";
                        break;
                    }
                }
                continue;
            }
            in.push_back(buf[i++]);
            if (in.ends_with("\r\n")) {
                open = answer(std::string_view(in).substr(0, in.size() - 2), out, inData);
                matched = 2;
                in.clear();
            }
        }
        if (!out.empty() && !sendAll(fd, out))
            break;
    }
    ::close(fd);
    std::fprintf(stderr, "MESSAGES %ld\n", gMessages.load());
}

} // namespace

int main(int argc, char** argv) {
    return bench_server::listenAndServe("smtp_sink", argc > 1 ? std::atoi(argv[1]) : 0, serve);
}
