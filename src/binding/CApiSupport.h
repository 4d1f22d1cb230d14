#pragma once

// The pieces every generated C function is made of: the null-handle check, the barrier that
// keeps exceptions on this side, and copying results into memory the caller releases with
// nv_free.

#include "norvane/Error.h"
#include "norvane/norvane.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace norvane::capi {

// Runs body on the object behind h. No exception leaves: an allocation failure is a limit, any
// other one a plain failure.
template <class Pub, class H, class F>
int call(H* h, F&& body) noexcept {
    if (!h)
        return NV_ERROR_BAD_ARGUMENT;
    try {
        return body(*reinterpret_cast<Pub*>(h));
    } catch (const std::bad_alloc&) {
        return NV_ERROR_LIMIT_EXCEEDED;
    } catch (...) {
        return NV_ERROR_FAILED;
    }
}

template <class Pub, class H>
H* create() noexcept {
    try {
        return reinterpret_cast<H*>(std::make_unique<Pub>().release());
    } catch (...) {
        return nullptr;
    }
}

template <class Pub, class H>
void destroy(H* h) noexcept {
    std::unique_ptr<Pub> owned(reinterpret_cast<Pub*>(h));
}

template <class Pub, class H>
Pub* object(H* h) {
    return reinterpret_cast<Pub*>(h);
}
template <class Pub, class H>
const Pub* object(const H* h) {
    return reinterpret_cast<const Pub*>(h);
}

template <class T>
int code(const T& object) {
    return static_cast<int>(object.get_LastErrorCode());
}

// Out-parameters start cleared, so that a call refused early leaves nothing dangling.
template <class T>
void clear(T* out) {
    if (out)
        *out = T{};
}
template <class T>
void clear(T** data, size_t* size) {
    clear(data);
    clear(size);
}

// Each store returns false only when memory for the copy ran out.
template <class T>
bool store(T value, T* out) {
    if (out)
        *out = value;
    return true;
}
inline bool store(bool value, int* out) {
    return store(value ? 1 : 0, out);
}
inline bool store(const std::string& value, char** out) {
    if (!out)
        return true;
    auto* p = static_cast<char*>(std::malloc(value.size() + 1));
    if (!p)
        return false;
    std::memcpy(p, value.c_str(), value.size() + 1);
    *out = p;
    return true;
}
inline bool store(const std::vector<uint8_t>& value, uint8_t** out, size_t* size) {
    if (size)
        *size = value.size();
    if (!out)
        return true;
    // One byte more than asked, so that an empty array is a real allocation too.
    auto* p = static_cast<uint8_t*>(std::malloc(value.size() + 1));
    if (!p)
        return false;
    if (!value.empty())
        std::memcpy(p, value.data(), value.size());
    *out = p;
    return true;
}
template <class Pub, class H>
bool store(std::unique_ptr<Pub> object, H** out) {
    if (out)
        *out = reinterpret_cast<H*>(object.release());
    return true;
}

inline int finish(bool stored, int code) {
    return stored ? code : NV_ERROR_LIMIT_EXCEEDED;
}

} // namespace norvane::capi
