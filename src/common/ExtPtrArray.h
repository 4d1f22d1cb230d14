#pragma once

#include "common/NorvaneObject.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace norvane {

// Owning array of objects. Reads out of range return null instead of failing, because callers
// walk parts and entries by index and treat "no such item" as an ordinary answer.
// A non-owning list of pointers is a plain std::vector<T*>.
template <typename T = NorvaneObject>
class ExtPtrArray {
public:
    ExtPtrArray() = default;
    ExtPtrArray(ExtPtrArray&&) noexcept = default;
    ExtPtrArray& operator=(ExtPtrArray&&) noexcept = default;

    [[nodiscard]] size_t getSize() const { return items_.size(); }
    [[nodiscard]] bool isEmpty() const { return items_.empty(); }

    // Null when i is out of range.
    [[nodiscard]] T* elementAt(size_t i) const {
        return i < items_.size() ? items_[i].get() : nullptr;
    }
    [[nodiscard]] T* lastElement() const { return items_.empty() ? nullptr : items_.back().get(); }

    // Takes ownership; returns the adopted object.
    T* appendObject(std::unique_ptr<T> obj) {
        items_.push_back(std::move(obj));
        return items_.back().get();
    }
    // Inserts at i (appends when i is past the end).
    T* insertAt(size_t i, std::unique_ptr<T> obj) {
        if (i > items_.size())
            i = items_.size();
        return items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(i), std::move(obj))
            ->get();
    }
    // Hands the object at i back to the caller; null when out of range.
    std::unique_ptr<T> removeAt(size_t i) {
        if (i >= items_.size())
            return nullptr;
        std::unique_ptr<T> out = std::move(items_[i]);
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
        return out;
    }
    void removeAllObjects() { items_.clear(); }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    std::vector<std::unique_ptr<T>>& items() { return items_; }
    const std::vector<std::unique_ptr<T>>& items() const { return items_; }

private:
    std::vector<std::unique_ptr<T>> items_;
};

} // namespace norvane
