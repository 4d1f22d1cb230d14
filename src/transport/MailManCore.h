#pragma once

// The mail manager's settings and the steps behind its members.
//
// Receiving: each member drives the POP3 cache with the current settings, closes the session
// at its end, and passes the bundles it hands back through the Filter expression (copy,
// transfer and header listings; not fetches by UIDL).
//
// TransferMail deletes only messages that arrived whole (the fetch hands back nothing else)
// and kept by the filter, by their number in the same session, from the last to the first,
// and commits by QUIT; a message it could not delete stays on the server.
//
// Sending (MailManCoreSend.cpp): the public object opens an SMTP session with connectSmtp (and
// may keep it for its next call), prepares each e-mail with prepareForSending and hands it to
// sendPrepared.

#include "common/LogBase.h"
#include "common/NorvaneObject.h"
#include "email/Email2.h"
#include "store/MailBundle.h"
#include "transport/DistributionList.h"
#include "transport/PopCache.h"
#include "transport/SmtpWire.h"
#include "transport/TlsMode.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class ProgressEvent;
class ProgressMonitor;
class SmtpConnImpl;
struct SmtpSendCounts;

struct PopSettings {
    // TLS from the first byte; startTls is not used then.
    bool popSsl = false;
    // Without popSsl: STLS when the server offers it (StartTlsIfOffered), always
    // (StartTlsRequired: a server without it is refused before the login) or never (None).
    TlsMode startTls = TlsMode::StartTlsIfOffered;
    std::string mailHost, popUsername, popPassword;
    // USER/PASS, APOP or an OAuth 2.0 mechanism, with the access token.
    PopAuth auth;
    int mailPort = 110;
    uint32_t readTimeoutSec = 0;
    uint32_t connectTimeoutSec = 30;
};

struct SmtpSettings {
    std::string host = "localhost";
    int port = 25;
    // An empty user name or password: no authentication.
    std::string username, password, loginDomain, authMethod;
    // Unset: TLS from the first byte on port 465, StartTlsIfOffered on any other port.
    std::optional<TlsMode> tls;
    // LOGIN and PLAIN over a connection without TLS show the password to anyone on the path.
    bool allowPlainAuthWithoutTls = false;
    // OAuth 2.0 access token for XOAUTH2 / OAUTHBEARER (empty: none).
    std::string oauthToken;
    // Delivery status notifications asked of a server that offers DSN.
    smtp::DsnOptions dsn;

    [[nodiscard]] TlsMode tlsFor(int onPort) const {
        return tls ? *tls : onPort == 465 ? TlsMode::Implicit : TlsMode::StartTlsIfOffered;
    }
};

class MailManCore : public NorvaneObject {
public:
    PopSettings pop;
    SmtpSettings smtp;
    // Distribution lists go out one message per recipient (else in Bcc batches).
    bool sendIndividual = true;
    // Each sent e-mail gets a fresh Message-ID.
    bool autoGenMessageId = true;
    // Each sent message is appended here; empty: no log.
    std::string sentLogPath;
    // QuickSend names its server but always uses the SMTP port; only tests change it.
    int quickSendPort = 25;
    // Every recipient a server refused, across sends, until cleared.
    DistributionList badAddresses;
    // How the server answered for each recipient of the last send call.
    std::vector<smtp::RecipientResult> recipientResults;
    std::string filter;
    int maxCount = 999999;
    long sizeLimit = 999999999;
    bool saveCerts = true;
    // Null: signed or encrypted messages are handed back as they arrived.
    SecurityUnwrapper* unwrapper = nullptr;
    // Each received message is appended here; empty: no log.
    std::string receivedLogPath;

    // Number of messages on the server, or -1.
    [[nodiscard]] int checkMail(LogBase& log);
    [[nodiscard]] bool getUidls(std::vector<std::string>& out, LogBase& log);

