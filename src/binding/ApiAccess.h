#pragma once

// What the generated public classes share: reaching the façade object behind a public one,
// wrapping a new façade object in a public one, and keeping the error class of each call.

#include "common/DataBuffer.h"
#include "facade/ClsBase.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace norvane {

struct ApiAccess {
    // The façade object behind p; null for null.
    template <class Pub>
    static auto impl(Pub* p) -> decltype(p->impl_.get()) {
        return p ? p->impl_.get() : nullptr;
    }

    template <class Pub, class Cls>
    static std::unique_ptr<Pub> wrap(std::unique_ptr<Cls> p) {
        // The constructor that adopts a façade object is private to the public classes.
        return p ? std::unique_ptr<Pub>(new Pub(std::move(p))) : nullptr;
    }
};

// Frames one forwarded call: it starts with no error class; a false success flag or a null
// object without a more specific class gets Failed; any other result keeps what the member
// named.
class ApiCall {
public:
    explicit ApiCall(ClsBase& object) : object_(object) { object_.beginCall(); }
    ApiCall(const ApiCall&) = delete;
    ApiCall& operator=(const ApiCall&) = delete;

    bool flag(bool ok) {
        object_.endCall(!ok);
        return ok;
    }

    template <class Pub, class Cls>
    std::unique_ptr<Pub> object(std::unique_ptr<Cls> p) {
        object_.endCall(!p);
        return ApiAccess::wrap<Pub>(std::move(p));
    }

    static std::vector<uint8_t> bytes(const DataBuffer& data) {
        return {data.getData(), data.getData() + data.getSize()};
    }

private:
    ClsBase& object_;
};

} // namespace norvane
