#pragma once

#include "transport/PageBuffer.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace norvane {

// Bytes received from a peer but not handed out yet. Consumed bytes are dropped from the front
// lazily, so taking many small lines out of a large read stays linear. The storage grows
// without being cleared or copied (PageBuffer), and a large content moves into its result
// page by page, so a download is held about once, not twice or three times.
class ParseBuffer {
public:
    virtual ~ParseBuffer() = default;

    // False when the memory cannot be had (nothing appended).
    [[nodiscard]] bool append(std::string_view bytes);
    // Room for n more bytes at the end (null when the memory cannot be had); commitAppend
    // says how many were really written.
    [[nodiscard]] char* prepareAppend(size_t n);
    void commitAppend(size_t written);
    // Bytes that fit behind the data without growing.
    [[nodiscard]] size_t spare() const { return store_.capacity() - end_; }
    // Makes room for about n more bytes in one step when the size of what comes is known.
    void expect(size_t n);

    // Moves everything up to and including the first match at or after searchFrom (relative to
    // the unread data) into out. With tailOnly the match counts only where it ends the data.
    // False, with the buffer untouched, when there is no match.
    [[nodiscard]] bool takeThrough(std::string_view match, bool tailOnly, std::string& out,
                                   size_t searchFrom = 0);
    // Moves the first n bytes (at most all) into out, replacing its content.
    void takeFront(size_t n, std::string& out);
    // Moves the whole content into out, replacing its content.
    void takeAll(std::string& out);
    // Drops the first n bytes (at most all).
    void dropFront(size_t n);
    void clear();

    [[nodiscard]] size_t size() const { return end_ - head_; }
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] std::string_view view() const {
        return size() == 0 ? std::string_view() : std::string_view(store_.data() + head_, size());
    }

private:
    void compact();
    void shrinkIfLarge();

    // The data is store_[head_, end_); the rest of the storage is room already mapped.
    PageBuffer store_;
    size_t head_ = 0;
    size_t end_ = 0;
};

} // namespace norvane
