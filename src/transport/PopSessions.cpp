#include "transport/PopSessions.h"

namespace norvane {

std::unique_ptr<PopConnImpl> popConnect(std::string_view host, std::string_view user,
                                        std::string_view password, int port,
                                        uint32_t readTimeoutSec, uint32_t connectTimeoutSec,
                                        LogBase& log, TlsMode startTls, const PopAuth& auth) {
    LogContext ctx(log, "pop3-connect");
    if (host.empty()) {
        log.logError("Hostname is missing for POP connection");
        return nullptr;
    }
    if (user.empty()) {
        log.logError("User name is missing for POP connection");
        return nullptr;
    }
    log.logInfo("Attempting to connect and log into POP3 server");
    log.logData("hostname", host);
    log.logDataLong("port", port);
    log.logData("username", user);
    auto session = std::make_unique<PopConnImpl>();
    session->setStartTls(startTls);
    session->setAuth(auth);
    if (!session->connectAndLogin(host, user, password, port, readTimeoutSec, connectTimeoutSec,
                                  log))
        return nullptr;
    log.logInfo("Login successful");
    return session;
}

bool popCheck(std::string_view host, int port, uint32_t connectTimeoutSec, LogBase& log) {
    if (host.empty()) {
        log.logError("Hostname is missing for POP connection");
        return false;
    }
    log.logInfo("Checking connection for POP3 server");
    log.logData("hostname", host);
    log.logDataLong("port", port);
    PopConnImpl session;
    if (!session.connectAndLogin(host, {}, {}, port, 0, connectTimeoutSec, log))
        return false;
    log.logInfo("Connection successful");
    return true;
}

std::unique_ptr<SPopConnImpl> popTlsConnect(std::string_view host, std::string_view user,
                                            std::string_view password, int port,
                                            uint32_t readTimeoutSec, uint32_t connectTimeoutSec,
                                            LogBase& log, const PopAuth& auth) {
    LogContext ctx(log, "pop3-ssl-connect");
    if (host.empty()) {
        log.logError("Hostname is missing for POP3/SSL connection");
        return nullptr;
    }
    if (user.empty()) {
        log.logError("User name is missing for POP3/SSL connection");
        return nullptr;
    }
    log.logInfo("Attempting to connect and log into POP3/SSL server");
    log.logData("hostname", host);
    log.logDataLong("port", port);
    log.logData("login", user);
    auto session = std::make_unique<SPopConnImpl>();
    session->setAuth(auth);
    if (readTimeoutSec != 0)
        session->tlsChannel().setReadTimeout(readTimeoutSec);
    if (connectTimeoutSec != 0)
        session->tlsChannel().setConnectTimeout(connectTimeoutSec);
    if (!session->connect(host, port, log)) {
        log.logError("Failed to get Secure POP server's hello");
        return nullptr;
    }
    if (!session->login(user, password, log)) {
        log.fail(ErrorCode::Authentication, "Login failed.");
        return nullptr;
    }
    int count = 0;
    long size = 0;
    if (!session->stat(count, size, log)) {
        log.logError("Failed to get POP3 server status");
        return nullptr;
    }
    log.logInfo("Login successful");
    return session;
}

bool popTlsCheck(std::string_view host, int port, uint32_t connectTimeoutSec,
                 uint32_t readTimeoutSec, LogBase& log) {
    if (host.empty()) {
        log.logError("Hostname is missing for Secure POP connection");
        return false;
    }
    log.logInfo("Checking connection for Secure POP3 server");
    log.logData("hostname", host);
    log.logDataLong("port", port);
    SPopConnImpl session;
    if (readTimeoutSec != 0)
        session.tlsChannel().setReadTimeout(readTimeoutSec);
    if (connectTimeoutSec != 0)
        session.tlsChannel().setConnectTimeout(connectTimeoutSec);
    if (!session.connect(host, port, log)) {
        log.logError("Failed to get Secure Secure POP server's hello");
        return false;
    }
    return true;
}

} // namespace norvane
