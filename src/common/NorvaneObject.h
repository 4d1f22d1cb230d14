#pragma once

namespace norvane {

// Common root of the objects kept in the owning containers (ExtPtrArray, HashMap).
class NorvaneObject {
public:
    NorvaneObject() = default;
    NorvaneObject(const NorvaneObject&) = default;
    NorvaneObject& operator=(const NorvaneObject&) = default;
    virtual ~NorvaneObject() = default;
};

} // namespace norvane
