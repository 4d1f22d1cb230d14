#pragma once

#include "common/NorvaneObject.h"

#include <string>
#include <string_view>

namespace norvane {

// Converts text between two code pages; the charset layer installs the real engine. Returns
// false when some character did not convert (the rest is still in out).
using CodePageConvertFn = bool (*)(int fromCp, int toCp, std::string_view in, std::string& out);
void setCodePageConverter(CodePageConvertFn fn);
// Through the installed engine; without one, only identical code pages and pure ASCII convert.
bool convertCodePage(int fromCp, int toCp, std::string_view in, std::string& out);

// The façade-level string: one text held in up to three forms (UTF-16, the ANSI code page,
// UTF-8). Setting one form drops the others; reading a missing form converts lazily, from UTF-8
// when that is valid, and keeps the result.
class XString : public NorvaneObject {
public:
    XString() = default;
    XString(std::string_view utf8) { setFromUtf8(utf8); }
    XString(const char* utf8) { setFromUtf8(utf8 ? utf8 : ""); }

    void clear();
    void setFromUtf8(std::string_view s);
    void setFromAnsi(std::string_view s);
    void setFromUtf16(std::u16string_view s);
    void appendUtf8(std::string_view s);

    [[nodiscard]] const std::string& getUtf8() const;
    [[nodiscard]] const std::string& getAnsi() const;
    [[nodiscard]] const std::u16string& getUtf16() const;
    // True when the text converts to the ANSI code page without loss.
    [[nodiscard]] bool isAnsiLossless() const;

    [[nodiscard]] bool isEmpty() const;
    [[nodiscard]] std::string_view view() const { return getUtf8(); }

private:
    enum : unsigned { kUtf8 = 1, kAnsi = 2, kUtf16 = 4 };
    void ensureUtf8() const;

    mutable std::string utf8_;
    mutable std::string ansi_;
    mutable std::u16string utf16_;
    mutable unsigned valid_ = kUtf8;
    mutable int lossless_ = -1; // -1 unknown, 0 lossy, 1 lossless
};

// UTF-8 <-> UTF-16 without the charset tables. Ill-formed input becomes U+FFFD.
[[nodiscard]] std::u16string utf8ToUtf16(std::string_view s);
[[nodiscard]] std::string utf16ToUtf8(std::u16string_view s);

} // namespace norvane
