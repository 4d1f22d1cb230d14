#include "mime/StringParse.h"

namespace norvane {

namespace {
bool isBreakable(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
} // namespace

std::vector<std::string> StringParse::splitForWords(std::string_view text, int maxLen) {
    std::vector<std::string> pieces;
    if (maxLen < 1) {
        if (!text.empty())
            pieces.emplace_back(text);
        return pieces;
    }
    const auto limit = static_cast<size_t>(maxLen);
    size_t start = 0;
    while (start < text.size()) {
        // The last byte the piece may hold; when the text ends before it, the rest fits.
        const size_t last = start + (limit - 1);
        if (last >= text.size()) {
            pieces.emplace_back(text.substr(start));
            break;
        }
        size_t end = start + limit;
        for (size_t j = last; j > start; --j) {
            if (isBreakable(text[j])) {
                end = j + 1;
                break;
            }
        }
        pieces.emplace_back(text.substr(start, end - start));
        start = end;
    }
    return pieces;
}

} // namespace norvane
