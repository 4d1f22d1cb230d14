#include "transport/SmtpWire.h"

#include "common/Platform.h"
#include "common/StringBuffer.h"

#include <algorithm>

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

} // namespace norvane::smtp
