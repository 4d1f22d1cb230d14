#include "transport/ParseBuffer.h"

#include <algorithm>
#include <cstring>

namespace norvane {

// Dropping consumed bytes costs a move of what is left; doing it only once they outweigh the
// rest keeps the total work linear in the bytes received.
void ParseBuffer::compact() {
    if (head_ == 0)
        return;
    if (head_ == end_) {
        head_ = end_ = 0;
    } else if (head_ >= end_ - head_) {
        std::memmove(buf_.data(), buf_.data() + head_, end_ - head_);
        end_ -= head_;
        head_ = 0;
    }
}

void ParseBuffer::append(std::string_view bytes) {
    char* p = prepareAppend(bytes.size());
    std::memcpy(p, bytes.data(), bytes.size());
    end_ += bytes.size();
}

char* ParseBuffer::prepareAppend(size_t n) {
    compact();
    if (buf_.size() < end_ + n)
        buf_.resize(std::max(end_ + n, 2 * buf_.size()));
    return buf_.data() + end_;
}

void ParseBuffer::commitAppend(size_t written) {
    end_ = std::min(end_ + written, buf_.size());
}

bool ParseBuffer::takeThrough(std::string_view match, bool tailOnly, std::string& out,
                              size_t searchFrom) {
    std::string_view data = view();
    if (match.empty() || data.size() < match.size())
        return false;
    size_t pos = std::string_view::npos;
    if (tailOnly) {
        if (data.substr(data.size() - match.size()) == match)
            pos = data.size() - match.size();
    } else if (searchFrom < data.size()) {
        pos = data.find(match, searchFrom);
    }
    if (pos == std::string_view::npos)
        return false;
    takeFront(pos + match.size(), out);
    return true;
}

void ParseBuffer::takeFront(size_t n, std::string& out) {
    if (n >= size()) {
        takeAll(out);
        return;
    }
    out.assign(buf_.data() + head_, n);
    head_ += n;
}

void ParseBuffer::takeAll(std::string& out) {
    if (head_ == 0 && end_ > buf_.size() / 2) {
        // The common end of a large download: hand the storage over instead of copying it.
        out.swap(buf_);
        out.resize(end_);
        buf_.clear();
    } else {
        out.assign(buf_.data() + head_, end_ - head_);
    }
    head_ = end_ = 0;
}

void ParseBuffer::clear() {
    head_ = end_ = 0;
}

} // namespace norvane
