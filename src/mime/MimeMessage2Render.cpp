// Rendering of a MIME entity tree back to MIME text.

#include "mime/MimeMessage2.h"

#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"

namespace norvane {

namespace {

constexpr int kUtf8 = 65001;
constexpr int kUsAscii = 20127;

} // namespace

namespace {

// The line break that ends the last field, then the blank line; an empty header is the blank
// line alone.
void endHeader(StringBuffer& out, size_t sizeBefore) {
    out.append(out.getSize() > sizeBefore ? "\r\n\r\n" : "\r\n");
}

} // namespace

void MimeMessage2::render(StringBuffer& out) const {
    const size_t before = out.getSize();
    renderHeader(out);
    endHeader(out, before);
    if (!parts_.isEmpty() && emitPreamble_ && !parts_.elementAt(0)->unsplit_)
        out.append(kPreamble);
    renderBody(out);
}

void MimeMessage2::renderHeader(StringBuffer& out) const {
    header_.render(out, "", charset_);
}

void MimeMessage2::renderBody(StringBuffer& out) const {
    if (parts_.isEmpty())
        renderLeafBody(out);
    else
        renderChildren(out);
}

void MimeMessage2::renderLeafBody(StringBuffer& out) const {
    std::string_view data = body_.view();
    std::string converted;
    const int cp = charset_.getCodePage();
    if (cp != 0 && cp != kUtf8 && cp != kUsAscii && isTextType()) {
        EncodingConvert conv;
        // Characters the charset lacks cannot be sent in it; the rest of the text still is.
        (void)conv.convert(kUtf8, cp, data, converted);
        data = converted;
    }
    ContentCoding::encodeBody(transferEncoding_, data, out.str());
}

void MimeMessage2::renderChildren(StringBuffer& out) const {
    // The signed content of multipart/signed goes out byte for byte as it came in, or its
    // detached signature would no longer match.
    const bool keepSignedText = isMultipartSigned();
    if (parts_.getSize() == 1 && parts_.elementAt(0)->unsplit_) {
        parts_.elementAt(0)->renderLeafBody(out);
        return;
    }
    bool first = true;
    for (const auto& child : parts_) {
        out.append("--");
        out.append(boundary_);
        out.append("\r\n");
        if (keepSignedText && first && !child->rawText_.empty()) {
            out.append(child->rawText_);
        } else {
            const size_t before = out.getSize();
            child->renderHeader(out);
            endHeader(out, before);
            child->renderBody(out);
        }
        out.append("\r\n");
        first = false;
    }
    out.append("--");
    out.append(boundary_);
    out.append("--\r\n");
}

} // namespace norvane
