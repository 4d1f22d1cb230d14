#pragma once

#include "common/NorvaneObject.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// Growable byte string. It has no charset of its own: it holds UTF-8, another code page or raw
// bytes, as its user decides. Always NUL-terminated through getString().
class StringBuffer : public NorvaneObject {
public:
    StringBuffer() = default;
    explicit StringBuffer(std::string_view s) : s_(s) {}
    explicit StringBuffer(const char* s) : s_(s ? s : "") {}
    explicit StringBuffer(std::string&& s) : s_(std::move(s)) {}

    [[nodiscard]] const char* getString() const { return s_.c_str(); }
    [[nodiscard]] size_t getSize() const { return s_.size(); }
    [[nodiscard]] bool isEmpty() const { return s_.empty(); }
    [[nodiscard]] std::string_view view() const { return s_; }
    [[nodiscard]] const std::string& str() const { return s_; }
    std::string& str() { return s_; }
    [[nodiscard]] std::span<const uint8_t> bytes() const {
        return {reinterpret_cast<const uint8_t*>(s_.data()), s_.size()};
    }

    void clear() { s_.clear(); }
    void setString(std::string_view s) { s_.assign(s); }
    void append(std::string_view s) { s_.append(s); }
    void append(const StringBuffer& sb) { s_.append(sb.s_); }
    void appendChar(char c) { s_.push_back(c); }
    void appendInt(long long v);
    void prepend(std::string_view s) { s_.insert(0, s); }

    // Replaces every non-overlapping occurrence, left to right; returns the count.
    int replaceAllOccurances(std::string_view from, std::string_view to);

    // Removes space, tab, CR and LF at both ends.
    void trim2();
    // Drops the last n bytes (all of them when n >= size).
    void shorten(size_t n);

    // Folds ASCII letters only, so UTF-8 text stays intact.
    void toLowerAscii();

    [[nodiscard]] bool equals(std::string_view s) const { return s_ == s; }
    [[nodiscard]] bool containsSubstring(std::string_view s) const {
        return s_.find(s) != std::string::npos;
    }
    [[nodiscard]] bool containsSubstringNoCase(std::string_view s) const;
    [[nodiscard]] bool is7bit() const;

    // Splits at any of the delimiter bytes. With honourQuotes, delimiters inside double quotes
    // do not split; with honourEscapes, a backslash protects the next byte. Quotes and
    // backslashes are kept in the pieces. Empty pieces are dropped unless keepEmpty is set.
    [[nodiscard]] std::vector<std::string> split(std::string_view delimiters, bool honourQuotes,
                                                 bool honourEscapes, bool keepEmpty = false) const;

    // Removes every CR, then turns every LF into CR LF.
    void toCRLF();

    bool operator==(const StringBuffer& o) const { return s_ == o.s_; }

private:
    std::string s_;
};

// Free forms of the same operations, for std::string users.
namespace sb {
void trim(std::string& s);
[[nodiscard]] std::string_view trimView(std::string_view s);
[[nodiscard]] bool equalsNoCase(std::string_view a, std::string_view b);
[[nodiscard]] bool startsWithNoCase(std::string_view s, std::string_view prefix);
// Position of needle in haystack comparing ASCII letters without case, or npos.
[[nodiscard]] size_t findNoCase(std::string_view haystack, std::string_view needle);
void toLowerAscii(std::string& s);
[[nodiscard]] std::string lowerAscii(std::string_view s);
int replaceAll(std::string& s, std::string_view from, std::string_view to);
// "&" "<" ">" become "&amp;" "&lt;" "&gt;"; the HTML variant also turns '"' into "&quot;".
[[nodiscard]] std::string xmlEscape(std::string_view s);
[[nodiscard]] std::string htmlEscape(std::string_view s);
[[nodiscard]] std::string toCRLF(std::string_view s);
// The value of a hexadecimal digit of either case, or -1.
[[nodiscard]] constexpr int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace sb

} // namespace norvane
