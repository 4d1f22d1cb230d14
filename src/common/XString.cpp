#include "common/XString.h"

#include "common/Platform.h"

#include <atomic>

namespace norvane {

namespace {

std::atomic<CodePageConvertFn> converter{nullptr};

bool isAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c & 0x80)
            return false;
    return true;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

void setCodePageConverter(CodePageConvertFn fn) {
    converter.store(fn);
}

bool convertCodePage(int fromCp, int toCp, std::string_view in, std::string& out) {
    if (fromCp == toCp || isAscii(in)) {
        out.assign(in);
        return true;
    }
    if (CodePageConvertFn fn = converter.load())
        return fn(fromCp, toCp, in, out);
    out.clear();
    for (unsigned char c : in)
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
    return false;
}

std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else {
            size_t need = (c >= 0xF0 && c <= 0xF4)  ? 4
                          : (c >= 0xE0)             ? 3
                          : (c >= 0xC2 && c < 0xE0) ? 2
                                                    : 0;
            if (need && i + need <= s.size()) {
                char32_t v = c & (0x3F >> (need - 1));
                bool ok = true;
                for (size_t k = 1; k < need; ++k) {
                    auto cc = static_cast<unsigned char>(s[i + k]);
                    if ((cc & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    v = (v << 6) | (cc & 0x3F);
                }
                bool overlong = (need == 3 && v < 0x800) || (need == 4 && v < 0x10000);
                if (ok && !overlong && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

void XString::clear() {
    utf8_.clear();
    ansi_.clear();
    utf16_.clear();
    valid_ = kUtf8;
    lossless_ = 1;
}

void XString::setFromUtf8(std::string_view s) {
    utf8_.assign(s);
    valid_ = kUtf8;
    lossless_ = -1;
}

void XString::setFromAnsi(std::string_view s) {
    ansi_.assign(s);
    valid_ = kAnsi;
    lossless_ = 1;
}

void XString::setFromUtf16(std::u16string_view s) {
    utf16_.assign(s);
    valid_ = kUtf16;
    lossless_ = -1;
}

void XString::appendUtf8(std::string_view s) {
    ensureUtf8();
    utf8_.append(s);
    valid_ = kUtf8;
    lossless_ = -1;
}

void XString::ensureUtf8() const {
    if (valid_ & kUtf8)
        return;
    if (valid_ & kUtf16) {
        utf8_ = utf16ToUtf8(utf16_);
    } else {
        // A failed conversion keeps what converted.
        (void)convertCodePage(platform::ansiCodePage(), 65001, ansi_, utf8_);
    }
    valid_ |= kUtf8;
}

const std::string& XString::getUtf8() const {
    ensureUtf8();
    return utf8_;
}

const std::string& XString::getAnsi() const {
    if (!(valid_ & kAnsi)) {
        ensureUtf8();
        lossless_ = convertCodePage(65001, platform::ansiCodePage(), utf8_, ansi_) ? 1 : 0;
        valid_ |= kAnsi;
    }
    return ansi_;
}

const std::u16string& XString::getUtf16() const {
    if (!(valid_ & kUtf16)) {
        ensureUtf8();
        utf16_ = utf8ToUtf16(utf8_);
        valid_ |= kUtf16;
    }
    return utf16_;
}

bool XString::isAnsiLossless() const {
    if (lossless_ < 0)
        (void)getAnsi();
    if (lossless_ < 0) // ANSI was already valid without a conversion from UTF-8
        lossless_ = 1;
    return lossless_ == 1;
}

bool XString::isEmpty() const {
    if (valid_ & kUtf8)
        return utf8_.empty();
    if (valid_ & kUtf16)
        return utf16_.empty();
    return ansi_.empty();
}

} // namespace norvane
