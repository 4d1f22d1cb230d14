#include "charset/Uu.h"

#include "common/StringBuffer.h"

#include <algorithm>

namespace norvane {

namespace {

// Next line of text from pos (without its LF, CR bytes removed), advancing pos past it.
std::string nextLine(std::string_view text, size_t& pos) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string_view::npos ? text.size() : lf;
    std::string line(text.substr(pos, end - pos));
    std::erase(line, '\r');
    pos = lf == std::string_view::npos ? text.size() : lf + 1;
    return line;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// "begin <octal mode> <name>": the name is the rest of the line after the mode and the blanks
// that follow it. The caller has checked the "begin " prefix.
bool parseBeginLine(std::string_view line, std::string& name) {
    size_t i = 5;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    if (i < line.size() && (line[i] == '+' || line[i] == '-'))
        ++i;
    size_t digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7')
        ++i;
    if (i == digits)
        return false;
    while (i < line.size() && isBlank(line[i]))
        ++i;
    if (i == line.size())
        return false;
    name.assign(line.substr(i));
    return true;
}

inline uint8_t sextet(std::string_view line, size_t i) {
    // Characters the line does not have are the stripped spaces: zero bits.
    return i < line.size() ? static_cast<uint8_t>((static_cast<uint8_t>(line[i]) - 32) & 63) : 0;
}

// Appends the bytes of one data line; false when the line ends the data.
bool decodeDataLine(std::string_view line, DataBuffer& out) {
    if (line.empty())
        return true;
    // A missing "`" line before "end" must not turn "end" into five bytes of data.
    if (sb::trimView(line) == "end")
        return false;
    size_t count = sextet(line, 0);
    if (count == 0)
        return false;
    for (size_t i = 1; count > 0; i += 4) {
        uint32_t v = (uint32_t{sextet(line, i)} << 18) | (uint32_t{sextet(line, i + 1)} << 12) |
                     (uint32_t{sextet(line, i + 2)} << 6) | sextet(line, i + 3);
        for (int shift = 16; shift >= 0 && count > 0; shift -= 8, --count)
            out.appendByte(static_cast<uint8_t>(v >> shift));
    }
    return true;
}

} // namespace

bool Uu::uuDecode(std::string_view text, DataBuffer& out) {
    size_t pos = 0;
    std::string line;
    bool found = false;
    while (pos < text.size()) {
        line = nextLine(text, pos);
        if (sb::startsWithNoCase(line, "begin ")) {
            found = true;
            break;
        }
    }
    std::string name;
    if (!found || !parseBeginLine(line, name))
        return false;
    fileName_ = std::move(name);
    // Well-formed data lines carry 45 bytes in 61 characters.
    out.reserve(out.getSize() + (text.size() - pos) / 4 * 3);
    while (pos < text.size()) {
        line = nextLine(text, pos);
        if (!decodeDataLine(line, out))
            break;
    }
    return true;
}

} // namespace norvane
