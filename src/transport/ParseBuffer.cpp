#include "transport/ParseBuffer.h"

#include <algorithm>
#include <cstring>

namespace norvane {

namespace {

// Content up to this size is copied out at once; above it, page by page with the copied pages
// given back, so the result and the buffer never both hold the whole download.
constexpr size_t kMoveStep = 1 << 20;
// A buffer that grew past this for one large reply does not keep its mapping for the small
// replies that follow.
constexpr size_t kKeepCapacity = 1 << 20;

} // namespace

// Dropping consumed bytes costs a move of what is left; doing it only once they outweigh the
// rest keeps the total work linear in the bytes received.
void ParseBuffer::compact() {
    if (head_ == 0)
        return;
    if (head_ == end_) {
        head_ = end_ = 0;
    } else if (head_ >= end_ - head_) {
        std::memmove(store_.data(), store_.data() + head_, end_ - head_);
        end_ -= head_;
        head_ = 0;
    }
}

void ParseBuffer::shrinkIfLarge() {
    if (head_ == end_ && store_.capacity() > kKeepCapacity) {
        store_.release();
        head_ = end_ = 0;
    }
}

bool ParseBuffer::append(std::string_view bytes) {
    if (bytes.empty())
        return true;
    char* p = prepareAppend(bytes.size());
    if (!p)
        return false;
    std::memcpy(p, bytes.data(), bytes.size());
    end_ += bytes.size();
    return true;
}

char* ParseBuffer::prepareAppend(size_t n) {
    compact();
    if (end_ + n > store_.capacity() && !store_.reserve(end_ + n))
        return nullptr;
    return store_.data() + end_;
}

void ParseBuffer::commitAppend(size_t written) {
    end_ = std::min(end_ + written, store_.capacity());
}

void ParseBuffer::expect(size_t n) {
    compact();
    (void)store_.reserve(end_ + n);
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
    n = std::min(n, size());
    if (n <= kMoveStep) {
        out.assign(store_.data() + head_, n);
        dropFront(n);
        return;
    }
    out.clear();
    out.reserve(n);
    if (n >= PageBuffer::kHugeFrom)
        PageBuffer::adviseHuge(out.data(), out.capacity());
    for (size_t done = 0; done < n;) {
        size_t step = std::min(kMoveStep, n - done);
        out.append(store_.data() + head_ + done, step);
        store_.discard(head_ + done, head_ + done + step);
        done += step;
    }
    dropFront(n);
}

void ParseBuffer::takeAll(std::string& out) {
    takeFront(size(), out);
}

void ParseBuffer::dropFront(size_t n) {
    head_ += std::min(n, size());
    if (head_ == end_) {
        head_ = end_ = 0;
        shrinkIfLarge();
    }
}

void ParseBuffer::clear() {
    head_ = end_ = 0;
    shrinkIfLarge();
}

} // namespace norvane
