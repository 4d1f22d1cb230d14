#include "transport/NorvaneSocket.h"

#include "common/Platform.h"
#include "transport/ProgressMonitor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace norvane {

namespace {

constexpr size_t kPlainSendPiece = 65536;
constexpr size_t kBulkRead = 20000;
constexpr size_t kCountedPiece = 2200000;
constexpr size_t kMaxCounted = 0xC000000;

struct AddrInfoFree {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoFree>;

// Waits for events on fd for at most ms milliseconds, resuming after signals with the time
// that is left. Returns poll's result.
int pollFor(int fd, short events, int ms, short& revents) {
    uint64_t deadline = platform::steadyMillis() + static_cast<uint64_t>(ms);
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, ms);
        if (r >= 0 || errno != EINTR) {
            revents = p.revents;
            return r;
        }
        uint64_t now = platform::steadyMillis();
        ms = now >= deadline ? 0 : static_cast<int>(deadline - now);
    }
}

bool setNonBlocking(int fd, bool on) {
    int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return false;
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(fd, F_SETFL, flags) == 0;
}

AddrInfoPtr resolve(const std::string& host, int port, int& gaiError) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // A literal address is taken as it is; only names go to the resolver.
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    std::string service = std::to_string(port);
    addrinfo* res = nullptr;
    gaiError = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
    if (gaiError == EAI_NONAME) {
        hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
        gaiError = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &res);
    }
    return AddrInfoPtr(gaiError == 0 ? res : nullptr);
}

} // namespace

NorvaneSocket::~NorvaneSocket() {
    close();
}

int NorvaneSocket::winsockCode(int err) {
    switch (err) {
    case EWOULDBLOCK:
    case EINPROGRESS:
        return 10035;
    case ENETDOWN:
        return 10050;
    case EAFNOSUPPORT:
        return 10047;
    case EALREADY:
        return 10036;
    case EMFILE:
    case ENFILE:
        return 10024;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EPROTONOSUPPORT:
        return 10043;
    case EPROTOTYPE:
        return 10041;
    case ESOCKTNOSUPPORT:
        return 10044;
    case ENETUNREACH:
    case EHOSTUNREACH:
        return 10051;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    default:
        return err;
    }
}

void NorvaneSocket::logSocketError(int code, LogBase& log) {
    const char* text = "Unknown socket error";
    switch (code) {
    case 10093:
        text = "WSANOTINITIALISED A successful WSAStartup must occur before using this function.";
        break;
    case 10035:
        text = "WSAEWOULDBLOCK The socket would block.";
        break;
    case 10050:
        text = "WSAENETDOWN The network subsystem or the associated service provider has failed.";
        break;
    case 10047:
        text = "WSAEAFNOSUPPORT The specified address family is not supported.";
        break;
    case 10036:
        text = "WSAEINPROGRESS A blocking Windows Sockets 1.1 call is in progress, or the service "
               "provider is still processing a callback function.";
        break;
    case 10024:
        text = "WSAEMFILE No more socket descriptors are available.";
        break;
    case 10055:
        text = "WSAENOBUFS No buffer space is available. The socket cannot be created.";
        break;
    case 10043:
        text = "WSAEPROTONOSUPPORT The specified protocol is not supported.";
        break;
    case 10041:
        text = "WSAEPROTOTYPE The specified protocol is the wrong type for this socket.";
        break;
    case 10044:
        text = "WSAESOCKTNOSUPPORT The specified socket type is not supported in this address "
               "family.";
        break;
    case 10051:
        text = "WSAENETUNREACH A socket operation was attempted to an unreachable network.";
        break;
    case 10060:
        text = "WSAETIMEDOUT A connection attempt failed because the connected party did not "
               "properly respond after a period of time, or established connection failed "
               "because connected host has failed to respond.";
        break;
    case 10061:
        text = "WSAECONNREFUSED No connection could be made because the target machine actively "
               "refused it.";
        break;
    default:
        break;
    }
    log.logData("SocketError", text);
}

