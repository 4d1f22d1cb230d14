#include "transport/PopCache.h"

#include "common/StringBuffer.h"
#include "transport/PopSessions.h"
#include "transport/ProgressMonitor.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace norvane {

namespace {

constexpr int kDeleteBatch = 500;
constexpr uint32_t kStep = 1000;
// A fetch of every message asks for this many bytes (or PopConnImpl::kRetrWindow messages) in
// one pipelined batch: few round trips, and a bounded amount of text held at once.
constexpr long kFetchBatchBytes = 8L << 20;

// FNV-1a: only a quick pre-check, the text is always compared as well.
uint32_t hashOf(std::string_view s) {
    uint32_t h = 2166136261u;
    for (unsigned char c : s)
        h = (h ^ c) * 16777619u;
    return h;
}

bool consumeAborted(ProgressMonitor* monitor, uint32_t n) {
    if (!monitor)
        return false;
    bool abort = false;
    monitor->consume(n, abort);
    return abort;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void appendReceivedLog(const std::string& path, std::string_view text) {
    if (path.empty())
        return;
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "a"));
    if (!f)
        return; // a log that cannot be opened does not stop the fetch
    std::fputs("--BEGIN RECEIVED NORVANE EMAIL--\n", f.get());
    std::fwrite(text.data(), 1, text.size(), f.get());
    std::fputs("\n--END RECEIVED NORVANE EMAIL--\n", f.get());
}

} // namespace

PopCache::~PopCache() = default;

void PopCache::configure(bool useTls, std::string_view host, std::string_view user,
                         std::string_view password, int port, uint32_t readTimeoutSec,
                         uint32_t connectTimeoutSec, TlsMode startTls, const PopAuth& auth) {
    readTimeoutSec_ = readTimeoutSec;
    connectTimeoutSec_ = connectTimeoutSec;
    if (useTls == useTls_ && host == host_ && user == user_ && password == password_ &&
        port == port_ && startTls == startTls_ && auth == auth_)
        return;
    close();
    useTls_ = useTls;
    startTls_ = startTls;
    auth_ = auth;
    host_.assign(host);
    user_.assign(user);
    password_.assign(password);
    port_ = port;
}

PopConnImpl* PopCache::session() {
    return (session_ && sessionTls_ == useTls_) ? session_.get() : nullptr;
}

bool PopCache::ensureConnected(LogBase& log) {
    if (session())
        return true;
    close();
    if (useTls_)
        session_ = popTlsConnect(host_, user_, password_, port_, readTimeoutSec_,
                                 connectTimeoutSec_, log, auth_);
    else
        session_ = popConnect(host_, user_, password_, port_, readTimeoutSec_, connectTimeoutSec_,
                              log, startTls_, auth_);
    sessionTls_ = useTls_;
    return session_ != nullptr;
}

void PopCache::clearNumbers() {
    for (auto& e : entries_)
        e->hasNumber = false;
}

void PopCache::close() {
    session_.reset(); // QUIT in the destructor
    clearNumbers();
}

void PopCache::commit(ProgressMonitor* monitor) {
    close();
    (void)consumeAborted(monitor, kStep);
}

bool PopCache::messageCount(int& count, long& size, LogBase& log) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0)
            clearNumbers();
        if (!ensureConnected(log))
            return false;
        if (session()->stat(count, size, log))
            return true;
        dropSession();
    }
    return false;
}

bool PopCache::listUidls(std::vector<int>& numbers, std::vector<std::string>& uidls, LogBase& log) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0)
            clearNumbers();
        if (!ensureConnected(log))
            return false;
        numbers.clear();
        uidls.clear();
        if (session()->uidl(numbers, uidls, log))
            return true;
        dropSession();
    }
    return false;
}

bool PopCache::reloadUidlMap(LogBase& log) {
    std::vector<int> numbers;
    std::vector<std::string> uidls;
    if (!listUidls(numbers, uidls, log))
        return false;
    entries_.clear();
    for (size_t i = 0; i < numbers.size() && i < uidls.size(); ++i) {
        auto e = std::make_unique<PopEntry>();
        e->number = numbers[i];
        e->uidl = std::move(uidls[i]);
        e->uidlHash = hashOf(e->uidl);
        e->hasNumber = e->hasUidl = e->seen = true;
        entries_.push_back(std::move(e));
    }
    return true;
}

