#pragma once

// Text rules of the SMTP dialogue that do not need a connection: what may go into a command
// line, how message text is framed for DATA, reply codes, and bare addresses from a list.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::smtp {

// Longest reply line and most lines of one reply taken from a server; a hostile or broken
// peer cannot make the client hold more than this.
inline constexpr size_t kMaxReplyLine = 65536;
inline constexpr size_t kMaxReplyLines = 1000;

// True when text holds CR, LF or NUL, which would end or corrupt a command line.
[[nodiscard]] bool hasLineBreakOrNul(std::string_view text);

// Message text as it goes after DATA: every bare CR or LF becomes CR LF and every line that
// starts with "." (the first one too) gets another ".", so that nothing in it can end the
// data early. Linear in the text.
[[nodiscard]] std::string frameData(std::string_view text);
// The same framing handed to sink in pieces of about pieceSize bytes, in order, so that a large
// message is never held framed as a whole; stops with false as soon as sink returns false.
[[nodiscard]] bool frameDataInPieces(std::string_view text, size_t pieceSize,
                                     const std::function<bool(std::string_view)>& sink);
// The size of frameData(text), without building it.
[[nodiscard]] size_t framedSize(std::string_view text);

// The line that ends the data after text (framed or not: both end in a line break alike). The
// CR LF that ends the text's last line is also the one in front of the "."; only text that
// stops inside a line needs one more. Empty text is ended by the "." line alone.
[[nodiscard]] std::string_view endOfData(std::string_view text);

// The reply code of a line: its first three characters as a decimal number (0 when they are
// not digits).
[[nodiscard]] int replyCode(std::string_view line);
// True for a line of a multi-line reply that is not the last ("250-...").
[[nodiscard]] bool isContinuation(std::string_view line);

// The bare addresses of an address list text: "a@b, Name <c@d>; e@f". Display names and
// quoted parts are skipped; entries without "@" are dropped.
[[nodiscard]] std::vector<std::string> bareAddresses(std::string_view list);

// "<NORVANE-MID-" uuid "@" local host ">" for a message sent again under a new identity.
[[nodiscard]] std::string newMessageId();

} // namespace norvane::smtp
