#pragma once

// A forward-only scanner over one text, shared by the MIME and XML readers. Every capture
// stops at the end of the text, so no input can move the position past it; the capture
// functions report whether their stop byte or substring was actually found.

#include <cstddef>
#include <string>
#include <string_view>

namespace norvane {

class ParseEngine {
public:
    explicit ParseEngine(std::string_view text) : text_(text) {}

    [[nodiscard]] bool atEnd() const { return pos_ >= text_.size(); }
    [[nodiscard]] size_t position() const { return pos_; }
    // Clamped to the end of the text.
    void setPosition(size_t pos) { pos_ = pos < text_.size() ? pos : text_.size(); }
    void advance(size_t n) { setPosition(pos_ + n); }
    // The byte at the position, or 0 at the end.
    [[nodiscard]] char peek(size_t ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
    }
    [[nodiscard]] std::string_view remaining() const { return text_.substr(pos_); }
    [[nodiscard]] std::string_view text() const { return text_; }
    [[nodiscard]] bool lookingAt(std::string_view s) const { return remaining().starts_with(s); }

    // Captures the bytes up to (not including) c and stops at c. Without c, captures the rest
    // of the text and returns false.
    bool captureToNextChar(char c, std::string& out);
    // As captureToNextChar, stopping at any byte of the set.
    bool captureToNextAnyOf(std::string_view set, std::string& out);
    // At an `open` byte: captures through the `close` byte that balances it (both included)
    // and stops after it. False (position unchanged, out empty) when not at `open` or when the
    // run never balances.
    bool captureBalanced(char open, char close, std::string& out);
    // Skips bytes of the set; returns how many.
    size_t skipChars(std::string_view set);
    // Moves to the start of s (seekTo) or just past it (seekPast). Without s the position is
    // unchanged and the result false.
    bool seekTo(std::string_view s, bool caseSensitive = true);
    bool seekPast(std::string_view s, bool caseSensitive = true);

private:
    [[nodiscard]] size_t find(std::string_view s, bool caseSensitive) const;

    std::string_view text_;
    size_t pos_ = 0;
};

} // namespace norvane
