#pragma once

// The POP3 side of a mail manager: opens the session on demand (plain or TLS), retries a
// failed command once on a fresh session, and keeps a table mapping each UIDL to the
// message's number in the current session, its size and a cached header-only copy, so that
// repeated header listings send TOP only for new messages.
//
// Message numbers are valid only inside one session; closing it clears them. A number is
// never reused in a new session without re-resolving it from its UIDL: another client may
// have expunged messages in between, and the same number may then name another message.
// Deletions take effect at QUIT and are committed every 500 DELE commands.

#include "common/LogBase.h"
#include "common/NorvaneObject.h"
#include "email/Email2.h"
#include "store/MailBundle.h"
#include "transport/PopConnImpl.h"
#include "transport/TlsMode.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class ProgressMonitor;

struct PopEntry {
    bool hasSize = false;
    bool hasUidl = false;
    bool hasNumber = false; // number valid in the current session
    long size = 0;
    std::string uidl;
    uint32_t uidlHash = 0;
    int number = 0;
    bool deleted = false;           // DELE was sent for it
    std::unique_ptr<Email2> header; // cached header-only e-mail
    int headerLines = 0;            // body lines the cached header was fetched with
    bool seen = false;              // present in the latest listing
};

// How fetched message text becomes an e-mail, and where it is logged.
struct PopFetchOptions {
    // Each received message is appended here between marker lines; empty: no log.
    std::string receivedLogPath;
    FromMimeOptions mime;
};

class PopCache : public NorvaneObject {
public:
    PopCache() = default;
    ~PopCache() override;
    PopCache(const PopCache&) = delete;
    PopCache& operator=(const PopCache&) = delete;

    // Always stores the time-outs; a change of host, user, password, port, TLS or login drops any
    // open session. startTls is the STLS mode of a session without useTls.
    void configure(bool useTls, std::string_view host, std::string_view user,
                   std::string_view password, int port, uint32_t readTimeoutSec,
                   uint32_t connectTimeoutSec, TlsMode startTls = TlsMode::None,
                   const PopAuth& auth = {});
    [[nodiscard]] bool ensureConnected(LogBase& log);
    // Ends the session (QUIT) and forgets all message numbers.
    void close();
    // close, then 1000 units on the monitor: makes deletions permanent.
    void commit(ProgressMonitor* monitor);

    [[nodiscard]] bool messageCount(int& count, long& size, LogBase& log);
    // Replaces the table by the server's UIDL listing (cached headers are lost).
    [[nodiscard]] bool reloadUidlMap(LogBase& log);
    // Updates the table from the UIDL listing, keeping cached headers.
    [[nodiscard]] bool mergeUidlMap(LogBase& log);
    // Sizes from LIST; entries the listing no longer shows are removed.
    [[nodiscard]] bool refreshSizes(LogBase& log);
    [[nodiscard]] bool getUidls(std::vector<std::string>& out, LogBase& log);

    // The current number of the message with that UIDL, or -1.
    [[nodiscard]] int numberForUidl(std::string_view uidl, LogBase& log);
    // Null when no entry has that number in this session.
    [[nodiscard]] PopEntry* entryForNumber(int number, LogBase& log);

    // The first maxCount messages in server order, skipping (but counting) those larger than
    // sizeLimit; stops at the first failed message and returns what arrived. Null on failure
    // before any fetch or when the monitor aborts.
    [[nodiscard]] std::unique_ptr<MailBundle> fetchAll(long sizeLimit, int maxCount,
                                                       const PopFetchOptions& opts,
                                                       ProgressMonitor* monitor, LogBase& log);
    // Header-only e-mails of the first maxCount messages; failed messages are skipped.
    [[nodiscard]] std::unique_ptr<MailBundle>
    fetchAllHeaders(int bodyLines, int maxCount, ProgressMonitor* monitor, LogBase& log);
    // Header-only e-mails of the messages at zero-based positions from ... to.
    [[nodiscard]] std::unique_ptr<MailBundle>
    fetchHeaderRange(int bodyLines, int from, int to, ProgressMonitor* monitor, LogBase& log);
    // Whole e-mails; null on failure.
    [[nodiscard]] std::unique_ptr<Email2> fetchByUidl(std::string_view uidl,
                                                      const PopFetchOptions& opts,
                                                      ProgressMonitor* monitor, LogBase& log);
    [[nodiscard]] std::unique_ptr<Email2> fetchByNumber(int number, const PopFetchOptions& opts,
                                                        ProgressMonitor* monitor, LogBase& log);
    // Header and bodyLines lines of the body, marked "NVZ-HeaderOnly: true"; null on failure.
    [[nodiscard]] std::unique_ptr<Email2> fetchHeaderByUidl(std::string_view uidl, int bodyLines,
                                                            ProgressMonitor* monitor, LogBase& log);
    [[nodiscard]] std::unique_ptr<Email2>
    fetchHeaderByNumber(int number, int bodyLines, ProgressMonitor* monitor, LogBase& log);

