#include "transport/SmtpConnImpl.h"

#include "transport/SmtpWire.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <string>

namespace norvane {

namespace {

constexpr size_t kTranscriptEntryLimit = 2500;
// A long session (thousands of messages) keeps only its recent dialogue: that is what a
// failure report needs, and memory stays bounded.
constexpr size_t kTranscriptLimit = 1 << 20;
constexpr size_t kTranscriptKeep = 1 << 19;

std::string formatHostPort(const char* fmt, std::string_view host, int port) {
    std::string out(fmt);
    sb::replaceAll(out, "%s", host);
    sb::replaceAll(out, "%d", std::to_string(port));
    return out;
}

} // namespace

SmtpConnImpl::~SmtpConnImpl() {
    if (!oauthToken_.empty())
        OPENSSL_cleanse(oauthToken_.data(), oauthToken_.size());
    if (!socket_.isConnected())
        return;
    LogNull quiet;
    // A server that already let a read time out is not waited for a second time: QUIT goes
    // out, its reply is not read.
    if (sendCommand("QUIT\r\n", quiet) && !socket_.timedOut())
        (void)readReply(221, quiet);
    socket_.close();
}

void SmtpConnImpl::appendTranscript(std::string_view text) {
    transcript_.append(text);
    if (transcript_.getSize() > kTranscriptLimit) {
        std::string& s = transcript_.str();
        s.erase(0, s.size() - kTranscriptKeep);
        s.insert(0, "...\n");
    }
}

void SmtpConnImpl::recordCommand(std::string_view text) {
    if (text.size() > kTranscriptEntryLimit) {
        appendTranscript(text.substr(0, kTranscriptEntryLimit));
        appendTranscript("\n...\n");
    } else {
        appendTranscript(text);
    }
}

bool SmtpConnImpl::write(const void* data, size_t length, LogBase& log, ProgressMonitor* monitor) {
    if (socket_.sendBytes(data, length, log, monitor))
        return true;
    broken_ = true;
    return false;
}

bool SmtpConnImpl::inStep() const {
    return socket_.isConnected() && !broken_ && !socket_.timedOut();
}

bool SmtpConnImpl::reset(LogBase& log) {
    if (!inStep())
        return false;
    bool received = false;
    if (sendCommand("RSET\r\n", log) && readReply(250, log, received))
        return true;
    // A server that answered something else (421: it is closing) is not used again.
    broken_ = true;
    return false;
}

bool SmtpConnImpl::quit(LogBase& log) {
    if (!socket_.isConnected())
        return true;
    bool ok = false;
    if (sendCommand("QUIT\r\n", log) && !socket_.timedOut() && !broken_)
        ok = readReply(221, log);
    socket_.close();
    return ok;
}

bool SmtpConnImpl::sendCommand(std::string_view text, LogBase& log) {
    recordCommand(text);
    return write(text.data(), text.size(), log, nullptr);
}

bool SmtpConnImpl::sendUnrecorded(std::string_view text, LogBase& log) {
    return write(text.data(), text.size(), log, nullptr);
}

bool SmtpConnImpl::readReplyLine(std::string& line, LogBase& log, ReadDeadline* deadline) {
    if (!socket_.receiveUntil(line, "\r\n", 1000, false, log, nullptr, smtp::kMaxReplyLine, {},
                              deadline)) {
        broken_ = true;
        return false;
    }
    appendTranscript(line);
    lastReplyCode_ = smtp::replyCode(line);
    return true;
}

bool SmtpConnImpl::readReply(int expected, LogBase& log) {
    bool received = false;
    return readReply(expected, log, received);
}

bool SmtpConnImpl::readReply(int expected, LogBase& log, bool& received) {
    received = false;
    lastReplyReceived_ = false;
    lastReply_.clear();
    std::string line;
    // All lines of one reply share one deadline: a server cannot stretch a reply by sending
    // its lines just within the read time-out.
    ReadDeadline deadline = socket_.replyDeadline();
    for (size_t n = 0;; ++n) {
        if (n == smtp::kMaxReplyLines) {
            log.logError("SMTP reply has too many lines");
            log.logDataLong("max_lines", static_cast<long>(smtp::kMaxReplyLines));
            return false;
        }
        if (!readReplyLine(line, log, &deadline))
            return false;
        lastReply_.append(line);
        if (line.size() < 4) {
            log.logError(sb::trimView(line));
            return false;
        }
        if (!smtp::isContinuation(line))
            break;
    }
    received = true;
    lastReplyReceived_ = true;
    if (smtp::replyCode(line) == expected)
        return true;
    log.logError(sb::trimView(line));
    return false;
}

bool SmtpConnImpl::readSingleLineReply(int expected, std::string& line, LogBase& log) {
    if (!readReplyLine(line, log))
        return false;
    return smtp::replyCode(line) == expected;
}

bool SmtpConnImpl::command(std::string_view text, int expected, LogBase& log) {
    if (!sendCommand(text, log))
        return false;
    return readReply(expected, log);
}

bool SmtpConnImpl::openSocket(std::string_view host, int port, LogBase& log) {
    bool dnsFailed = false;
    if (!socket_.connect(host, port, log, dnsFailed))
        return false;
    return true;
}

// EHLO with the local name; collects the AUTH capabilities. accepted is false when the
// server answered anything but 250.
bool SmtpConnImpl::sayEhlo(LogBase& log, bool& accepted) {
    accepted = false;
    // What a server offered before STARTTLS says nothing about what it offers after it.
    ext_ = {};
    flags_ = SmtpAuthFlags{};
    smtp::Extensions ext;
    std::string name;
    (void)NorvaneSocket::getLocalHostName(name, log);
    if (name.empty())
        name = "localhost";
    if (smtp::hasLineBreakOrNul(name)) {
        log.logError("EHLO name contains CR, LF or NUL; not sent");
        return false;
    }
    if (!sendUnrecorded("EHLO " + name + "\r\n", log)) {
        log.logError("Failed to send Hello (EHLO)");
        log.logData("hostname", name);
        return false;
    }
    std::string line;
    ReadDeadline deadline = socket_.replyDeadline();
    for (size_t n = 0; n < smtp::kMaxReplyLines; ++n) {
        if (!readReplyLine(line, log, &deadline) || smtp::replyCode(line) != 250)
            return true;
        flags_.scanEhloLine(line);
        smtp::scanExtension(line, ext);
        if (!smtp::isContinuation(line)) {
            accepted = true;
            ext_ = ext;
            return true;
        }
    }
    log.logError("SMTP reply has too many lines");
    return true;
}

// HELO with the local name, and once more naming the server when that is refused.
bool SmtpConnImpl::sayHelo(std::string_view host, LogBase& log) {
    std::string name;
    (void)NorvaneSocket::getLocalHostName(name, log);
    if (name.empty())
        name = "localhost";
    if (smtp::hasLineBreakOrNul(name)) {
        log.logError("HELO name contains CR, LF or NUL; not sent");
        return false;
    }
    if (!sendUnrecorded("HELO " + name + "\r\n", log)) {
        log.logError("Failed to send Hello");
        return false;
    }
    if (readReply(250, log))
        return true;
    log.logError("Failed to get response to Hello (HELO)");
    std::string server(sb::trimView(host));
    if (smtp::hasLineBreakOrNul(server)) {
        log.logError("HELO name contains CR, LF or NUL; not sent");
        return false;
    }
    if (!sendUnrecorded("HELO " + server + "\r\n", log)) {
        log.logError("Failed to send Hello");
        return false;
    }
    if (!readReply(250, log)) {
        log.logError("Failed to get response to 2nd-try Hello (HELO)");
        return false;
    }
    return true;
}

bool SmtpConnImpl::negotiateTls(std::string_view host, bool& accepted, LogBase& log) {
    bool wanted = tlsMode_ == TlsMode::StartTlsIfOffered || tlsMode_ == TlsMode::StartTlsRequired;
    if (!wanted || socket_.encrypted())
        return true;
    if (!accepted || !ext_.startTls) {
        if (tlsMode_ == TlsMode::StartTlsIfOffered) {
            log.logInfo("The server does not offer STARTTLS; the session stays unencrypted");
            return true;
        }
        log.fail(ErrorCode::Tls, "The server does not offer STARTTLS, which this session requires");
        logTranscript(log);
        return false;
    }
    if (!command("STARTTLS\r\n", 220, log)) {
        log.fail(ErrorCode::Tls, "STARTTLS was refused");
        logTranscript(log);
        return false;
    }
    if (!socket_.startTls(host, log)) {
        log.fail(ErrorCode::Tls, "TLS could not be started after STARTTLS; the session ends");
        return false;
    }
    if (!sayEhlo(log, accepted))
        return false;
    if (!accepted) {
        log.fail(ErrorCode::Tls, "EHLO was refused over TLS");
        logTranscript(log);
        return false;
    }
    return true;
}

bool SmtpConnImpl::connect(std::string_view host, int port, std::string_view user,
                           std::string_view password, std::string_view domain,
                           std::string_view authMethodArg, uint32_t connectTimeoutSec,
                           uint32_t readTimeoutMs, LogBase& log) {
    std::string authMethod(authMethodArg);
    host_.assign(host);
    port_ = port;
    if (user.empty() || (password.empty() && oauthToken_.empty())) {
        user = {};
        password = {};
        authMethod = "NONE";
    }
    LogContext ctx(log, "SMTP_Connect");
    if (host.empty()) {
        log.logError("No hostname");
        return false;
    }
    log.logInfo(formatHostPort("Connecting to SMTP server %s:%d", host, port));
    log.logData("smtp_host", host);
    log.logDataLong("smtp_port", port);
    if (!domain.empty())
        log.logData("domain", domain);
    log.logData("smtp_user", user.empty() ? std::string_view("NULL") : user);
    if (!authMethod.empty())
        log.logData("trying_auth_method", authMethod);
    if (tlsMode_ != TlsMode::None)
        log.logData("tls_mode", tlsModeName(tlsMode_));

    if (connectTimeoutSec != 0)
        socket_.setConnectTimeoutSec(connectTimeoutSec);
    if (readTimeoutMs == 0)
        readTimeoutMs = 30000;
    socket_.setReadTimeoutMs(std::clamp<uint32_t>(readTimeoutMs, 1, 500000));

    if (tlsMode_ == TlsMode::Implicit ? !socket_.connectTls(host, port, log)
                                      : !openSocket(host, port, log)) {
        log.logError("Failed to connect (1)");
        return false;
    }
    if (!readReply(220, log)) {
        log.logError("Failed to get initial response");
        log.logError("The SMTP server may be denying access for this domain.");
        logTranscript(log);
        return false;
    }
    bool accepted = false;
    if (!sayEhlo(log, accepted) || !negotiateTls(host, accepted, log))
        return false;
    flags_.applyOverride(authMethod);
    if (!accepted) {
        log.logData("login_method", "NONE");
        if (!sayHelo(host, log)) {
            logTranscript(log);
            return false;
        }
        log.logInfo(formatHostPort("CONNECTED to SMTP server %s:%d", host, port));
        return true;
    }
    if (!user.empty() && !runAuthentication(user, password, domain, log))
        return false;
    log.logInfo(formatHostPort("CONNECTED to ESMTP server %s:%d", host, port));
    return true;
}

bool SmtpConnImpl::checkConnectivity(std::string_view host, int port, uint32_t connectTimeoutSec,
                                     LogBase& log) {
    if (host.empty()) {
        log.logError("No hostname");
        return false;
    }
    log.logInfo(formatHostPort("Checking connectivity to SMTP server %s:%d", host, port));
    log.logData("smtp_host", host);
    log.logDataLong("smtp_port", port);
    if (connectTimeoutSec != 0)
        socket_.setConnectTimeoutSec(connectTimeoutSec);
    socket_.setReadTimeoutMs(10000);
    if (tlsMode_ == TlsMode::Implicit ? !socket_.connectTls(host, port, log)
                                      : !openSocket(host, port, log)) {
        log.logError("Failed to connect (2)");
        return false;
    }
    if (!readReply(220, log)) {
        log.logError("Failed to get initial response");
        log.logError("The SMTP server may be denying access for this domain.");
        return false;
    }
    bool accepted = false;
    if (!sayEhlo(log, accepted)) {
        log.logError("Failed to send Hello");
        return false;
    }
    if (!accepted) {
        std::string name;
        (void)NorvaneSocket::getLocalHostName(name, log);
        if (name.empty())
            name = "localhost";
        if (!sendUnrecorded("HELO " + name + "\r\n", log) || !readReply(250, log)) {
            log.logError("Failed to get response to Hello");
            return false;
        }
    }
    log.logInfo(formatHostPort("ESMTP server %s:%d is reachable", host, port));
    return true;
}

} // namespace norvane
