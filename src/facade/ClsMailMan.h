#pragma once

// The public mail manager: SMTP and POP3 settings, the members that send e-mails, bundles,
// ready MIME and distribution lists, and the members that list, fetch, transfer and delete
// mail on a POP3 server. The send members share one SMTP session, kept open between calls
// for SmtpKeepAliveSeconds (0: each call opens its own and ends it with QUIT); each receive
// member opens a POP3 session and ends it before returning.
//
// Conventions as for ClsEmail: UTF-8 strings, nullable C-string arguments (null stores ""),
// 0-based indexes where there are any, objects returned are new and owned by the caller (null
// on failure), framed members leave the log describing themselves. Passwords are never
// written to the log, the transcript or the mail logs.
//
// Split: ClsMailMan.cpp (settings, loading, receiving), ClsMailManSend.cpp (sending),
// ClsMailManQueue.cpp (queue files).

#include "facade/ClsBase.h"
#include "transport/MailManCore.h"
#include "transport/ProgressMonitor.h"

#include <chrono>
#include <memory>
#include <string>

namespace norvane {

class ClsEmail;
class ClsEmailBundle;
class ClsStringArray;
class SmimeUnwrapper;

class ClsMailMan : public ClsBase, public ProgressEvent {
public:
    ClsMailMan();
    ~ClsMailMan() override;

    // ---- SMTP settings ----
    [[nodiscard]] std::string get_SmtpHost() const { return mailMan_.smtp.host; }
    void put_SmtpHost(const char* host);
    [[nodiscard]] int get_SmtpPort() const { return mailMan_.smtp.port; }
    void put_SmtpPort(int port) { mailMan_.smtp.port = port; }
    // An empty user name or password: no authentication, whatever SmtpAuthMethod says.
    [[nodiscard]] std::string get_SmtpUsername() const { return mailMan_.smtp.username; }
    void put_SmtpUsername(const char* user);
    [[nodiscard]] std::string get_SmtpPassword() const { return mailMan_.smtp.password; }
    void put_SmtpPassword(const char* password);
    [[nodiscard]] std::string get_SmtpLoginDomain() const { return mailMan_.smtp.loginDomain; }
    void put_SmtpLoginDomain(const char* domain);
    // "" (what the server offers), "LOGIN", "PLAIN", "CRAM-MD5", "NTLM", "MSN", "XOAUTH2",
    // "OAUTHBEARER" (both with OAuth2AccessToken) or "NONE".
    [[nodiscard]] std::string get_SmtpAuthMethod() const { return mailMan_.smtp.authMethod; }
    void put_SmtpAuthMethod(const char* method);
    [[nodiscard]] bool get_SendIndividual() const { return mailMan_.sendIndividual; }
    void put_SendIndividual(bool on) { mailMan_.sendIndividual = on; }
    [[nodiscard]] bool get_AutoGenMessageId() const { return mailMan_.autoGenMessageId; }
    void put_AutoGenMessageId(bool on) { mailMan_.autoGenMessageId = on; }
    [[nodiscard]] std::string get_LogMailSentFilename() const { return mailMan_.sentLogPath; }
    void put_LogMailSentFilename(const char* path);
    // How SMTP sessions protect the connection, one of (any case):
    //   "starttls-if-offered" (default) STARTTLS before any login when the server offers it,
    //                         else unencrypted;
    //   "starttls-required"   STARTTLS, and a server that does not offer it is refused;
    //   "implicit"            TLS from the first byte (SMTPS, port 465);
    //   "none"                never TLS (the behaviour before these modes existed).
    // Until it is set, SmtpPort 465 means "implicit". A failed handshake or server check
    // (chain, host name) fails the call; a session never falls back to the clear. The getter
    // gives the mode the current SmtpPort gets. Any other value is refused (logged, no
    // change).
    [[nodiscard]] std::string get_SmtpTls() const;
    void put_SmtpTls(const char* mode);
    // Whether LOGIN and PLAIN may send the password over a connection without TLS (default
    // false: such a login fails before AUTH is sent, with the reason in the log; CRAM-MD5,
    // NTLM and MSN are not affected).
    [[nodiscard]] bool get_AllowPlainAuthWithoutTls() const {
        return mailMan_.smtp.allowPlainAuthWithoutTls;
    }
    void put_AllowPlainAuthWithoutTls(bool on) { mailMan_.smtp.allowPlainAuthWithoutTls = on; }
    // Delivery status notifications (RFC 3461), asked only of a server that offers DSN (the
    // others get the message without them, noted in the log). NOTIFY, sent with each
    // recipient: "" (default: not sent, the server's own rule), "NEVER", or any of "SUCCESS",
    // "FAILURE", "DELAY" joined by commas. Any other value is refused (logged, no change).
    [[nodiscard]] std::string get_DsnNotify() const { return mailMan_.smtp.dsn.notify; }
    void put_DsnNotify(const char* notify);
    // RET, how much of the message a report carries: "" (default: the server's choice),
    // "FULL" or "HDRS". Any other value is refused (logged, no change).
    [[nodiscard]] std::string get_DsnRet() const { return mailMan_.smtp.dsn.ret; }
    void put_DsnRet(const char* ret);
    // ENVID, the sender's name for the message that reports quote: "" (default: not sent) or
    // at most 100 printable ASCII characters. Any other value is refused (logged, no change).
    [[nodiscard]] std::string get_DsnEnvid() const { return mailMan_.smtp.dsn.envid; }
    void put_DsnEnvid(const char* envid);

