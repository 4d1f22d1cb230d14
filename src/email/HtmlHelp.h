#pragma once

// Charset declarations in HTML bodies, handled on the raw bytes without building a document:
// the META tag that names the charset of an HTML part must agree with the charset the part is
// sent in, or a reader decodes it wrongly.
//
// Only the http-equiv form <META http-equiv="Content-Type" content="text/html; charset=..."> is
// read and written; searches ignore ASCII case, replacements take the first occurrence.

#include <string>
#include <string_view>

namespace norvane {

class HtmlHelp {
public:
    // The charset named by the first META tag whose http-equiv is Content-Type: from its content
    // attribute ("charset=" up to a quote, ';', blank or the end), else its charset attribute.
    // Empty when there is no such tag.
    [[nodiscard]] static std::string getMetaCharset(std::string_view html);
    // Leaves out every META tag that declares a charset in its content; the rest is kept byte
    // for byte.
    static void removeMetaCharset(std::string& html);
    // Completes the skeleton, then inserts a META declaring name right after <head>.
    static void insertMetaCharset(std::string& html, std::string_view name);
    // Adds whichever of <html>, <head>, <body> and their closing tags are missing.
    static void ensureHtmlSkeleton(std::string& html);
};

} // namespace norvane
