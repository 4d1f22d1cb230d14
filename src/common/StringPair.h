#pragma once

#include "common/NorvaneObject.h"

#include <string>

namespace norvane {

// A (name, value) pair of byte strings: replace patterns, header fields in transit, form fields.
struct StringPair : NorvaneObject {
    StringPair() = default;
    StringPair(std::string n, std::string v) : name(std::move(n)), value(std::move(v)) {}
    std::string name;
    std::string value;
};

} // namespace norvane
