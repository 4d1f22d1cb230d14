#include "email/Html.h"

#include "common/StringBuffer.h"

#include <algorithm>

namespace norvane {

namespace {

using sb::hexValue;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decodes "&#ddd" at text[i]; returns the bytes consumed (0 when it is not one).
size_t decimalReference(std::string_view text, size_t i, std::string& out) {
    size_t j = i + 2;
    int value = 0;
    while (j < text.size() && isDigit(text[j]) && j - i < 8) {
        value = value * 10 + (text[j] - '0');
        ++j;
    }
    if (j == i + 2 || value < 1 || value > 255)
        return 0;
    out.push_back(static_cast<char>(value));
    return j - i;
}

void add(std::vector<std::string>& list, std::string item) {
    if (std::find(list.begin(), list.end(), item) == list.end())
        list.push_back(std::move(item));
}

// Adds prefix + the unescaped value when it is a plausible host or address (has a dot).
void addIfHost(std::vector<std::string>& list, std::string_view prefix, std::string_view value) {
    std::string host = Html::unescape(value);
    if (host.empty() || host.find('.') == std::string::npos)
        return;
    add(list, std::string(prefix) + host);
}

// The text from pos up to the first byte of stops (or the end).
std::string_view runTo(std::string_view text, size_t pos, std::string_view stops) {
    const size_t end = text.find_first_of(stops, pos);
    return text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
}

// Drops "user@" from the front of a URL: an at sign before the first slash ends a user part.
std::string_view withoutUserPart(std::string_view url) {
    const size_t slash = url.find('/');
    const size_t at = url.substr(0, slash).rfind('@');
    return at == std::string_view::npos ? url : url.substr(at + 1);
}

std::string_view cutAt(std::string_view s, std::string_view stops) {
    const size_t end = s.find_first_of(stops);
    return end == std::string_view::npos ? s : s.substr(0, end);
}

// Positions of every occurrence of what (ASCII case ignored).
template <typename F>
void forEachNoCase(std::string_view text, std::string_view what, F&& visit) {
    size_t pos = 0;
    while (pos <= text.size()) {
        const size_t at = sb::findNoCase(text.substr(pos), what);
        if (at == std::string_view::npos)
            return;
        visit(pos + at + what.size());
        pos += at + what.size();
    }
}

void scanHttpUrls(std::string_view text, std::vector<std::string>& list) {
    forEachNoCase(text, "http://", [&](size_t start) {
        const size_t scheme = start - 7;
        if (scheme > 0 && text[scheme - 1] == '"') {
            std::string_view url = withoutUserPart(runTo(text, start, "\">"));
            addIfHost(list, "http://", cutAt(url, "/+?&%)\\"));
        } else {
            addIfHost(list, "http://", runTo(text, start, "\"><) \t\n\r,;/'+]"));
        }
    });
}

void scanHrefs(std::string_view text, std::vector<std::string>& list) {
    forEachNoCase(text, "href=\"", [&](size_t start) {
        if (sb::startsWithNoCase(text.substr(start), "http://"))
            start += 7;
        std::string_view value = withoutUserPart(runTo(text, start, "\">"));
        addIfHost(list, "http://", cutAt(value, "/?&+%\\"));
    });
}

void scanMailtos(std::string_view text, std::vector<std::string>& list) {
    forEachNoCase(text, "mailto:", [&](size_t start) {
        addIfHost(list, "", runTo(text, start, "\">< \t\n\r,;/+')]"));
    });
}

} // namespace

void Html::linkedDomains(std::string_view text, std::vector<std::string>& list) {
    scanHttpUrls(text, list);
    scanHrefs(text, list);
    scanMailtos(text, list);
}

std::string Html::unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && hi <= 7 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 3;
                continue;
            }
        } else if (c == '&' && i + 1 < text.size() && text[i + 1] == '#') {
            if (const size_t n = decimalReference(text, i, out)) {
                i += n;
                continue;
            }
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

std::string Html::unescapeTags(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = text.find('<', pos);
        if (open == std::string_view::npos)
            break;
        const size_t close = text.find('>', open);
        const size_t end = close == std::string_view::npos ? text.size() : close;
        out.append(text.substr(pos, open - pos));
        out.append(unescape(text.substr(open, end - open)));
        pos = end;
    }
    out.append(text.substr(pos));
    return out;
}

} // namespace norvane
