#pragma once

// What the benchmark's fast servers share: writing a reply whole, matching a command word, and
// listening on loopback with a thread per connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>
#include <thread>

namespace bench_server {

inline bool sendAll(int fd, std::string_view s) {
    while (!s.empty()) {
        ssize_t n = ::send(fd, s.data(), s.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        s.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

inline bool startsNoCase(std::string_view line, std::string_view word) {
    if (line.size() < word.size())
        return false;
    for (size_t i = 0; i < word.size(); ++i)
        if ((line[i] | 0x20) != (word[i] | 0x20))
            return false;
    return true;
}

// Listens on 127.0.0.1:port (0: any free port), prints "PORT n" and serves each connection
// with serve(fd) on a thread of its own until killed. Returns only on a set-up failure.
inline int listenAndServe(const char* name, int port, void (*serve)(int)) {
    int ls = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    (void)::setsockopt(ls, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (ls < 0 || ::bind(ls, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(ls, 16) != 0) {
        std::perror(name);
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

} // namespace bench_server
