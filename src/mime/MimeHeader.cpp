#include "mime/MimeHeader.h"

#include "charset/Charset.h"
#include "charset/EncodingConvert.h"
#include "common/Platform.h"
#include "mime/TextScan.h"

namespace norvane {

namespace {

constexpr int kUtf8 = 65001;
constexpr int kLatin1 = 28591;
constexpr int kLatin2 = 28592;

bool isBlankValue(std::string_view v) {
    return sb::trimView(v).empty();
}

// True when text converts from cp to UTF-8 without loss. Converting UTF-8 to itself is a copy
// that checks nothing, so for UTF-8 the bytes are validated here.
bool convertsCleanly(int cp, std::string_view text, std::string& out) {
    if (cp == kUtf8) {
        if (!text_scan::isValidUtf8(text))
            return false;
        out.append(text);
        return true;
    }
    EncodingConvert conv;
    return conv.convert(cp, kUtf8, text, out);
}

// Raw 8-bit header text to UTF-8. When the text is not valid in cp, it is read as ISO-8859-1,
// which maps every byte: mislabelled header bytes stay visible instead of vanishing.
std::string headerTextToUtf8(int cp, std::string_view text) {
    std::string out;
    if (convertsCleanly(cp, text, out))
        return out;
    out.clear();
    EncodingConvert conv;
    (void)conv.convert(kLatin1, kUtf8, text, out);
    return out;
}

// The charset named between the first "=?" and the next marker ("?Q?" or "?B?", any case).
int codePageOfFirstWord(std::string_view block, std::string_view marker) {
    const size_t start = block.find("=?");
    if (start == std::string_view::npos)
        return 0;
    const std::string_view rest = block.substr(start + 2);
    const size_t end = sb::findNoCase(rest, marker);
    if (end == std::string_view::npos)
        return 0;
    return Charset::codePageForName(rest.substr(0, end));
}

// Raw 8-bit bytes inside an encoded word belong to the word's charset, not to the charset of the
// header around it: they become Q escapes, which the word decoder then reads in that charset.
void escape8bitInWords(std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find("=?", pos);
        const size_t q1 = start == std::string::npos ? start : text.find('?', start + 2);
        const size_t close = q1 == std::string::npos || q1 + 3 > text.size()
                                 ? std::string::npos
                                 : text.find("?=", q1 + 3);
        if (close == std::string::npos || text[q1 + 2] != '?' || (text[q1 + 1] | 0x20) != 'q') {
            const size_t upto = close == std::string::npos ? text.size() : close + 2;
            out.append(text, pos, upto - pos);
            pos = upto;
            continue;
        }
        out.append(text, pos, q1 + 3 - pos);
        for (size_t i = q1 + 3; i < close; ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
                continue;
            }
            static constexpr char kHex[] = "0123456789ABCDEF";
            out.push_back('=');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
        out.append("?=");
        pos = close + 2;
    }
    text = std::move(out);
}

} // namespace

void MimeHeader::clear() {
    fields_.removeAllObjects();
    headerCodePage_ = 0;
}

void MimeHeader::detectCharset(std::string_view block) {
    if (sb::findNoCase(block, "?Q?") != std::string_view::npos) {
        headerCodePage_ = codePageOfFirstWord(block, "?Q?");
        return;
    }
    if (sb::findNoCase(block, "?B?") != std::string_view::npos) {
        headerCodePage_ = codePageOfFirstWord(block, "?B?");
        return;
    }
    if (text_scan::is7bit(block))
        return;
    for (int cp : {platform::ansiCodePage(), kLatin1, kLatin2}) {
        std::string scratch;
        if (convertsCleanly(cp, block, scratch)) {
            headerCodePage_ = cp;
            return;
        }
    }
}

namespace {

// One physical line of a header block: its text without the line break, and where the next
// line starts. Lines end in LF with an optional CR before it; a bare CR is line content.
struct HeaderLine {
    std::string_view text;
    size_t next;
};

HeaderLine lineAt(std::string_view block, size_t pos) {
    const size_t lf = block.find('\n', pos);
    const size_t end = lf == std::string_view::npos ? block.size() : lf;
    std::string_view line = block.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return {line, lf == std::string_view::npos ? block.size() : lf + 1};
}

bool isBlankLine(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

// RFC 5322 2.2: a field name is printable ASCII other than ':'. Blanks between the name and
// the colon are allowed, as old mailers wrote them; anything else before the colon means the
// line is not a field at all.
bool isFieldLine(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
        name.remove_suffix(1);
    if (name.empty())
        return false;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F)
            return false;
    }
    return true;
}

} // namespace