    // Null when the fetch could not start ("Failed to get mail."); an empty bundle when the
    // server holds no message.
    [[nodiscard]] std::unique_ptr<MailBundle> copyMail(ProgressEvent* sink, LogBase& log);
    [[nodiscard]] std::unique_ptr<MailBundle> transferMail(ProgressEvent* sink, LogBase& log);
    [[nodiscard]] std::unique_ptr<MailBundle> getAllHeaders(int numBodyLines, ProgressEvent* sink,
                                                            LogBase& log);
    [[nodiscard]] std::unique_ptr<MailBundle>
    getHeaders(int numBodyLines, int fromIndex, int toIndex, ProgressEvent* sink, LogBase& log);

    // The whole message with that UIDL, or null.
    [[nodiscard]] std::unique_ptr<Email2> fetchEmail(std::string_view uidl, ProgressEvent* sink,
                                                     LogBase& log);
    // The messages of those UIDLs that the server still holds, in that order.
    [[nodiscard]] std::unique_ptr<MailBundle> fetchMultiple(const std::vector<std::string>& uidls,
                                                            ProgressEvent* sink, LogBase& log);
    [[nodiscard]] std::unique_ptr<MailBundle>
    fetchMultipleHeaders(const std::vector<std::string>& uidls, int numBodyLines,
                         ProgressEvent* sink, LogBase& log);

    // Deletes the messages with those UIDLs (from the e-mails' "X-UIDL" for the bundle form),
    // committed by QUIT.
    [[nodiscard]] bool deleteUidls(const std::vector<std::string>& uidls, ProgressEvent* sink,
                                   LogBase& log);
    [[nodiscard]] bool deleteBundle(const MailBundle& bundle, ProgressEvent* sink, LogBase& log);

    // Removes the e-mails for which the filter is false (nothing when it is empty).
    void applyFilter(MailBundle& bundle, LogBase& log) const;

    [[nodiscard]] PopCache& cache() { return cache_; }

    // The messages of a Unix mailbox file in file order, parsed with the unwrapping settings
    // and kept by the filter (MailboxFile.cpp). Never null: empty, with the reason in the log,
    // when the file cannot be read.
    [[nodiscard]] std::unique_ptr<MailBundle> loadMbx(std::string_view path, LogBase& log) const;

    // ---- sending ----

    // Connects and authenticates with the SMTP settings; host and port replace the settings'
    // when given (non-empty, non-zero). Uses the POP3 connect time-out and read time-out (0:
    // 30 s), which the two protocols share.
    [[nodiscard]] bool connectSmtp(SmtpConnImpl& conn, LogBase& log, std::string_view host = {},
                                   int port = 0) const;
    // Turns copy (the caller's e-mail with replace patterns applied) into what is sent: no Bcc
    // field, the receipt request when "NVX-ReturnReceipt" is "YES", then signing and/or encryption
    // when the e-mail asks for them. Null when securing fails.
    [[nodiscard]] static std::unique_ptr<Email2> prepareForSending(std::unique_ptr<Email2> copy,
                                                                   LogBase& log);
    // One prepared e-mail through an open session, with the sent-mail log, the bad-address
    // list, SendIndividual and AutoGenMessageId.
    [[nodiscard]] bool sendPrepared(SmtpConnImpl& conn, Email2& prepared, ProgressMonitor* monitor,
                                    SmtpSendCounts& counts, LogBase& log);
    [[nodiscard]] uint32_t smtpReadTimeoutMs() const;

private:
    void configureCache();
    [[nodiscard]] PopFetchOptions fetchOptions() const;
    [[nodiscard]] std::unique_ptr<MailBundle> fetchAllFiltered(ProgressMonitor& monitor,
                                                               LogBase& log);
    [[nodiscard]] std::unique_ptr<MailBundle> finishBundle(std::unique_ptr<MailBundle> fetched,
                                                           LogBase& log) const;

    PopCache cache_;
};

} // namespace norvane
