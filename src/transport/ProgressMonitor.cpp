#include "transport/ProgressMonitor.h"

#include "common/Platform.h"

#include <algorithm>

namespace norvane {

namespace {
constexpr uint64_t kAbortCheckIntervalMs = 300;
}

ProgressMonitor::ProgressMonitor(ProgressEvent* sink, uint32_t total)
    : total_(total), sink_(sink), lastTick_(platform::steadyMillis()) {}

void ProgressMonitor::addTag(std::string_view name) {
    tags_.appendChar(':');
    tags_.append(name);
    tags_.appendChar(':');
}

bool ProgressMonitor::hasTag(std::string_view name) const {
    return tags_.containsSubstring(name);
}

int ProgressMonitor::percent(uint64_t done, uint64_t total) {
    if (total == 0)
        return 100;
    while (total > 1000000) {
        total /= 10;
        done /= 10;
    }
    if (total == 0)
        return 100;
    return static_cast<int>(done * 100 / total);
}

void ProgressMonitor::consume(uint32_t n, bool& abort) {
    abort = false;
    aborted_ = false;
    int before = percent(current_, total_);
    current_ = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{current_} + n, total_));
    int after = percent(current_, total_);
    if (sink_) {
        uint64_t now = platform::steadyMillis();
        if (after > before) {
            lastTick_ = now;
            sink_->PercentDone(after, abort);
        } else if (now - lastTick_ > kAbortCheckIntervalMs) {
            lastTick_ = now;
            sink_->AbortCheck(abort);
        }
    }
    if (abort)
        aborted_ = true;
}

void ProgressMonitor::setCurrent(uint32_t n, bool& abort) {
    abort = false;
    aborted_ = false;
    int before = percent(current_, total_);
    current_ = std::min(n, total_);
    int after = percent(current_, total_);
    if (sink_ && after > before) {
        lastTick_ = platform::steadyMillis();
        sink_->PercentDone(after, abort);
    }
    if (abort)
        aborted_ = true;
}

void ProgressMonitor::reset(uint32_t total) {
    current_ = 0;
    total_ = total;
    aborted_ = false;
}

void ProgressMonitor::finish() {
    if (current_ < total_) {
        bool ignored = false;
        consume(total_ - current_, ignored);
    }
}

} // namespace norvane
