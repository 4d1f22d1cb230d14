// The e-mail model: construction, header routing, the structured Content-* values and their
// composition, identifiers, sizes and node roles.

#include "email/Email2.h"

#include "common/Platform.h"
#include "mime/ContentTypeValue.h"
#include "mime/MimeMessage2.h"

#include <cstdlib>

namespace norvane {

namespace {

constexpr int kUsAscii = 20127;

SystemTime nowAsSystemTime() {
    SystemTime t;
    (void)DateParser::fromUnixTime(platform::nowUtc(), t);
    return t;
}

} // namespace

// ---- construction ----

Email2::Email2(Blank) : date_(nowAsSystemTime()) {}

Email2::Email2() : date_(nowAsSystemTime()) {
    // Each set appends at the end, so this order makes the header order of a new e-mail:
    // MIME-Version, Date, Message-ID, Content-Type, Content-Transfer-Encoding, X-Mailer,
    // X-Priority.
    header_.setField("MIME-Version", "1.0");
    std::string now;
    DateParser::formatNow(now);
    setDate(now);
    header_.setField("X-Mailer", defaultMailer());
    newMessageId();
    setContentType({.type = "text/plain"});
    setTransferEncoding("7bit");
    header_.setField("X-Mailer", defaultMailer());
    header_.setField("X-Priority", "3 (Normal)");
}

Email2::~Email2() = default;

std::unique_ptr<Email2> Email2::newPart() {
    // The default e-mail less Date, X-Mailer, X-Priority, MIME-Version and Message-ID, built
    // directly: a sub-part has no use for a Message-ID, so no UUID is spent on one.
    auto p = std::make_unique<Email2>(Blank{});
    p->setContentType({.type = "text/plain"});
    p->setTransferEncoding("7bit");
    return p;
}

std::string_view Email2::defaultMailer() {
    return "Norvane Mail 0.1 (Linux)";
}

void Email2::copyEnvelope(Email2& dst, const Email2& src) {
    dst.to_.removeAllObjects();
    dst.cc_.removeAllObjects();
    dst.bcc_.removeAllObjects();
    dst.from_.reset();
    dst.header_.copyFrom(src.header_);
    dst.headerCodePage_ = src.headerCodePage_;
    dst.copyStructuredValues(src);
    if (src.from_) {
        std::string text;
        src.from_->renderRaw(text);
        dst.from_ = Rfc822Address::parseAddress(text);
    }
    for (RecipientKind k : {RecipientKind::To, RecipientKind::Cc, RecipientKind::Bcc}) {
        for (const auto& a : src.list(k)) {
            std::string text;
            a->renderRaw(text);
            (void)Rfc822Address::parseAddressList(text, dst.list(k));
        }
    }
    dst.date_ = src.date_;
    dst.popNumber_ = src.popNumber_;
}

void Email2::copyStructuredValues(const Email2& src) {
    contentType_ = src.contentType_;
    name_ = src.name_;
    protocol_ = src.protocol_;
    micalg_ = src.micalg_;
    charset_ = src.charset_;
    boundary_ = src.boundary_;
    smimeType_ = src.smimeType_;
    typeParam_ = src.typeParam_;
    disposition_ = src.disposition_;
    filename_ = src.filename_;
    transferEncoding_ = src.transferEncoding_;
    contentId_ = src.contentId_;
    formatFlowed_ = src.formatFlowed_;
    noteEdit();
}

// ---- header routing ----

bool Email2::setHeaderField(std::string_view fieldName, std::string_view value) {
    const std::string_view name = sb::trimView(fieldName);
    if (!MimeField::isValidName(name))
        return false;
    if (sb::equalsNoCase(name, "Content-Transfer-Encoding"))
        setTransferEncoding(value);
    else if (sb::equalsNoCase(name, "Content-ID"))
        setContentId(value);
    else if (sb::equalsNoCase(name, "Date"))
        setDate(value);
    else if (sb::equalsNoCase(name, "From"))
        (void)setFrom(value);
    else if (sb::equalsNoCase(name, "Reply-To"))
        (void)setReplyTo(value);
    else
        header_.setField(name, value);
    return true;
}

void Email2::removeHeaderField(std::string_view name) {
    const std::string n(name); // name may point into a field about to go
    header_.removeField(n);
    noteEdit();
    if (sb::equalsNoCase(n, "to")) {
        to_.removeAllObjects();
    } else if (sb::equalsNoCase(n, "cc")) {
        cc_.removeAllObjects();
    } else if (sb::equalsNoCase(n, "content-type")) {
        contentType_.clear();
        name_.clear();
        protocol_.clear();
        micalg_.clear();
        boundary_.clear();
        smimeType_.clear();
        typeParam_.clear();
        charset_.clear();
        formatFlowed_ = false;
    } else if (sb::equalsNoCase(n, "content-disposition")) {
        disposition_.clear();
        filename_.clear();
    } else if (sb::equalsNoCase(n, "content-transfer-encoding")) {
        transferEncoding_.clear();
    } else if (sb::equalsNoCase(n, "content-id")) {
        contentId_.clear();
    } else if (sb::equalsNoCase(n, "from")) {
        pendingFromName_.clear();
        from_.reset();
    }
}

bool Email2::getHeaderField(std::string_view name, StringBuffer& out) const {
    return header_.getField(name, out);
}

// ---- structured values ----

void Email2::setContentType(const ContentTypeParams& p) {
    std::string type =
        p.type.empty() ? (contentType_.empty() ? "text/plain" : contentType_) : p.type;
    // Only text (and a container of text) and message types carry the charset parameter.
    const bool hasCharsetParam = sb::startsWithNoCase(type, "text") ||
                                 sb::startsWithNoCase(p.typeParam, "text") ||
                                 sb::startsWithNoCase(type, "message");
    std::string charsetName;
    if (hasCharsetParam) {
        if (p.charset.getCodePage() != 0)
            charsetName = p.charset.getName();
        charset_ = p.charset;
    }
    typeParam_ = p.typeParam;
    boundary_ = p.boundary;
    name_ = p.name;
    protocol_ = p.protocol;
    micalg_ = p.micalg;
    smimeType_ = p.smimeType;
    const std::string v = composeContentType({.type = type,
                                              .charset = charsetName,
                                              .typeParam = typeParam_,
                                              .boundary = boundary_,
                                              .name = name_,
                                              .protocol = protocol_,
                                              .micalg = micalg_,
                                              .smimeType = smimeType_,
                                              .formatFlowed = formatFlowed_});
    contentType_ = std::move(type);
    header_.setField("Content-Type", v);
    noteEdit();
}

ContentTypeParams Email2::contentTypeParams() const {
    return {contentType_, name_, protocol_, micalg_, charset_, boundary_, smimeType_, typeParam_};
}

void Email2::setDisposition(std::string_view disposition, std::string_view filename) {
    disposition_ = disposition;
    filename_ = filename;
    std::string v = disposition_;
    if (!filename_.empty())
        v += "; filename=\"" + filename_ + "\"";
    header_.setField("Content-Disposition", v);
    noteEdit();
}

void Email2::setTransferEncoding(std::string_view encoding) {
    transferEncoding_ = sb::trimView(encoding);
    header_.setField("Content-Transfer-Encoding", transferEncoding_);
    noteEdit();
}

bool Email2::isMultiByteCodePage(int cp) {
    if (cp >= 50000 || (cp >= 901 && cp <= 999) || (cp >= 20833 && cp <= 21999))
        return true;
    switch (cp) {
    case 874:
    case 1200:
    case 1201:
    case 1361:
    case 10001:
    case 10002:
    case 10003:
    case 10021:
        return true;
    default:
        return false;
    }
}

void Email2::setEncodingForCodePage(int cp) {
    if (cp == kUsAscii)
        setTransferEncoding("7bit");
    else if (isMultiByteCodePage(cp))
        setTransferEncoding("base64");
    else
        setTransferEncoding("quoted-printable");
}

void Email2::setContentId(std::string_view id) {
    contentId_ = id;
    header_.setField("Content-ID", contentId_);
}

void Email2::setDate(std::string_view text) {
    const std::string t(text);
    (void)DateParser::parseDate(t, date_);
    header_.setField("Date", t);
}

void Email2::setFilename(std::string_view filename) {
    const std::string fn(filename);
    ContentTypeParams p = contentTypeParams();
    p.name = fn;
    setContentType(p);
    const std::string disp = disposition_;
    setDisposition(disp, fn);
}

void Email2::setCharset(const Charset& charset) {
    const Charset cs = charset;
    charset_ = cs;
    ContentTypeParams p = contentTypeParams();
    p.charset = cs;
    setContentType(p);
}

// ---- identifiers ----

void Email2::newMessageId() {
    std::string host = platform::localHostName();
    if (host.empty())
        host = "unknown";
    header_.setField("Message-ID", "<NORVANE-MID-" + platform::newUuidString() + "@" + host + ">");
}

void Email2::newContentId() {
    setContentId("<NORVANE-CID-" + platform::newUuidString() + ">");
}

std::string Email2::newBoundary(std::string_view suffix) {
    StringBuffer b;
    MimeMessage2::makeBoundary(b);
    b.append(suffix);
    return b.str();
}

// ---- sizes ----

int64_t Email2::size() const {
    if (header_.hasField("NVZ-HeaderOnly")) {
        StringBuffer v;
        (void)header_.getField("NVZ-Size", v);
        return std::strtoll(v.getString(), nullptr, 10);
    }
    int64_t n = static_cast<int64_t>(body_.getSize()) + header_.sizeEstimate();
    for (const auto& p : parts_)
        n += p->size();
    return n;
}

int64_t Email2::sendSizeEstimate() const {
    int64_t e = static_cast<int64_t>(body_.getSize()) + 60 * int64_t{header_.fieldCount()};
    if (!rawText_.empty())
        return e + static_cast<int64_t>(rawText_.size());
    for (const auto& p : parts_)
        e += p->sendSizeEstimate();
    if (sendSigned_)
        e += 2000;
    if (sendEncrypted_)
        e = (e * 100) / 80;
    return e;
}

void Email2::getTermValue(std::string_view name, StringBuffer& out) const {
    if (sb::equalsNoCase(name, "body"))
        out.append(getBody().view());
    else
        (void)header_.getField(name, out);
}

// ---- node access and roles ----

Email2* Email2::partAt(int index) const {
    return index < 0 ? nullptr : parts_.elementAt(static_cast<size_t>(index));
}

void Email2::addPart(std::unique_ptr<Email2> part) {
    if (part)
        parts_.appendObject(std::move(part));
    noteEdit();
}

void Email2::insertPart(int index, std::unique_ptr<Email2> part) {
    if (part)
        parts_.insertAt(index < 0 ? 0 : static_cast<size_t>(index), std::move(part));
    noteEdit();
}

std::unique_ptr<Email2> Email2::removePart(int index) {
    noteEdit();
    return index < 0 ? nullptr : parts_.removeAt(static_cast<size_t>(index));
}

bool Email2::isMultipart() const {
    return sb::startsWithNoCase(contentType_, "multipart");
}
bool Email2::isMixed() const {
    return sb::equalsNoCase(contentType_, "multipart/mixed");
}
bool Email2::isAlternative() const {
    return sb::equalsNoCase(contentType_, "multipart/alternative");
}
bool Email2::isRelated() const {
    return sb::equalsNoCase(contentType_, "multipart/related");
}
bool Email2::isReport() const {
    return sb::equalsNoCase(contentType_, "multipart/report");
}
bool Email2::isAttachedMessage() const {
    return sb::equalsNoCase(contentType_, "message/rfc822");
}

bool Email2::isAttachmentNode() const {
    if (isAttachedMessage())
        return false;
    if (sb::equalsNoCase(disposition_, "attachment"))
        return true;
    if (sb::equalsNoCase(disposition_, "inline"))
        return !isMultipart() && !filename_.empty();
    return !name_.empty() && sb::equalsNoCase(transferEncoding_, "base64");
}

bool Email2::isAttachmentDispositionNode() const {
    return !isAttachedMessage() && sb::equalsNoCase(disposition_, "attachment");
}

} // namespace norvane