bool PopCache::mergeUidlMap(LogBase& log) {
    std::vector<int> numbers;
    std::vector<std::string> uidls;
    if (!listUidls(numbers, uidls, log))
        return false;
    for (auto& e : entries_)
        e->seen = !e->hasUidl; // a known UIDL the listing no longer shows is gone
    for (size_t i = 0; i < numbers.size() && i < uidls.size(); ++i) {
        PopEntry* e = findUidl(uidls[i]);
        if (!e)
            e = findNumber(numbers[i]);
        if (!e) {
            entries_.push_back(std::make_unique<PopEntry>());
            e = entries_.back().get();
        }
        if (e->hasUidl && e->uidl != uidls[i]) {
            // The number now names another message: what was cached for it is not this one's.
            e->header.reset();
            e->hasSize = false;
        }
        e->number = numbers[i];
        e->uidl = std::move(uidls[i]);
        e->uidlHash = hashOf(e->uidl);
        e->hasNumber = e->hasUidl = e->seen = true;
    }
    std::erase_if(entries_, [](const auto& e) { return !e->seen; });
    return true;
}

bool PopCache::refreshSizes(LogBase& log) {
    // In a new session the numbers must come back by UIDL before LIST is matched by number,
    // or the cached headers would be dropped with their unnumbered entries.
    if (std::any_of(entries_.begin(), entries_.end(),
                    [](const auto& e) { return e->hasUidl && !e->hasNumber; }))
        (void)mergeUidlMap(log);
    std::vector<int> numbers;
    std::vector<long> sizes;
    bool ok = false;
    for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
        if (attempt > 0)
            clearNumbers();
        if (!ensureConnected(log))
            return false;
        numbers.clear();
        sizes.clear();
        ok = session()->list(numbers, sizes, log);
        if (!ok)
            dropSession();
    }
    if (!ok)
        return false;
    for (auto& e : entries_)
        e->seen = false;
    for (size_t i = 0; i < numbers.size() && i < sizes.size(); ++i) {
        PopEntry* e = findNumber(numbers[i]);
        if (!e) {
            entries_.push_back(std::make_unique<PopEntry>());
            e = entries_.back().get();
            e->number = numbers[i];
            e->hasNumber = true;
        }
        e->size = sizes[i];
        e->hasSize = e->seen = true;
    }
    std::erase_if(entries_, [](const auto& e) { return !e->seen; });
    return true;
}

bool PopCache::getUidls(std::vector<std::string>& out, LogBase& log) {
    if (!reloadUidlMap(log))
        return false;
    for (const auto& e : entries_)
        out.push_back(e->uidl);
    return true;
}

PopEntry* PopCache::findUidl(std::string_view uidl) {
    const uint32_t h = hashOf(uidl);
    for (auto& e : entries_)
        if (e->hasUidl && e->uidlHash == h && e->uidl == uidl)
            return e.get();
    return nullptr;
}

PopEntry* PopCache::findNumber(int number) {
    for (auto& e : entries_)
        if (e->hasNumber && e->number == number)
            return e.get();
    return nullptr;
}

int PopCache::numberForUidl(std::string_view uidl, LogBase& log) {
    PopEntry* e = findUidl(uidl);
    if ((!e || !e->hasNumber) && !multiFetch_ && reloadUidlMap(log))
        e = findUidl(uidl);
    return (e && e->hasNumber) ? e->number : -1;
}

PopEntry* PopCache::entryForNumber(int number, LogBase& log) {
    PopEntry* e = findNumber(number);
    if (e || multiFetch_)
        return e;
    if (!reloadUidlMap(log))
        (void)refreshSizes(log);
    return findNumber(number);
}

void PopCache::applyXUidl(const PopEntry& e, Email2& email) const {
    if (!e.hasUidl)
        return;
    StringBuffer cur;
    (void)email.getHeaderField("X-UIDL", cur);
    cur.trim2();
    if (cur.str() != e.uidl)
        email.setHeaderField("X-UIDL", e.uidl);
}

