// The shape of the tree: turning a node into a mixed, alternative or related container,
// adding attachments, related (inline) items and alternative bodies, and finding, counting and
// dropping attachments. Sub-parts and bodies move between nodes; nothing is copied.

#include "email/Email2.h"

#include "charset/ContentCoding.h"
#include "common/FileAccess.h"
#include "mime/FileExtensions.h"

namespace norvane {

namespace {

constexpr std::string_view kOctetStream = "application/octet-stream";

// The file name after the last '/' or, failing that, the last '\'.
std::string_view baseName(std::string_view path) {
    size_t cut = path.rfind('/');
    if (cut == std::string_view::npos)
        cut = path.rfind('\\');
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

bool isTextType(std::string_view type) {
    return sb::startsWithNoCase(type, "text");
}

} // namespace

// ---- containers ----

// This new part takes over src's content: its Content-Type with every parameter, its transfer
// encoding, its disposition, and its sub-parts (when the type is multipart) or its body.
void Email2::takeContentFrom(Email2& src, bool withSubParts) {
    formatFlowed_ = src.formatFlowed_;
    setContentType(src.contentTypeParams());
    setTransferEncoding(src.transferEncoding_);
    // The disposition describes the content, so it moves with it: left behind it would mark
    // the new container as an attachment.
    if (!src.disposition_.empty() || !src.filename_.empty()) {
        setDisposition(src.disposition_, src.filename_);
        src.removeHeaderField("Content-Disposition");
    }
    if (withSubParts && isMultipart()) {
        for (auto& p : src.parts_.items())
            parts_.appendObject(std::move(p));
        src.parts_.removeAllObjects();
        noteEdit();
    } else {
        body_ = std::move(src.body_);
        src.body_.clear();
    }
}

Email2* Email2::makeMixed() {
    Email2* target = isRelated() && !parts_.isEmpty() ? parts_.elementAt(0) : this;
    auto p = newPart();
    p->takeContentFrom(*target, true);
    target->parts_.appendObject(std::move(p));
    target->setContentType({.type = "multipart/mixed", .boundary = newBoundary("_.MIX")});
    target->removeHeaderField("Content-Transfer-Encoding");
    return target;
}

Email2* Email2::makeAlternative() {
    Email2* target = this;
    if ((isRelated() || isMixed()) && !parts_.isEmpty())
        target = parts_.elementAt(0);
    auto p = newPart();
    p->takeContentFrom(*target, true);
    target->parts_.appendObject(std::move(p));
    target->setContentType({.type = "multipart/alternative", .boundary = newBoundary("_.ALT")});
    target->removeHeaderField("Content-Transfer-Encoding");
    return target;
}

void Email2::makeRelated() {
    const std::string former = contentType_;
    auto p = newPart();
    p->takeContentFrom(*this, true);
    parts_.appendObject(std::move(p));
    setContentType(
        {.type = "multipart/related", .boundary = newBoundary("_.REL"), .typeParam = former});
    removeHeaderField("Content-Transfer-Encoding");
}

namespace {

// An empty multipart/related node; typeParam names the type of its first (root) part, which
// RFC 2387 requires.
std::unique_ptr<Email2> newRelatedNode(std::string_view typeParam) {
    auto r = Email2::newPart();
    r->removeHeaderField("Content-Transfer-Encoding");
    r->setContentType({.type = "multipart/related",
                       .boundary = Email2::newBoundary("_.REL"),
                       .typeParam = std::string(typeParam)});
    return r;
}

} // namespace

void Email2::wrapRelatedInMixed() {
    auto r = newRelatedNode(typeParam_);
    while (!parts_.isEmpty())
        r->addPart(parts_.removeAt(0));
    setContentType({.type = "multipart/mixed", .boundary = newBoundary("_.MIX")});
    parts_.appendObject(std::move(r));
    noteEdit();
}

std::string Email2::addAttachmentPart(std::unique_ptr<Email2> part) {
    if (!part)
        return {};
    std::string type = part->contentType_;
    if (!isMixed()) {
        if (isRelated())
            wrapRelatedInMixed();
        else
            (void)makeMixed();
    }
    parts_.appendObject(std::move(part));
    noteEdit();
    return type;
}

void Email2::addRelated(std::unique_ptr<Email2> part) {
    if (!part)
        return;
    if (Email2* r = findRelatedNodeForAdd()) {
        r->addPart(std::move(part));
        return;
    }
    if (!isMixed()) {
        makeRelated();
        addPart(std::move(part));
        return;
    }
    int moveIndex = -1;
    for (int i = 0; i < partCount() && moveIndex < 0; ++i)
        if (partAt(i)->isAlternative())
            moveIndex = i;
    for (int i = 0; i < partCount() && moveIndex < 0; ++i)
        if (!partAt(i)->isMultipart())
            moveIndex = i;
    std::unique_ptr<Email2> moved = removePart(moveIndex);
    auto r = newRelatedNode(moved ? moved->contentType_ : std::string());
    r->addPart(std::move(moved));
    r->addPart(std::move(part));
    insertPart(0, std::move(r));
}

void Email2::addAlternative(std::unique_ptr<Email2> part) {
    if (!part)
        return;
    Email2* n = this;
    if (n->isMixed() && n->partCount() > 0)
        n = n->partAt(0);
    if (n->isRelated()) {
        ContentTypeParams p = n->contentTypeParams();
        p.typeParam = "multipart/alternative";
        n->setContentType(p);
        if (n->partCount() > 0)
            n = n->partAt(0);
    }
    if (!n->isAlternative())
        n = n->makeAlternative();
    for (const auto& sub : n->parts_) {
        if (sb::equalsNoCase(sub->contentType_, part->contentType_)) {
            sub->setBody(part->body_.view(), false);
            sub->formatFlowed_ = part->formatFlowed_;
            sub->setContentType(sub->contentTypeParams());
            return;
        }
    }
    if (sb::startsWithNoCase(part->contentType_, "text/plain"))
        n->insertPart(0, std::move(part));
    else
        n->addPart(std::move(part));
}

// ---- parts ----

std::unique_ptr<Email2> Email2::makePlainAlternativePart(std::string_view utf8) {
    auto p = newPart();
    p->setBody(utf8, false);
    p->formatFlowed_ = true;
    // The charset the body setter chose stays: without it a reader would take non-ASCII text
    // for US-ASCII.
    p->setContentType({.type = "text/plain", .charset = p->charset_});
    return p;
}

std::unique_ptr<Email2> Email2::makeHtmlAlternativePart(std::string_view html,
                                                        const Charset& charset) {
    auto p = newPart();
    p->setHtmlBody(html);
    const Charset cs = charset.getCodePage() != 0 ? charset : p->charset_;
    p->setContentType({.type = "text/html", .charset = cs});
    p->setEncodingForCodePage(cs.getCodePage());
    return p;
}

std::string Email2::contentTypeForFileName(std::string_view fileName) {
    const std::string ext = file_extensions::extensionOf(fileName);
    const std::string_view type = file_extensions::contentTypeFor(ext);
    return std::string(type.empty() ? kOctetStream : type);
}

std::unique_ptr<Email2> Email2::makeAttachmentPart(std::string_view fileName, DataBuffer&& data,
                                                   std::string_view contentType) {
    std::string type(sb::trimView(contentType));
    if (type.empty())
        type = contentTypeForFileName(fileName);
    sb::trim(type);
    if (type.empty())
        type = kOctetStream;
    const std::string name(baseName(fileName));
    auto p = newPart();
    p->setContentType({.type = type, .name = name});
    p->setTransferEncoding(isTextType(type) ? "quoted-printable" : "base64");
    p->setDisposition("attachment", name);
    p->body_ = std::move(data);
    return p;
}

std::unique_ptr<Email2> Email2::makeRelatedPart(std::string_view fileName, DataBuffer&& data) {
    auto p = newPart();
    p->newContentId();
    const std::string type(file_extensions::contentTypeFor(file_extensions::extensionOf(fileName)));
    const std::string name(baseName(fileName));
    // An unknown extension keeps the part's text/plain, sent base64 so that its bytes survive.
    p->setContentType({.type = type, .name = name});
    p->setTransferEncoding(!type.empty() && isTextType(type) ? "quoted-printable" : "base64");
    p->body_ = std::move(data);
    return p;
}

bool Email2::addFileAttachment(std::string_view path, std::string_view contentType,
                               std::string& usedType, LogBase& log) {
    DataBuffer data;
    if (!file::readWholeFile(path, data, &log))
        return false;
    usedType = addAttachmentPart(makeAttachmentPart(path, std::move(data), contentType));
    return true;
}

std::string Email2::addDataAttachment(std::string_view fileName, DataBuffer&& data,
                                      std::string_view contentType) {
    const std::string_view name = fileName.empty() ? std::string_view("attach.dat") : fileName;
    return addAttachmentPart(makeAttachmentPart(name, std::move(data), contentType));
}

bool Email2::addRelatedFile(std::string_view path, std::string& contentId, LogBase& log) {
    DataBuffer data;
    if (!file::readWholeFile(path, data, nullptr)) {
        log.logData("filename", path);
        log.logError("File does not exist, or cannot open file.");
        return false;
    }
    addRelatedData(path, std::move(data), contentId);
    return true;
}

void Email2::addRelatedData(std::string_view fileName, DataBuffer&& data, std::string& contentId) {
    auto p = makeRelatedPart(fileName, std::move(data));
    contentId = p->contentId_;
    addRelated(std::move(p));
}

// ---- finding and dropping attachments ----

bool Email2::collectAttachments(std::vector<Email2*>& list, int removeIndex,
                                std::unique_ptr<Email2>& removed) {
    if (isAttachmentNode() && !isMultipart()) {
        // The top node itself is the attachment; it cannot be taken out of itself.
        if (removeIndex < 0)
            list.push_back(this);
        return false;
    }
    const bool mixed = isMixed();
    const bool related = isRelated();
    for (size_t i = 0; i < parts_.getSize(); ++i) {
        Email2* p = parts_.elementAt(i);
        const bool isAttachment =
            (mixed && p->isAttachmentNode()) || (related && p->isAttachmentDispositionNode());
        if (isAttachment) {
            if (removeIndex >= 0 && list.size() == static_cast<size_t>(removeIndex)) {
                removed = parts_.removeAt(i);
                noteEdit();
                return true;
            }
            list.push_back(p);
        } else if (mixed && (p->isRelated() || p->isMixed())) {
            if (p->collectAttachments(list, removeIndex, removed))
                return true;
        }
    }
    return false;
}

const std::vector<Email2*>& Email2::attachmentList() const {
    const uint64_t edits = edits_.load(std::memory_order_relaxed);
    if (attachmentList_.edits != edits) {
        attachmentList_.items.clear();
        std::unique_ptr<Email2> none;
        (void)const_cast<Email2*>(this)->collectAttachments(attachmentList_.items, -1, none);
        attachmentList_.edits = edits;
    }
    return attachmentList_.items;
}

std::vector<Email2*> Email2::attachments() const {
    return attachmentList();
}

int Email2::numAttachments() const {
    return static_cast<int>(attachmentList().size());
}

Email2* Email2::attachmentAt(int index) const {
    const auto& list = attachmentList();
    return index >= 0 && static_cast<size_t>(index) < list.size() ? list[static_cast<size_t>(index)]
                                                                  : nullptr;
}

bool Email2::removeAttachment(int index) {
    if (index < 0)
        return false;
    std::vector<Email2*> list;
    std::unique_ptr<Email2> removed;
    return collectAttachments(list, index, removed);
}

void Email2::dropAllAttachments() {
    const bool mixed = isMixed();
    const bool related = isRelated();
    for (size_t i = parts_.getSize(); i-- > 0;) {
        const Email2* p = parts_.elementAt(i);
        if ((mixed && p->isAttachmentNode()) || (related && p->isAttachmentDispositionNode()))
            (void)parts_.removeAt(i);
    }
    noteEdit();
    for (const auto& p : parts_)
        if (p->isRelated() || p->isMixed())
            p->dropAllAttachments();
}

void Email2::dropRelatedItem(int index) {
    Email2* r = relatedNode();
    if (r && index >= 0)
        (void)r->removePart(index + 1);
}

void Email2::dropRelatedItems() {
    Email2* r = relatedNode();
    while (r && r->partCount() > 1)
        (void)r->removePart(r->partCount() - 1);
}

std::string Email2::attachmentFilename() const {
    std::string n = !filename_.empty() ? filename_
                    : !name_.empty()   ? name_
                                       : std::string("attachedFile.dat");
    if (sb::findNoCase(n, "?Q?") != std::string::npos ||
        sb::findNoCase(n, "?B?") != std::string::npos)
        ContentCoding::decodeWordsToUtf8(n);
    return n;
}

} // namespace norvane
