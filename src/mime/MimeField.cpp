#include "mime/MimeField.h"

#include "charset/Charset.h"
#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "mime/FieldEncoder.h"
#include "mime/TextScan.h"

namespace norvane {

namespace {

constexpr int kUtf8 = 65001;
constexpr int kUsAscii = 20127;

// Charsets whose header text is written as B words even when it is 7-bit: multi-byte and
// right-to-left code pages, where Q words would escape nearly every byte.
bool wantsBWords(int cp) {
    switch (cp) {
    case 932:
    case 936:
    case 949:
    case 950:
    case 874:
    case 1361:
    case 1200:
    case 1201:
    case 28596:
    case 1256:
        return true;
    default:
        return cp > 50000;
    }
}

} // namespace

bool MimeField::parseLine(std::string_view line) {
    name_.clear();
    value_.clear();
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    name_ = sb::trimView(line.substr(0, colon));
    for (char& c : name_)
        if (c == ' ' || c == '<' || c == '>' || c == '"' || c == '\'')
            c = '-';
    std::string_view v = line.substr(colon + 1);
    if (!v.empty() && (v.front() == ' ' || v.front() == '\t'))
        v.remove_prefix(1);
    value_ = sb::trimView(v);
    normaliseValue();
    return true;
}

void MimeField::set(std::string_view name, std::string_view value) {
    name_ = name;
    value_ = value;
    normaliseValue();
}

std::unique_ptr<MimeField> MimeField::clone() const {
    auto f = std::make_unique<MimeField>();
    f->name_ = name_;
    f->value_ = value_;
    return f;
}

bool MimeField::nameIs(std::string_view name) const {
    return sb::equalsNoCase(name_, name);
}

void MimeField::normaliseValue() {
    if (value_.find("?Q?") != std::string::npos || value_.find("?B?") != std::string::npos)
        ContentCoding::decodeWordsToUtf8(value_);
    if (value_.find('\n') != std::string::npos) {
        sb::replaceAll(value_, "\r\n\t", "");
        sb::replaceAll(value_, "\r\n ", "");
    }
    // Any other line break would start a new header line on the wire (header injection), so
    // what is left of them becomes a space.
    if (value_.find_first_of("\r\n") != std::string::npos) {
        sb::replaceAll(value_, "\r\n", " ");
        for (char& c : value_)
            if (c == '\r' || c == '\n')
                c = ' ';
    }
}

void MimeField::render(StringBuffer& out, const Charset& cs) const {
    std::string& buf = out.str();
    buf.append(name_);
    buf.append(": ");
    const int cp = cs.getCodePage();
    const bool bWords = wantsBWords(cp);
    if (!bWords && (cp == kUsAscii || text_scan::is7bit(value_))) {
        FieldEncoder::plainFold(value_, buf);
        return;
    }
    const auto form = bWords ? FieldEncoder::WordForm::B : FieldEncoder::WordForm::Q;
    std::string converted;
    EncodingConvert conv;
    if (!cs.getName().empty() && conv.convert(kUtf8, cp, value_, converted)) {
        FieldEncoder(name_, form, cs.getName()).encodeStructured(converted, buf);
        return;
    }
    // The value does not fit the charset: send it as UTF-8 rather than lose characters.
    FieldEncoder(name_, form, "utf-8").encodeStructured(value_, buf);
}

} // namespace norvane
