#include "charset/Charset.h"

#include "charset/CharsetTables.h"
#include "common/Platform.h"
#include "common/StringBuffer.h"

#include <algorithm>
#include <unordered_map>

namespace norvane {

namespace {

// Normal form of a name for lookup: trimmed, A-Z and 0xC0-0xDF folded down, '_' read as '-'.
std::string normalise(std::string_view name) {
    size_t b = 0, e = name.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (b < e && blank(name[b]))
        ++b;
    while (e > b && blank(name[e - 1]))
        --e;
    std::string s(name.substr(b, e - b));
    for (char& c : s) {
        auto u = static_cast<unsigned char>(c);
        if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDF))
            c = static_cast<char>(u + 0x20);
        else if (c == '_')
            c = '-';
    }
    return s;
}

const std::unordered_map<std::string_view, int>& nameIndex() {
    static const auto index = [] {
        std::unordered_map<std::string_view, int> m;
        m.reserve(kCharsetNameCount * 2);
        for (size_t i = 0; i < kCharsetNameCount; ++i)
            m.emplace(kCharsetNames[i].name, kCharsetNames[i].codePage); // first one wins
        return m;
    }();
    return index;
}

const char* preferredName(int cp) {
    const CharsetPreferred* end = kPreferredNames + kPreferredNameCount;
    const CharsetPreferred* it = std::lower_bound(
        kPreferredNames, end, cp, [](const CharsetPreferred& p, int v) { return p.codePage < v; });
    return (it != end && it->codePage == cp) ? it->name : nullptr;
}

} // namespace

int Charset::codePageForName(std::string_view name) {
    std::string key = normalise(name);
    if (key.size() < 3)
        return 0;
    const auto& index = nameIndex();
    auto it = index.find(key);
    return it == index.end() ? 0 : it->second;
}

std::string Charset::nameForCodePage(int cp) {
    const char* n = preferredName(cp);
    return n ? std::string(n) : std::string();
}

void Charset::clear() {
    codePage_ = 0;
    name_.clear();
}

bool Charset::setByCodePage(int cp) {
    const char* n = preferredName(cp);
    if (!n) {
        clear();
        return false;
    }
    codePage_ = cp;
    name_ = n;
    return true;
}

bool Charset::setByName(const char* name) {
    if (!name)
        return codePage_ != 0;
    return setByName(std::string_view(name));
}

bool Charset::setByName(std::string_view name) {
    if (name == "default") {
        clear();
        return false;
    }
    if (sb::equalsNoCase(name, "ansi"))
        return setByCodePage(platform::ansiCodePage());
    if (sb::equalsNoCase(name, "oem"))
        return setByCodePage(platform::oemCodePage());
    int cp = codePageForName(name);
    if (cp == 0) {
        clear();
        return false;
    }
    codePage_ = cp;
    const char* n = preferredName(cp);
    name_ = n ? n : "";
    return true;
}

} // namespace norvane