    // How long (seconds) the SMTP session of one send call stays open for the next one
    // (default 60; 0 or less: every send call opens its own session and ends it with QUIT).
    // A kept session is reset with RSET before it is used; when that fails (the server closed
    // it) a new one is opened once, before anything is sent. A session idle longer than this,
    // or opened with other SMTP settings (host, port, user, password, login domain, method,
    // TLS), is ended and replaced. 60 s is well below the five minutes servers are asked to
    // wait for a command (RFC 5321), so a kept session is normally still there, and short
    // enough that an idle program holds no server connection for long after its last send.
    [[nodiscard]] int get_SmtpKeepAliveSeconds() const { return smtpKeepAliveSec_; }
    void put_SmtpKeepAliveSeconds(int seconds);
    // Ends the kept SMTP session with QUIT (the destructor does the same). True when the
    // server answered QUIT, or no session was open.
    bool CloseSmtpConnection();

    // ---- POP3 settings ----
    [[nodiscard]] std::string get_MailHost() const { return mailMan_.pop.mailHost; }
    void put_MailHost(const char* host);
    [[nodiscard]] int get_MailPort() const { return mailMan_.pop.mailPort; }
    void put_MailPort(int port) { mailMan_.pop.mailPort = port; }
    [[nodiscard]] std::string get_PopUsername() const { return mailMan_.pop.popUsername; }
    void put_PopUsername(const char* user);
    [[nodiscard]] std::string get_PopPassword() const { return mailMan_.pop.popPassword; }
    void put_PopPassword(const char* password);
    // TLS from the first byte (POP3S). The same as PopTls "implicit".
    [[nodiscard]] bool get_PopSsl() const { return mailMan_.pop.popSsl; }
    void put_PopSsl(bool on) { mailMan_.pop.popSsl = on; }
    // How POP3 sessions protect the connection: the SmtpTls values, with STLS for STARTTLS.
    // "starttls-if-offered" (default) sends STLS before the login when CAPA lists it;
    // "starttls-required" refuses a server without it; "implicit" is PopSsl; "none" never
    // encrypts. Any other value is refused (logged, no change).
    [[nodiscard]] std::string get_PopTls() const;
    void put_PopTls(const char* mode);
    // How POP3 sessions log in: "" (default: USER and PASS, or with an OAuth2AccessToken
    // whichever of XOAUTH2 and OAUTHBEARER the server's CAPA lists), "USER", "APOP" (the
    // password's MD5 digest with the greeting's time stamp; a server whose greeting has none
    // is refused, the password is then not sent), "XOAUTH2" or "OAUTHBEARER" (SASL AUTH with
    // the OAuth2AccessToken). Any other value is refused (logged, no change).
    [[nodiscard]] std::string get_PopAuthMethod() const { return popAuthMethod_; }
    void put_PopAuthMethod(const char* method);
    [[nodiscard]] int get_MaxCount() const { return mailMan_.maxCount; }
    void put_MaxCount(int n) { mailMan_.maxCount = n; }
    [[nodiscard]] int get_SizeLimit() const { return static_cast<int>(mailMan_.sizeLimit); }
    void put_SizeLimit(int n) { mailMan_.sizeLimit = n; }
    [[nodiscard]] std::string get_Filter() const { return mailMan_.filter; }
    void put_Filter(const char* filter);
    // Every message fetched whole is appended to this file exactly as received, framed as
    // "--BEGIN RECEIVED NORVANE EMAIL--\n" TEXT "\n--END RECEIVED NORVANE EMAIL--\n".
    [[nodiscard]] std::string get_LogMailReceivedFilename() const {
        return mailMan_.receivedLogPath;
    }
    void put_LogMailReceivedFilename(const char* path);
    [[nodiscard]] bool get_AutoUnwrapSecurity() const { return autoUnwrapSecurity_; }
    void put_AutoUnwrapSecurity(bool on);
    // Reads the object's own flag, which starts false although received certificates are
    // saved until it is first written; writing sets both.
    [[nodiscard]] bool get_AutoSaveCerts() const { return autoSaveCerts_; }
    void put_AutoSaveCerts(bool on);
    [[nodiscard]] bool get_ResetDateOnLoad() const { return resetDateOnLoad_; }
    void put_ResetDateOnLoad(bool on) { resetDateOnLoad_ = on; }

