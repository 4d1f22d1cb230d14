#include "transport/TlsMode.h"

#include "common/StringBuffer.h"

namespace norvane {

std::string_view tlsModeName(TlsMode mode) {
    switch (mode) {
    case TlsMode::None:
        return "none";
    case TlsMode::StartTlsIfOffered:
        return "starttls-if-offered";
    case TlsMode::StartTlsRequired:
        return "starttls-required";
    case TlsMode::Implicit:
        return "implicit";
    }
    return "none";
}

std::optional<TlsMode> parseTlsMode(std::string_view name) {
    name = sb::trimView(name);
    for (TlsMode m :
         {TlsMode::None, TlsMode::StartTlsIfOffered, TlsMode::StartTlsRequired, TlsMode::Implicit})
        if (sb::equalsNoCase(name, tlsModeName(m)))
            return m;
    return std::nullopt;
}

} // namespace norvane