size_t MimeHeader::headerEnd(std::string_view text, size_t& bodyStart) {
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        const HeaderLine l = lineAt(text, pos);
        if (isBlankLine(l.text)) {
            bodyStart = l.next;
            return pos;
        }
        const bool mboxFrom = first && l.text.starts_with("From ");
        const bool continuation = !first && (l.text.front() == ' ' || l.text.front() == '\t');
        if (!mboxFrom && !continuation && !isFieldLine(l.text)) {
            bodyStart = pos;
            return pos;
        }
        first = false;
        pos = l.next;
    }
    bodyStart = text.size();
    return text.size();
}

size_t MimeHeader::loadFromText(std::string_view text) {
    clear();
    size_t bodyStart = 0;
    const std::string_view block = text.substr(0, headerEnd(text, bodyStart));
    detectCharset(block);

    // RFC 5322 2.2.3: unfolding removes only the line break; the white space after it stays.
    std::string acc;
    size_t fields = 0;
    size_t pos = 0;
    while (pos < block.size()) {
        const HeaderLine l = lineAt(block, pos);
        if (pos == 0 && l.text.starts_with("From ")) {
            pos = l.next;
            continue; // mbox separator
        }
        pos = l.next;
        if (l.text.front() == ' ' || l.text.front() == '\t') {
            if (!acc.empty())
                acc.append("\r\n").append(l.text); // the field unfolds it
            continue;
        }
        flushLine(acc);
        if (++fields > kMaxFields)
            break;
        acc.assign(l.text);
    }
    flushLine(acc);
    return bodyStart;
}

void MimeHeader::flushLine(std::string& acc) {
    if (acc.empty())
        return;
    if (!text_scan::is7bit(acc) && acc.find("=?") != std::string::npos)
        escape8bitInWords(acc);
    if (!text_scan::is7bit(acc))
        acc = headerTextToUtf8(headerCodePage_ != 0 ? headerCodePage_ : platform::ansiCodePage(),
                               acc);
    auto field = std::make_unique<MimeField>();
    if (field->parseLine(acc)) {
        if (field->nameIs("content-type"))
            replaceField(*field);
        else
            addField(std::move(field));
    }
    acc.clear();
}

MimeField* MimeHeader::fieldAt(int index) const {
    return index < 0 ? nullptr : fields_.elementAt(static_cast<size_t>(index));
}

void MimeHeader::fieldName(int index, StringBuffer& out) const {
    if (const MimeField* f = fieldAt(index))
        out.append(f->name());
}

void MimeHeader::fieldValue(int index, StringBuffer& out) const {
    if (const MimeField* f = fieldAt(index))
        out.append(f->value());
}

const MimeField* MimeHeader::findField(std::string_view name) const {
    for (const auto& f : fields_)
        if (f->nameIs(name))
            return f.get();
    return nullptr;
}

bool MimeHeader::getField(std::string_view name, StringBuffer& out) const {
    const MimeField* f = findField(name);
    if (!f)
        return false;
    out.append(f->value());
    return true;
}

bool MimeHeader::setField(std::string_view name, std::string_view value, bool decodeWords) {
    // A name with a blank, a colon or a line break would write a different field, or a second
    // one (header injection): refused.
    if (!MimeField::isValidName(name))
        return false;
    // Copies first: name and value may point into the field about to be removed.
    const std::string n(name);
    const std::string v(value);
    removeField(n);
    if (!isBlankValue(v))
        fields_.appendObject(std::make_unique<MimeField>(n, v, decodeWords));
    return true;
}

void MimeHeader::addField(std::unique_ptr<MimeField> field) {
    if (field)
        fields_.appendObject(std::move(field));
}

void MimeHeader::removeField(std::string_view name) {
    std::erase_if(fields_.items(), [&](const auto& f) { return f->nameIs(name); });
}

void MimeHeader::copyFrom(const MimeHeader& other) {
    if (&other == this) {
        headerCodePage_ = 0;
        return;
    }
    clear();
    for (const auto& f : other.fields_)
        fields_.appendObject(f->clone());
}

void MimeHeader::mergeFrom(const MimeHeader& other) {
    if (&other == this)
        return;
    for (const auto& f : other.fields_)
        setField(f->name(), f->value());
}

void MimeHeader::render(StringBuffer& out, std::string_view excludePrefix,
                        const Charset& cs) const {
    Charset effective = cs;
    if (cs.getCodePage() == 0 && headerCodePage_ != 0)
        effective.setByCodePage(headerCodePage_);
    for (const auto& f : fields_) {
        if (!excludePrefix.empty() && sb::startsWithNoCase(f->name(), excludePrefix))
            continue;
        StringBuffer one;
        f->render(one, effective);
        out.append(one);
        out.append("\r\n");
    }
    // The caller adds the blank line before a body.
    std::string& s = out.str();
    while (!s.empty() && s.back() == '\n')
        s.resize(s.size() >= 2 ? s.size() - 2 : 0);
}

int MimeHeader::sizeEstimate() const {
    size_t n = 0;
    for (const auto& f : fields_)
        n += f->name().size() + f->value().size() + 4;
    return static_cast<int>(n);
}

} // namespace norvane
