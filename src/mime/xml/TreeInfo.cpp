#include "mime/xml/TreeInfo.h"

#include <atomic>

namespace norvane {

namespace {
std::atomic<uint64_t> nextSerial{1};
} // namespace

TreeInfo::TreeInfo() : serial_(nextSerial.fetch_add(1, std::memory_order_relaxed)) {}

} // namespace norvane
