#pragma once

// Text-cutting helpers of the header writers.

#include <string>
#include <string_view>
#include <vector>

namespace norvane {

class StringParse {
public:
    // Cuts text into pieces of at most maxLen bytes for encoding as separate encoded words.
    // A piece ends after the last space, tab, CR or LF within its first maxLen bytes (not
    // counting its first byte); without one it is maxLen bytes long. The pieces joined give the
    // text back. maxLen below 1 gives the text as one piece.
    [[nodiscard]] static std::vector<std::string> splitForWords(std::string_view text, int maxLen);
};

} // namespace norvane
