#pragma once

// How a mail session protects its connection. A session on its own speaks in the clear (None);
// the mail manager's settings choose StartTlsIfOffered unless the caller says otherwise.

#include <optional>
#include <string_view>

namespace norvane {

enum class TlsMode {
    // The connection stays in the clear, whatever the server offers.
    None,
    // STARTTLS (SMTP) or STLS (POP3) when the server offers it, before any login; a server
    // that does not offer it is spoken to in the clear. A handshake or certificate check that
    // fails ends the session: it never goes on in the clear.
    StartTlsIfOffered,
    // The same, but a server that does not offer it is refused before any login.
    StartTlsRequired,
    // TLS from the first byte (SMTP submissions, usually port 465; POP3S, usually 995).
    Implicit,
};

// "none", "starttls-if-offered", "starttls-required", "implicit".
[[nodiscard]] std::string_view tlsModeName(TlsMode mode);
// The mode a name above stands for (any case, blanks around ignored); nothing for others.
[[nodiscard]] std::optional<TlsMode> parseTlsMode(std::string_view name);

} // namespace norvane
