#pragma once

// One POP3 client conversation (USER, PASS, STAT, LIST, UIDL, TOP, RETR, DELE, QUIT) over a
// byte channel: the plain TCP socket here, the TLS channel in SPopConnImpl, with the same
// commands and the same reply handling. It returns numbers, lists and raw message text
// (dot-stuffed, with the terminator line); messageText turns that into the message itself.
//
// A message is complete only when its terminator arrived: a read time-out or a closed
// connection in the middle of RETR or TOP fails the command. Bodies and listings must keep
// the channel's minimum rate (ByteChannel); LIST, UIDL and CAPA stop at 1,000,000 entries or
// 64 MB. After a time-out the session is closed without waiting for the peer again.

#include "common/LogBase.h"
#include "transport/ByteChannel.h"
#include "transport/TlsMode.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace norvane {

class NorvaneSocket;
class ProgressMonitor;

// How a POP3 session logs in (PopConnImplAuth.cpp).
struct PopAuth {
    enum class Method {
        // USER and PASS.
        UserPass,
        // APOP: the MD5 of the greeting's time stamp and the password; a greeting without a
        // time stamp fails the login (never a fall-back to PASS).
        Apop,
        // SASL AUTH (RFC 5034) with the OAuth 2.0 token: XOAUTH2 or OAUTHBEARER, or OAuth:
        // whichever of them the server's CAPA lists, XOAUTH2 first.
        XOAuth2,
        OAuthBearer,
        OAuth,
    };
    Method method = Method::UserPass;
    std::string token; // the OAuth methods' access token; never logged
    bool operator==(const PopAuth&) const = default;
};

class PopConnImpl {
public:
    PopConnImpl();
    // Sends QUIT when connected (deletions take effect on the server only then).
    virtual ~PopConnImpl();
    PopConnImpl(const PopConnImpl&) = delete;
    PopConnImpl& operator=(const PopConnImpl&) = delete;

    // Connects, reads the greeting and logs in (then STAT). With neither user nor password
    // the connection is closed after the greeting: a reachability check. Time-outs of 0 keep
    // the socket's defaults (7 s connect, 30 s read).
    [[nodiscard]] bool connectAndLogin(std::string_view host, std::string_view user,
                                       std::string_view password, int port, uint32_t readTimeoutSec,
                                       uint32_t connectTimeoutSec, LogBase& log);
    [[nodiscard]] bool login(std::string_view user, std::string_view password, LogBase& log);
    // Whether connectAndLogin sends STLS after the greeting (default None): when CAPA lists
    // it (StartTlsIfOffered) or always (StartTlsRequired: a server without it is refused
    // before the login). After STLS the session runs over TLS, the server verified under
    // the host name; anything the server sent before the handshake is dropped unread.
    void setStartTls(TlsMode mode) { startTls_ = mode; }
    void setAuth(PopAuth auth) { auth_ = std::move(auth); }
    [[nodiscard]] bool encrypted() const { return tls_ || startedTls_; }
    [[nodiscard]] bool quit(LogBase& log);
    [[nodiscard]] bool stat(int& count, long& totalSize, LogBase& log);
    // Appends to the two parallel lists (the caller passes empty ones).
    [[nodiscard]] bool list(std::vector<int>& numbers, std::vector<long>& sizes, LogBase& log);
    [[nodiscard]] bool uidl(std::vector<int>& numbers, std::vector<std::string>& uidls,
                            LogBase& log);
    // Header and bodyLines (1 ... 10000) lines of the body.
    [[nodiscard]] bool top(int number, int bodyLines, std::string& out, LogBase& log);
    [[nodiscard]] bool retr(std::string& out, int number, LogBase& log, ProgressMonitor* monitor);
    [[nodiscard]] bool dele(int number, LogBase& log);
    // DELE for each of numbers, in windows of kRetrWindow commands when the server pipelines;
    // how many from the start were deleted before the first refusal or failure.
    [[nodiscard]] size_t deleMany(const std::vector<int>& numbers, LogBase& log);
    // The messages numbers names, in that order, into out (raw, as retr gives them). When the
    // server lists PIPELINING in its capabilities the RETR commands go out in windows of up to
    // kRetrWindow without waiting for each reply; otherwise one retr after another. On failure
    // out holds only the messages that arrived completely before the one that failed; after a
    // refused message the session stays usable, after a failed read it is closed.
    [[nodiscard]] bool retrMany(const std::vector<int>& numbers, std::vector<std::string>& out,
                                LogBase& log, ProgressMonitor* monitor);
    // Whether CAPA lists PIPELINING. CAPA is sent once per session and the answer kept; a
    // server that refuses CAPA does not pipeline. False when CAPA could not be exchanged.
    [[nodiscard]] bool serverPipelines(bool& pipelines, LogBase& log);

