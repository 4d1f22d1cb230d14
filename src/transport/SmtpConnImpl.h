#pragma once

// One SMTP client conversation: connect, greeting, EHLO (or HELO), authentication, any number
// of mail transactions, and QUIT when the object goes. Everything said on the wire through
// sendCommand, and every reply line, is kept in a transcript that is copied into the log after
// a failure; EHLO/HELO and the credential lines of the authentication mechanisms are sent
// directly and never recorded, so no password or token reaches the transcript or the log.
//
// Nothing taken from the caller that would end a command line (CR, LF, NUL in an address,
// user name, host or EHLO name) is ever sent: such a command is refused before it is written.

#include "common/LogBase.h"
#include "common/StringBuffer.h"
#include "transport/DistributionList.h"
#include "transport/NorvaneSocket.h"
#include "transport/PackageExchange.h"
#include "transport/SessionChannel.h"
#include "transport/SmtpAuthFlags.h"
#include "transport/SmtpMail.h"
#include "transport/SmtpWire.h"
#include "transport/TlsMode.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane {

class ProgressMonitor;

// Counters of one send: recipients accepted and attempted, and whether the failure leaves
// the session unusable (after DATA began, or for an e-mail that cannot be sent at all).
struct SmtpSendCounts {
    int numSent = 0;
    int numTried = 0;
    bool fatal = false;
};

class SmtpConnImpl : public PackageExchange {
public:
    SmtpConnImpl() = default;
    // Sends QUIT (outcome ignored) when the connection is open.
    ~SmtpConnImpl() override;
    SmtpConnImpl(const SmtpConnImpl&) = delete;
    SmtpConnImpl& operator=(const SmtpConnImpl&) = delete;

    // Connects, reads the greeting, says EHLO (HELO when refused), starts TLS as the TLS mode
    // says and authenticates when a user name and password are given. readTimeoutMs 0 means
    // 30000.
    [[nodiscard]] bool connect(std::string_view host, int port, std::string_view user,
                               std::string_view password, std::string_view domain,
                               std::string_view authMethod, uint32_t connectTimeoutSec,
                               uint32_t readTimeoutMs, LogBase& log);
    // Greeting and EHLO/HELO only, with a 10 s read time-out; over TLS from the first byte in
    // the Implicit mode (the other modes do not start TLS for this check).
    [[nodiscard]] bool checkConnectivity(std::string_view host, int port,
                                         uint32_t connectTimeoutSec, LogBase& log);

    // One transaction for an e-mail: MAIL FROM, RCPT TO for To, Cc and Bcc, DATA. Refused
    // recipients go to badAddresses. MAIL FROM carries SIZE, BODY=8BITMIME (8-bit text),
    // SMTPUTF8 (an address beyond ASCII) and the DSN options where the server offers them; a
    // message larger than the server's SIZE, or an address beyond ASCII without SMTPUTF8, is
    // refused before MAIL FROM. preRenderedMime, when given, is sent instead of the
    // e-mail's own rendering. True only when every recipient was accepted and the server
    // took the message.
    [[nodiscard]] bool sendEmail(SmtpMail& email, const std::string* preRenderedMime,
                                 std::string_view sentLogPath, LogBase& log,
                                 ProgressMonitor* monitor, SmtpSendCounts& counts,
                                 DistributionList& badAddresses);
    // The mail manager's entry: a fresh Message-ID when asked, and the distribution-list file
    // named by the e-mail's "NVX-FileDistList" header when it holds addresses.
    [[nodiscard]] bool sendEmailToList(SmtpMail* email, const std::string* preRenderedMime,
                                       std::string_view sentLogPath, LogBase& log,
                                       ProgressMonitor* monitor, SmtpSendCounts& counts,
                                       DistributionList& badAddresses, bool sendIndividual,
                                       bool autoGenMessageId);
    // Sends the e-mail to every address of list: in Bcc batches of 100, or one transaction
    // per address with sendIndividual; each transaction under a fresh Message-ID. Counts add
    // up over the transactions. False only when a transaction failed fatally.
    [[nodiscard]] bool sendToDistributionList(const DistributionList& list, SmtpMail& email,
                                              const std::string* preRenderedMime,
                                              std::string_view sentLogPath, LogBase& log,
                                              ProgressMonitor* monitor, SmtpSendCounts& counts,
                                              DistributionList& badAddresses, bool sendIndividual);
    // A transaction for ready MIME text; from and recipients are address list texts.
    [[nodiscard]] bool sendMime(std::string_view from, std::string_view recipients,
                                std::string_view mimeText, LogBase& log);
    // The same with bare addresses already separated.
    [[nodiscard]] bool sendMimeTo(std::string_view from, std::span<const std::string> recipients,
                                  std::string_view mimeText, LogBase& log);

    // Whether the session is open and in step with the server: no read or write failed or
    // timed out, so the next reply read is the answer to the next command.
    [[nodiscard]] bool inStep() const;
    // RSET on a session kept between calls: true when it is in step and the server answered
    // 250; anything else marks it out of step.
    [[nodiscard]] bool reset(LogBase& log);
    // QUIT and close; true when the server answered 221 (or nothing was open).
    bool quit(LogBase& log);