    // ---- both protocols ----
    // An OAuth 2.0 access token (default ""), used with the user name instead of a password:
    // SMTP logs in with XOAUTH2, else OAUTHBEARER, when the server offers one (SmtpAuthMethod
    // may name one of them), POP3 as PopAuthMethod says. The caller obtains and refreshes
    // it; it is never written to the log.
    [[nodiscard]] std::string get_OAuth2AccessToken() const { return mailMan_.smtp.oauthToken; }
    void put_OAuth2AccessToken(const char* token);
    // Seconds; 0 for reads means 30 s.
    [[nodiscard]] int get_ReadTimeout() const {
        return static_cast<int>(mailMan_.pop.readTimeoutSec);
    }
    void put_ReadTimeout(int seconds);
    [[nodiscard]] int get_ConnectTimeout() const {
        return static_cast<int>(mailMan_.pop.connectTimeoutSec);
    }
    void put_ConnectTimeout(int seconds);
    [[nodiscard]] static std::string get_Version() { return "6.0.0"; }

    // ---- sending (ClsMailManSend.cpp) ----
    bool SendEmail(ClsEmail* email);
    // One session for all e-mails, in bundle order; an e-mail that cannot be prepared or sent
    // does not stop the others. False when any e-mail failed or reached no recipient.
    bool SendBundle(ClsEmailBundle* bundle);
    // A plain-text e-mail to smtpServer on port 25 (SmtpPort is not used), with a fresh
    // Message-ID.
    bool QuickSend(const char* from, const char* to, const char* subject, const char* body,
                   const char* smtpServer);
    // Ready MIME text as it is, to the addresses of recipients (an address list).
    bool SendMime(const char* from, const char* recipients, const char* mimeMsg);
    bool SendToDistributionList(ClsEmail* email, const ClsStringArray* distList);
    // The e-mail as it would be sent, every header field included; empty on failure.
    [[nodiscard]] std::string RenderToMime(ClsEmail* email);
    // Appends every refused recipient collected so far.
    void GetBadEmailAddresses(ClsStringArray* strArray) const;
    void ClearBadEmailAddresses() { mailMan_.badAddresses.clear(); }
    // How the server answered for each recipient of the last send call (SendEmail, SendBundle,
    // SendMime, QuickSend, SendToDistributionList; the e-mails of a bundle add up): one result
    // per recipient and transaction, in the order sent. 0 before the first send.
    [[nodiscard]] int get_NumRecipientResults() const {
        return static_cast<int>(mailMan_.recipientResults.size());
    }
    // The recipient's address ("" for an index out of range).
    [[nodiscard]] std::string GetRecipientResultAddress(int index) const;
    // The server's reply code for the recipient: its reply to RCPT TO, or the reply that
    // refused the message after the recipient was taken. 0 when the recipient was never sent
    // (the text says why: a refused sender, a message over the server's SIZE, an address
    // beyond ASCII without SMTPUTF8, a lost connection) and for an index out of range.
    [[nodiscard]] int GetRecipientResultCode(int index) const;
    // The enhanced status code of that reply ("5.1.1") when the server offers
    // ENHANCEDSTATUSCODES, else "".
    [[nodiscard]] std::string GetRecipientResultEnhancedCode(int index) const;
    // The text of that reply after the codes (the lines of a multi-line reply joined by " ").
    [[nodiscard]] std::string GetRecipientResultText(int index) const;
    bool VerifySmtpConnection();
    bool VerifySmtpLogin();

