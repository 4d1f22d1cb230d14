#include "common/StringBuffer.h"

#include <charconv>

namespace norvane {

namespace {

bool isTrimByte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

unsigned char lowerAsciiByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

} // namespace

void StringBuffer::appendInt(long long v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    s_.append(buf, r.ptr);
}

int StringBuffer::replaceAllOccurances(std::string_view from, std::string_view to) {
    return sb::replaceAll(s_, from, to);
}

void StringBuffer::trim2() {
    sb::trim(s_);
}

void StringBuffer::shorten(size_t n) {
    s_.resize(n >= s_.size() ? 0 : s_.size() - n);
}

void StringBuffer::toLowerAscii() {
    sb::toLowerAscii(s_);
}

bool StringBuffer::containsSubstringNoCase(std::string_view s) const {
    return sb::findNoCase(s_, s) != std::string_view::npos;
}

bool StringBuffer::is7bit() const {
    for (unsigned char c : s_)
        if (c & 0x80)
            return false;
    return true;
}

std::vector<std::string> StringBuffer::split(std::string_view delimiters, bool honourQuotes,
                                             bool honourEscapes, bool keepEmpty) const {
    std::vector<std::string> out;
    std::string cur;
    bool inQuotes = false;
    for (size_t i = 0; i < s_.size(); ++i) {
        char c = s_[i];
        if (honourEscapes && c == '\\' && i + 1 < s_.size()) {
            cur.push_back(c);
            cur.push_back(s_[++i]);
            continue;
        }
        if (honourQuotes && c == '"')
            inQuotes = !inQuotes;
        if (!inQuotes && delimiters.find(c) != std::string_view::npos) {
            if (keepEmpty || !cur.empty())
                out.push_back(std::move(cur));
            cur.clear();
            continue;
        }
        cur.push_back(c);
    }
    if (keepEmpty || !cur.empty())
        out.push_back(std::move(cur));
    return out;
}

void StringBuffer::toCRLF() {
    s_ = sb::toCRLF(s_);
}

namespace sb {

std::string_view trimView(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && isTrimByte(s[b]))
        ++b;
    while (e > b && isTrimByte(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

void trim(std::string& s) {
    std::string_view v = trimView(s);
    if (v.size() != s.size())
        s = std::string(v);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAsciiByte(static_cast<unsigned char>(a[i])) !=
            lowerAsciiByte(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

size_t findNoCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty())
        return 0;
    if (needle.size() > haystack.size())
        return std::string_view::npos;
    unsigned char first = lowerAsciiByte(static_cast<unsigned char>(needle[0]));
    for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (lowerAsciiByte(static_cast<unsigned char>(haystack[i])) != first)
            continue;
        if (equalsNoCase(haystack.substr(i, needle.size()), needle))
            return i;
    }
    return std::string_view::npos;
}

void toLowerAscii(std::string& s) {
    for (char& c : s)
        c = static_cast<char>(lowerAsciiByte(static_cast<unsigned char>(c)));
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    toLowerAscii(out);
    return out;
}

int replaceAll(std::string& s, std::string_view from, std::string_view to) {
    if (from.empty() || s.size() < from.size())
        return 0;
    size_t pos = s.find(from);
    if (pos == std::string::npos)
        return 0;
    // One pass into a new string keeps this linear however many matches there are.
    std::string out;
    out.reserve(s.size());
    size_t last = 0;
    int n = 0;
    while (pos != std::string::npos) {
        out.append(s, last, pos - last);
        out.append(to);
        last = pos + from.size();
        ++n;
        pos = s.find(from, last);
    }
    out.append(s, last, std::string::npos);
    s.swap(out);
    return n;
}

static std::string escape(std::string_view s, bool quotes) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            if (quotes) {
                out += "&quot;";
                break;
            }
            [[fallthrough]];
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string xmlEscape(std::string_view s) {
    return escape(s, false);
}
std::string htmlEscape(std::string_view s) {
    return escape(s, true);
}

std::string toCRLF(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 32);
    for (char c : s) {
        if (c == '\r')
            continue;
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

} // namespace sb

} // namespace norvane
