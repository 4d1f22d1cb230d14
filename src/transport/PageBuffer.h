#pragma once

// Storage of received bytes that grows without clearing and without copying. It is a private
// anonymous mapping: growing it remaps the pages (the kernel moves page tables, not bytes), and
// pages never written are never made resident, so a buffer reserved for a 20 MB message costs
// memory only as the message arrives. Pages already handed on can be given back early, which
// lets a large download move into its result without holding two copies.

#include <cstddef>

namespace norvane {

class PageBuffer {
public:
    PageBuffer() = default;
    ~PageBuffer();
    PageBuffer(const PageBuffer&) = delete;
    PageBuffer& operator=(const PageBuffer&) = delete;

    [[nodiscard]] char* data() { return data_; }
    [[nodiscard]] const char* data() const { return data_; }
    [[nodiscard]] size_t capacity() const { return capacity_; }

    // Room for at least n bytes, keeping the current content. False (buffer unchanged) when
    // the system refuses the memory.
    [[nodiscard]] bool reserve(size_t n);
    // Returns the pages wholly inside [from, to) to the system; they read as zero afterwards.
    void discard(size_t from, size_t to);
    // Gives all memory back.
    void release();

    // Buffers from this size on are backed by huge pages where the system allows.
    static constexpr size_t kHugeFrom = size_t{4} << 20;
    // Asks for huge pages on the whole pages inside [data, data + size) (any memory the
    // caller owns, such as a large result string).
    static void adviseHuge(char* data, size_t size);

private:
    char* data_ = nullptr;
    size_t capacity_ = 0;
};

} // namespace norvane
