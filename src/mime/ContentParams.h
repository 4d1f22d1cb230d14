#pragma once

// Reading parameters out of Content-Type and Content-Disposition values. Quoted strings are
// first swapped for numbered placeholders "<[[n]]>" so that the ';', '=' and blanks inside them
// survive the splitting, then put back as parameter values.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::content_params {

struct Placeholders {
    // The value with each quoted string replaced by "<[[n]]>"; an unclosed quote runs to the end.
    std::string text;
    // The quoted strings without their quotes, numbered from 0.
    std::vector<std::string> strings;
};

// Quoted strings end at the closing quote, a CR or an LF. Texts longer than 100,000,000 bytes
// are returned unchanged, without placeholders.
[[nodiscard]] Placeholders replaceQuotedStrings(std::string_view value);

// text (a piece of Placeholders::text) with its placeholders turned back into their strings.
[[nodiscard]] std::string resolvePlaceholders(std::string_view text, const Placeholders& p);

// Removes every space and tab.
[[nodiscard]] std::string withoutBlanks(std::string_view s);

// Calls f(name, value) for each "name=value" of a ';'-separated list whose blanks were removed.
// A value "<[[n..." becomes quoted string n (empty when there is no such string).
// Parameters in the RFC 2231 form (name*=utf-8''caf%C3%A9, name*0=..., name*1*=...) are joined,
// percent-decoded, converted to UTF-8 and reported once under their plain name after the plain
// parameters, unless a plain parameter of that name was given (which then wins).
void forEachParam(std::string_view params, const std::vector<std::string>& strings,
                  const std::function<void(std::string_view, std::string_view)>& f);

} // namespace norvane::content_params
