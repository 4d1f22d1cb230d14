#pragma once

// The receiving half of the mail manager: each member drives the POP3 cache with the current
// settings, closes the session at its end, and passes the bundles it hands back through the
// Filter expression (copy, transfer and header listings; not fetches by UIDL).
//
// TransferMail deletes only messages that arrived whole (the fetch hands back nothing else)
// and kept by the filter, by their number in the same session, from the last to the first,
// and commits by QUIT; a message it could not delete stays on the server.

#include "common/LogBase.h"
#include "common/NorvaneObject.h"
#include "email/Email2.h"
#include "store/MailBundle.h"
#include "transport/PopCache.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class ProgressEvent;

struct PopSettings {
    bool popSsl = false;
    std::string mailHost, popUsername, popPassword;
    int mailPort = 110;
    uint32_t readTimeoutSec = 0;
    uint32_t connectTimeoutSec = 30;
};

class MailMan : public NorvaneObject {
public:
    PopSettings pop;
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
