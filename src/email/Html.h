#pragma once

// The web hosts and mail addresses an HTML or plain-text body links to, found by scanning the
// raw text (no document tree): every "http://" URL, every href="..." value and every
// "mailto:" address. Used to show a reader where a message points before anything is opened.

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class Html {
public:
    // Appends "http://" + host for each linked host (including relative href values that
    // contain a dot) and each mailto address, unescaped, leaving out any already in list.
    static void linkedDomains(std::string_view text, std::vector<std::string>& list);

    // "%hh" with a first digit of at most 7 becomes that byte, "&#ddd;"-style decimal
    // references (1-255) become that byte; anything else is kept as it is.
    [[nodiscard]] static std::string unescape(std::string_view text);
    // unescape applied only to the text of each tag (between '<' and the next '>').
    [[nodiscard]] static std::string unescapeTags(std::string_view text);
};

} // namespace norvane