    // ---- queued submission (ClsMailManQueue.cpp) ----
    // The e-mail, prepared as for sending and carrying the SMTP settings, as a new file in the
    // queue directory (the registry's, else "queue" under the user configuration root) or in
    // queueDir. Files are private to their owner and never overwrite one another.
    bool SendQ(ClsEmail* email);
    bool SendQ2(ClsEmail* email, const char* queueDir);
    bool SendMimeQ(const char* from, const char* recipients, const char* mimeMsg);
    // Posts the prepared e-mail, carrying the SMTP settings, as the form field "email"
    // (base64) to a web relay at url (http or https); true only when the relay answers
    // exactly "<success/>". Redirects are not followed.
    bool SendCGI(const char* url, ClsEmail* email);
    // The file the last successful queueing call wrote ("" after a failure).
    [[nodiscard]] std::string get_LastSendQFilename() const { return lastSendQFilename_; }
    // The queue runner's step: sends the queue file at path with the SMTP settings it carries
    // (and this object's TLS settings, which a queue file does not carry) and,
    // once the server has taken it, moves it into sentDir (created when missing) before the
    // session ends. 1: sent and moved; 0: not now (server unreachable, transfer cut), try again
    // later; -1: it can never be sent (unreadable, no sender or recipient, every recipient
    // refused); -2: sent, but it could not be moved.
    [[nodiscard]] int SendQueueFile(const char* path, const char* sentDir);

    // ---- receiving ----
    // Number of messages on the server; -1 when it cannot be asked.
    [[nodiscard]] int CheckMail();
    [[nodiscard]] std::unique_ptr<ClsStringArray> GetUidls();
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> CopyMail();
    // Fetches, then deletes on the server what arrived whole and passed the filter.
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> TransferMail();
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> GetAllHeaders(int numBodyLines);
    // Messages fromIndex..toIndex (0-based, inclusive), header and numBodyLines body lines.
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> GetHeaders(int numBodyLines, int fromIndex,
                                                             int toIndex);
    [[nodiscard]] std::unique_ptr<ClsEmail> FetchEmail(const char* uidl);
    // The whole message behind a header-only e-mail, found by its UIDL.
    [[nodiscard]] std::unique_ptr<ClsEmail> GetFullEmail(ClsEmail* email);
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> FetchMultiple(const ClsStringArray* uidls);
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> FetchMultipleHeaders(const ClsStringArray* uidls,
                                                                       int numBodyLines);
    bool DeleteEmail(ClsEmail* email);
    bool DeleteByUidl(const char* uidl);
    bool DeleteBundle(ClsEmailBundle* bundle);
    bool DeleteMultiple(const ClsStringArray* uidls);
    bool VerifyPopConnection();
    bool VerifyPopLogin();