bool NorvaneSocket::connect(std::string_view hostArg, int port, LogBase& log, bool& dnsFailed) {
    dnsFailed = false;
    std::string host(sb::trimView(hostArg));
    if (host.empty())
        return false;
    // The loopback name never depends on the resolver's configuration.
    if (sb::equalsNoCase(host, "localhost"))
        host = "127.0.0.1";
    close();

    int gaiError = 0;
    AddrInfoPtr list = resolve(host, port, gaiError);
    if (gaiError != 0) {
        dnsFailed = true;
        log.fail(ErrorCode::Network, "Cannot get host by name.");
        log.logData("hostname", host);
        log.logData("resolver_error", ::gai_strerror(gaiError));
        return false;
    }
    if (!list)
        return false;
    for (const addrinfo* ai = list.get(); ai; ai = ai->ai_next) {
        int err = 0;
        if (connectAddress(*ai, err, log)) {
            connected_ = true;
            timedOut_ = false;
            pending_.clear();
            return true;
        }
        if (!fd_.valid() && err == -1)
            return false; // no socket could be made: already logged
        fd_.reset();
        log.fail(ErrorCode::Network, "Connect function failed.");
        logSocketError(winsockCode(err), log);
    }
    return false;
}

// Connects one resolved address. err receives the errno of a failed attempt, or -1 when no
// socket could even be created.
bool NorvaneSocket::connectAddress(const addrinfo& ai, int& err, LogBase& log) {
    bool timed = connectTimeoutSec_ != 0;
    fd_.reset(::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol));
    if (!fd_.valid()) {
        logSocketError(winsockCode(errno), log);
        log.fail(ErrorCode::Network, "Cannot connect, invalid socket.");
        err = -1;
        return false;
    }
    if (timed && !setNonBlocking(fd_.get(), true)) {
        err = errno;
        return false;
    }
    if (::connect(fd_.get(), ai.ai_addr, ai.ai_addrlen) != 0) {
        err = errno;
        if (!timed || err != EINPROGRESS)
            return false;
        if (!waitWritable(err, log))
            return false;
    }
    // Later waits are blocking calls bounded by the kernel's socket time-outs: one system call
    // per read or write instead of a poll before each, which is most of a short exchange's
    // cost. Commands are small and answered one at a time: Nagle would only add delay.
    int one = 1;
    ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    appliedTimeoutMs_ = -1;
    if (!setNonBlocking(fd_.get(), false) || !applyTimeout()) {
        err = errno;
        return false;
    }
    return true;
}

bool NorvaneSocket::failTimeoutSetup(LogBase& log) {
    log.fail(ErrorCode::Network, platform::systemErrorText(errno));
    log.fail(ErrorCode::Network, "Cannot set the socket time-out");
    return false;
}

