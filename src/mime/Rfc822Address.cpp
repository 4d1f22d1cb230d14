#include "mime/Rfc822Address.h"

#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "charset/EncodingUtf8.h"
#include "common/Platform.h"
#include "common/StringBuffer.h"

#include <algorithm>
#include <unordered_set>

namespace norvane {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void trimBlanks(std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    s = s.substr(b, e - b);
}

// Header injection guards: a name never holds a line break or NUL, an address no control byte
// and no space.
void cleanName(std::string& s) {
    std::erase_if(s, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}
void cleanAddress(std::string& s) {
    std::erase_if(s, [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F;
    });
}
void cleanFullText(std::string& s) {
    std::replace_if(
        s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    std::erase(s, '\0');
}

// Header unfolding: line breaks go, a tab that continued a line becomes a space.
std::string unfold(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char prev = 0;
    for (char c : text) {
        if (c == '\t' && prev == '\n')
            out.push_back(' ');
        else if (c != '\r' && c != '\n')
            out.push_back(c);
        prev = c;
    }
    return out;
}

// The text between the first '<' and the last '>', or all of it without such a pair.
std::string_view betweenBrackets(std::string_view text) {
    size_t lt = text.find('<');
    size_t gt = text.rfind('>');
    if (lt == std::string_view::npos || gt == std::string_view::npos || gt < lt)
        return text;
    return text.substr(lt + 1, gt - lt - 1);
}

bool has8bit(std::string_view s) {
    return std::any_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

bool hasEncodedWords(std::string_view s) {
    return sb::findNoCase(s, "?Q?") != std::string_view::npos ||
           sb::findNoCase(s, "?B?") != std::string_view::npos;
}

void decode8bitWords(std::string& name) {
    if (sb::findNoCase(name, "?8bit?") == std::string::npos)
        return;
    std::string raw;
    ContentCoding::decodeWordsToBytes(name, raw);
    name = std::move(raw);
}

bool isUtf8(std::string_view s) {
    return EncodingUtf8::isValid(s);
}

// A raw 8-bit name that is not UTF-8 was written in the sender's code page: the system's ANSI
// code page when that converts it, else ISO-8859-1 (which takes every byte).
std::string nameToUtf8(std::string_view name) {
    if (isUtf8(name))
        return std::string(name);
    EncodingConvert conv;
    std::string out;
    const int ansi = platform::ansiCodePage();
    if (ansi != 65001 && conv.convert(ansi, 65001, name, out))
        return out;
    out.clear();
    (void)conv.convert(28591, 65001, name, out);
    return out;
}

// The display name in front of an address: from the start of the entry, less leading quotes and
// apostrophes, up to the next double quote (text between that quote and the address is left
// out) or the address itself.
std::string nameBefore(std::string_view prefix) {
    size_t p = 0;
    while (p < prefix.size() && (prefix[p] == '"' || prefix[p] == '\''))
        ++p;
    size_t q = prefix.find('"', p);
    std::string name(prefix.substr(p, (q == std::string_view::npos ? prefix.size() : q) - p));
    while (!name.empty() &&
           (name.back() == '<' || name.back() == '"' || name.back() == '\'' || name.back() == ' '))
        name.pop_back();
    trimBlanks(name);
    return name;
}

// The old form "ann@example.com (Ann Lee)" (RFC 822 6.1) names the mailbox in a comment after
// the address; it is the display name when there is no other.
std::string commentAfter(std::string_view rest) {
    const size_t open = rest.find('(');
    const size_t close = rest.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos || close < open)
        return {};
    std::string name(rest.substr(open + 1, close - open - 1));
    trimBlanks(name);
    return name;
}

void appendQuotedName(std::string_view name, std::string& out) {
    out.push_back('"');
    for (char c : name) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

} // namespace

Rfc822Address::Rfc822Address(std::string_view name, std::string_view address) : valid_(true) {
    name_ = name;
    decode8bitWords(name_);
    address_ = betweenBrackets(address);
    std::erase(address_, ' ');
    if (name_.empty())
        fullText_ = address;
    else
        fullText_.append("\"").append(name_).append("\" <").append(address).append(">");
    trimBlanks(name_);
    trimBlanks(address_);
    if (address_ == name_)
        name_.clear();
    cleanName(name_);
    cleanAddress(address_);
    cleanFullText(fullText_);
}

std::unique_ptr<Rfc822Address> Rfc822Address::parseAddress(std::string_view text) {
    if (text.empty() || sb::findNoCase(text, "undisclosed recipient") != std::string_view::npos ||
        sb::findNoCase(text, "undisclosed-recipient") != std::string_view::npos)
        return nullptr;
    std::string full = unfold(text);
    trimBlanks(full);
    sb::replaceAll(full, "\\\"", "");
    const size_t at = full.rfind('@');
    if (at == std::string::npos)
        return nullptr;
    size_t begin = at;
    while (begin > 0 && full[begin - 1] != ' ' && full[begin - 1] != '<')
        --begin;
    size_t end = at + 1;
    while (end < full.size() && full[end] != ' ' && full[end] != '>')
        ++end;

    auto addr = std::make_unique<Rfc822Address>();
    addr->valid_ = true;
    addr->address_ = full.substr(begin, end - begin);
    if (begin > 0) {
        addr->name_ = nameBefore(std::string_view(full).substr(0, begin));
        if (addr->name_ == addr->address_)
            addr->name_.clear();
        decode8bitWords(addr->name_);
    }
    if (addr->name_.empty())
        addr->name_ = commentAfter(std::string_view(full).substr(end));
    cleanAddress(addr->address_);
    cleanName(addr->name_);
    if (has8bit(addr->name_) && !hasEncodedWords(addr->name_)) {
        std::string encoded;
        ContentCoding::encodeHeaderText(nameToUtf8(addr->name_), "utf-8", encoded);
        addr->name_ = std::move(encoded);
    }
    cleanFullText(full);
    addr->fullText_ = std::move(full);
    return addr;
}

int Rfc822Address::parseAddressList(std::string_view text, ExtPtrArray<Rfc822Address>& list) {
    const std::string value = unfold(sb::trimView(text));
    std::unordered_set<std::string> seen;
    for (const auto& a : list)
        if (a)
            seen.insert(sb::lowerAscii(a->address_));
    int count = 0;
    auto entry = [&](std::string_view e) {
        std::unique_ptr<Rfc822Address> addr = parseAddress(e);
        if (!addr)
            return;
        ++count;
        if (seen.insert(sb::lowerAscii(addr->address_)).second)
            list.appendObject(std::move(addr));
    };
    // Entries end at commas outside double quotes; a backslash protects the byte after it.
    bool inQuotes = false;
    size_t start = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        else if (value[i] == '"')
            inQuotes = !inQuotes;
        else if (value[i] == ',' && !inQuotes) {
            entry(std::string_view(value).substr(start, i - start));
            start = i + 1;
        }
    }
    entry(std::string_view(value).substr(start));
    return count;
}

bool Rfc822Address::isAcceptable(std::string_view text, std::string_view address) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    // At most one pair of angle brackets, in order.
    const size_t lt = text.find('<');
    const size_t gt = text.find('>');
    if (lt != text.rfind('<') || gt != text.rfind('>') ||
        (gt != std::string_view::npos) != (lt != std::string_view::npos) || gt < lt)
        return false;
    return !address.empty() && address.find_first_of(" \t<>()[],;:\"\\") == std::string_view::npos;
}

bool Rfc822Address::isAcceptable(std::string_view address) {
    return isAcceptable(address, sb::trimView(betweenBrackets(sb::trimView(address))));
}

void Rfc822Address::setName(std::string_view name) {
    name_ = name;
    cleanName(name_);
}

void Rfc822Address::setAddress(std::string_view text) {
    address_ = betweenBrackets(text);
    cleanAddress(address_);
}

std::string Rfc822Address::getName() const {
    if (name_.empty() || !hasEncodedWords(name_))
        return name_;
    std::string text = name_;
    ContentCoding::decodeWordsToUtf8(text);
    return text;
}

void Rfc822Address::renderRaw(std::string& out) const {
    if (name_.empty()) {
        out.append(address_);
        return;
    }
    appendQuotedName(name_, out);
    out.append(" <").append(address_).append(">");
}

void Rfc822Address::renderDisplay(std::string& out) const {
    std::string name = getName();
    if (name.empty()) {
        out.append(address_);
        return;
    }
    out.append("\"").append(name).append("\" <").append(address_).append(">");
}

void Rfc822Address::toXml(std::string& out) const {
    out.append("<address>\n");
    if (address_.empty())
        out.append("\t<addr/>\n");
    else
        out.append("\t<addr>").append(sb::xmlEscape(address_)).append("</addr>\n");
    if (name_.empty()) {
        out.append("\t<name/>\n");
    } else {
        std::string name = sb::xmlEscape(name_);
        out.append("\t<name>");
        if (has8bit(name))
            ContentCoding::encodeWordQ(name, "8bit", out);
        else
            out.append(name);
        out.append("</name>\n");
    }
    out.append("</address>");
}

bool Rfc822Address::replaceText(std::string_view from, std::string_view to) {
    if (from.empty())
        return false;
    int n = sb::replaceAll(fullText_, from, to) + sb::replaceAll(name_, from, to) +
            sb::replaceAll(address_, from, to);
    cleanName(name_);
    cleanAddress(address_);
    cleanFullText(fullText_);
    return n > 0;
}

std::unique_ptr<Rfc822Address> Rfc822Address::clone() const {
    auto copy = std::make_unique<Rfc822Address>();
    copy->copyFrom(*this);
    return copy;
}

void Rfc822Address::copyFrom(const Rfc822Address& other) {
    valid_ = other.valid_;
    fullText_ = other.fullText_;
    name_ = other.name_;
    address_ = other.address_;
}

} // namespace norvane
