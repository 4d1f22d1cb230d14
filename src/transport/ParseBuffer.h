#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace norvane {

// Bytes received from a peer but not handed out yet. Consumed bytes are dropped from the front
// lazily, so taking many small lines out of a large read stays linear.
class ParseBuffer {
public:
    virtual ~ParseBuffer() = default;

    void append(std::string_view bytes);
    // Room for n more bytes at the end; commitAppend says how many were really written.
    char* prepareAppend(size_t n);
    void commitAppend(size_t written);

    // Moves everything up to and including the first match at or after searchFrom (relative to
    // the unread data) into out. With tailOnly the match counts only where it ends the data.
    // False, with the buffer untouched, when there is no match.
    [[nodiscard]] bool takeThrough(std::string_view match, bool tailOnly, std::string& out,
                                   size_t searchFrom = 0);
    // Moves the first n bytes (at most all) into out, replacing its content.
    void takeFront(size_t n, std::string& out);
    // Moves the whole content into out, replacing its content.
    void takeAll(std::string& out);
    void clear();

    [[nodiscard]] size_t size() const { return end_ - head_; }
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] std::string_view view() const {
        return std::string_view(buf_.data() + head_, end_ - head_);
    }

private:
    void compact();

    // The data is buf_[head_, end_); buf_ beyond end_ is room already allocated, so repeated
    // reads do not clear fresh memory each time.
    std::string buf_;
    size_t head_ = 0;
    size_t end_ = 0;
};

} // namespace norvane