    // DELE for each UIDL that the server still lists (the others are logged and skipped);
    // false at the first refused DELE or when the listing cannot be read.
    [[nodiscard]] bool deleteUidls(const std::vector<std::string>& uidls, ProgressMonitor* monitor,
                                   bool commitAtEnd, LogBase& log);
    // DELE of a number of the current session. When the session was lost the message is
    // found again by its UIDL in a new session; one whose UIDL is gone is not deleted.
    [[nodiscard]] bool deleteByNumber(int number, ProgressMonitor* monitor, LogBase& log);
    // Sum of the known sizes of those UIDLs.
    [[nodiscard]] long long sizeOfUidls(const std::vector<std::string>& uidls) const;

    // While set, an unknown UIDL or number does not reload the map.
    void setMultiFetch(bool on) { multiFetch_ = on; }
    [[nodiscard]] const std::vector<std::unique_ptr<PopEntry>>& entries() const { return entries_; }

    // deleteByNumber for each of numbers, in that order, the commands pipelined while the
    // session lasts; stops at the first that cannot be deleted.
    [[nodiscard]] bool deleteNumbers(const std::vector<int>& numbers, ProgressMonitor* monitor,
                                     LogBase& log);

private:
    [[nodiscard]] bool deleteEachByNumber(const std::vector<int>& numbers, size_t from,
                                          ProgressMonitor* monitor, LogBase& log);
    // The e-mail of one RETR answer (text is changed in place), logged as received.
    [[nodiscard]] std::unique_ptr<Email2>
    emailFromRetr(std::string& text, int number, const PopFetchOptions& opts, LogBase& log) const;
    // The messages numbers names, pipelined where the server allows it, appended to bundle;
    // numbers is emptied. False (the session dropped) when one could not be fetched whole.
    [[nodiscard]] bool fetchBatch(std::vector<int>& numbers, const PopFetchOptions& opts,
                                  MailBundle& bundle, ProgressMonitor* monitor, LogBase& log);
    PopConnImpl* session();
    void dropSession() { session_.reset(); }
    void clearNumbers();
    // The UIDL listing with the one retry.
    [[nodiscard]] bool listUidls(std::vector<int>& numbers, std::vector<std::string>& uidls,
                                 LogBase& log);
    [[nodiscard]] PopEntry* findUidl(std::string_view uidl);
    [[nodiscard]] PopEntry* findNumber(int number);
    void applyXUidl(const PopEntry& e, Email2& email) const;
    enum class DeleteResult { Deleted, Skipped, Failed };
    [[nodiscard]] DeleteResult deleteOne(const std::string& uidl, bool& reloaded, LogBase& log);
    [[nodiscard]] bool retryDeleteByUidl(const std::string& uidl, LogBase& log);

    std::vector<std::unique_ptr<PopEntry>> entries_;
    std::string host_, user_, password_;
    int port_ = 110;
    uint32_t readTimeoutSec_ = 0;
    uint32_t connectTimeoutSec_ = 5;
    bool useTls_ = false;
    TlsMode startTls_ = TlsMode::None;
    PopAuth auth_;
    std::unique_ptr<PopConnImpl> session_; // plain or TLS (sessionTls_), at most one
    bool sessionTls_ = false;
    bool multiFetch_ = false;
};

} // namespace norvane
