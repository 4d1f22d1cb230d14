#include "mime/ContentParams.h"

#include "charset/Charset.h"
#include "charset/EncodingConvert.h"
#include "common/StringBuffer.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>
#include <unordered_set>

namespace norvane::content_params {

namespace {

constexpr size_t kMaxText = 100000000;
constexpr std::string_view kOpen = "<[[";

std::string_view resolve(std::string_view value, const std::vector<std::string>& strings) {
    if (!value.starts_with(kOpen))
        return value;
    const char* first = value.data() + kOpen.size();
    const char* last = value.data() + value.size();
    size_t index = 0;
    const auto r = std::from_chars(first, last, index);
    if (r.ec != std::errc() || index >= strings.size())
        return {}; // an unclosed quote: its text was lost
    return strings[index];
}

// One piece of an RFC 2231 parameter: name*N (plain) or name*N* / name* (percent-encoded).
struct Section {
    int index = 0;
    bool extended = false;
    std::string value;
};

struct Extended {
    std::string name; // as first written
    std::vector<Section> sections;
};

// Splits "base*", "base*3" or "base*3*"; false when the name is not of that form.
bool parseExtendedName(std::string_view name, std::string_view& base, Section& s) {
    const size_t star = name.find('*');
    if (star == std::string_view::npos || star == 0)
        return false;
    base = name.substr(0, star);
    std::string_view rest = name.substr(star + 1);
    s.extended = rest.empty() || rest.back() == '*';
    if (!rest.empty() && rest.back() == '*')
        rest.remove_suffix(1);
    if (rest.empty())
        return true;
    const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), s.index);
    return r.ec == std::errc() && r.ptr == rest.data() + rest.size() && s.index >= 0;
}

using sb::hexValue;

void appendPercentDecoded(std::string_view v, std::string& out) {
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '%' && i + 2 < v.size() && hexValue(v[i + 1]) >= 0 && hexValue(v[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(v[i + 1]) * 16 + hexValue(v[i + 2])));
            i += 2;
        } else {
            out.push_back(v[i]);
        }
    }
}

// The joined value of an RFC 2231 parameter, in UTF-8 when its charset is known.
std::string joinExtended(std::vector<Section>& sections) {
    std::stable_sort(sections.begin(), sections.end(),
                     [](const Section& a, const Section& b) { return a.index < b.index; });
    std::string bytes;
    std::string charset;
    bool first = true;
    for (const Section& s : sections) {
        std::string_view v = s.value;
        if (first && s.extended) {
            // charset'language'text
            const size_t q1 = v.find('\'');
            const size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
            if (q2 != std::string_view::npos) {
                charset = v.substr(0, q1);
                v = v.substr(q2 + 1);
            }
        }
        first = false;
        if (s.extended)
            appendPercentDecoded(v, bytes);
        else
            bytes.append(v);
    }
    const int cp = charset.empty() ? 0 : Charset::codePageForName(charset);
    if (cp == 0 || cp == 65001)
        return bytes;
    std::string utf8;
    EncodingConvert conv;
    (void)conv.convert(cp, 65001, bytes, utf8);
    return utf8;
}

void splitParams(std::string_view params, const std::vector<std::string>& strings,
                 const std::function<void(std::string_view, std::string_view)>& f) {
    while (!params.empty()) {
        // Stray separators (";;") are not part of the next name.
        const size_t start = params.find_first_not_of(';');
        if (start == std::string_view::npos)
            return;
        params.remove_prefix(start);
        const size_t eq = params.find('=');
        if (eq == std::string_view::npos) {
            f(params, {});
            return;
        }
        const std::string_view name = params.substr(0, eq);
        params.remove_prefix(eq + 1);
        const size_t semi = params.find(';');
        const std::string_view value = params.substr(0, semi);
        params = semi == std::string_view::npos ? std::string_view() : params.substr(semi + 1);
        f(name, resolve(value, strings));
    }
}

} // namespace

Placeholders replaceQuotedStrings(std::string_view value) {
    Placeholders p;
    if (value.size() > kMaxText) {
        p.text.assign(value);
        return p;
    }
    p.text.reserve(value.size());
    size_t i = 0;
    while (i < value.size()) {
        const char c = value[i++];
        if (c != '"') {
            p.text.push_back(c);
            continue;
        }
        p.text.append(kOpen);
        // A quote never closed runs to the end of the value, whose text is kept.
        const size_t end = std::min(value.find_first_of("\"\r\n", i), value.size());
        p.text.append(std::to_string(p.strings.size()));
        p.text.append("]]>");
        p.strings.emplace_back(value.substr(i, end - i));
        i = end < value.size() && value[end] == '"' ? end + 1 : end;
    }
    return p;
}

std::string resolvePlaceholders(std::string_view text, const Placeholders& p) {
    std::string out;
    size_t pos = 0;
    for (size_t open = text.find(kOpen); open != std::string_view::npos;
         open = text.find(kOpen, pos)) {
        out.append(text.substr(pos, open - pos));
        const size_t close = text.find("]]>", open);
        const std::string_view whole =
            text.substr(open, close == std::string_view::npos ? close : close + 3 - open);
        out.append(resolve(whole, p.strings));
        pos = open + whole.size();
    }
    out.append(text.substr(std::min(pos, text.size())));
    return out;
}

std::string withoutBlanks(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != ' ' && c != '\t')
            out.push_back(c);
    return out;
}

void forEachParam(std::string_view params, const std::vector<std::string>& strings,
                  const std::function<void(std::string_view, std::string_view)>& f) {
    // Hashed by lower-cased name: a hostile value may hold a great many parameters.
    std::unordered_set<std::string> plainNames;
    std::unordered_map<std::string, size_t> extendedIndex;
    std::vector<Extended> extended;
    auto take = [&](std::string_view name, std::string_view value) {
        std::string_view base;
        Section s;
        if (!parseExtendedName(name, base, s)) {
            plainNames.insert(sb::lowerAscii(name));
            f(name, value);
            return;
        }
        s.value = value;
        auto [it, added] = extendedIndex.try_emplace(sb::lowerAscii(base), extended.size());
        if (added)
            extended.push_back(Extended{std::string(base), {}});
        extended[it->second].sections.push_back(std::move(s));
    };
    splitParams(params, strings, take);
    for (Extended& e : extended)
        if (!plainNames.contains(sb::lowerAscii(e.name)))
            f(e.name, joinExtended(e.sections));
}

} // namespace norvane::content_params
