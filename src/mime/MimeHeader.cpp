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

void MimeHeader::loadFromText(std::string_view text) {
    clear();
    const std::string norm = sb::toCRLF(text);
    std::string_view block = norm;
    const size_t blank = block.find("\r\n\r\n");
    if (blank != std::string_view::npos)
        block = block.substr(0, blank);
    detectCharset(block);

    // After normalisation every line ends in CR LF and no other CR is left.
    std::string acc;
    size_t taken = 0;
    size_t pos = 0;
    while (pos < block.size() && taken < kMaxLines) {
        size_t eol = block.find("\r\n", pos);
        if (eol == std::string_view::npos)
            eol = block.size();
        const std::string_view line = block.substr(pos, eol - pos);
        pos = eol + 2;
        if (line.empty())
            continue;
        ++taken;
        if (line.starts_with("From "))
            continue; // mbox separator
        if (line.front() == ' ' || line.front() == '\t') {
            // Unfolding removes the break and the one white-space byte folding inserted; encoded
            // words split across lines join directly.
            const size_t text = line.find_first_not_of(" \t");
            if (text != std::string_view::npos && line.substr(text).starts_with("=?"))
                acc.append(line.substr(text));
            else
                acc.append(line.substr(1));
            continue;
        }
        flushLine(acc);
        acc.assign(line);
    }
    flushLine(acc);
}

void MimeHeader::flushLine(std::string& acc) {
    if (acc.empty())
        return;
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

void MimeHeader::setField(std::string_view name, std::string_view value) {
    // Copies first: name and value may point into the field about to be removed.
    const std::string n(name);
    const std::string v(value);
    removeField(n);
    if (!isBlankValue(v))
        fields_.appendObject(std::make_unique<MimeField>(n, v));
}

void MimeHeader::addField(std::unique_ptr<MimeField> field) {
    if (field)
        fields_.appendObject(std::move(field));
}

void MimeHeader::removeField(std::string_view name) {
    std::erase_if(fields_.items(), [&](const auto& f) { return f->nameIs(name); });
}

void MimeHeader::removeEmptyFields() {
    std::erase_if(fields_.items(), [](const auto& f) { return isBlankValue(f->value()); });
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

void MimeHeader::renderFields(StringBuffer& out, std::string_view excludePrefix, const Charset& cs,
                              bool unfold) const {
    Charset effective = cs;
    if (cs.getCodePage() == 0 && headerCodePage_ != 0)
        effective.setByCodePage(headerCodePage_);
    for (const auto& f : fields_) {
        if (!excludePrefix.empty() && sb::startsWithNoCase(f->name(), excludePrefix))
            continue;
        StringBuffer one;
        f->render(one, effective);
        if (unfold)
            one.replaceAllOccurances("\r\n\t", "");
        out.append(one);
        out.append("\r\n");
    }
    // The caller adds the blank line before a body.
    std::string& s = out.str();
    while (!s.empty() && s.back() == '\n')
        s.resize(s.size() >= 2 ? s.size() - 2 : 0);
}

void MimeHeader::render(StringBuffer& out, std::string_view excludePrefix,
                        const Charset& cs) const {
    renderFields(out, excludePrefix, cs, false);
}

void MimeHeader::renderUnfolded(StringBuffer& out, std::string_view excludePrefix,
                                const Charset& cs) const {
    renderFields(out, excludePrefix, cs, true);
}

int MimeHeader::sizeEstimate() const {
    size_t n = 0;
    for (const auto& f : fields_)
        n += f->name().size() + f->value().size() + 4;
    return static_cast<int>(n);
}

} // namespace norvane
