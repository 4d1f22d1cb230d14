#include "mime/FieldEncoder.h"

#include "charset/ContentCoding.h"
#include "common/StringBuffer.h"
#include "mime/MimeField.h"

namespace norvane {

namespace {

// Lines longer than this get their parameters moved to a continuation line.
constexpr size_t kParamLineLimit = 64;
// A pending line this long is written out before the parameters start.
constexpr size_t kTypeLineLimit = 35;
// 7-bit runs that would take the line past this are folded at their semicolons.
constexpr size_t kPlainRunLimit = 65;
// Unstructured text is folded before the first blank at or past this column.
constexpr size_t kFoldColumn = 76;
// An encoded display name longer than this gets its address on the next line.
constexpr size_t kNameBreak = 40;

// Bytes that may stand in a header as they are are 7-bit. ISO-2022 text is 7-bit too but
// switches character sets with ESC, which is not allowed in a header (RFC 5322 3.2.5): it is
// encoded, and so is text that a reader would take for an encoded word ("=?"), so that it reads
// back as written. Returns the position after the last byte that needs encoding (0 when none
// does).
size_t endOfEncodedText(std::string_view s) {
    for (size_t i = s.size(); i > 0; --i) {
        const auto c = static_cast<unsigned char>(s[i - 1]);
        if ((c & 0x80) || c == 0x1B || (c == '?' && i >= 2 && s[i - 2] == '='))
            return i;
    }
    return 0;
}

// Position of the first ';' that is not inside double quotes, or npos.
size_t findUnquotedSemicolon(std::string_view s) {
    bool inQuotes = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"')
            inQuotes = !inQuotes;
        else if (s[i] == ';' && !inQuotes)
            return i;
    }
    return std::string_view::npos;
}

} // namespace

FieldEncoder::FieldEncoder(std::string_view fieldName, WordForm form, std::string_view charsetName)
    : raw_(sb::equalsNoCase(fieldName, "received") ||
           sb::equalsNoCase(fieldName, "content-location") ||
           sb::equalsNoCase(fieldName, "content-transfer-encoding")),
      structured_(MimeField::isStructured(fieldName)), form_(form), charset_(charsetName) {}

void FieldEncoder::plainFold(std::string_view value, std::string& buf, bool structured) {
    buf.reserve(buf.size() + value.size() + value.size() / 16);
    if (!structured) {
        foldBeforeBlanks(value, buf);
        return;
    }
    const bool addressMode = value.size() > 60 && value.find('@') != std::string_view::npos &&
                             value.find(',') != std::string_view::npos;
    size_t column = buf.size();
    bool inQuotes = false;
    for (char c : value) {
        buf.push_back(c);
        ++column;
        if (c == '"')
            inQuotes = !inQuotes;
        const bool breakable = c == ';' || (addressMode && c == ',');
        if (breakable && !inQuotes && column > 20) {
            buf.append("\r\n\t");
            column = 0;
        }
    }
}

void FieldEncoder::foldBeforeBlanks(std::string_view value, std::string& buf) {
    const size_t lastBreak = buf.rfind('\n');
    size_t column = lastBreak == std::string::npos ? buf.size() : buf.size() - lastBreak - 1;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool blank = c == ' ' || c == '\t';
        // A fold line must hold more than blanks (RFC 5322 3.2.2), so a fold goes only before a
        // blank that has text after it.
        if (blank && column >= kFoldColumn && i + 1 < value.size() && value[i + 1] != ' ' &&
            value[i + 1] != '\t') {
            buf.append("\r\n");
            column = 0;
        }
        buf.push_back(c);
        ++column;
    }
}

void FieldEncoder::Lines::flush() {
    if (!out.empty())
        out.append("\r\n\t");
    out.append(line);
}

void FieldEncoder::Lines::complete(std::string& param) {
    if (line.size() + param.size() > kParamLineLimit) {
        flush();
        line = std::move(param);
    } else {
        line.append(param);
    }
    param.clear();
}

