#pragma once

// Text rules of the SMTP dialogue that do not need a connection: what may go into a command
// line, how message text is framed for DATA, reply codes, and bare addresses from a list.

#include <cstdint>
#include <functional>
#include <optional>
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

// What a server's EHLO reply offered, beyond authentication.
struct Extensions {
    bool pipelining = false;
    bool startTls = false;
    bool enhancedCodes = false; // ENHANCEDSTATUSCODES
    bool eightBitMime = false;
    bool smtpUtf8 = false;
    bool dsn = false;
    bool size = false;
    // The SIZE value: the largest message the server takes (0: no limit declared).
    uint64_t sizeLimit = 0;
};
// Notes the extension one EHLO reply line ("250-SIZE 1000") names.
void scanExtension(std::string_view line, Extensions& ext);

// One reply taken apart: the code, the enhanced status code when the server offers them
// ("5.1.1"; "" otherwise or when the reply has none) and the text after the codes, the lines
// of a multi-line reply joined by a space.
struct Reply {
    int code = 0;
    std::string enhancedCode;
    std::string text;
};
// lines: the reply's lines as received, each ending in CR LF.
[[nodiscard]] Reply parseReply(std::string_view lines, bool enhancedCodes);

// How the server answered for one recipient of a send.
struct RecipientResult {
    std::string address;
    Reply reply;
};

// Delivery status notifications asked for with each message (RFC 3461); empty: not asked.
struct DsnOptions {
    std::string notify; // "NEVER", or any of "SUCCESS", "FAILURE", "DELAY" joined by ","
    std::string ret;    // "FULL" or "HDRS"
    std::string envid;  // printable ASCII, at most 100 characters
    [[nodiscard]] bool any() const { return !notify.empty() || !ret.empty() || !envid.empty(); }
};
// The NOTIFY value in upper case without blanks, or nothing when it is not a valid one ("" is).
[[nodiscard]] std::optional<std::string> dsnNotify(std::string_view value);
// "FULL", "HDRS" (any case) or "", in upper case; nothing for anything else.
[[nodiscard]] std::optional<std::string> dsnRet(std::string_view value);
// Whether an ENVID value can go on the wire.
[[nodiscard]] bool validDsnEnvid(std::string_view value);

// True when text holds a byte above 0x7F.
[[nodiscard]] bool has8bit(std::string_view text);
// The xtext of RFC 3461: "+", "=", and bytes outside "!".."~" become "+HH".
[[nodiscard]] std::string xtext(std::string_view text);

// "<NORVANE-MID-" uuid "@" local host ">" for a message sent again under a new identity.
[[nodiscard]] std::string newMessageId();

} // namespace norvane::smtp
