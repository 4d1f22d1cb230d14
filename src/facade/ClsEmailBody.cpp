// The e-mail object's plain-text and HTML bodies, alternative bodies, bodies in other
// charsets, text files and encoded words.

#include "facade/ClsEmail.h"

#include "charset/Charset.h"
#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "common/FileAccess.h"
#include "common/Platform.h"
#include "email/Email2.h"
#include "email/HtmlHelp.h"
#include "facade/FacadeText.h"

namespace norvane {

using facade_text::arg;
using facade_text::trimmed;

namespace {

constexpr int kUtf8 = 65001;

bool isTypeOrEmpty(const Email2& e, std::string_view type) {
    return e.contentType().empty() || sb::equalsNoCase(e.contentType(), type);
}

// A single-part e-mail, or a container without an alternative part.
bool notAlternative(const Email2& e) {
    return e.findAlternativeNode() == nullptr;
}

std::string crlfText(const DataBuffer& body) {
    return sb::toCRLF(body.view());
}

Charset charsetFor(int cp) {
    Charset cs;
    if (cp != 0)
        (void)cs.setByCodePage(cp);
    return cs;
}

// The bytes without a UTF-8 byte-order mark when the charset is UTF-8.
std::span<const uint8_t> withoutUtf8Bom(std::span<const uint8_t> bytes, std::string_view charset) {
    if (sb::equalsNoCase(charset, "utf-8") && bytes.size() >= 3 && bytes[0] == 0xEF &&
        bytes[1] == 0xBB && bytes[2] == 0xBF)
        return bytes.subspan(3);
    return bytes;
}

} // namespace

// ---- plain text and HTML ----

const Email2* ClsEmail::plainTextBodyNode() const {
    if (email_->isReport())
        return email_->partAt(0);
    return email_->plainTextNode();
}

std::string ClsEmail::GetPlainTextBody() {
    Frame frame(m_log, "GetPlainTextBodyUtf8");
    if (!email_->isReport() && notAlternative(*email_) && isTypeOrEmpty(*email_, "text/plain"))
        return crlfText(email_->getBody());
    const Email2* n = plainTextBodyNode();
    return n ? crlfText(n->body()) : std::string();
}

std::string ClsEmail::GetHtmlBody() {
    Frame frame(m_log, "GetHtmlBodyUtf8");
    if (notAlternative(*email_) && sb::equalsNoCase(email_->contentType(), "text/html"))
        return crlfText(email_->getBody());
    const Email2* n = email_->htmlNode();
    return n ? crlfText(n->body()) : std::string();
}

bool ClsEmail::HasPlainTextBody() const {
    return (notAlternative(*email_) && sb::equalsNoCase(email_->contentType(), "text/plain")) ||
           email_->plainTextNode() != nullptr;
}

bool ClsEmail::HasHtmlBody() const {
    return email_->htmlNode() != nullptr;
}

bool ClsEmail::IsMultipartReport() const {
    return email_->isReport();
}

// ---- alternatives ----

int ClsEmail::get_NumAlternatives() const {
    return email_->numAlternatives();
}

std::string ClsEmail::GetAlternativeContentType(int index) {
    Frame frame(m_log, "GetAlternativeContentType");
    std::string out;
    (void)email_->getAlternativeContentType(index, out, m_log);
    return out;
}

std::string ClsEmail::GetAlternativeBody(int index) {
    Frame frame(m_log, "GetAltBodyUtf8");
    DataBuffer body;
    if (!email_->getAlternativeBody(index, body, m_log))
        return {};
    return crlfText(body);
}

bool ClsEmail::AddPlainTextAlternativeBody(const char* body) {
    Frame frame(m_log, "AddPlainTextAltBodyUtf8");
    chooseCharsetFor(arg(body));
    email_->addAlternative(Email2::makePlainAlternativePart(arg(body)));
    return true;
}

void ClsEmail::addHtmlAlternative(std::string_view html) {
    if (Email2* h = email_->htmlNode()) {
        h->setHtmlBody(html);
    } else {
        // The e-mail's charset serves the HTML only when it holds every character; otherwise
        // the part chooses its own rather than lose text.
        const Charset& ours = email_->charset();
        EncodingConvert conv;
        std::string converted;
        const bool holds = ours.getCodePage() == 0 || ours.getCodePage() == kUtf8 ||
                           conv.convert(kUtf8, ours.getCodePage(), html, converted);
        email_->addAlternative(Email2::makeHtmlAlternativePart(html, holds ? ours : Charset()));
    }
    const Email2* h = email_->htmlNode();
    if (!h || h->charset().getCodePage() != 0)
        return;
    const Charset cs = charsetFor(facade_text::chooseCodePage(html));
    if (cs.getCodePage() != 0)
        // Through the e-mail, so that the META declaration and the encoding follow.
        email_->setHtmlCharset(cs.getName());
}

bool ClsEmail::AddHtmlAlternativeBody(const char* body) {
    Frame frame(m_log, "AddHtmlAltBodyUtf8");
    addHtmlAlternative(arg(body));
    return true;
}

bool ClsEmail::SetHtmlBody(const char* html) {
    Frame frame(m_log, "SetHtmlBodyFromUtf8");
    if (!html) {
        m_log.fail(ErrorCode::BadArgument, "HTML string is NULL");
        return false;
    }
    const std::string_view text(html);
    email_->setHtmlBody(text);
    Email2* h = email_->htmlNode();
    const Charset& current = h ? h->charset() : email_->charset();
    if (current.getCodePage() != 0 || text.empty() || !HtmlHelp::getMetaCharset(text).empty())
        return true;
    const Charset cs = charsetFor(facade_text::chooseCodePage(text));
    if (cs.getCodePage() == 0)
        return true;
    if (h)
        email_->setHtmlCharset(cs.getName());
    else
        email_->setCharset(cs);
    return true;
}

// ---- bodies in other charsets ----

DataBuffer ClsEmail::GetMbPlainTextBody(const char* convertToCharset) {
    Frame frame(m_log, "GetMbPlainTextBody");
    std::string text;
    if (!email_->isReport() && notAlternative(*email_) && isTypeOrEmpty(*email_, "text/plain")) {
        text = email_->getBody().toString();
    } else if (const Email2* n = plainTextBodyNode()) {
        text = n->body().toString();
    } else if (!notAlternative(*email_)) {
        m_log.logError("No plain-text body found. (2)");
        return {};
    }
    return facade_text::fromUtf8(text, arg(convertToCharset));
}

DataBuffer ClsEmail::GetMbHtmlBody(const char* convertToCharset) {
    Frame frame(m_log, "GetMbHtmlBody");
    const Email2* h = email_->htmlNode();
    if (!h) {
        m_log.logError(notAlternative(*email_) ? "No HTML body found (1)"
                                               : "No HTML body found (2)");
        return {};
    }
    return facade_text::fromUtf8(h->body().view(), arg(convertToCharset));
}

bool ClsEmail::SetMbPlainTextBody(const char* charset, std::span<const uint8_t> body) {
    Frame frame(m_log, "SetMbPlainTextBody");
    const std::string text = facade_text::toUtf8(body, arg(charset));
    if (email_->htmlNode()) {
        chooseCharsetFor(text);
        email_->addAlternative(Email2::makePlainAlternativePart(text));
    } else {
        email_->setBody(text, false);
    }
    return true;
}

bool ClsEmail::SetMbHtmlBody(const char* charset, std::span<const uint8_t> body) {
    Frame frame(m_log, "SetMbHtmlBody");
    addHtmlAlternative(facade_text::toUtf8(body, arg(charset)));
    return true;
}

std::string ClsEmail::LoadTextFileToUnicode(const char* fileName, const char* srcCharset) const {
    // A helper with its own log: the e-mail's log still describes the previous member.
    Logger helperLog;
    LogContext context(helperLog, "ReadTextFile");
    DataBuffer bytes;
    if (!file::readWholeFile(arg(fileName), bytes, &helperLog))
        return {};
    int cp = Charset::codePageForName(arg(srcCharset));
    if (cp == 0)
        cp = platform::ansiCodePage();
    if (cp == kUtf8)
        return bytes.toString();
    DataBuffer out;
    EncodingConvert conv;
    (void)conv.convert(cp, kUtf8, bytes.span(), out);
    return out.toString();
}

// ---- encoded words ----

std::string ClsEmail::QEncodeBytes(std::span<const uint8_t> mbBytes, const char* charset) {
    Frame frame(m_log, "QEncodeBytes");
    std::string out;
    ContentCoding::encodeWordQ(withoutUtf8Bom(mbBytes, arg(charset)), arg(charset), out);
    return out;
}

std::string ClsEmail::BEncodeBytes(std::span<const uint8_t> mbBytes, const char* charset) {
    Frame frame(m_log, "BEncodeBytes");
    std::string out;
    ContentCoding::encodeWordB(withoutUtf8Bom(mbBytes, arg(charset)), arg(charset), out);
    return out;
}

std::string ClsEmail::QEncodeString(const char* str, const char* charset) {
    if (!str)
        return {};
    Frame frame(m_log, "QEncodeString");
    // The bytes must be in the charset the word names, or a reader shows other characters.
    const DataBuffer bytes = facade_text::fromUtf8(str, arg(charset));
    std::string out;
    ContentCoding::encodeWordQ(withoutUtf8Bom(bytes.span(), arg(charset)), arg(charset), out);
    return out;
}

std::string ClsEmail::BEncodeString(const char* str, const char* charset) {
    Frame frame(m_log, "BEncodeString");
    const DataBuffer bytes = facade_text::fromUtf8(arg(str), arg(charset));
    std::string out;
    ContentCoding::encodeWordB(bytes.span(), arg(charset), out);
    return out;
}

DataBuffer ClsEmail::GetMbHeaderField(const char* fieldName, const char* charset) {
    Frame frame(m_log, "GetMbHeaderField2");
    const std::string name = trimmed(fieldName);
    if (name.empty())
        return {};
    StringBuffer value;
    (void)email_->getHeaderField(name, value);
    const std::string_view cs = arg(charset).empty() ? std::string_view("utf-8") : arg(charset);
    return facade_text::fromUtf8(value.view(), cs);
}

} // namespace norvane
