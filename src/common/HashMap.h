#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace norvane {

// String-keyed map owning its values. Keys compare byte for byte; inserting an existing key
// replaces (and deletes) the old value.
template <typename T>
class HashMap {
public:
    void hashInsert(std::string_view key, std::unique_ptr<T> value) {
        map_.insert_or_assign(std::string(key), std::move(value));
    }
    // Null when absent; the map keeps ownership.
    [[nodiscard]] T* hashLookup(std::string_view key) const {
        auto it = map_.find(std::string(key));
        return it == map_.end() ? nullptr : it->second.get();
    }
    [[nodiscard]] size_t size() const { return map_.size(); }

    auto begin() const { return map_.begin(); }
    auto end() const { return map_.end(); }

private:
    std::unordered_map<std::string, std::unique_ptr<T>> map_;
};

} // namespace norvane
