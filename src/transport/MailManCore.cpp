#include "transport/MailManCore.h"

#include "transport/Expression.h"
#include "transport/ProgressMonitor.h"

namespace norvane {

namespace {

constexpr uint32_t kReceiveTotal = 1000;

std::string xUidl(const Email2& e) {
    StringBuffer v;
    (void)e.getHeaderField("X-UIDL", v);
    v.trim2();
    return std::move(v.str());
}

} // namespace

void MailManCore::configureCache() {
    cache_.configure(pop.popSsl, pop.mailHost, pop.popUsername, pop.popPassword, pop.mailPort,
                     pop.readTimeoutSec, pop.connectTimeoutSec, pop.startTls, pop.auth);
}

PopFetchOptions MailManCore::fetchOptions() const {
    PopFetchOptions o;
    o.receivedLogPath = receivedLogPath;
    o.mime.saveCerts = saveCerts;
    o.mime.unwrapper = unwrapper;
    return o;
}

void MailManCore::applyFilter(MailBundle& bundle, LogBase& log) const {
    if (filter.empty())
        return;
    log.logData("filter", filter);
    for (int i = bundle.count() - 1; i >= 0; --i) {
        Expression expr(filter); // evaluation may rewrite the text, so one per e-mail
        if (!expr.evaluate(*bundle.get(i)))
            (void)bundle.take(i);
    }
}

std::unique_ptr<MailBundle> MailManCore::finishBundle(std::unique_ptr<MailBundle> fetched,
                                                      LogBase& log) const {
    if (!fetched) {
        log.logError("Failed to get mail.");
        return nullptr;
    }
    if (fetched->count() == 0) {
        log.logInfo("No messages found on the POP3 server.");
        return fetched;
    }
    applyFilter(*fetched, log);
    return fetched;
}

int MailManCore::checkMail(LogBase& log) {
    cache_.close();
    configureCache();
    int count = 0;
    long size = 0;
    const bool ok = cache_.messageCount(count, size, log);
    cache_.close();
    if (!ok) {
        log.logError("Failed to query POP3 server for number of messages");
        return -1;
    }
    log.logDataLong("message-count", count);
    return count;
}

bool MailManCore::getUidls(std::vector<std::string>& out, LogBase& log) {
    cache_.close();
    configureCache();
    const bool ok = cache_.getUidls(out, log);
    cache_.close();
    return ok;
}

std::unique_ptr<MailBundle> MailManCore::fetchAllFiltered(ProgressMonitor& monitor, LogBase& log) {
    configureCache();
    return finishBundle(cache_.fetchAll(sizeLimit, maxCount, fetchOptions(), &monitor, log), log);
}

std::unique_ptr<MailBundle> MailManCore::copyMail(ProgressEvent* sink, LogBase& log) {
    ProgressMonitor monitor(sink, kReceiveTotal);
    auto bundle = fetchAllFiltered(monitor, log);
    cache_.close();
    monitor.finish();
    return bundle;
}

std::unique_ptr<MailBundle> MailManCore::transferMail(ProgressEvent* sink, LogBase& log) {
    ProgressMonitor monitor(sink, kReceiveTotal);
    monitor.addTag("xferMail");
    auto bundle = fetchAllFiltered(monitor, log);
    // Only what arrived whole and passed the filter is in the bundle, numbered in the
    // session that is still open.
    std::vector<int> numbers;
    for (int i = bundle ? bundle->count() - 1 : -1; i >= 0; --i)
        numbers.push_back(bundle->get(i)->popNumber());
    if (!numbers.empty() && !cache_.deleteNumbers(numbers, &monitor, log))
        log.logError("Failed to delete a transferred message; it stays on the server");
    cache_.commit(&monitor);
    monitor.finish();
    return bundle;
}

std::unique_ptr<MailBundle> MailManCore::getAllHeaders(int numBodyLines, ProgressEvent* sink,
                                                       LogBase& log) {
    ProgressMonitor monitor(sink, kReceiveTotal);
    configureCache();
    auto bundle = finishBundle(cache_.fetchAllHeaders(numBodyLines, maxCount, &monitor, log), log);
    cache_.close();
    monitor.finish();
    return bundle;
}

std::unique_ptr<MailBundle> MailManCore::getHeaders(int numBodyLines, int fromIndex, int toIndex,
                                                    ProgressEvent* sink, LogBase& log) {
    ProgressMonitor monitor(sink, kReceiveTotal);
    configureCache();
    auto bundle =
        finishBundle(cache_.fetchHeaderRange(numBodyLines, fromIndex, toIndex, &monitor, log), log);
    cache_.close();
    monitor.finish();
    return bundle;
}

std::unique_ptr<Email2> MailManCore::fetchEmail(std::string_view uidl, ProgressEvent* sink,
                                                LogBase& log) {
    ProgressMonitor monitor(sink, kReceiveTotal);
    configureCache();
    auto email = cache_.fetchByUidl(uidl, fetchOptions(), &monitor, log);
    cache_.close();
    if (email && xUidl(*email).empty())
        email->setHeaderField("X-UIDL", uidl);
    monitor.finish();
    return email;
}

std::unique_ptr<MailBundle> MailManCore::fetchMultiple(const std::vector<std::string>& uidls,
                                                       ProgressEvent* sink, LogBase& log) {
    configureCache();
    if (!cache_.reloadUidlMap(log) || !cache_.refreshSizes(log)) {
        cache_.close();
        log.logError("Failed to fetch emails by UIDL from mail server");
        return nullptr;
    }
    const long long total = cache_.sizeOfUidls(uidls);
    ProgressMonitor monitor(sink, static_cast<uint32_t>(std::min<long long>(total, UINT32_MAX)));
    auto bundle = std::make_unique<MailBundle>();
    cache_.setMultiFetch(true);
    for (const std::string& uidl : uidls)
        if (auto email = cache_.fetchByUidl(uidl, fetchOptions(), &monitor, log)) {
            if (xUidl(*email).empty())
                email->setHeaderField("X-UIDL", uidl);
            bundle->add(std::move(email));
        }
    cache_.setMultiFetch(false);
    cache_.close();
    monitor.finish();
    return bundle;
}

std::unique_ptr<MailBundle> MailManCore::fetchMultipleHeaders(const std::vector<std::string>& uidls,
                                                              int numBodyLines, ProgressEvent* sink,
                                                              LogBase& log) {
    configureCache();
    if (!cache_.mergeUidlMap(log)) {
        cache_.close();
        log.logError("Failed to fetch emails by UIDL from mail server");
        return nullptr;
    }
    ProgressMonitor monitor(sink, static_cast<uint32_t>(uidls.size() * kReceiveTotal));
    auto bundle = std::make_unique<MailBundle>();
    cache_.setMultiFetch(true);
    for (const std::string& uidl : uidls) {
        if (auto email = cache_.fetchHeaderByUidl(uidl, numBodyLines, &monitor, log))
            bundle->add(std::move(email));
        bool abort = false;
        monitor.consume(kReceiveTotal, abort);
    }
    cache_.setMultiFetch(false);
    cache_.close();
    monitor.finish();
    return bundle;
}

bool MailManCore::deleteUidls(const std::vector<std::string>& uidls, ProgressEvent* sink,
                              LogBase& log) {
    ProgressMonitor monitor(sink, kReceiveTotal);
    configureCache();
    const bool ok = cache_.deleteUidls(uidls, &monitor, false, log);
    cache_.commit(&monitor);
    monitor.finish();
    return ok;
}

bool MailManCore::deleteBundle(const MailBundle& bundle, ProgressEvent* sink, LogBase& log) {
    std::vector<std::string> uidls;
    for (int i = 0; i < bundle.count(); ++i)
        if (std::string u = xUidl(*bundle.get(i)); !u.empty())
            uidls.push_back(std::move(u));
    return deleteUidls(uidls, sink, log);
}

} // namespace norvane
