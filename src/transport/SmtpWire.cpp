#include "transport/SmtpWire.h"

#include "common/Platform.h"
#include "common/StringBuffer.h"

#include <algorithm>
#include <cctype>

namespace norvane::smtp {

bool hasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

namespace {

bool isLineBreak(char c) {
    return c == '\r' || c == '\n';
}

// Frames text that does not end between the CR and the LF of a pair; lineStart tells whether
// the byte before it ended a line (or there is none).
void frameInto(std::string_view text, bool lineStart, std::string& out) {
    out.reserve(out.size() + text.size() + text.size() / 64 + 16);
    size_t i = 0;
    while (i < text.size()) {
        if (lineStart && text[i] == '.')
            out.push_back('.');
        // The rest of the line goes out as it is.
        size_t end = i;
        while (end < text.size() && !isLineBreak(text[end]))
            ++end;
        out.append(text.substr(i, end - i));
        if (end == text.size())
            return;
        out += "\r\n";
        i = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
        lineStart = true;
    }
}

} // namespace

std::string frameData(std::string_view text) {
    std::string out;
    frameInto(text, true, out);
    return out;
}

bool frameDataInPieces(std::string_view text, size_t pieceSize,
                       const std::function<bool(std::string_view)>& sink) {
    std::string out;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.size(), start + std::max<size_t>(pieceSize, 1));
        if (end < text.size() && text[end - 1] == '\r' && text[end] == '\n')
            ++end; // a pair stays in one piece, or it would become two line breaks
        out.clear();
        frameInto(text.substr(start, end - start), start == 0 || isLineBreak(text[start - 1]), out);
        if (!sink(out))
            return false;
        start = end;
    }
    return true;
}

size_t framedSize(std::string_view text) {
    size_t n = text.size();
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            else
                ++n; // a bare CR becomes CR LF
            lineStart = true;
        } else if (c == '\n') {
            ++n; // a bare LF too
            lineStart = true;
        } else {
            n += lineStart && c == '.';
            lineStart = false;
        }
    }
    return n;
}

std::string_view endOfData(std::string_view text) {
    if (text.empty() || isLineBreak(text.back()))
        return ".\r\n";
    return "\r\n.\r\n";
}

int replyCode(std::string_view line) {
    if (line.size() < 3)
        return 0;
    int code = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        code = code * 10 + (line[i] - '0');
    }
    return code;
}

bool isContinuation(std::string_view line) {
    return line.size() > 3 && line[3] == '-';
}

namespace {

// One entry of an address list: the part inside angle brackets if there is one, otherwise
// the entry without quoted text and comments.
std::string addressOf(std::string_view entry) {
    std::string plain;
    bool quoted = false;
    int comment = 0;
    size_t open = std::string_view::npos;
    for (size_t i = 0; i < entry.size(); ++i) {
        char c = entry[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (comment > 0) {
            if (c == '(')
                ++comment;
            else if (c == ')')
                --comment;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '(') {
            ++comment;
        } else if (c == '<') {
            open = i;
        } else if (c == '>' && open != std::string_view::npos) {
            return std::string(sb::trimView(entry.substr(open + 1, i - open - 1)));
        } else {
            plain.push_back(c);
        }
    }
    return std::string(sb::trimView(plain));
}

} // namespace

std::vector<std::string> bareAddresses(std::string_view list) {
    std::vector<std::string> out;
    bool quoted = false;
    int angle = 0;
    size_t start = 0;
    for (size_t i = 0; i <= list.size(); ++i) {
        char c = i < list.size() ? list[i] : ',';
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '"')
            quoted = true;
        else if (c == '<')
            ++angle;
        else if (c == '>' && angle > 0)
            --angle;
        else if ((c == ',' || c == ';') && angle == 0) {
            std::string a = addressOf(list.substr(start, i - start));
            if (a.find('@') != std::string::npos)
                out.push_back(std::move(a));
            start = i + 1;
        }
    }
    return out;
}

std::string newMessageId() {
    std::string host = platform::localHostName();
    if (host.empty())
        host = "unknown";
    return "<NORVANE-MID-" + platform::newUuidString() + "@" + host + ">";
}

