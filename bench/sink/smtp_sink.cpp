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

namespace {

std::atomic<long> gMessages{0};

bool sendAll(int fd, std::string_view s) {
    while (!s.empty()) {
        ssize_t n = ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        s.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool startsNoCase(std::string_view line, std::string_view word) {
    if (line.size() < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if ((line[i] | 0x20) != (word[i] | 0x20))
            return false;
    return true;
}

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
    int port = argc > 1 ? std::atoi(argv[1]) : 0;
    int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    (void)::setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (ls < 0 || ::bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(ls, 16) != 0) {
        std::perror("smtp_sink");
        return 1;
    }
    socklen_t len = sizeof addr;
    (void)::getsockname(ls, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("PORT %d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        int fd = ::accept4(ls, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::thread(serve, fd).detach();
    }
}