    // Wire helpers. sendCommand records the text (its first 2500 bytes) in the transcript.
    [[nodiscard]] bool sendCommand(std::string_view text, LogBase& log);
    // One reply line; deadline (when given) is shared with the other lines of the reply.
    [[nodiscard]] bool readReplyLine(std::string& line, LogBase& log,
                                     ReadDeadline* deadline = nullptr);
    // Reads a whole (multi-line) reply; true when its code is expected.
    [[nodiscard]] bool readReply(int expected, LogBase& log);
    // The same; received tells whether a whole reply arrived (false: the connection failed).
    [[nodiscard]] bool readReply(int expected, LogBase& log, bool& received);
    // Reads exactly one line; true when its code is expected.
    [[nodiscard]] bool readSingleLineReply(int expected, std::string& line, LogBase& log);
    [[nodiscard]] bool command(std::string_view text, int expected, LogBase& log);

    // Authentication mechanisms, run after an accepted EHLO.
    [[nodiscard]] bool authLogin(std::string_view user, std::string_view password, LogBase& log);
    [[nodiscard]] bool authPlain(std::string_view user, std::string_view password, LogBase& log);
    [[nodiscard]] bool authCramMd5(std::string_view user, std::string_view password, LogBase& log);
    [[nodiscard]] bool authNtlm(std::string_view domain, std::string_view user,
                                std::string_view password, bool& fallbackToLogin, LogBase& log);
    [[nodiscard]] bool authMsn(std::string_view domain, std::string_view user,
                               std::string_view password, bool& fallbackToLogin, LogBase& log);
    // XOAUTH2 or OAUTHBEARER (bearer) with the token of setOAuthToken.
    [[nodiscard]] bool authOAuth(bool bearer, std::string_view user, LogBase& log);

    [[nodiscard]] bool exchangePackage(std::vector<uint8_t>& serverToken,
                                       std::span<const uint8_t> clientToken, LogBase* log) override;
    [[nodiscard]] bool sendFinal(std::span<const uint8_t> clientToken, LogBase* log) override;

    // Whether an NTLM or MSN login may answer with an NTLMv1 response when a server refuses
    // NTLMv2 (default false). NTLMv1 is weak: a recorded v1 exchange can be cracked to the
    // password's hash. Turn it on only for a known server that speaks nothing newer.
    void setAllowNtlmV1(bool allowed) { allowNtlmV1_ = allowed; }
    [[nodiscard]] bool allowNtlmV1() const { return allowNtlmV1_; }

    // How the session protects its connection (default None: always in the clear). With
    // StartTlsIfOffered or StartTlsRequired the session sends STARTTLS after the first EHLO,
    // drops anything the server sent before the handshake, and says EHLO again over TLS.
    void setTlsMode(TlsMode mode) { tlsMode_ = mode; }
    [[nodiscard]] TlsMode tlsMode() const { return tlsMode_; }
    // Whether LOGIN and PLAIN, which show the password to anyone on the path, may be used
    // over a connection without TLS (default true; the mail manager's default is false).
    void setAllowPlainAuthWithoutTls(bool allowed) { allowPlainAuth_ = allowed; }
    // An OAuth 2.0 access token: with it connect logs in with XOAUTH2 or OAUTHBEARER when the
    // server offers one (a user name is still needed, no password). Never logged.
    void setOAuthToken(std::string_view token) { oauthToken_.assign(token); }
    // Whether the connection runs over TLS now.
    [[nodiscard]] bool encrypted() const { return socket_.encrypted(); }

    [[nodiscard]] const StringBuffer& transcript() const { return transcript_; }
    [[nodiscard]] const SmtpAuthFlags& authFlags() const { return flags_; }
    [[nodiscard]] NorvaneSocket& socket() { return socket_.tcp(); }
    // Whether the last EHLO reply offered PIPELINING: the envelope commands of a transaction
    // then go out in one write, with the replies read and checked afterwards in order.
    [[nodiscard]] bool serverPipelines() const { return ext_.pipelining; }
    // What the last EHLO reply offered.
    [[nodiscard]] const smtp::Extensions& extensions() const { return ext_; }

    // The DSN options of every following transaction; sent only to a server offering DSN.
    void setDsn(smtp::DsnOptions dsn) { dsn_ = std::move(dsn); }