std::unique_ptr<Email2> PopCache::fetchByNumber(int number, const PopFetchOptions& opts,
                                                ProgressMonitor* monitor, LogBase& log) {
    if (!ensureConnected(log))
        return nullptr;
    std::string text;
    if (!session()->retr(text, number, log, monitor)) {
        dropSession();
        return nullptr;
    }
    return emailFromRetr(text, number, opts, log);
}

std::unique_ptr<Email2> PopCache::emailFromRetr(std::string& text, int number,
                                                const PopFetchOptions& opts, LogBase& log) const {
    PopConnImpl::toMessageText(text);
    appendReceivedLog(opts.receivedLogPath, text);
    auto email = Email2::fromMime(text, log, opts.mime);
    email->setPopNumber(number);
    email->removeHeaderField("NVZ-HeaderOnly");
    return email;
}

std::unique_ptr<Email2> PopCache::fetchByUidl(std::string_view uidl, const PopFetchOptions& opts,
                                              ProgressMonitor* monitor, LogBase& log) {
    const int n = numberForUidl(uidl, log);
    if (n < 0) {
        log.logData("uidl", uidl);
        log.logError("Failed to find message by UIDL");
        return nullptr;
    }
    auto email = fetchByNumber(n, opts, monitor, log);
    if (email)
        if (const PopEntry* e = findNumber(n))
            applyXUidl(*e, *email);
    return email;
}

std::unique_ptr<Email2> PopCache::fetchHeaderByNumber(int number, int bodyLines,
                                                      ProgressMonitor* monitor, LogBase& log) {
    (void)monitor;
    if (!ensureConnected(log))
        return nullptr;
    PopEntry* e = entryForNumber(number, log);
    std::unique_ptr<Email2> email;
    if (e && e->header && e->headerLines == bodyLines) {
        email = e->header->clone(log);
    } else {
        if (e)
            e->header.reset();
        std::string text;
        if (!session() || !session()->top(number, bodyLines, text, log)) {
            dropSession();
            return nullptr;
        }
        PopConnImpl::toMessageText(text);
        email = Email2::fromMime(text, log);
        if (e) {
            e->header = Email2::fromMime(text, log);
            e->headerLines = bodyLines;
        }
    }
    email->setPopNumber(number);
    if (e && e->hasSize)
        email->setHeaderField("NVZ-Size", std::to_string(e->size));
    if (e)
        applyXUidl(*e, *email);
    email->setHeaderField("NVZ-HeaderOnly", "true");
    return email;
}

std::unique_ptr<Email2> PopCache::fetchHeaderByUidl(std::string_view uidl, int bodyLines,
                                                    ProgressMonitor* monitor, LogBase& log) {
    const int n = numberForUidl(uidl, log);
    return n < 0 ? nullptr : fetchHeaderByNumber(n, bodyLines, monitor, log);
}

std::unique_ptr<MailBundle> PopCache::fetchAll(long sizeLimit, int maxCount,
                                               const PopFetchOptions& opts,
                                               ProgressMonitor* monitor, LogBase& log) {
    if (!ensureConnected(log) || !refreshSizes(log))
        return nullptr;
    const size_t n = std::min(entries_.size(), static_cast<size_t>(std::max(maxCount, 0)));
    if (monitor) {
        monitor->addTag("fetchMultiple");
        uint64_t total = 2000;
        uint32_t k = 0;
        for (size_t i = 0; i < n; ++i)
            if (entries_[i]->size <= sizeLimit) {
                total += static_cast<uint64_t>(entries_[i]->size);
                ++k;
            }
        if (monitor->hasTag("xferMail"))
            total += (uint64_t{k} + 1) * kStep;
        monitor->setTotal(static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX)));
    }
    if (consumeAborted(monitor, kStep)) {
        log.logError("Copy-all email aborted by application");
        return nullptr;
    }
    std::unordered_map<int, long> sizes;
    for (const auto& e : entries_)
        sizes[e->number] = e->size;
    if (reloadUidlMap(log)) {
        for (auto& e : entries_)
            if (auto it = sizes.find(e->number); it != sizes.end()) {
                e->size = it->second;
                e->hasSize = true;
            }
    } else if (!refreshSizes(log)) {
        return nullptr; // a server without UIDL, and LIST failed as well
    }
    if (consumeAborted(monitor, kStep)) {
        log.logError("Copy-all email aborted by application");
        return nullptr;
    }
    auto bundle = std::make_unique<MailBundle>();
    const size_t count = std::min(n, entries_.size());
    std::vector<int> batch;
    long batchBytes = 0;
    for (size_t i = 0; i < count; ++i) {
        const PopEntry& e = *entries_[i];
        if (e.size > sizeLimit)
            continue;
        batch.push_back(e.number);
        batchBytes += e.size;
        if (batch.size() < PopConnImpl::kRetrWindow && batchBytes < kFetchBatchBytes)
            continue;
        if (!fetchBatch(batch, opts, *bundle, monitor, log))
            return bundle;
        batchBytes = 0;
    }
    if (!batch.empty())
        (void)fetchBatch(batch, opts, *bundle, monitor, log);
    return bundle;
}

