#pragma once

// What a program can act on when a member fails: beside the activity log, each object keeps the
// class of its last call's failure, read with get_LastErrorCode(). A call that succeeds leaves
// None. The values are part of the C API (NV_ERROR_...) and never change.

#include "norvane/Export.h"

namespace norvane {

enum class ErrorCode : int {
    None = 0,
    // A failure no more specific class describes; the log says what happened.
    Failed = 1,
    // A null, empty or malformed argument, or an index out of range.
    BadArgument = 2,
    // A file, message, item or certificate that does not exist.
    NotFound = 3,
    // A file or directory that could not be read or written.
    Io = 4,
    // Name resolution, connecting, or a connection that broke or timed out.
    Network = 5,
    // The server refused the login, or no mechanism both sides accept was left.
    Authentication = 6,
    // The TLS handshake failed or the server's certificate did not check out.
    Tls = 7,
    // The server answered something the protocol does not allow at that point.
    Protocol = 8,
    // The server refused one or more recipients.
    RecipientRefused = 9,
    // Signing, verifying, encrypting or decrypting failed, or a key was missing.
    Crypto = 10,
    // A size, count or nesting limit was exceeded.
    LimitExceeded = 11,
    // Input that could not be parsed: MIME, XML, a certificate, a queue file.
    BadData = 12,
};

// The enumerator's name ("RecipientRefused"); "Unknown" for a value outside the list.
NORVANE_API const char* errorCodeName(ErrorCode code) noexcept;

} // namespace norvane