    // How the server answered for each recipient of the transactions since the last take, in
    // order: the RCPT TO reply, or the reply that refused the message after the recipient was
    // taken, or code 0 with the reason when the recipient was never sent.
    [[nodiscard]] std::vector<smtp::RecipientResult> takeRecipientResults() {
        return std::exchange(results_, {});
    }

private:
    [[nodiscard]] bool openSocket(std::string_view host, int port, LogBase& log);
    [[nodiscard]] bool sayEhlo(LogBase& log, bool& accepted);
    // The TLS step of connect after the first accepted (or refused) EHLO: STARTTLS and the
    // second EHLO when the mode and the server call for it (SmtpConnImpl.cpp).
    [[nodiscard]] bool negotiateTls(std::string_view host, bool& accepted, LogBase& log);
    // True (and logged) when LOGIN or PLAIN must not run on this connection.
    [[nodiscard]] bool plainAuthRefused(LogBase& log) const;
    [[nodiscard]] bool sayHelo(std::string_view host, LogBase& log);
    [[nodiscard]] bool runAuthentication(std::string_view user, std::string_view password,
                                         std::string_view domain, LogBase& log);
    [[nodiscard]] bool authPackage(std::string_view name, std::string_view domain,
                                   std::string_view user, std::string_view password,
                                   bool& fallbackToLogin, LogBase& log);
    [[nodiscard]] bool sendUnrecorded(std::string_view text, LogBase& log);
    // Every write of the session; a failed one puts the session out of step.
    [[nodiscard]] bool write(const void* data, size_t length, LogBase& log,
                             ProgressMonitor* monitor);
    void recordCommand(std::string_view text);
    [[nodiscard]] bool mailFrom(std::string_view sender, std::string_view params, LogBase& log);
    [[nodiscard]] bool rcptTo(std::string_view address, LogBase& log);
    // The result of one recipient from the reply just read (received false: none came).
    void noteRecipient(std::string_view address, bool received);
    void noteUnsent(std::string_view address, std::string_view reason);
    // Recipients from index first on that the server took get the reply that refused the
    // message after all (or a lost connection's reason).
    void noteMessageRefused(size_t first, bool received);
    // text is the message before framing: it is framed while it is written.
    [[nodiscard]] bool transmitData(std::string_view text, ProgressMonitor* monitor, LogBase& log);
    [[nodiscard]] bool transmitText(std::string_view text, ProgressMonitor* monitor, LogBase& log);
    // One recipient of a pipelined envelope and the texts its outcome is logged with.
    struct Recipient {
        std::string_view address;
        const char* logName;
        const char* failure;
    };
    // The MAIL FROM parameters for this message and recipients (and the RCPT TO ones, kept
    // for the transaction); false, with every recipient noted unsent, when the server cannot
    // take the message. tooLarge: refused for its size.
    [[nodiscard]] bool envelopeParameters(std::string_view sender, std::span<const Recipient> rcpts,
                                          std::string_view text, std::string& mailParams,
                                          bool& tooLarge, LogBase& log);
    struct EnvelopeResult {
        bool mailAccepted = false;
        bool dataAccepted = false;
        int accepted = 0;
    };
    // MAIL FROM, every RCPT TO and DATA in one write, then their replies in order, each
    // handled as the one-by-one path handles it. False when the connection failed.
    [[nodiscard]] bool pipelineEnvelope(std::string_view sender, std::string_view mailParams,
                                        std::span<const Recipient> rcpts, LogBase& log,
                                        ProgressMonitor* monitor, DistributionList* badAddresses,
                                        EnvelopeResult& result);
    // After a refused MAIL FROM or with no recipient accepted: DATA's reply is read quietly and
    // a data phase the server opened anyway is closed empty.
    [[nodiscard]] bool closeRefusedData();
    [[nodiscard]] bool sendEmailPipelined(std::span<const Recipient> rcpts,
                                          const std::string& sender, std::string_view mailParams,
                                          std::string_view text, std::string_view sentLogPath,
                                          LogBase& log, ProgressMonitor* monitor,
                                          SmtpSendCounts& counts, DistributionList& badAddresses);
    [[nodiscard]] bool sendMimePipelined(std::string_view from, std::string_view mailParams,
                                         std::span<const Recipient> rcpts,
                                         std::string_view mimeText, LogBase& log);
    void sendRecipients(std::span<const Recipient> rcpts, LogBase& log, ProgressMonitor* monitor,
                        SmtpSendCounts& counts, DistributionList& badAddresses);
    void logTranscript(LogBase& log) { log.logInfo(transcript_.view()); }
    void appendTranscript(std::string_view text);

    // The session's connection, in the clear or over TLS: every read and write goes through it.
    SessionChannel socket_;
    StringBuffer transcript_;
    SmtpAuthFlags flags_;
    int lastReplyCode_ = 0;
    // The lines of the last whole reply read by readReply, and whether it arrived whole.
    std::string lastReply_;
    bool lastReplyReceived_ = false;
    // A read or write failed: the session is out of step with the server.
    bool broken_ = false;
    smtp::Extensions ext_;
    smtp::DsnOptions dsn_;
    // NOTIFY for the RCPT TO commands of the current transaction ("" when not sent).
    std::string rcptParams_;
    std::vector<smtp::RecipientResult> results_;
    bool allowNtlmV1_ = false;
    TlsMode tlsMode_ = TlsMode::None;
    bool allowPlainAuth_ = true;
    std::string oauthToken_;
    // The server as connect was given it (OAUTHBEARER names it).
    std::string host_;
    int port_ = 0;
};

} // namespace norvane
