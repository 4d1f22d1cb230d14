#include "facade/FacadeText.h"

#include "charset/Charset.h"
#include "charset/EncodingConvert.h"
#include "charset/UnicodeInfo.h"
#include "common/StringBuffer.h"
#include "common/XString.h"

namespace norvane::facade_text {

namespace {

constexpr int kUtf8 = 65001;

// The code page of a name, or 0 when the text needs no conversion (unknown name, UTF-8).
int conversionCodePage(std::string_view charset) {
    const int cp = Charset::codePageForName(charset);
    return cp == kUtf8 ? 0 : cp;
}

} // namespace

std::string trimmed(const char* s) {
    return std::string(sb::trimView(arg(s)));
}

int chooseCodePage(std::string_view utf8) {
    if (utf8.empty())
        return 0;
    UnicodeInfo info;
    info.analyse(utf8ToUtf16(utf8));
    const int cp = info.chooseCharset();
    if (cp == 0 || cp == kUtf8)
        return cp;
    // The chooser goes by script counts only: a Latin extended letter outside Latin-2, or an
    // emoji beside CJK text, would be lost in the single-script pick.
    EncodingConvert conv;
    std::string out;
    return conv.convert(kUtf8, cp, utf8, out) ? cp : kUtf8;
}

std::string toUtf8(std::span<const uint8_t> bytes, std::string_view charset) {
    const std::string_view in(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const int cp = conversionCodePage(charset);
    if (cp == 0)
        return std::string(in);
    std::string out;
    EncodingConvert conv;
    (void)conv.convert(cp, kUtf8, in, out);
    return out;
}

DataBuffer fromUtf8(std::string_view utf8, std::string_view charset) {
    const int cp = conversionCodePage(charset);
    if (cp == 0)
        return DataBuffer(utf8);
    std::string out;
    EncodingConvert conv;
    (void)conv.convert(kUtf8, cp, utf8, out);
    return DataBuffer(std::string_view(out));
}

std::string crBeforeBareLf(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 32);
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r'))
            out.push_back('\r');
        out.push_back(s[i]);
    }
    return out;
}

} // namespace norvane::facade_text
