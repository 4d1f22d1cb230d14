#pragma once

// One JSON string for the parse dumps that are compared with Python's reading: quotes and
// backslashes escaped, control characters and DEL as \u escapes, other bytes as they are (the
// reader decodes them as UTF-8 with surrogate escapes).

#include <cstdio>
#include <string>
#include <string_view>

inline void appendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    out += '"';
}
