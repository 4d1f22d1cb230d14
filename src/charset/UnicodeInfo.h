#pragma once

// Picks a charset for Unicode text from the scripts it contains: the single-script legacy
// charset when one covers it, UTF-8 when scripts mix.

#include <array>
#include <cstddef>
#include <string_view>

namespace norvane {

class UnicodeInfo {
public:
    // Counts the code units of text by script; adds to what earlier calls counted.
    void analyse(std::u16string_view text);
    // The chosen code page; 0 when the text is empty or pure ASCII.
    [[nodiscard]] int chooseCharset() const;
    void reset() { counts_.fill(0); }

    enum Script : int {
        Ascii,
        Latin1,
        LatinExtended,
        Greek,
        Cyrillic,
        Hebrew,
        Arabic,
        Thai,
        Hangul,
        Cjk,
        Kana,
        Other,
        ScriptCount
    };
    [[nodiscard]] size_t count(Script s) const { return counts_[s]; }

private:
    std::array<size_t, ScriptCount> counts_{};
};

} // namespace norvane