void FieldEncoder::encodeStructured(std::string_view value, std::string& out) const {
    if (!structured_) {
        encodeWords(value, out);
        return;
    }
    Lines lines;
    lines.line = std::move(out);
    out.clear();
    const size_t semi = value.find(';');
    if (semi == std::string_view::npos) {
        encodeWords(value, lines.line);
        out = std::move(lines.line);
        return;
    }
    if (semi > 0)
        encodeWords(value.substr(0, semi), lines.line);
    lines.line.push_back(';');
    if (semi + 1 == value.size()) {
        out = std::move(lines.line);
        return;
    }
    if (lines.line.size() >= kTypeLineLimit) {
        lines.flush();
        lines.line.clear();
    }
    std::string param;
    encodeParams(value.substr(semi + 1), lines, param);
    lines.complete(param);
    if (!lines.line.empty())
        lines.flush();
    out = std::move(lines.out);
}

void FieldEncoder::encodeParams(std::string_view rest, Lines& lines, std::string& param) const {
    while (!rest.empty()) {
        const size_t stop = rest.find_first_of("=;");
        if (stop == std::string_view::npos) {
            param.append(rest);
            return;
        }
        param.append(rest.substr(0, stop));
        const char sep = rest[stop];
        rest.remove_prefix(stop + 1);
        if (sep == '=') {
            param.append("=\"");
            rest = encodeParamValue(rest, param);
            param.push_back('"');
            if (rest.empty())
                return;
            rest.remove_prefix(1); // the ';' that ended the value
        }
        param.push_back(';');
        if (rest.empty())
            return;
        lines.complete(param);
    }
}

std::string_view FieldEncoder::encodeParamValue(std::string_view rest, std::string& param) const {
    const size_t end = findUnquotedSemicolon(rest);
    std::string_view v = sb::trimView(rest.substr(0, end));
    if (!v.empty() && v.front() == '"')
        v.remove_prefix(1);
    if (!v.empty() && v.back() == '"')
        v.remove_suffix(1);
    if (!v.empty())
        encodeWords(v, param);
    return end == std::string_view::npos ? std::string_view() : rest.substr(end);
}

void FieldEncoder::encodeRun(std::string_view bytes, std::string& buf) const {
    if (form_ == WordForm::B)
        ContentCoding::encodeWordsB(bytes, charset_, buf);
    else
        ContentCoding::encodeWordsQ(bytes, charset_, buf);
}

void FieldEncoder::encodeWords(std::string_view bytes, std::string& buf) const {
    if (raw_) {
        buf.append(bytes);
        return;
    }
    // Bytes from here on are plain; found once, so long address lists stay linear.
    size_t plainFrom = endOfEncodedText(bytes);
    while (!bytes.empty()) {
        if (plainFrom == 0) {
            if (buf.size() + bytes.size() > kPlainRunLimit)
                plainFold(bytes, buf, structured_);
            else
                buf.append(bytes);
            return;
        }
        const size_t lt = bytes.find('<');
        const size_t gt = lt == std::string_view::npos || lt + 1 >= bytes.size()
                              ? std::string_view::npos
                              : bytes.find('>', lt + 1);
        if (gt == std::string_view::npos ||
            bytes.substr(lt + 1, gt - lt - 1).find('@') == std::string_view::npos) {
            encodeRun(bytes, buf);
            return;
        }
        // Display name before the address: one space before '<' stays with the address.
        size_t keepFrom = lt;
        if (keepFrom > 0 && bytes[keepFrom - 1] == ' ')
            --keepFrom;
        std::string_view name = bytes.substr(0, keepFrom);
        if (name.size() >= 3 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        const size_t startLen = buf.size();
        if (!name.empty())
            encodeRun(name, buf);
        // The fold goes before the blank in front of '<', or adds one there, where a blank is
        // insignificant.
        if (buf.size() - startLen > kNameBreak)
            buf.append(bytes[keepFrom] == ' ' ? "\r\n" : "\r\n ");
        size_t after = gt + 1;
        while (after < bytes.size() && (bytes[after] == ' ' || bytes[after] == ','))
            ++after;
        buf.append(bytes.substr(keepFrom, after - keepFrom));
        bytes.remove_prefix(after);
        plainFrom = plainFrom > after ? plainFrom - after : 0;
    }
}

} // namespace norvane
