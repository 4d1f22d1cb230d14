#pragma once

// A charset as the system carries it: the preferred (written) name plus the code page number.
// Names appear only at the edges (MIME parameters, encoded words, public properties); inside,
// everything is keyed by code page, 0 meaning "no charset".

#include <string>
#include <string_view>

namespace norvane {

class Charset {
public:
    Charset() = default;

    // The code page of a charset name after trimming, ASCII/Latin-1 lower-casing and '_' → '-';
    // 0 when the name is unknown or shorter than 3 bytes.
    [[nodiscard]] static int codePageForName(std::string_view name);
    // The name written for cp; empty when cp has none.
    [[nodiscard]] static std::string nameForCodePage(int cp);

    // Takes cp and its preferred name; a code page without one clears the charset. Returns
    // whether a charset is set afterwards.
    bool setByCodePage(int cp);
    // "default" (exact) clears; "ansi" / "oem" (any case) take the platform's code pages; a
    // known name takes its code page and that code page's preferred name (possibly empty);
    // anything else clears. Returns whether a code page is set afterwards.
    bool setByName(std::string_view name);
    // Null leaves the charset unchanged.
    bool setByName(const char* name);
    void clear();

    [[nodiscard]] int getCodePage() const { return codePage_; }
    [[nodiscard]] const std::string& getName() const { return name_; }

    bool operator==(const Charset& o) const = default;

private:
    std::string name_;
    int codePage_ = 0;
};

} // namespace norvane