bool PopCache::fetchBatch(std::vector<int>& numbers, const PopFetchOptions& opts,
                          MailBundle& bundle, ProgressMonitor* monitor, LogBase& log) {
    std::vector<std::string> texts;
    const bool ok = ensureConnected(log) && session()->retrMany(numbers, texts, log, monitor);
    // Only messages that arrived whole are in texts, in the order asked.
    for (size_t k = 0; k < texts.size(); ++k) {
        auto email = emailFromRetr(texts[k], numbers[k], opts, log);
        if (const PopEntry* e = findNumber(numbers[k]))
            applyXUidl(*e, *email);
        bundle.add(std::move(email));
    }
    numbers.clear();
    if (!ok)
        dropSession();
    return ok;
}

std::unique_ptr<MailBundle> PopCache::fetchAllHeaders(int bodyLines, int maxCount,
                                                      ProgressMonitor* monitor, LogBase& log) {
    if (!ensureConnected(log) || !refreshSizes(log))
        return nullptr;
    const size_t n = std::min(entries_.size(), static_cast<size_t>(std::max(maxCount, 0)));
    if (monitor)
        monitor->setTotal(static_cast<uint32_t>(n * kStep + 2000));
    const char* const aborted = "Fetch all headers aborted by application";
    if (consumeAborted(monitor, kStep)) {
        log.logError(aborted);
        return nullptr;
    }
    if (!mergeUidlMap(log))
        (void)refreshSizes(log);
    if (consumeAborted(monitor, kStep)) {
        log.logError(aborted);
        return nullptr;
    }
    auto bundle = std::make_unique<MailBundle>();
    const size_t count = std::min(n, entries_.size());
    for (size_t i = 0; i < count; ++i) {
        if (auto email = fetchHeaderByNumber(entries_[i]->number, bodyLines, monitor, log))
            bundle->add(std::move(email));
        if (consumeAborted(monitor, kStep)) {
            log.logError(aborted);
            break;
        }
    }
    return bundle;
}

std::unique_ptr<MailBundle> PopCache::fetchHeaderRange(int bodyLines, int from, int to,
                                                       ProgressMonitor* monitor, LogBase& log) {
    if (!refreshSizes(log))
        return nullptr;
    if (!mergeUidlMap(log))
        (void)refreshSizes(log);
    auto bundle = std::make_unique<MailBundle>();
    const long last = std::min<long>(to, static_cast<long>(entries_.size()) - 1);
    for (long i = std::max(from, 0); i <= last; ++i)
        if (auto email = fetchHeaderByNumber(entries_[static_cast<size_t>(i)]->number, bodyLines,
                                             monitor, log))
            bundle->add(std::move(email));
    return bundle;
}

PopCache::DeleteResult PopCache::deleteOne(const std::string& uidl, bool& reloaded, LogBase& log) {
    log.logData("uidl_to_delete", uidl);
    PopEntry* e = findUidl(uidl);
    if (!e)
        log.logError("Failed to find via UIDL");
    else if (!e->hasNumber)
        log.logError("Message number is not valid");
    if (!e || !e->hasNumber) {
        if (reloaded) {
            log.logError("Failed to find UIDL after getAllUidls");
            return DeleteResult::Skipped;
        }
        reloaded = true;
        if (!reloadUidlMap(log)) {
            log.logError("Failed to get UIDLs (12)");
            return DeleteResult::Failed;
        }
        e = findUidl(uidl);
        if (!e || !e->hasNumber) {
            log.logError("Failed to find UIDL after getAllUidls");
            return DeleteResult::Skipped;
        }
    }
    log.logDataLong("deleting_msgID", e->number);
    if (!session() || !session()->dele(e->number, log)) {
        dropSession();
        return DeleteResult::Failed;
    }
    e->deleted = true;
    return DeleteResult::Deleted;
}

