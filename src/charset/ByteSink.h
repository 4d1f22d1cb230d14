#pragma once

// Output buffer of the conversion loops: grows without zero-filling, and the loops write
// through a raw pointer after reserving the worst case for their input.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

namespace norvane {

class ByteSink {
public:
    // A pointer to room for at least n more bytes after the current end.
    uint8_t* reserve(size_t n) {
        if (cap_ - len_ < n) {
            size_t cap = std::max(cap_ * 2, len_ + n);
            std::unique_ptr<uint8_t[]> b(new uint8_t[cap]);
            if (len_)
                std::memcpy(b.get(), buf_.get(), len_);
            buf_ = std::move(b);
            cap_ = cap;
        }
        return buf_.get() + len_;
    }
    // Marks everything up to end (inside the reserved room) as written.
    void commit(uint8_t* end) { len_ = static_cast<size_t>(end - buf_.get()); }
    void append(std::span<const uint8_t> b) {
        if (b.empty())
            return;
        uint8_t* w = reserve(b.size());
        std::memcpy(w, b.data(), b.size());
        len_ += b.size();
    }
    void push(uint8_t b) { *reserve(1) = b, ++len_; }
    void clear() { len_ = 0; }

    [[nodiscard]] size_t size() const { return len_; }
    [[nodiscard]] bool empty() const { return len_ == 0; }
    [[nodiscard]] const uint8_t* data() const { return buf_.get(); }
    [[nodiscard]] std::span<const uint8_t> span() const { return {buf_.get(), len_}; }
    [[nodiscard]] std::string_view view() const {
        return {reinterpret_cast<const char*>(buf_.get()), len_};
    }

private:
    std::unique_ptr<uint8_t[]> buf_;
    size_t cap_ = 0;
    size_t len_ = 0;
};

} // namespace norvane
