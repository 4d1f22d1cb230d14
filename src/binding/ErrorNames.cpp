#include "norvane/Error.h"
#include "norvane/norvane.h"

#include <cstdlib>

namespace norvane {

const char* errorCodeName(ErrorCode code) noexcept {
    switch (code) {
    case ErrorCode::None:
        return "None";
    case ErrorCode::Failed:
        return "Failed";
    case ErrorCode::BadArgument:
        return "BadArgument";
    case ErrorCode::NotFound:
        return "NotFound";
    case ErrorCode::Io:
        return "Io";
    case ErrorCode::Network:
        return "Network";
    case ErrorCode::Authentication:
        return "Authentication";
    case ErrorCode::Tls:
        return "Tls";
    case ErrorCode::Protocol:
        return "Protocol";
    case ErrorCode::RecipientRefused:
        return "RecipientRefused";
    case ErrorCode::Crypto:
        return "Crypto";
    case ErrorCode::LimitExceeded:
        return "LimitExceeded";
    case ErrorCode::BadData:
        return "BadData";
    }
    return "Unknown";
}

} // namespace norvane

extern "C" {

NORVANE_API const char* nv_error_name(int code) {
    return norvane::errorCodeName(static_cast<norvane::ErrorCode>(code));
}

NORVANE_API void nv_free(void* p) {
    std::free(p);
}

} // extern "C"