bool PopCache::deleteUidls(const std::vector<std::string>& uidls, ProgressMonitor* monitor,
                           bool commitAtEnd, LogBase& log) {
    if (!ensureConnected(log)) {
        log.logError("Cannot delete UIDLs, not connected!");
        return false;
    }
    bool reloaded = false;
    int inBatch = 0;
    for (const std::string& uidl : uidls) {
        if (!ensureConnected(log))
            return false;
        const DeleteResult r = deleteOne(uidl, reloaded, log);
        if (r == DeleteResult::Failed)
            return false;
        if (r == DeleteResult::Deleted && ++inBatch == kDeleteBatch) {
            // QUIT makes them permanent; a new session and a fresh map for the rest.
            commit(monitor);
            inBatch = 0;
            reloaded = false;
        }
    }
    if (commitAtEnd)
        commit(monitor);
    return true;
}

bool PopCache::retryDeleteByUidl(const std::string& uidl, LogBase& log) {
    // A fresh session: the old number may name another message now.
    clearNumbers();
    if (!ensureConnected(log) || !mergeUidlMap(log))
        return false;
    PopEntry* e = findUidl(uidl);
    if (!e || !e->hasNumber) {
        log.logData("uidl", uidl);
        log.logError("Message is no longer on the server, not deleted");
        return false;
    }
    if (!session()->dele(e->number, log)) {
        dropSession();
        return false;
    }
    e->deleted = true;
    return true;
}

bool PopCache::deleteByNumber(int number, ProgressMonitor* monitor, LogBase& log) {
    if (!session()) {
        log.logError("Cannot delete from POP3 server because connection has been lost.");
        return false;
    }
    PopEntry* e = entryForNumber(number, log);
    if (!e) {
        log.logDataLong("msgNum", number);
        log.logError("No message with that number");
        return false;
    }
    if (session() && session()->dele(number, log)) {
        e->deleted = true;
    } else {
        dropSession();
        if (!e->hasUidl) {
            log.logError("Cannot find the message again without its UIDL, not deleted");
            return false;
        }
        const std::string uidl = e->uidl;
        if (!retryDeleteByUidl(uidl, log))
            return false;
    }
    (void)consumeAborted(monitor, kStep);
    return true;
}

bool PopCache::deleteNumbers(const std::vector<int>& numbers, ProgressMonitor* monitor,
                             LogBase& log) {
    std::vector<int> known;
    for (int n : numbers)
        if (entryForNumber(n, log))
            known.push_back(n);
    if (known.size() != numbers.size() || !session())
        return deleteEachByNumber(numbers, 0, monitor, log);
    const size_t done = session()->deleMany(known, log);
    for (size_t i = 0; i < done; ++i) {
        entryForNumber(known[i], log)->deleted = true;
        (void)consumeAborted(monitor, kStep);
    }
    // What the batch left goes one by one, with the reconnect and UIDL check that brings.
    return deleteEachByNumber(numbers, done, monitor, log);
}

bool PopCache::deleteEachByNumber(const std::vector<int>& numbers, size_t from,
                                  ProgressMonitor* monitor, LogBase& log) {
    for (size_t i = from; i < numbers.size(); ++i)
        if (!deleteByNumber(numbers[i], monitor, log))
            return false;
    return true;
}

long long PopCache::sizeOfUidls(const std::vector<std::string>& uidls) const {
    long long sum = 0;
    for (const std::string& u : uidls) {
        const uint32_t h = hashOf(u);
        for (const auto& e : entries_)
            if (e->hasUidl && e->uidlHash == h && e->uidl == u) {
                if (e->hasSize)
                    sum += e->size;
                break;
            }
    }
    return sum;
}

} // namespace norvane
