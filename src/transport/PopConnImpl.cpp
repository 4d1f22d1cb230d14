#include "transport/PopConnImpl.h"

#include "common/StringBuffer.h"
#include "transport/NorvaneSocket.h"
#include "transport/ProgressMonitor.h"
#include "transport/SChannel.h"
#include "transport/SmtpWire.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace norvane {

namespace {

constexpr size_t kMaxLine = 65536;
// A LIST or UIDL of a million messages is already far beyond any real mailbox; the caps keep
// a hostile server from filling memory with an endless listing.
constexpr size_t kMaxListEntries = 1000000;
constexpr size_t kMaxListBytes = size_t{64} << 20;
constexpr size_t kMaxCredential = 1000;

bool isOk(std::string_view line) {
    return sb::startsWithNoCase(line, "+OK");
}

// Reads a decimal integer at s[pos], skipping blanks first; false when there is none.
bool parseInt(std::string_view s, size_t& pos, long& value) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'))
        ++pos;
    size_t start = pos;
    bool neg = pos < s.size() && s[pos] == '-';
    if (neg)
        ++pos;
    long v = 0;
    size_t digits = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && digits < 18) {
        v = v * 10 + (s[pos++] - '0');
        ++digits;
    }
    if (digits == 0) {
        pos = start;
        return false;
    }
    value = neg ? -v : v;
    return true;
}

