#include "transport/MailboxFile.h"

#include "common/FileAccess.h"
#include "common/Platform.h"
#include "transport/Expression.h"
#include "transport/MailManCore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace norvane {

namespace {

constexpr size_t kReadBlock = 1 << 20;
constexpr std::string_view kFromLine = "From ";

} // namespace

void MailboxSplitter::feed(std::string_view bytes) {
    pending_.append(bytes);
    takeLines(false);
}

void MailboxSplitter::finish() {
    takeLines(true);
    if (!pending_.empty())
        onLine(pending_, false);
    pending_.clear();
    scanned_ = 0;
    endMessage();
}

bool MailboxSplitter::decideLineEnds(bool atEnd) {
    if (lineEnds_ != LineEnds::Unknown)
        return true;
    // Searched from where the last feed stopped: a file without line ends costs one pass.
    const size_t end = pending_.find_first_of("\r\n", scanned_);
    if (end == std::string::npos) {
        scanned_ = pending_.size();
        return false;
    }
    scanned_ = end;
    if (pending_[end] == '\n')
        lineEnds_ = LineEnds::Lf;
    else if (end + 1 < pending_.size())
        lineEnds_ = pending_[end + 1] == '\n' ? LineEnds::Lf : LineEnds::Cr;
    else if (atEnd)
        lineEnds_ = LineEnds::Cr;
    return lineEnds_ != LineEnds::Unknown;
}

void MailboxSplitter::takeLines(bool atEnd) {
    if (!decideLineEnds(atEnd))
        return;
    const bool crEnds = lineEnds_ == LineEnds::Cr;
    const char* data = pending_.data();
    const size_t size = pending_.size();
    size_t pos = 0;
    for (;;) {
        size_t end = scanned_;
        if (crEnds) {
            while (end < size && data[end] != '\r' && data[end] != '\n')
                ++end;
        } else {
            const void* lf = std::memchr(data + end, '\n', size - end);
            end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - data) : size;
        }
        // A CR last in the buffer may be the first half of a CRLF.
        if (end == size || (crEnds && data[end] == '\r' && end + 1 == size && !atEnd)) {
            scanned_ = end;
            break;
        }
        size_t next = end + 1;
        if (crEnds && data[end] == '\r' && next < size && data[next] == '\n')
            ++next;
        size_t lineEnd = end;
        if (!crEnds && lineEnd > pos && data[lineEnd - 1] == '\r')
            --lineEnd;
        onLine(std::string_view(data + pos, lineEnd - pos), true);
        pos = scanned_ = next;
    }
    pending_.erase(0, pos);
    scanned_ -= pos;
}

void MailboxSplitter::onLine(std::string_view line, bool ended) {
    if (firstLine_ || line.starts_with(kFromLine)) {
        firstLine_ = false;
        endMessage();
        inMessage_ = ended;
        return;
    }
    if (!inMessage_)
        return;
    message_.append(line);
    if (ended)
        message_.append("\r\n");
}

void MailboxSplitter::endMessage() {
    if (!inMessage_)
        return;
    inMessage_ = false;
    if (message_ == "\r\n" || message_.ends_with("\r\n\r\n"))
        message_.resize(message_.size() - 2);
    if (!message_.empty())
        sink_(message_);
    message_.clear();
}

bool loadMailboxFile(std::string_view path, std::string_view filter, const FromMimeOptions& options,
                     MailBundle& out, LogBase& log) {
    UniqueFd fd = file::openForRead(path, &log);
    if (!fd)
        return false;
    (void)::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    MailboxSplitter splitter([&](std::string& text) {
        std::unique_ptr<Email2> email = Email2::fromMime(text, log, options);
        // The text is not needed any more: free it before the next message is read.
        std::string().swap(text);
        if (!filter.empty() && !Expression(filter).evaluate(*email))
            return;
        out.add(std::move(email));
    });
    std::vector<char> block(kReadBlock);
    for (;;) {
        const ssize_t n = ::read(fd.get(), block.data(), block.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            log.logError("Failed to read file");
            log.logData("filename", path);
            log.logData("osErrorInfo", platform::systemErrorText(errno));
            return false;
        }
        if (n == 0)
            break;
        splitter.feed(std::string_view(block.data(), static_cast<size_t>(n)));
    }
    splitter.finish();
    return true;
}

std::unique_ptr<MailBundle> MailManCore::loadMbx(std::string_view path, LogBase& log) const {
    if (!filter.empty())
        log.logData("filter", filter);
    auto bundle = std::make_unique<MailBundle>();
    if (!loadMailboxFile(path, filter, fetchOptions().mime, *bundle, log)) {
        log.logError("Failed to read the mailbox file");
        log.logDataLong("messagesLoaded", bundle->count());
    }
    return bundle;
}

} // namespace norvane
