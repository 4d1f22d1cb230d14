#pragma once

#include "common/StringBuffer.h"

#include <cstdint>
#include <string_view>

namespace norvane {

// The application's progress call-backs. The base class lets every transfer go on.
class ProgressEvent {
public:
    virtual ~ProgressEvent() = default;
    // The percentage done rose to percent; set abort to stop the transfer.
    virtual void PercentDone(int percent, bool& abort) {
        (void)percent;
        (void)abort;
    }
    // Called now and then while the percentage stands still.
    virtual void AbortCheck(bool& abort) { (void)abort; }
};

// Counts the units of one transfer and tells the sink (which may be null) when the percentage
// rises, or at most every 300 ms when it does not, so that the application can abort.
class ProgressMonitor {
public:
    ProgressMonitor(ProgressEvent* sink, uint32_t total);
    virtual ~ProgressMonitor() = default;

    void addTag(std::string_view name);
    [[nodiscard]] bool hasTag(std::string_view name) const;

    void consume(uint32_t n, bool& abort);
    void setCurrent(uint32_t n, bool& abort);
    void reset(uint32_t total);
    void setTotal(uint32_t total) { total_ = total; }
    // Consumes whatever is missing up to the total.
    void finish();

    [[nodiscard]] uint32_t total() const { return total_; }
    [[nodiscard]] uint32_t current() const { return current_; }
    [[nodiscard]] bool aborted() const { return aborted_; }

    // Integer percentage of done in total; 100 for an empty total.
    [[nodiscard]] static int percent(uint64_t done, uint64_t total);

private:
    uint32_t total_ = 0;
    uint32_t current_ = 0;
    ProgressEvent* sink_ = nullptr;
    StringBuffer tags_;
    bool aborted_ = false;
    uint64_t lastTick_ = 0;
};

} // namespace norvane
