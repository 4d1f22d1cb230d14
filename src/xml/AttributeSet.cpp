#include "xml/AttributeSet.h"

namespace norvane {

std::string_view AttributeSet::nameAt(size_t i) const {
    return i < pairs_.size() ? std::string_view(pairs_[i].first) : std::string_view();
}

std::string_view AttributeSet::valueAt(size_t i) const {
    return i < pairs_.size() ? std::string_view(pairs_[i].second) : std::string_view();
}

bool AttributeSet::getAttribute(std::string_view name, std::string& value) const {
    for (const auto& [n, v] : pairs_)
        if (n == name) {
            value = v;
            return true;
        }
    return false;
}

bool AttributeSet::hasAttributeWithValue(std::string_view name, std::string_view value) const {
    for (const auto& [n, v] : pairs_)
        if (n == name && v == value)
            return true;
    return false;
}

} // namespace norvane