    // ---- loading ----
    // Never null unless mimeText is null; an empty text gives an empty e-mail.
    [[nodiscard]] std::unique_ptr<ClsEmail> LoadMime(const char* mimeText);
    [[nodiscard]] std::unique_ptr<ClsEmail> LoadEml(const char* emlFilename);
    [[nodiscard]] std::unique_ptr<ClsEmail> LoadXmlEmail(const char* emailFilename);
    [[nodiscard]] std::unique_ptr<ClsEmail> LoadXmlEmailString(const char* xmlString);
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> LoadXmlFile(const char* folderPath);
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> LoadXmlString(const char* xmlString);
    // The messages of a Unix mailbox file, the last message of the file first, each ready to be
    // sent again. Never null: empty when the file cannot be read.
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> LoadMbx(const char* mbxFileName);

    // ProgressEvent: every transfer goes on.
    void PercentDone(int percent, bool& abort) override;
    void AbortCheck(bool& abort) override;

    // For in-process peers and tests: the internal mail manager.
    [[nodiscard]] MailManCore& mailMan() { return mailMan_; }

private:
    [[nodiscard]] std::unique_ptr<ClsEmailBundle> toBundle(std::unique_ptr<MailBundle> fetched);
    [[nodiscard]] std::unique_ptr<ClsEmail> toEmail(std::unique_ptr<Email2> fetched);
    [[nodiscard]] bool deleteUidls(const std::vector<std::string>& uidls);
    // connectSmtp, with the members' own message when it fails.
    [[nodiscard]] bool connectOrLog(SmtpConnImpl& conn, std::string_view host = {}, int port = 0);
    // The send steps after the session is open: prepare, send, report.
    // The session for a send call: the kept one when it may be used and answers RSET, else a
    // new one (the kept one ended). Null, with the reason logged, when none can be opened.
    [[nodiscard]] SmtpConnImpl* openSmtp(std::string_view host = {}, int port = 0);
    // After a send call: the session's results collected, and the session kept when reuse is
    // on and it is in step with the server, else ended with QUIT.
    void releaseSmtp();
    // PopSettings::auth from PopAuthMethod and the token.
    void updatePopAuth();
    // The settings a session is opened with, as one text to compare.
    [[nodiscard]] std::string smtpSessionKey(std::string_view host, int port) const;
    // The recipient results of conn's transactions, added to the last send call's.
    void collectResults(SmtpConnImpl& conn);
    [[nodiscard]] const smtp::RecipientResult* recipientResult(int index) const;
    [[nodiscard]] bool sendOne(SmtpConnImpl& conn, const ClsEmail& email, ProgressMonitor* monitor,
                               bool& fatal);

    // The copy that is queued or posted: prepared as for sending, with the transfer fields.
    [[nodiscard]] std::unique_ptr<Email2> prepareForTransfer(const ClsEmail& email,
                                                             std::string_view failure);
    [[nodiscard]] bool queueEmail(const ClsEmail& email, std::string_view dir);

    MailManCore mailMan_;
    // The SMTP session kept between send calls (null: none), the settings it was opened with
    // and when its last call ended.
    std::unique_ptr<SmtpConnImpl> smtpSession_;
    std::string smtpSessionKey_;
    std::chrono::steady_clock::time_point smtpSessionUsed_;
    int smtpKeepAliveSec_ = 60;
    std::string popAuthMethod_;
    std::string lastSendQFilename_;
    std::unique_ptr<SmimeUnwrapper> unwrapper_;
    bool autoUnwrapSecurity_ = true;
    bool autoSaveCerts_ = false;
    bool resetDateOnLoad_ = false;
};

} // namespace norvane