bool NorvaneSocket::applyTimeout() {
    int ms = waitMs();
    if (ms == appliedTimeoutMs_)
        return true;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    if (::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
        return false;
    appliedTimeoutMs_ = ms;
    return true;
}

bool NorvaneSocket::waitWritable(int& err, LogBase& log) {
    short revents = 0;
    int r = pollFor(fd_.get(), POLLOUT, static_cast<int>(connectTimeoutSec_) * 1000, revents);
    if (r < 0) {
        err = errno;
        log.fail(ErrorCode::Network, "select returned a socket error");
        return false;
    }
    if (r == 0) {
        err = EWOULDBLOCK;
        log.fail(ErrorCode::Network, "socket is not ready for writing");
        return false;
    }
    socklen_t len = sizeof err;
    if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    return err == 0;
}

void NorvaneSocket::dropHandle() {
    if (fd_.valid())
        ::shutdown(fd_.get(), SHUT_RDWR);
    fd_.reset();
}

void NorvaneSocket::close() {
    dropHandle();
    pending_.clear();
    connected_ = false;
}

void NorvaneSocket::takeOver(NorvaneSocket& from) {
    close();
    fd_ = std::move(from.fd_);
    connected_ = std::exchange(from.connected_, false);
    readTimeoutMs_ = from.readTimeoutMs_;
    connectTimeoutSec_ = from.connectTimeoutSec_;
    appliedTimeoutMs_ = std::exchange(from.appliedTimeoutMs_, -1);
    timedOut_ = from.timedOut_;
    readLimitMs_ = 0;
    lastSendError_ = 0;
    from.pending_.clear();
}

int NorvaneSocket::waitMs() const {
    return readTimeoutMs_ == 0 ? 60000
                               : static_cast<int>(std::min<uint32_t>(readTimeoutMs_, 0x7fffffff));
}

// Sends one piece, waiting (at most the read time-out) while the peer's window is full.
bool NorvaneSocket::sendPiece(const char* data, size_t n, size_t& sent, LogBase& log) {
    sent = 0;
    while (sent < n) {
        ssize_t r = ::send(fd_.get(), data + sent, n - sent, MSG_NOSIGNAL);
        if (r > 0) {
            sent += static_cast<size_t>(r);
            continue;
        }
        if (r == 0) {
            platform::sleepMillis(50);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // The send time-out ran out: a peer that stops reading must not hold the caller
            // forever.
            log.logDataLong("timeoutMS", waitMs());
            log.fail(ErrorCode::Network, "Socket write timeout");
            return false;
        }
        lastSendError_ = winsockCode(errno);
        logSocketError(lastSendError_, log);
        log.fail(ErrorCode::Network, "Error sending on socket");
        log.logDataLong("send_size", static_cast<long>(n));
        return false;
    }
    return true;
}

bool NorvaneSocket::sendBytes(const void* data, size_t length, LogBase& log,
                              ProgressMonitor* monitor) {
    lastSendError_ = 0;
    if (length == 0)
        return false;
    if (!fd_.valid()) {
        log.fail(ErrorCode::Network, "No socket exists for sending");
        return false;
    }
    if (!applyTimeout())
        return failTimeoutSetup(log);
    const char* p = static_cast<const char*>(data);
    if (monitor)
        return sendWithMonitor(p, length, log, *monitor);
    for (size_t off = 0; off < length;) {
        size_t n = std::min(kPlainSendPiece, length - off);
        size_t sent = 0;
        if (!sendPiece(p + off, n, sent, log))
            return false;
        off += sent;
    }
    return true;
}

// Pieces of about half a second at the measured rate, so that the application hears about
// progress (and can abort) regularly whatever the line speed.
bool NorvaneSocket::sendWithMonitor(const char* data, size_t length, LogBase& log,
                                    ProgressMonitor& monitor) {
    size_t piece = std::min<size_t>(3000, length);
    uint64_t elapsed = 0;
    uint64_t sentTotal = 0;
    uint64_t backlog = 0;
    size_t off = 0;
    while (off < length) {
        piece = std::min(piece, length - off);
        uint64_t t0 = platform::steadyMillis();
        size_t sent = 0;
        if (!sendPiece(data + off, piece, sent, log))
            return false;
        elapsed += platform::steadyMillis() - t0;
        sentTotal += sent;
        off += sent;
        if (elapsed > 20) {
            bool abort = false;
            monitor.consume(static_cast<uint32_t>(sent + backlog / 10), abort);
            backlog -= backlog / 10;
            if (abort) {
                log.fail(ErrorCode::Network, "Socket send aborted by application");
                return false;
            }
        } else {
            backlog += sent;
        }
        size_t next = 1000;
        if (elapsed > 10)
            next = std::clamp<size_t>(static_cast<size_t>(sentTotal * 500 / elapsed), 1000,
                                      std::max<size_t>(2 * piece, 1000));
        piece = next;
    }
    if (backlog != 0) {
        bool ignored = false;
        monitor.consume(static_cast<uint32_t>(backlog / 2), ignored);
    }
    return true;
}

bool NorvaneSocket::receiveSome(char* buffer, size_t& length, bool& timedOut, LogBase& log) {
    timedOut = false;
    if (!pending_.empty()) {
        // Bytes already read ahead come first, whoever asks.
        std::string_view data = pending_.view();
        size_t n = std::min(length, data.size());
        std::memcpy(buffer, data.data(), n);
        pending_.dropFront(n);
        length = n;
        return true;
    }
    return receiveWire(buffer, length, timedOut, log);
}

bool NorvaneSocket::waitWithinLimit(LogBase& log) {
    if (readLimitMs_ == 0)
        return true;
    uint64_t now = platform::steadyMillis();
    int left = now >= readLimitMs_
                   ? 0
                   : static_cast<int>(std::min<uint64_t>(readLimitMs_ - now, 0x7fffffff));
    if (left >= waitMs())
        return true;
    short revents = 0;
    if (left > 0 && pollFor(fd_.get(), POLLIN, left, revents) != 0)
        return true; // data, a close or an error: recv tells which
    log.fail(ErrorCode::Network, "Socket read deadline exceeded");
    timedOut_ = true;
    return false;
}

bool NorvaneSocket::receiveWire(char* buffer, size_t& length, bool& timedOut, LogBase& log) {
    timedOut = false;
    size_t cap = length;
    length = 0;
    if (!fd_.valid()) {
        log.fail(ErrorCode::Network, "This socket is not connected");
        return false;
    }
    if (!applyTimeout())
        return failTimeoutSetup(log);
    if (!waitWithinLimit(log)) {
        timedOut = true;
        return false;
    }
    for (;;) {
        ssize_t got = ::recv(fd_.get(), buffer, cap, 0);
        if (got > 0) {
            length = static_cast<size_t>(got);
            return true;
        }
        if (got == 0) {
            log.fail(ErrorCode::Network, "The peer has closed the socket (TCP) connection");
            dropHandle();
            return false;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            log.logDataLong("timeoutMS", static_cast<long>(readTimeoutMs_));
            log.fail(ErrorCode::Network, "Socket read timeout");
            timedOut = true;
            timedOut_ = true;
            return false;
        }
        if (errno == EINTR)
            continue;
        int err = errno;
        log.fail(ErrorCode::Network, platform::systemErrorText(err));
        log.fail(ErrorCode::Network, "Failed to receive on the TCP socket");
        if (err == ECONNRESET)
            dropHandle();
        return false;
    }
}

ByteChannel::ReadResult NorvaneSocket::readMore(size_t maxBytes, LogBase& log, size_t& got) {
    got = 0;
    // Drain what the kernel already holds in few calls, whatever the caller's buffer size;
    // room already reserved for a large reply is used as far as it goes.
    size_t n = std::clamp<size_t>(pending_.spare(), std::max<size_t>(maxBytes, 65536), 1 << 22);
    char* dst = pending_.prepareAppend(n);
    if (!dst) {
        log.fail(ErrorCode::LimitExceeded, "Out of memory for received data");
        return ReadResult::Failed;
    }
    bool timedOut = false;
    bool ok = receiveWire(dst, n, timedOut, log);
    pending_.commitAppend(ok ? n : 0);
    if (!ok)
        return timedOut ? ReadResult::TimedOut : ReadResult::Failed;
    got = n;
    return ReadResult::Data;
}

bool NorvaneSocket::receiveExact(char* buffer, size_t n, LogBase& log) {
    size_t done = 0;
    while (done < n) {
        size_t len = n - done;
        bool timedOut = false;
        if (!receiveSome(buffer + done, len, timedOut, log))
            return false;
        done += len;
    }
    return true;
}

bool NorvaneSocket::receiveToClose(std::string& out, LogBase& log) {
    std::vector<char> buf(kBulkRead);
    bool ok = false;
    for (;;) {
        size_t len = buf.size();
        bool timedOut = false;
        ok = receiveSome(buf.data(), len, timedOut, log);
        if (!ok)
            break;
        out.append(buf.data(), len);
    }
    return !out.empty() || ok;
}

bool NorvaneSocket::receiveOnce(std::string& out, LogBase& log) {
    std::vector<char> buf(kBulkRead);
    size_t len = buf.size();
    bool timedOut = false;
    bool ok = receiveSome(buf.data(), len, timedOut, log);
    if (ok)
        out.append(buf.data(), len);
    return !out.empty() || ok;
}

bool NorvaneSocket::receiveHeaderBlock(std::string& out, LogBase& log) {
    size_t lineChars = 0;
    for (;;) {
        char c = 0;
        if (!receiveExact(&c, 1, log))
            return false;
        out.push_back(c);
        if (c == '\n') {
            if (lineChars == 0)
                return true;
            lineChars = 0;
        } else if (c != '\r') {
            ++lineChars;
        }
    }
}

bool NorvaneSocket::receiveCrLfLine(std::string& out, LogBase& log) {
    size_t lineChars = 0;
    for (;;) {
        char c = 0;
        if (!receiveExact(&c, 1, log))
            return false;
        out.push_back(c);
        if (c == '\r') {
            lineChars = 0;
        } else if (c == '\n') {
            if (lineChars == 0)
                return true;
            lineChars = 0;
        } else {
            ++lineChars;
        }
    }
}

bool NorvaneSocket::receiveCount(size_t n, std::string& out, LogBase& log) {
    if (n == 0 || n > kMaxCounted)
        return false;
    while (n > 0) {
        size_t piece = std::min(n, kCountedPiece);
        size_t old = out.size();
        out.resize(old + piece);
        if (!receiveExact(out.data() + old, piece, log)) {
            out.resize(old);
            return false;
        }
        n -= piece;
    }
    return true;
}

bool NorvaneSocket::pollReadable() {
    if (!pending_.empty())
        return true;
    if (!fd_.valid())
        return false;
    short revents = 0;
    return pollFor(fd_.get(), POLLIN, 0, revents) > 0;
}

bool NorvaneSocket::getLocalHostName(std::string& out, LogBase& log) {
    (void)log;
    // The kernel's name; asking the resolver for a canonical form could stall every session
    // on a machine whose DNS is unreachable.
    out = platform::localHostName();
    return true;
}

} // namespace norvane
