#pragma once

#include "common/NorvaneObject.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// Growable byte buffer: message bodies, attachment data, decoded transfer encodings.
class DataBuffer : public NorvaneObject {
public:
    DataBuffer() = default;
    explicit DataBuffer(std::span<const uint8_t> b) : d_(b.begin(), b.end()) {}
    explicit DataBuffer(std::string_view s) : d_(s.begin(), s.end()) {}
    explicit DataBuffer(std::vector<uint8_t>&& v) : d_(std::move(v)) {}

    [[nodiscard]] const uint8_t* getData() const { return d_.data(); }
    uint8_t* getData() { return d_.data(); }
    [[nodiscard]] size_t getSize() const { return d_.size(); }
    [[nodiscard]] bool isEmpty() const { return d_.empty(); }
    [[nodiscard]] std::span<const uint8_t> span() const { return d_; }
    [[nodiscard]] std::string_view view() const {
        return {reinterpret_cast<const char*>(d_.data()), d_.size()};
    }
    [[nodiscard]] std::string toString() const { return std::string(view()); }
    std::vector<uint8_t>& vec() { return d_; }
    [[nodiscard]] const std::vector<uint8_t>& vec() const { return d_; }

    void clear() { d_.clear(); }
    void reserve(size_t n) { d_.reserve(n); }
    void append(std::span<const uint8_t> b) { d_.insert(d_.end(), b.begin(), b.end()); }
    void append(std::string_view s) { d_.insert(d_.end(), s.begin(), s.end()); }
    void appendByte(uint8_t b) { d_.push_back(b); }
    void assign(std::span<const uint8_t> b) { d_.assign(b.begin(), b.end()); }
    void assign(std::string_view s) { d_.assign(s.begin(), s.end()); }
    void takeData(std::vector<uint8_t>&& v) { d_ = std::move(v); }

    bool operator==(const DataBuffer& o) const { return d_ == o.d_; }

private:
    std::vector<uint8_t> d_;
};

} // namespace norvane
