#include "charset/UnicodeInfo.h"

namespace norvane {

namespace {

constexpr int kNeutral = -1;

int classify(char16_t u) {
    if (u < 0x80)
        return UnicodeInfo::Ascii;
    if (u < 0x100)
        return UnicodeInfo::Latin1;
    if (u < 0x300)
        return UnicodeInfo::LatinExtended;
    if (u >= 0x370 && u <= 0x3FF)
        return UnicodeInfo::Greek;
    if (u >= 0x400 && u <= 0x4FF)
        return UnicodeInfo::Cyrillic;
    if (u >= 0x590 && u <= 0x5FF)
        return UnicodeInfo::Hebrew;
    if (u >= 0x600 && u <= 0x6FF)
        return UnicodeInfo::Arabic;
    if (u >= 0xE00 && u <= 0xE7F)
        return UnicodeInfo::Thai;
    if ((u >= 0xAC00 && u <= 0xD7AF) || (u >= 0x1100 && u <= 0x11FF))
        return UnicodeInfo::Hangul;
    if ((u >= 0x4E00 && u <= 0x9FAF) || (u >= 0x3400 && u <= 0x4DBF))
        return UnicodeInfo::Cjk;
    if ((u >= 0x3040 && u <= 0x30FF) || (u >= 0x2F00 && u <= 0x2FDF))
        return UnicodeInfo::Kana;
    // Punctuation, symbols and full-width forms shared by every East Asian charset.
    if ((u >= 0x3000 && u <= 0x303F) || (u >= 0x3200 && u <= 0x32FF) ||
        (u >= 0x25A0 && u <= 0x26FF) || (u >= 0xFE20 && u <= 0xFE6F) ||
        (u >= 0xFF00 && u <= 0xFFEF))
        return kNeutral;
    return UnicodeInfo::Other;
}

} // namespace

void UnicodeInfo::analyse(std::u16string_view text) {
    for (char16_t u : text) {
        int c = classify(u);
        if (c != kNeutral)
            ++counts_[c];
    }
}

int UnicodeInfo::chooseCharset() const {
    auto has = [&](Script s) { return counts_[s] != 0; };
    bool beyondLatin1 = false, beyondLatinExt = false;
    for (int s = LatinExtended; s < ScriptCount; ++s)
        beyondLatin1 |= counts_[s] != 0;
    for (int s = Greek; s < ScriptCount; ++s)
        beyondLatinExt |= counts_[s] != 0;
    if (!has(Latin1) && !beyondLatin1)
        return 0; // nothing, or ASCII only
    if (!beyondLatin1)
        return 28591;
    if (!beyondLatinExt)
        return 28592;
    int scripts = 0;
    for (Script s : {Greek, Hebrew, Arabic, Kana, Hangul, Thai, Cyrillic})
        scripts += has(s) ? 1 : 0;
    if (scripts <= 1) {
        const std::pair<Script, int> choice[] = {
            {Kana, 932},     {Hangul, 949},     {Cjk, 936},     {Hebrew, 28598},
            {Arabic, 28596}, {Cyrillic, 28595}, {Greek, 28597}, {Thai, 874}};
        for (const auto& [s, cp] : choice)
            if (has(s))
                return cp;
    }
    return 65001;
}

} // namespace norvane
