#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane {

// The attributes of one XML element, in document order. Names may repeat (the reader keeps
// what the document says); lookups by name return the first.
class AttributeSet {
public:
    void addAttribute(std::string_view name, std::string_view value) {
        pairs_.emplace_back(std::string(name), std::string(value));
    }
    void clear() { pairs_.clear(); }

    [[nodiscard]] size_t numAttributes() const { return pairs_.size(); }
    [[nodiscard]] bool isEmpty() const { return pairs_.empty(); }
    // Empty views when i is out of range.
    [[nodiscard]] std::string_view nameAt(size_t i) const;
    [[nodiscard]] std::string_view valueAt(size_t i) const;

    // The value of the first attribute called name (compared byte for byte); false when absent.
    [[nodiscard]] bool getAttribute(std::string_view name, std::string& value) const;
    // True when an attribute has exactly this name and this value.
    [[nodiscard]] bool hasAttributeWithValue(std::string_view name, std::string_view value) const;

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

} // namespace norvane
