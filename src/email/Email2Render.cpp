// Rendering an e-mail tree to MIME text.
//
// Header fields are encoded for one charset: the top node's, or, when it has none, that of its
// HTML part or else of its plain-text alternative, so that a message whose text lives in a
// sub-part still gets its subject and names in the same charset. Attachments with a charset of
// their own use it. Each body is converted and encoded exactly once, straight into the output,
// so rendering is linear in the size of the message whatever its nesting.

#include "email/Email2.h"

#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "email/HtmlHelp.h"
#include "mime/MimeMessage2.h"

namespace norvane {

namespace {

constexpr int kUtf8 = 65001;
constexpr int kUsAscii = 20127;

} // namespace

Charset Email2::renderCharset(int depth) const {
    Charset c = charset_;
    if (depth != 0 || c.getCodePage() != 0)
        return c;
    if (const Email2* h = htmlNode(); h && h->charset_.getCodePage() != 0)
        return h->charset_;
    if (const Email2* alt = findAlternativeNode()) {
        for (const auto& p : alt->parts_) {
            if (sb::equalsNoCase(p->contentType_, "text/plain")) {
                if (p->charset_.getCodePage() != 0)
                    c = p->charset_;
                break;
            }
        }
    }
    return c;
}

void Email2::renderMime(StringBuffer& out, std::string_view skipPrefix, LogBase& log) const {
    (void)log; // rendering cannot fail: characters a charset lacks are dropped by the converter
    // Base64 grows data by 4/3 plus line ends; reserving once keeps large attachments from
    // being copied again and again as the output grows.
    const int64_t hint = sendSizeEstimate();
    out.str().reserve(out.getSize() + static_cast<size_t>(hint + hint / 2 + 1024));
    renderNode(*this, out, skipPrefix, 0);
}

void Email2::renderNode(const Email2& root, StringBuffer& out, std::string_view skipPrefix,
                        int depth) const {
    if (!rawText_.empty()) {
        out.append(rawText_);
        return;
    }
    Charset c = root.renderCharset(depth);
    if (isAttachmentNode() && charset_.getCodePage() != 0)
        c = charset_;
    if (c.getCodePage() == 0 && headerCodePage_ != 0)
        c.setByCodePage(headerCodePage_);

    // The header renderer trims line ends from the end of the buffer it is given, so it
    // writes into a buffer of its own.
    StringBuffer header;
    header_.render(header, skipPrefix, c);
    out.append(header);
    // The line end of the last field, then the blank line; an empty header is the blank line.
    out.append(header.getSize() > 0 ? "\r\n\r\n" : "\r\n");

    if (parts_.isEmpty()) {
        renderLeafBody(out);
        return;
    }
    out.append(MimeMessage2::kPreamble);
    for (const auto& p : parts_) {
        out.append("--");
        out.append(boundary_);
        out.append("\r\n");
        p->renderNode(root, out, skipPrefix, depth + 1);
        out.append("\r\n");
    }
    out.append("--");
    out.append(boundary_);
    out.append("--\r\n");
}

void Email2::renderLeafBody(StringBuffer& out) const {
    std::string_view data = body_.view();
    std::string html;
    std::string converted;
    const int cp = charset_.getCodePage();
    if (sb::startsWithNoCase(contentType_, "text/") && cp != 0 && cp != kUtf8 && cp != kUsAscii) {
        if (sb::equalsNoCase(contentType_, "text/html") &&
            !sb::equalsNoCase(HtmlHelp::getMetaCharset(data), charset_.getName())) {
            // Fixed on the UTF-8 text, before conversion, so that charsets whose bytes are not
            // ASCII-compatible (UTF-16) get a correct declaration too.
            html.assign(data);
            HtmlHelp::removeMetaCharset(html);
            HtmlHelp::insertMetaCharset(html, charset_.getName());
            data = html;
        }
        EncodingConvert conv;
        converted.reserve(data.size());
        (void)conv.convert(kUtf8, cp, data, converted);
        data = converted;
    }
    ContentCoding::encodeBody(transferEncoding_, data, out.str());
}

} // namespace norvane
