#include "transport/PageBuffer.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace norvane {

namespace {

size_t pageSize() {
    static const size_t size = [] {
        long p = ::sysconf(_SC_PAGESIZE);
        return p > 0 ? static_cast<size_t>(p) : size_t{4096};
    }();
    return size;
}

size_t roundUpToPages(size_t n) {
    size_t p = pageSize();
    return (n + p - 1) / p * p;
}

} // namespace

PageBuffer::~PageBuffer() {
    release();
}

bool PageBuffer::reserve(size_t n) {
    if (n <= capacity_)
        return true;
    // Doubling keeps the number of remaps logarithmic; untouched pages cost nothing.
    size_t want = roundUpToPages(std::max(n, 2 * capacity_));
    if (capacity_ < kHugeFrom && want >= kHugeFrom) {
        // Once a large block was freed, the allocator raises its thresholds and keeps the
        // next large blocks in its heap after they are freed: the previous download's result
        // would stay resident beside this one. Handing free memory back first keeps a long
        // session at one download's worth.
        (void)::malloc_trim(0);
    }
    void* p =
        data_ ? ::mremap(data_, capacity_, want, MREMAP_MAYMOVE)
              : ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return false;
    data_ = static_cast<char*>(p);
    capacity_ = want;
    if (capacity_ >= kHugeFrom)
        adviseHuge(data_, capacity_);
    return true;
}

void PageBuffer::adviseHuge(char* data, size_t size) {
    // A large download faults its memory in 2 MB steps instead of 4 KB ones; in a virtual
    // machine the page faults otherwise cost more than the copying.
    size_t p = pageSize();
    auto start = reinterpret_cast<uintptr_t>(data);
    uintptr_t first = (start + p - 1) / p * p;
    uintptr_t last = (start + size) / p * p;
    if (first < last)
        (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void PageBuffer::discard(size_t from, size_t to) {
    size_t p = pageSize();
    size_t first = (from + p - 1) / p * p;
    size_t last = std::min(to, capacity_) / p * p;
    if (data_ && first < last)
        (void)::madvise(data_ + first, last - first, MADV_DONTNEED);
}

void PageBuffer::release() {
    if (data_)
        ::munmap(data_, capacity_);
    data_ = nullptr;
    capacity_ = 0;
}

} // namespace norvane
