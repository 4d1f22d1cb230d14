#pragma once

// A checked list of addresses: every entry trimmed and holding "@", no two equal ignoring
// letter case. The mail manager keeps its bad addresses in one; distribution-list files load
// into one.

#include "common/LogBase.h"

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class DistributionList {
public:
    virtual ~DistributionList() = default;

    // Adds the trimmed address unless an entry equals it ignoring case. False (nothing added)
    // when it has no "@".
    bool add(std::string_view address);
    // Replaces the entries with the non-empty lines of the file that hold "@" (without
    // de-duplication); returns how many, or -1 when the file cannot be read.
    int loadFile(std::string_view path, LogBase& log);

    [[nodiscard]] size_t count() const { return entries_.size(); }
    // The entry at i, or "" when out of range.
    [[nodiscard]] std::string_view item(size_t i) const {
        return i < entries_.size() ? std::string_view(entries_[i]) : std::string_view();
    }
    [[nodiscard]] const std::vector<std::string>& entries() const { return entries_; }
    [[nodiscard]] const std::string& path() const { return path_; }
    void clear() { entries_.clear(); }

private:
    std::string path_;
    std::vector<std::string> entries_;
};

} // namespace norvane