    static constexpr size_t kRetrWindow = 32;

    // One line; deadline (when given) is shared with other lines, else the line has its own.
    [[nodiscard]] bool readLine(std::string& out, LogBase& log, ReadDeadline* deadline = nullptr);
    // One status line; true for "+OK" (any case).
    [[nodiscard]] bool readStatus(LogBase& log);
    // A multi-line reply through its terminator line, every byte before it kept.
    [[nodiscard]] bool readMultiLine(std::string& out, bool tailOnly, LogBase& log,
                                     ProgressMonitor* monitor);

    [[nodiscard]] bool isConnected() const { return channel_->isConnected(); }

    // The message in raw multi-line text: dots unstuffed and the terminator line removed. The
    // CR LF in front of the terminator ends the message's last line and stays.
    [[nodiscard]] static std::string messageText(std::string_view raw);
    // The same in place, without a second copy of a large message.
    static void toMessageText(std::string& text);

protected:
    // For the TLS session: channel is the connection the commands run over.
    PopConnImpl(std::unique_ptr<ByteChannel> channel, bool tls);
    [[nodiscard]] ByteChannel& channel() { return *channel_; }
    [[nodiscard]] bool sendCommand(std::string_view text, LogBase& log);
    void quitIfConnected();
    // A new connection has capabilities of its own.
    void forgetCapabilities() {
        capaAsked_ = pipelining_ = stls_ = false;
        sasl_.clear();
    }
    // The greeting just read (APOP takes its time stamp) and the server (OAUTHBEARER names it).
    void rememberServer(std::string_view host, int port) {
        greeting_ = lastStatus_;
        host_.assign(host);
        port_ = port;
    }

private:
    // The login steps of the methods other than USER and PASS (PopConnImplAuth.cpp).
    [[nodiscard]] bool loginApop(std::string_view user, std::string_view password, LogBase& log);
    [[nodiscard]] bool loginOAuth(std::string_view user, LogBase& log);
    [[nodiscard]] bool saslExchange(std::string_view name, std::string_view response, bool bearer,
                                    LogBase& log);
    // The STLS step of connectAndLogin.
    [[nodiscard]] bool negotiateStls(std::string_view host, LogBase& log);
    [[nodiscard]] bool readDotLines(const std::function<void(std::string_view)>& take,
                                    LogBase& log);
    [[nodiscard]] bool sendRetr(std::string_view commands, int number, LogBase& log);
    // The reply to one RETR. inStep tells, on failure, whether the reply was read whole (a
    // refusal), so that what follows it on the connection is still in order.
    [[nodiscard]] bool readRetr(std::string& out, int number, bool pipelined, LogBase& log,
                                ProgressMonitor* monitor, bool& inStep);
    // Reads and drops the replies to RETR commands sent but no longer wanted.
    void skipRetrReplies(size_t count);
    [[nodiscard]] bool retrPipelined(const std::vector<int>& numbers, std::vector<std::string>& out,
                                     LogBase& log, ProgressMonitor* monitor);
    // Reserves room for message number from its announced or listed size.
    void expectMessage(std::string_view statusLine, int number);

    std::unique_ptr<ByteChannel> channel_;
    NorvaneSocket* socket_ = nullptr; // the channel, for the plain session
    bool tls_ = false;
    std::unordered_map<int, long> listedSizes_; // from the last LIST
    bool capaAsked_ = false;
    bool pipelining_ = false;
    bool stls_ = false; // CAPA lists STLS
    std::string sasl_;  // CAPA's SASL mechanisms, blank-separated, upper case
    PopAuth auth_;
    std::string lastStatus_; // the last status line read
    std::string greeting_;
    std::string host_;
    int port_ = 0;
    TlsMode startTls_ = TlsMode::None;
    bool startedTls_ = false;
};

} // namespace norvane