void scanExtension(std::string_view line, Extensions& ext) {
    if (line.size() < 5)
        return;
    std::string_view rest = sb::trimView(line.substr(4));
    const size_t blank = rest.find(' ');
    const std::string_view keyword = rest.substr(0, blank);
    const std::string_view value =
        blank == std::string_view::npos ? std::string_view() : sb::trimView(rest.substr(blank));
    if (sb::equalsNoCase(keyword, "PIPELINING"))
        ext.pipelining = true;
    else if (sb::equalsNoCase(keyword, "STARTTLS"))
        ext.startTls = true;
    else if (sb::equalsNoCase(keyword, "ENHANCEDSTATUSCODES"))
        ext.enhancedCodes = true;
    else if (sb::equalsNoCase(keyword, "8BITMIME"))
        ext.eightBitMime = true;
    else if (sb::equalsNoCase(keyword, "SMTPUTF8"))
        ext.smtpUtf8 = true;
    else if (sb::equalsNoCase(keyword, "DSN"))
        ext.dsn = true;
    else if (sb::equalsNoCase(keyword, "SIZE")) {
        ext.size = true;
        uint64_t n = 0;
        for (char c : value) {
            if (c < '0' || c > '9' || n > UINT64_MAX / 10 - 9)
                break;
            n = n * 10 + static_cast<uint64_t>(c - '0');
        }
        ext.sizeLimit = n;
    }
}

namespace {

// The length of an enhanced status code ("2.1.5") at the start of text, or 0.
size_t enhancedCodeLength(std::string_view text) {
    if (text.size() < 5 || (text[0] != '2' && text[0] != '4' && text[0] != '5') || text[1] != '.')
        return 0;
    size_t i = 2;
    for (int part = 0; part < 2; ++part) {
        const size_t start = i;
        while (i < text.size() && i - start < 3 && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i == start)
            return 0;
        if (part == 0) {
            if (i == text.size() || text[i] != '.')
                return 0;
            ++i;
        }
    }
    return i == text.size() || text[i] == ' ' ? i : 0;
}

} // namespace

Reply parseReply(std::string_view lines, bool enhancedCodes) {
    Reply r;
    while (!lines.empty()) {
        const size_t eol = lines.find('\n');
        std::string_view line = lines.substr(0, eol);
        lines = eol == std::string_view::npos ? std::string_view() : lines.substr(eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        r.code = replyCode(line);
        std::string_view text = line.size() > 4 ? line.substr(4) : std::string_view();
        if (enhancedCodes) {
            if (const size_t n = enhancedCodeLength(text)) {
                r.enhancedCode.assign(text.substr(0, n));
                text = sb::trimView(text.substr(n));
            }
        }
        if (!r.text.empty() && !text.empty())
            r.text.push_back(' ');
        r.text.append(text);
    }
    return r;
}

std::optional<std::string> dsnNotify(std::string_view value) {
    std::string out;
    bool never = false;
    size_t count = 0;
    for (std::string_view rest = value; !sb::trimView(value).empty();) {
        const size_t comma = rest.find(',');
        std::string word(sb::trimView(rest.substr(0, comma)));
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (word != "NEVER" && word != "SUCCESS" && word != "FAILURE" && word != "DELAY")
            return std::nullopt;
        if (out.find(word) == std::string::npos) {
            never = never || word == "NEVER";
            out += (out.empty() ? "" : ",") + word;
            ++count;
        }
        if (comma == std::string_view::npos)
            break;
        rest = rest.substr(comma + 1);
    }
    // NEVER stands alone.
    if (never && count > 1)
        return std::nullopt;
    return out;
}

std::optional<std::string> dsnRet(std::string_view value) {
    const std::string_view v = sb::trimView(value);
    if (v.empty())
        return std::string();
    if (sb::equalsNoCase(v, "FULL"))
        return std::string("FULL");
    if (sb::equalsNoCase(v, "HDRS"))
        return std::string("HDRS");
    return std::nullopt;
}

bool validDsnEnvid(std::string_view value) {
    return value.size() <= 100 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

bool has8bit(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
}

std::string xtext(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < '!' || c > '~' || c == '+' || c == '=') {
            out.push_back('+');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}

} // namespace norvane::smtp
