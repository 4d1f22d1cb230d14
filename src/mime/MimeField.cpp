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

// UTF-16, UTF-32 and UTF-7 text is not ASCII where it is ASCII, so a header cannot carry it.
bool isAsciiCompatible(int cp) {
    return cp != 1200 && cp != 1201 && cp != 12000 && cp != 12001 && cp != 65000;
}

} // namespace

bool MimeField::isStructured(std::string_view name) {
    static constexpr std::string_view kNames[] = {"content-type",
                                                  "content-disposition",
                                                  "from",
                                                  "to",
                                                  "cc",
                                                  "bcc",
                                                  "reply-to",
                                                  "sender",
                                                  "resent-from",
                                                  "resent-to",
                                                  "resent-cc",
                                                  "resent-bcc",
                                                  "resent-sender",
                                                  "disposition-notification-to"};
    for (std::string_view k : kNames)
        if (sb::equalsNoCase(name, k))
            return true;
    return false;
}

bool MimeField::isValidName(std::string_view name) {
    if (name.empty())
        return false;
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || c == ':')
            return false;
    }
    return true;
}

bool MimeField::parseLine(std::string_view line) {
    name_.clear();
    value_.clear();
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    name_ = sb::trimView(line.substr(0, colon));
    value_ = sb::trimView(line.substr(colon + 1));
    normaliseValue();
    decodeWords();
    return true;
}

void MimeField::decodeWords() {
    if (sb::findNoCase(value_, "?q?") != std::string::npos ||
        sb::findNoCase(value_, "?b?") != std::string::npos)
        ContentCoding::decodeWordsToUtf8(value_);
}

void MimeField::set(std::string_view name, std::string_view value, bool decode) {
    name_ = name;
    value_ = value;
    normaliseValue();
    if (decode)
        decodeWords();
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
    if (value_.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos)
        return;
    // RFC 5322 2.2.3: a line break before white space is a fold, and unfolding removes only the
    // break. Any other line break would start a new header line on the wire (header injection),
    // and a NUL is not allowed in a header at all: those become spaces.
    // In a structured field a fold after ';' or ',' is where the writer broke the list, and the
    // one blank it added there is not part of the value.
    const bool structured = isStructured(name_);
    std::string out;
    out.reserve(value_.size());
    const size_t n = value_.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = value_[i];
        const size_t lf = c == '\r' && i + 1 < n && value_[i + 1] == '\n' ? i + 1 : i;
        if (value_[lf] == '\n' && lf + 1 < n && (value_[lf + 1] == ' ' || value_[lf + 1] == '\t')) {
            const bool afterSeparator = !out.empty() && (out.back() == ';' || out.back() == ',');
            i = structured && afterSeparator ? lf + 1 : lf;
            continue;
        }
        if (lf != i)
            i = lf; // a CR LF that is no fold becomes one space
        out.push_back(c == '\r' || c == '\n' || c == '\0' ? ' ' : c);
    }
    value_ = std::move(out);
}

void MimeField::render(StringBuffer& out, const Charset& cs) const {
    std::string& buf = out.str();
    buf.append(name_);
    buf.append(": ");
    int cp = cs.getCodePage();
    std::string_view csName = cs.getName();
    if (!isAsciiCompatible(cp)) {
        // Header text must stay readable as ASCII: such charsets are written as UTF-8 words.
        cp = kUtf8;
        csName = "utf-8";
    }
    const bool bWords = wantsBWords(cp);
    const bool plain = cp == kUsAscii || text_scan::is7bit(value_);
    if (!bWords && plain && value_.find("=?") == std::string::npos) {
        FieldEncoder::plainFold(value_, buf, isStructured(name_));
        return;
    }
    const auto form = bWords ? FieldEncoder::WordForm::B : FieldEncoder::WordForm::Q;
    std::string converted;
    EncodingConvert conv;
    if (!csName.empty() && conv.convert(kUtf8, cp, value_, converted)) {
        FieldEncoder(name_, form, csName).encodeStructured(converted, buf);
        return;
    }
    // The value does not fit the charset: send it as UTF-8 rather than lose characters.
    FieldEncoder(name_, form, "utf-8").encodeStructured(value_, buf);
}

} // namespace norvane