std::string_view chomp(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

PopConnImpl::PopConnImpl() {
    auto socket = std::make_unique<NorvaneSocket>();
    socket_ = socket.get();
    channel_ = std::move(socket);
}

PopConnImpl::PopConnImpl(std::unique_ptr<ByteChannel> channel, bool tls)
    : channel_(std::move(channel)), tls_(tls) {}

PopConnImpl::~PopConnImpl() {
    quitIfConnected();
}

void PopConnImpl::quitIfConnected() {
    if (channel_ && channel_->isConnected()) {
        LogNull quiet;
        (void)quit(quiet);
    }
}

bool PopConnImpl::sendCommand(std::string_view text, LogBase& log) {
    return channel_->sendBytes(text.data(), text.size(), log, nullptr);
}

bool PopConnImpl::readLine(std::string& out, LogBase& log, ReadDeadline* deadline) {
    if (!channel_->receiveUntil(out, "\r\n", 1000, false, log, nullptr, kMaxLine, {}, deadline)) {
        log.logError("Failed to get command response on socket");
        return false;
    }
    return true;
}

bool PopConnImpl::readStatus(LogBase& log) {
    std::string& line = lastStatus_;
    line.clear();
    if (!readLine(line, log)) {
        log.logError("No command response was returned");
        return false;
    }
    if (isOk(line))
        return true;
    log.logError(sb::trimView(line));
    return false;
}

bool PopConnImpl::readMultiLine(std::string& out, bool tailOnly, LogBase& log,
                                ProgressMonitor* monitor) {
    // An empty message is the terminator line alone, with no CR LF before it.
    ReadDeadline deadline = channel_->bodyDeadline();
    return channel_->receiveUntil(out, "\r\n.\r\n", 65536, tailOnly, log, monitor,
                                  ByteChannel::kMaxReceive, ".\r\n", &deadline);
}

bool PopConnImpl::connectAndLogin(std::string_view host, std::string_view user,
                                  std::string_view password, int port, uint32_t readTimeoutSec,
                                  uint32_t connectTimeoutSec, LogBase& log) {
    if (startedTls_) {
        // An earlier session of this object moved on to TLS: a fresh socket for this one.
        auto socket = std::make_unique<NorvaneSocket>();
        socket_ = socket.get();
        channel_ = std::move(socket);
        startedTls_ = false;
    }
    if (connectTimeoutSec != 0)
        socket_->setConnectTimeoutSec(connectTimeoutSec);
    if (readTimeoutSec != 0)
        socket_->setReadTimeoutMs(static_cast<uint32_t>(
            std::clamp<uint64_t>(uint64_t{readTimeoutSec} * 1000, 1, 500000)));
    forgetCapabilities();
    bool dnsFailed = false;
    if (!socket_->connect(host, port, log, dnsFailed)) {
        log.logError("Failed to connect to POP3 server");
        return false;
    }
    if (!readStatus(log)) {
        log.logError("Failed to get POP server's hello");
        return false;
    }
    rememberServer(host, port);
    if (user.empty() && password.empty()) {
        socket_->close();
        return true;
    }
    if (startTls_ != TlsMode::None && !negotiateStls(host, log))
        return false;
    if (!login(user, password, log))
        return false;
    int count = 0;
    long size = 0;
    if (!stat(count, size, log)) {
        log.logError("Failed to get POP3 server status");
        return false;
    }
    return true;
}

bool PopConnImpl::negotiateStls(std::string_view host, LogBase& log) {
    bool pipelines = false;
    if (!serverPipelines(pipelines, log)) {
        log.logError("Failed to get the POP3 server's capabilities");
        return false;
    }
    if (!stls_) {
        if (startTls_ == TlsMode::StartTlsIfOffered) {
            log.logInfo("The server does not offer STLS; the session stays unencrypted");
            return true;
        }
        log.fail(ErrorCode::Tls, "The server does not offer STLS, which this session requires");
        channel_->close();
        return false;
    }
    if (!sendCommand("STLS\r\n", log) || !readStatus(log)) {
        log.fail(ErrorCode::Tls, "STLS was refused");
        channel_->close();
        return false;
    }
    auto tls = std::make_unique<SChannel>();
    tls->setServer(host);
    bool ok = tls->establishOver(*socket_, log);
    // From here on only the TLS channel is used, also after a failed handshake (it is closed
    // then): the session never goes on in the clear.
    channel_ = std::move(tls);
    socket_ = nullptr;
    startedTls_ = true;
    forgetCapabilities();
    if (!ok)
        log.fail(ErrorCode::Tls, "TLS could not be started after STLS; the session ends");
    return ok;
}

bool PopConnImpl::login(std::string_view user, std::string_view password, LogBase& log) {
    if (tls_ && user.empty()) {
        log.fail(ErrorCode::Authentication,
                 "Cannot login to secure POP3 server, login and/or password is null");
        return false;
    }
    if (user.size() > kMaxCredential || password.size() > kMaxCredential) {
        log.fail(ErrorCode::Authentication,
                 "Failed to login to POP3 server: login name and/or password is invalid");
        return false;
    }
    // USER and PASS are sent as they are: a line break inside would start another command.
    if (smtp::hasLineBreakOrNul(user) || smtp::hasLineBreakOrNul(password)) {
        log.logError("POP3 user name or password contains CR, LF or NUL; not sent");
        return false;
    }
    if (auth_.method == PopAuth::Method::Apop)
        return loginApop(user, password, log);
    if (auth_.method != PopAuth::Method::UserPass)
        return loginOAuth(user, log);
    bool ok = sendCommand("USER " + std::string(user) + "\r\n", log) && readStatus(log);
    if (ok) {
        std::string pass =
            password.empty() ? std::string("PASS\r\n") : "PASS " + std::string(password) + "\r\n";
        ok = sendCommand(pass, log) && readStatus(log);
        std::fill(pass.begin(), pass.end(), '\0');
    }
    if (!ok)
        log.fail(ErrorCode::Authentication,
                 "Failed to login to POP3 server: login name and/or password is invalid");
    return ok;
}

bool PopConnImpl::quit(LogBase& log) {
    if (!channel_->isConnected())
        return false;
    if (channel_->timedOut()) {
        // A peer that already let a read time out is not waited for again: QUIT still goes
        // (deletions take effect), but its reply, if it ever comes, is not read.
        bool sent = sendCommand("QUIT\r\n", log);
        channel_->close();
        return sent;
    }
    bool ok = sendCommand("QUIT\r\n", log) && readStatus(log);
    channel_->close();
    return ok;
}

bool PopConnImpl::stat(int& count, long& totalSize, LogBase& log) {
    count = 0;
    totalSize = 0;
    if (!channel_->isConnected())
        return false;
    std::string line;
    if (!sendCommand("STAT\r\n", log) || !readLine(line, log))
        return false;
    long c = 0;
    long s = 0;
    size_t pos = 3;
    if (isOk(line) && parseInt(line, pos, c) && parseInt(line, pos, s)) {
        count = static_cast<int>(c);
        totalSize = s;
        return true;
    }
    if (tls_) {
        log.logError("Error response for STAT command");
        log.logData("response", chomp(line));
    } else {
        log.logData("STAT_response", chomp(line));
    }
    return false;
}

// Lines of a multi-line listing up to the terminator line, each handed to take without its
// line end. The listing as a whole is bounded in entries, bytes and time (a body deadline);
// past a bound the connection is closed, since the rest of the listing would be read as the
// replies to later commands.
bool PopConnImpl::readDotLines(const std::function<void(std::string_view)>& take, LogBase& log) {
    ReadDeadline deadline = channel_->bodyDeadline();
    std::string line;
    size_t bytes = 0;
    for (size_t entries = 0;; ++entries) {
        if (!readLine(line, log, &deadline))
            return false;
        if (line.starts_with('.'))
            return true;
        bytes += line.size();
        if (entries == kMaxListEntries || bytes > kMaxListBytes) {
            log.logError("POP3 listing exceeds the limit");
            log.logDataLong("max_entries", static_cast<long>(kMaxListEntries));
            log.logDataLong("max_bytes", static_cast<long>(kMaxListBytes));
            channel_->close();
            return false;
        }
        take(chomp(line));
    }
}

bool PopConnImpl::list(std::vector<int>& numbers, std::vector<long>& sizes, LogBase& log) {
    if (!channel_->isConnected())
        return false;
    std::string line;
    if (!sendCommand("LIST\r\n", log) || !readLine(line, log))
        return false;
    if (!isOk(line)) {
        log.logData("LIST_response", chomp(line));
        return false;
    }
    listedSizes_.clear();
    size_t first = numbers.size();
    bool ok = readDotLines(
        [&](std::string_view l) {
            size_t pos = 0;
            long n = 0;
            long size = 0;
            if (parseInt(l, pos, n) && parseInt(l, pos, size)) {
                numbers.push_back(static_cast<int>(n));
                sizes.push_back(size);
            }
        },
        log);
    if (!ok)
        return false;
    for (size_t i = first; i < numbers.size(); ++i)
        listedSizes_[numbers[i]] = sizes[i];
    return true;
}

bool PopConnImpl::uidl(std::vector<int>& numbers, std::vector<std::string>& uidls, LogBase& log) {
    if (!channel_->isConnected())
        return false;
    if (!sendCommand("UIDL\r\n", log)) {
        log.logError("Cannot get UIDLs, failed to send UIDL command");
        return false;
    }
    std::string line;
    if (!readLine(line, log)) {
        log.logError(tls_ ? "Cannot get UIDLs, failed to get UIDL response 1 (SSL)"
                          : "Cannot get UIDLs, failed to get UIDL response");
        return false;
    }
    if (!isOk(line)) {
        log.logData("UIDL_response", chomp(line));
        return false;
    }
    bool ok = readDotLines(
        [&](std::string_view l) {
            size_t pos = 0;
            long n = 0;
            if (!parseInt(l, pos, n))
                return;
            while (pos < l.size() && (l[pos] == ' ' || l[pos] == '\t'))
                ++pos;
            std::string_view id = l.substr(pos);
            id = id.substr(0, id.find_first_of(" \t"));
            if (id.empty())
                return;
            numbers.push_back(static_cast<int>(n));
            uidls.emplace_back(id);
        },
        log);
    if (!ok && tls_)
        log.logError("Cannot get UIDLs, failed to get UIDL response 2 (SSL)");
    return ok;
}

bool PopConnImpl::top(int number, int bodyLines, std::string& out, LogBase& log) {
    out.clear();
    if (!channel_->isConnected())
        return false;
    bodyLines = std::clamp(bodyLines, 1, 10000);
    if (!sendCommand("TOP " + std::to_string(number) + " " + std::to_string(bodyLines) + "\r\n",
                     log)) {
        log.logError("Failed to send TOP command");
        return false;
    }
    std::string line;
    if (!readLine(line, log)) {
        log.logError("Failed to get TOP response");
        return false;
    }
    if (!isOk(line)) {
        log.logData("TOP_response", chomp(line));
        return false;
    }
    if (!readMultiLine(out, false, log, nullptr)) {
        log.logError("Failed to fetch TOP message data.");
        out.clear();
        return false;
    }
    return true;
}

bool PopConnImpl::sendRetr(std::string_view commands, int number, LogBase& log) {
    if (sendCommand(commands, log))
        return true;
    log.logError(tls_ ? "Cannot fetch mail message, failed to send RETR command"
                      : "Failed to send RETR command");
    log.logDataLong("msgID", number);
    return false;
}

bool PopConnImpl::readRetr(std::string& out, int number, bool pipelined, LogBase& log,
                           ProgressMonitor* monitor, bool& inStep) {
    inStep = false;
    std::string line;
    if (!readLine(line, log)) {
        log.logError(tls_ ? "Failed to get RETR response 1 (SSL)" : "Failed to get RETR response");
        return false;
    }
    bool ignored = false;
    if (monitor)
        monitor->consume(200, ignored);
    if (!isOk(line)) {
        log.logData("RETR_response", chomp(line));
        inStep = true;
        return false;
    }
    expectMessage(line, number);
    // Only when nothing follows the reply may the end be looked for at the tail alone.
    if (!readMultiLine(out, !pipelined, log, monitor)) {
        log.logError(tls_ ? "Failed to get RETR response 2 (SSL)"
                          : "Failed to fetch message data.");
        out.clear();
        return false;
    }
    return true;
}

bool PopConnImpl::retr(std::string& out, int number, LogBase& log, ProgressMonitor* monitor) {
    // The previous message's storage goes now, not after the next one has arrived.
    std::string().swap(out);
    if (!channel_->isConnected())
        return false;
    if (!sendRetr("RETR " + std::to_string(number) + "\r\n", number, log))
        return false;
    bool ignored = false;
    if (monitor)
        monitor->consume(200, ignored);
    bool inStep = false;
    return readRetr(out, number, false, log, monitor, inStep);
}

bool PopConnImpl::serverPipelines(bool& pipelines, LogBase& log) {
    pipelines = false;
    if (!capaAsked_) {
        std::string line;
        if (!channel_->isConnected() || !sendCommand("CAPA\r\n", log) || !readLine(line, log))
            return false;
        bool pipelining = false;
        auto take = [&](std::string_view l) {
            std::string_view name = sb::trimView(l);
            name = name.substr(0, name.find(' '));
            if (sb::equalsNoCase(name, "PIPELINING"))
                pipelining = true;
            if (sb::equalsNoCase(name, "STLS"))
                stls_ = true;
            if (sb::equalsNoCase(name, "SASL")) {
                sasl_ = " " + std::string(sb::trimView(sb::trimView(l).substr(4))) + " ";
                std::transform(sasl_.begin(), sasl_.end(), sasl_.begin(),
                               [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            }
        };
        if (isOk(line) && !readDotLines(take, log))
            return false;
        capaAsked_ = true;
        pipelining_ = pipelining;
    }
    pipelines = pipelining_;
    return true;
}

void PopConnImpl::skipRetrReplies(size_t count) {
    LogNull quiet;
    std::string scratch;
    for (size_t i = 0; i < count; ++i) {
        std::string line;
        scratch.clear();
        if (!readLine(line, quiet) ||
            (isOk(line) && !readMultiLine(scratch, false, quiet, nullptr))) {
            channel_->close();
            return;
        }
    }
}

bool PopConnImpl::retrPipelined(const std::vector<int>& numbers, std::vector<std::string>& out,
                                LogBase& log, ProgressMonitor* monitor) {
    size_t sent = 0;
    for (size_t i = 0; i < numbers.size(); ++i) {
        // The window is topped up when half of it has been answered: one write for many
        // commands, and never so many outstanding that a server's reply buffer fills.
        if (sent < numbers.size() && sent - i <= kRetrWindow / 2) {
            std::string batch;
            for (size_t end = std::min(numbers.size(), i + kRetrWindow); sent < end; ++sent)
                batch += "RETR " + std::to_string(numbers[sent]) + "\r\n";
            if (!sendRetr(batch, numbers[i], log)) {
                channel_->close();
                return false;
            }
        }
        bool ignored = false;
        if (monitor)
            monitor->consume(200, ignored);
        std::string msg;
        bool inStep = false;
        if (!readRetr(msg, numbers[i], true, log, monitor, inStep)) {
            if (inStep)
                skipRetrReplies(sent - i - 1);
            else
                channel_->close();
            return false;
        }
        out.push_back(std::move(msg));
    }
    return true;
}

bool PopConnImpl::retrMany(const std::vector<int>& numbers, std::vector<std::string>& out,
                           LogBase& log, ProgressMonitor* monitor) {
    out.clear();
    bool pipelines = false;
    if (!channel_->isConnected() || !serverPipelines(pipelines, log))
        return false;
    if (pipelines)
        return retrPipelined(numbers, out, log, monitor);
    for (int number : numbers) {
        std::string msg;
        if (!retr(msg, number, log, monitor))
            return false;
        out.push_back(std::move(msg));
    }
    return true;
}

bool PopConnImpl::dele(int number, LogBase& log) {
    if (!channel_->isConnected())
        return false;
    if (!sendCommand("DELE " + std::to_string(number) + "\r\n", log)) {
        log.logError("Failed to send DELE command");
        return false;
    }
    std::string line;
    if (!readLine(line, log))
        return false;
    if (isOk(line))
        return true;
    log.logData("DELE_response", chomp(line));
    return false;
}

size_t PopConnImpl::deleMany(const std::vector<int>& numbers, LogBase& log) {
    bool pipelines = false;
    if (!channel_->isConnected() || !serverPipelines(pipelines, log))
        return 0;
    size_t done = 0;
    while (done < numbers.size()) {
        const size_t window = pipelines ? std::min(kRetrWindow, numbers.size() - done) : 1;
        std::string batch;
        for (size_t i = 0; i < window; ++i)
            batch += "DELE " + std::to_string(numbers[done + i]) + "\r\n";
        if (!sendCommand(batch, log)) {
            log.logError("Failed to send DELE command");
            return done;
        }
        // Every reply of the window is read, so that the session stays in step after a
        // refusal; only an unbroken run of "+OK" from the start counts as deleted.
        bool refused = false;
        for (size_t i = 0; i < window; ++i) {
            std::string line;
            if (!readLine(line, log))
                return done;
            if (!refused && isOk(line)) {
                ++done;
            } else if (!refused) {
                log.logData("DELE_response", chomp(line));
                refused = true;
            }
        }
        if (refused)
            return done;
    }
    return done;
}

void PopConnImpl::expectMessage(std::string_view statusLine, int number) {
    // Most servers announce the size ("+OK 1234 octets"); otherwise LIST may have told it.
    size_t pos = 3;
    long size = 0;
    if (!parseInt(statusLine, pos, size) || size <= 0) {
        auto it = listedSizes_.find(number);
        size = it == listedSizes_.end() ? 0 : it->second;
    }
    if (size <= 0)
        return;
    // Dot-stuffing and the terminator add a little; the limit keeps a lying peer from
    // reserving more than any reply may hold.
    size_t want = static_cast<size_t>(size);
    want = std::min(want + want / 64 + 4096, ByteChannel::kMaxReceive);
    channel_->pending().expect(want);
}

std::string PopConnImpl::messageText(std::string_view raw) {
    std::string out(raw);
    toMessageText(out);
    return out;
}

void PopConnImpl::toMessageText(std::string& text) {
    // Unstuffing only ever shortens the text, so it runs in place: write never passes read.
    size_t read = 0;
    size_t write = 0;
    while (read < text.size()) {
        size_t eol = text.find('\n', read);
        size_t end = eol == std::string::npos ? text.size() : eol + 1;
        std::string_view line(text.data() + read, end - read);
        if (line.starts_with(".\r") || line == ".\n" || line == ".")
            break;
        size_t from = line.starts_with("..") ? read + 1 : read;
        if (write != from)
            std::memmove(text.data() + write, text.data() + from, end - from);
        write += end - from;
        read = end;
    }
    text.resize(write);
}

} // namespace norvane
