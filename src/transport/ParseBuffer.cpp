#include "transport/ParseBuffer.h"

namespace norvane {

// Dropping consumed bytes costs a move of what is left; doing it only once they outweigh the
// rest keeps the total work linear in the bytes received.
void ParseBuffer::compact() {
    if (head_ == 0)
        return;
    if (head_ == buf_.size()) {
        buf_.clear();
        head_ = 0;
    } else if (head_ >= buf_.size() - head_) {
        buf_.erase(0, head_);
        head_ = 0;
    }
}

void ParseBuffer::append(std::string_view bytes) {
    compact();
    buf_.append(bytes);
}

char* ParseBuffer::prepareAppend(size_t n) {
    compact();
    size_t old = buf_.size();
    buf_.resize(old + n);
    reserved_ = n;
    return buf_.data() + old;
}

void ParseBuffer::commitAppend(size_t written) {
    if (written > reserved_)
        written = reserved_;
    buf_.resize(buf_.size() - (reserved_ - written));
    reserved_ = 0;
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
    out.assign(buf_, head_, n);
    head_ += n;
}

void ParseBuffer::takeAll(std::string& out) {
    if (head_ == 0) {
        // The common end of a large download: hand the storage over instead of copying it.
        out.swap(buf_);
        buf_.clear();
    } else {
        out.assign(buf_, head_, std::string::npos);
        buf_.clear();
    }
    head_ = 0;
}

void ParseBuffer::clear() {
    buf_.clear();
    head_ = 0;
}

} // namespace norvane
