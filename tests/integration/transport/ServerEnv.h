#pragma once

// What the integration tests know about the servers the fixture started, and the helpers that
// read and change their state: maildirs, the sink's spool, and scripted fault peers.

#include "common/Logger.h"
#include "email/Email2.h"
#include "support/Bytes.h"
#include "support/LogText.h"
#include "support/TestDirs.h"
#include "transport/SmtpMail.h"

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace norvane::test {

struct ServerEnv {
    std::string stateDir, caFile, serverCert, serverKey, wrongHostCert, wrongHostKey;
    std::string cnOnlyCert, cnOnlyKey; // "CN=localhost" and no subjectAltName
    int pop3Port = 0, pop3sPort = 0, submissionPort = 0, submissionsPort = 0, sinkPort = 0;
    int eximCyrusPort = 0, eximSpaPort = 0;
    std::string spool, mailRoot, eximCyrusLog, eximSpaLog, dovecotLog;
    // A JWT access token for oauthUser that Dovecot accepts, and one signed with another key.
    std::string oauthUser, oauthToken, oauthBadToken;
};

// The servers of this run (read once from $NORVANE_TRANSPORT_ENV); a test fails loudly when
// the fixture did not start them.
const ServerEnv& serverEnv();

// Maildir of a POP3 user: replace all messages, add one (its file name becomes the UIDL).
void clearMailbox(const std::string& user);
void addMessage(const std::string& user, const std::string& uidl, std::string_view text);
// Number of messages in the user's maildir (new and cur).
size_t mailboxCount(const std::string& user);
// Waits (at most seconds) until the user's maildir holds count messages: Exim delivers there
// after it has answered.
bool waitForMailbox(const std::string& user, size_t count, int seconds = 10);

struct SpoolMessage {
    std::string data;     // DATA bytes as the sink received them
    std::string envelope; // the JSON envelope
};
// Waits (at most seconds) until the sink holds count messages whose DATA contains marker.
std::vector<SpoolMessage> waitForSpool(std::string_view marker, size_t count, int seconds = 10);
// Polls done every few milliseconds until it holds or seconds have passed; its last answer.
bool waitUntil(const std::function<bool()>& done, int seconds);
// The lines of a server's log file that hold text, in order.
std::vector<std::string> logLines(const std::string& path, std::string_view text);
// Waits (at most seconds) until a server's log file holds text: servers write their log
// lines from a separate process, after they have answered.
bool waitForLog(const std::string& path, std::string_view text, int seconds = 5);

// While it lives, every new TLS channel trusts the fixture's test CA.
class TrustTestCa {
public:
    TrustTestCa();
    ~TrustTestCa();
    TrustTestCa(const TrustTestCa&) = delete;
    TrustTestCa& operator=(const TrustTestCa&) = delete;
};

// A fresh subject marker that finds one test's messages in the sink's spool.
std::string marker(std::string_view name);
// The name our side puts in EHLO.
std::string localHostName();
// A header field of an e-mail ("" when it has none).
std::string headerOf(const Email2& e, std::string_view name);

// A scripted peer (tests/servers/scripted.py) on loopback, stopped by its PID.
class ScriptedServer {
public:
    class Script {
    public:
        Script& connection();
        Script& send(std::string_view text);
        Script& flood(std::string_view text, int count);
        // text count times, "%d" in it counting 1 ... count.
        Script& seq(std::string_view text, int count);
        // text one byte at a time, seconds apart.
        Script& drip(std::string_view text, double seconds);
        Script& line(int n = 1);
        Script& until(std::string_view text);
        Script& sleep(double seconds);
        Script& drain();
        Script& close();
        // The server's TLS handshake here; a peer with certificate files but no such step
        // speaks TLS from the first byte.
        Script& startTls();
        // A POP3 peer's greeting and its replies to USER, PASS and the STAT of the login.
        Script& popLogin(std::string_view stat = "+OK 1 100\r\n");
        [[nodiscard]] std::string json() const;

    private:
        Script& step(std::string action);
        std::vector<std::vector<std::string>> conns_;
    };

    // host is "127.0.0.1" or "::1"; with certificate files the peer speaks TLS, with tlsMax
    // ("1.0" or "1.1") no version above that.
    explicit ScriptedServer(const Script& script, std::string host = "127.0.0.1",
                            std::string cert = {}, std::string key = {}, std::string tlsMax = {});
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    [[nodiscard]] int port() const { return port_; }
    // Waits for the script to end (at most seconds), then returns every byte received.
    std::string received(int seconds = 20);

private:
    void stop();
    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
};

// A new script that begins with a POP3 peer's login.
inline ScriptedServer::Script popLoggedIn(std::string_view stat = "+OK 1 100\r\n") {
    return ScriptedServer::Script().popLogin(stat);
}

// An e-mail for the SMTP session: fixed body, headers rendered from the fields.
class TestMail : public SmtpMail {
public:
    explicit TestMail(std::string sender = {}, std::vector<std::string> toList = {})
        : from(std::move(sender)), to(std::move(toList)) {}

    std::string from, returnPath, subjectText, body = "Hello.\r\n", messageId, distListFile;
    std::vector<std::string> to, cc, bcc;
    int renderCount = 0;

    std::string headerField(std::string_view name) const override;
    std::string fromAddress() const override { return from; }
    std::string subject() const override { return subjectText; }
    std::vector<std::string> recipients(Kind kind) const override;
    void clearRecipients(Kind kind) override;
    void addRecipient(Kind kind, std::string_view address) override;
    void setMessageId(std::string_view id) override { messageId.assign(id); }
    bool renderForSending(std::string& out, LogBase& log) override;

private:
    std::vector<std::string>& list(Kind kind);
};

} // namespace norvane::test
