#include "mime/MimeMessage2.h"

#include "charset/ContentCoding.h"
#include "charset/EncodingConvert.h"
#include "charset/Uu.h"
#include "common/Platform.h"
#include "mime/ContentParams.h"
#include "mime/ContentTypeValue.h"
#include "mime/TextScan.h"

namespace norvane {

namespace {

constexpr int kUtf8 = 65001;
constexpr int kUsAscii = 20127;
constexpr int kWindows1252 = 1252;

std::string lowerNoBlanks(std::string_view s) {
    std::string out = content_params::withoutBlanks(s);
    sb::toLowerAscii(out);
    return out;
}

// CR, LF and tab become spaces and runs of spaces one space: a folded filename reads as one.
std::string normaliseFilename(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
        if (c == ' ' && !out.empty() && out.back() == ' ')
            continue;
        out.push_back(c);
    }
    return out;
}

// Value up to the first ';', trimmed.
std::string leadingToken(std::string_view v) {
    return std::string(sb::trimView(v.substr(0, v.find(';'))));
}

// The last component of a Windows or Unix path.
std::string lastPathComponent(std::string_view path) {
    std::string p(path);
    for (char& c : p)
        if (c == '/')
            c = '\\';
    const size_t slash = p.rfind('\\');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Converts a decoded text body to UTF-8. When it does not convert cleanly, text that is
// already valid UTF-8 is kept as it is (the label was wrong; converting would drop every
// 8-bit byte), and "us-ascii" text with 8-bit bytes is read as windows-1252, as browsers do.
// False when body should be kept unconverted.
bool textToUtf8(int cp, const DataBuffer& body, DataBuffer& out, LogBase& log) {
    out.reserve(body.getSize() + body.getSize() / 4);
    EncodingConvert conv;
    if (conv.convert(cp, kUtf8, body.span(), out))
        return true;
    log.logInfo("Some characters of the body do not exist in its charset.");
    log.logDataLong("code_page", cp);
    if (text_scan::isValidUtf8(body.view()))
        return false;
    if (cp == kUsAscii) {
        out.clear();
        (void)conv.convert(kWindows1252, kUtf8, body.span(), out);
    }
    return true;
}

bool isPkcs7Mime(std::string_view type) {
    return type == "application/pkcs7-mime" || type == "application/x-pkcs7-mime";
}

} // namespace

void MimeMessage2::clear() {
    rawText_.clear();
    unsplit_ = false;
    body_.clear();
    header_.clear();
    parts_.removeAllObjects();
    contentType_.clear();
    disposition_.clear();
    transferEncoding_.clear();
    name_.clear();
    filename_.clear();
    protocol_.clear();
    micalg_.clear();
    smimeType_.clear();
    typeParam_.clear();
    charset_.clear();
    boundary_.clear();
    contentId_.clear();
    formatFlowed_ = false;
}

void MimeMessage2::loadFromParts(std::string_view headerText, std::string_view encodedBody,
                                 ExtPtrArray<MimeMessage2>& children, LogBase& log) {
    clear();
    header_.loadFromText(headerText);
    deriveAll();
    const Charset cs = charset_;
    setBodyEncoded(transferEncoding_, encodedBody, cs, log);
    for (auto& c : children.items())
        if (c)
            parts_.appendObject(std::move(c));
    children.removeAllObjects();
}

// ---- header fields and derived members ----

bool MimeMessage2::getHeaderField(std::string_view name, StringBuffer& out) const {
    // Values are stored decoded; decoding again would turn text that merely looks like an
    // encoded word into something else.
    return header_.getField(name, out);
}

void MimeMessage2::setHeaderField(std::string_view name, std::string_view value) {
    const std::string n(sb::trimView(name));
    const std::string_view v = sb::trimView(value);
    if (v.empty())
        header_.removeField(n);
    else
        header_.setField(n, v);
    if (sb::equalsNoCase(n, "content-type"))
        deriveContentType();
    else if (sb::equalsNoCase(n, "content-disposition"))
        deriveDisposition();
    else if (sb::equalsNoCase(n, "content-id"))
        deriveContentId();
    else if (sb::equalsNoCase(n, "content-transfer-encoding"))
        deriveTransferEncoding();
}

void MimeMessage2::deriveAll() {
    deriveContentType();
    deriveContentId();
    deriveDisposition();
    deriveTransferEncoding();
}

void MimeMessage2::deriveContentType() {
    contentType_.clear();
    protocol_.clear();
    micalg_.clear();
    typeParam_.clear();
    boundary_.clear();
    smimeType_.clear();
    name_.clear();
    charset_.clear();
    StringBuffer value;
    if (!getHeaderField("content-type", value))
        return;
    const auto q = content_params::replaceQuotedStrings(value.view());
    const std::string_view text = q.text;
    const size_t typeEnd = text.find_first_of("; \t\r");
    contentType_ = lowerNoBlanks(content_params::resolvePlaceholders(text.substr(0, typeEnd), q));
    if (typeEnd == std::string_view::npos)
        return;
    const size_t paramsAt = text.find_first_not_of("; \t\r\n", typeEnd);
    if (paramsAt == std::string_view::npos)
        return;
    const std::string params = content_params::withoutBlanks(text.substr(paramsAt));
    content_params::forEachParam(params, q.strings, [&](std::string_view n, std::string_view v) {
        if (sb::equalsNoCase(n, "boundary"))
            boundary_ = v;
        else if (sb::equalsNoCase(n, "charset"))
            charset_.setByName(v);
        else if (sb::equalsNoCase(n, "protocol"))
            protocol_ = sb::lowerAscii(v);
        else if (sb::equalsNoCase(n, "micalg"))
            micalg_ = sb::lowerAscii(v);
        else if (sb::equalsNoCase(n, "smime-type"))
            smimeType_ = sb::lowerAscii(v);
        else if (sb::equalsNoCase(n, "name"))
            name_ = v; // a file name keeps its case
        else if (sb::equalsNoCase(n, "type"))
            typeParam_ = sb::lowerAscii(v);
    });
}

void MimeMessage2::deriveDisposition() {
    disposition_.clear();
    filename_.clear();
    StringBuffer value;
    if (!getHeaderField("content-disposition", value))
        return;
    const auto q = content_params::replaceQuotedStrings(value.view());
    const std::string text = content_params::withoutBlanks(q.text);
    const size_t semi = text.find(';');
    disposition_ = sb::lowerAscii(
        content_params::resolvePlaceholders(std::string_view(text).substr(0, semi), q));
    if (semi == std::string::npos)
        return;
    content_params::forEachParam(std::string_view(text).substr(semi + 1), q.strings,
                                 [&](std::string_view n, std::string_view v) {
                                     if (sb::equalsNoCase(n, "filename"))
                                         filename_ = normaliseFilename(v);
                                 });
}

void MimeMessage2::deriveContentId() {
    StringBuffer value;
    contentId_.clear();
    if (header_.getField("content-id", value))
        contentId_ = leadingToken(value.view());
}

void MimeMessage2::deriveTransferEncoding() {
    StringBuffer value;
    transferEncoding_.clear();
    if (header_.getField("content-transfer-encoding", value))
        transferEncoding_ = leadingToken(value.view());
}

// ---- composition ----

void MimeMessage2::setContentType(std::string_view type, std::string_view name,
                                  std::string_view protocol, std::string_view micalg,
                                  const Charset& charset, std::string_view boundary,
                                  std::string_view smimeType, std::string_view typeParam) {
    // Copies first: the arguments may be views of the members being replaced.
    std::string t(type), n(name), p(protocol), m(micalg), b(boundary), s(smimeType), tp(typeParam);
    const Charset cs = charset;
    contentType_ = std::move(t);
    name_ = std::move(n);
    protocol_ = std::move(p);
    micalg_ = std::move(m);
    charset_ = cs;
    boundary_ = std::move(b);
    smimeType_ = std::move(s);
    typeParam_ = std::move(tp);
    composeContentType();
}

void MimeMessage2::composeContentType() {
    if (sb::startsWithNoCase(contentType_, "text") && charset_.getCodePage() == 0)
        charset_.setByCodePage(kUsAscii);
    // Qualified: the member of the same name is the one that stores the field.
    const std::string v = norvane::composeContentType(
        {.type = contentType_,
         .charset = charset_.getCodePage() != 0 ? std::string_view(charset_.getName()) : "",
         .typeParam = typeParam_,
         .boundary = boundary_,
         .name = name_,
         .protocol = protocol_,
         .micalg = micalg_,
         .smimeType = smimeType_,
         .formatFlowed = formatFlowed_});
    header_.setField("content-type", v);
    deriveContentType();
}

void MimeMessage2::setContentTypeOnly(std::string_view type) {
    contentType_ = type;
    composeContentType();
}

void MimeMessage2::setNameParam(std::string_view name) {
    name_ = name;
    composeContentType();
}

void MimeMessage2::setFormatFlowed(bool on) {
    formatFlowed_ = on;
    if (!contentType_.empty())
        composeContentType();
}

void MimeMessage2::setDisposition(std::string_view type, std::string_view filename) {
    if (type.empty() && filename.empty()) {
        header_.removeField("content-disposition");
        deriveDisposition();
        return;
    }
    const std::string fn = normaliseFilename(filename);
    std::string v(type);
    if (!fn.empty())
        v += "; filename=\"" + fn + "\"";
    header_.setField("content-disposition", v);
    deriveDisposition();
}

void MimeMessage2::setFilename(std::string_view filename) {
    std::string disp(sb::trimView(disposition_));
    if (!filename.empty() && disp.empty())
        disp = "attachment";
    setDisposition(disp, std::string(filename));
}

void MimeMessage2::setTransferEncoding(std::string_view token) {
    const std::string t(token);
    transferEncoding_ = t;
    header_.setField("content-transfer-encoding", t);
    deriveTransferEncoding();
}

// ---- body ----

bool MimeMessage2::isTextType() const {
    return sb::startsWithNoCase(contentType_, "text/");
}

void MimeMessage2::setBodyEncoded(std::string_view encoding, std::string_view bytes,
                                  const Charset& charset, LogBase& log) {
    decodeBody(encoding, bytes, false, charset, log);
}

void MimeMessage2::decodeBody(std::string_view encoding, std::string_view bytes, bool lfOnly,
                              const Charset& charset, LogBase& log) {
    DataBuffer decoded;
    if (sb::equalsNoCase(encoding, "base64")) {
        if (!ContentCoding::base64DecodeStrict(bytes, decoded)) {
            // RFC 2045 6.8: bytes outside the alphabet are skipped; the data around them is
            // the body.
            log.logInfo("Body holds bytes that are not base64; they are skipped.");
            log.logDataLong("encoded_size", static_cast<long>(bytes.size()));
            decoded.clear();
            ContentCoding::base64Decode(bytes, decoded);
        }
    } else if (sb::equalsNoCase(encoding, "quoted-printable")) {
        ContentCoding::qpDecode(bytes, decoded); // writes every line break as CR LF
    } else if (lfOnly) {
        text_scan::appendWithCrlf(bytes, decoded.vec());
    } else {
        decoded.assign(bytes);
    }
    const int cp = charset.getCodePage();
    // Only text is held as UTF-8: rendering converts back text types only, and converting the
    // bytes of an image that happens to carry a charset parameter would corrupt them.
    if (cp != 0 && cp != kUtf8 && isTextType() && !decoded.isEmpty()) {
        DataBuffer utf8;
        if (textToUtf8(cp, decoded, utf8, log))
            decoded = std::move(utf8);
    }
    body_ = std::move(decoded);
}

// ---- predicates and lists ----

bool MimeMessage2::isMultipart() const {
    return sb::startsWithNoCase(contentType_, "multipart");
}

bool MimeMessage2::isAttachment() const {
    return sb::equalsNoCase(disposition_, "attachment");
}

bool MimeMessage2::isEncrypted() const {
    return isPkcs7Mime(contentType_) && smimeType_ != "signed-data";
}

bool MimeMessage2::isOpaqueSigned() const {
    return isPkcs7Mime(contentType_) && smimeType_ == "signed-data";
}

MimeMessage2* MimeMessage2::partAt(int index) const {
    return index < 0 ? nullptr : parts_.elementAt(static_cast<size_t>(index));
}

void MimeMessage2::addPart(std::unique_ptr<MimeMessage2> part) {
    if (!part)
        return;
    parts_.appendObject(std::move(part));
}

void MimeMessage2::insertPartFirst(std::unique_ptr<MimeMessage2> part) {
    if (!part)
        return;
    parts_.insertAt(0, std::move(part));
}

std::unique_ptr<MimeMessage2> MimeMessage2::removePartAt(int index) {
    if (index < 0 || static_cast<size_t>(index) >= parts_.getSize())
        return nullptr;
    return parts_.removeAt(static_cast<size_t>(index));
}

// ---- whole-tree helpers ----

void MimeMessage2::normalizeFileNames() {
    if (!filename_.empty())
        setFilename(lastPathComponent(filename_));
    if (!name_.empty())
        setNameParam(lastPathComponent(name_));
    for (auto& p : parts_)
        p->normalizeFileNames();
}

void MimeMessage2::decodeUuencodedBody(LogBase& log) {
    if (!sb::equalsNoCase(transferEncoding_, "X-UUencode"))
        return;
    DataBuffer decoded;
    Uu uu;
    if (!uu.uuDecode(body_.view(), decoded))
        log.logInfo("No uuencoded data found in the body.");
    body_ = std::move(decoded);
    setTransferEncoding("base64");
}

std::unique_ptr<MimeMessage2> MimeMessage2::detachAppleDoubleData() {
    if (contentType_ != "multipart/appledouble")
        return nullptr;
    return removePartAt(1);
}

void MimeMessage2::adoptContent(std::unique_ptr<MimeMessage2> content) {
    if (!content || content.get() == this)
        return;
    parts_ = std::move(content->parts_);
    body_ = std::move(content->body_);
    header_.removeField("content-disposition");
    header_.removeField("content-type");
    header_.removeField("content-transfer-encoding");
    header_.mergeFrom(content->header_);
    deriveAll();
}

void MimeMessage2::makeBoundary(StringBuffer& out) {
    const std::string u = platform::newUuidString(); // 8-4-4-4-12 lower-case hex
    out.append("----=_NextPart_");
    out.append(std::string_view(u).substr(0, 3));
    out.appendChar('_');
    out.append(std::string_view(u).substr(3, 4));
    out.appendChar('_');
    out.append(std::string_view(u).substr(9, 4));
    out.append(std::string_view(u).substr(14, 4));
    out.appendChar('.');
    out.append(std::string_view(u).substr(24, 8));
}

} // namespace norvane
