// Bodies and charsets of an e-mail, and the searches that find its main text, HTML,
// alternative, related and attached-message parts.

#include "email/Email2.h"

#include "charset/EncodingConvert.h"
#include "email/HtmlHelp.h"
#include "mime/TextScan.h"

#include <algorithm>

namespace norvane {

namespace {

constexpr int kUtf8 = 65001;
constexpr int kLatin1 = 28591;
constexpr int kLatin2 = 28592;

// Whether UTF-8 text converts to cp without losing a character.
bool convertsWithoutLoss(std::string_view utf8, int cp) {
    if (cp == kUtf8)
        return true;
    EncodingConvert conv;
    std::string out;
    return conv.convert(kUtf8, cp, utf8, out);
}

// An attachment as the alternative count sees it.
bool isAlternativeAttachment(const Email2& p) {
    return sb::equalsNoCase(p.disposition(), "attachment") ||
           (!p.name().empty() && sb::equalsNoCase(p.transferEncoding(), "base64"));
}

} // namespace

// ---- reading the body ----

const DataBuffer& Email2::getBody() const {
    const Email2* n = this;
    for (;;) {
        if (n->parts_.isEmpty())
            return n->body_;
        if (!n->isMultipart()) {
            for (const auto& p : n->parts_)
                if (p->parts_.isEmpty() && !p->isAttachmentNode())
                    return p->body_;
        }
        n = n->parts_.elementAt(0);
    }
}

// ---- setting bodies ----

bool Email2::chooseCharsetFor(std::string_view utf8) {
    if (charset_.getCodePage() != 0 || text_scan::is7bit(utf8))
        return false;
    int chosen = 0;
    if (headerCodePage_ != 0 && convertsWithoutLoss(utf8, headerCodePage_))
        chosen = headerCodePage_;
    else if (convertsWithoutLoss(utf8, kLatin1))
        chosen = kLatin1;
    else if (convertsWithoutLoss(utf8, kLatin2))
        chosen = kLatin2;
    else
        chosen = kUtf8;
    Charset cs;
    if (!cs.setByCodePage(chosen))
        cs.setByCodePage(kUtf8);
    setCharset(cs);
    return true;
}

void Email2::setBody(std::string_view utf8, bool isHtml) {
    Email2* n = this;
    std::string encoding = "quoted-printable";
    for (;;) {
        (void)n->chooseCharsetFor(utf8);
        if (isMultiByteCodePage(n->charset_.getCodePage()))
            encoding = "base64";
        if ((n->isRelated() || n->isMixed()) && !n->parts_.isEmpty()) {
            n = n->parts_.elementAt(0);
            continue;
        }
        break;
    }
    if (n->isAlternative()) {
        if (isHtml)
            addAlternative(makeHtmlAlternativePart(utf8, charset_));
        else
            addAlternative(makePlainAlternativePart(utf8));
        return;
    }
    n->setBodyOnNode(utf8, isHtml, std::move(encoding));
}

void Email2::setBodyOnNode(std::string_view utf8, bool isHtml, std::string encoding) {
    if (parts_.isEmpty()) {
        setTransferEncoding(encoding);
        body_.assign(utf8);
        return;
    }
    for (const auto& p : parts_) {
        if (p->parts_.isEmpty()) {
            p->body_.assign(utf8);
            return;
        }
    }
    auto part = newPart();
    part->setBody(utf8, isHtml);
    insertPart(0, std::move(part));
}

void Email2::setHtmlBody(std::string_view html) {
    std::string h(html);
    if (HtmlHelp::getMetaCharset(h).empty())
        HtmlHelp::insertMetaCharset(h, charset_.getCodePage() != 0 ? charset_.getName() : "utf-8");
    setBody(h, true);

    if (isRelated() && !parts_.isEmpty()) {
        const Email2* first = parts_.elementAt(0);
        if (!first->isMultipart() && sb::startsWithNoCase(first->contentType_, "text")) {
            // A multipart carries no transfer encoding of its own (RFC 2045 section 6.4), so
            // only the type parameter changes here.
            ContentTypeParams p = contentTypeParams();
            p.typeParam = "text/html";
            setContentType(p);
        }
    }
    Email2* n = this;
    while (n->isMultipart() && !n->parts_.isEmpty())
        n = n->parts_.elementAt(0);
    if (!n->isMultipart() && n->body_.getSize() == h.size()) {
        ContentTypeParams p = n->contentTypeParams();
        p.type = "text/html";
        n->setContentType(p);
        n->setEncodingForCodePage(charset_.getCodePage());
    }
}

// ---- charsets ----

void Email2::resolveCharset() {
    if (charset_.getCodePage() != 0)
        return;
    Charset cs;
    if (const Email2* h = htmlNode(); h && h->charset_.getCodePage() != 0) {
        cs = h->charset_;
    } else if (const Email2* alt = findAlternativeNode()) {
        for (const auto& p : alt->parts_) {
            if (sb::equalsNoCase(p->contentType_, "text/plain")) {
                cs = p->charset_;
                break;
            }
        }
    }
    // Without an alternative part the text may sit first in a mixed or related container.
    if (cs.getCodePage() == 0)
        if (const Email2* t = plainTextNode(); t && t != this)
            cs = t->charset_;
    if (cs.getCodePage() != 0)
        setCharset(cs);
}

void Email2::setHtmlCharset(std::string_view name) {
    Charset cs;
    if (!cs.setByName(name) || cs.getCodePage() == 0)
        return;
    Email2* h = htmlNode();
    if (!h) {
        pendingHtmlCharset_ = cs;
        return;
    }
    if (h->charset_.getCodePage() == cs.getCodePage())
        return;
    std::string body = h->body_.toString();
    HtmlHelp::removeMetaCharset(body);
    HtmlHelp::insertMetaCharset(body, cs.getName());
    h->body_.assign(body);
    h->setCharset(cs);
    // The encoding belongs to the part that holds the text; a multipart top node must keep
    // none (RFC 2045 section 6.4).
    Email2* target = isMultipart() ? h : this;
    target->setEncodingForCodePage(cs.getCodePage());
}

void Email2::setPlainTextCharset(std::string_view name) {
    Charset cs;
    if (!cs.setByName(name) || cs.getCodePage() == 0)
        return;
    if (Email2* p = plainTextNode())
        p->setCharset(cs);
}

// ---- searches ----

namespace {

// Down the first sub-parts to an alternative node (then its first matching sub-part) or to
// the first non-multipart node (the answer when its type matches).
Email2* findTextNode(const Email2* top, std::string_view type, bool skipAttachments) {
    const Email2* n = top;
    while (n) {
        if (n->isAlternative()) {
            for (int i = 0; i < n->partCount(); ++i) {
                Email2* p = n->partAt(i);
                if (!p->isMultipart() && !(skipAttachments && p->isAttachmentNode()) &&
                    sb::equalsNoCase(p->contentType(), type))
                    return p;
            }
            return nullptr;
        }
        if (!n->isMultipart())
            return sb::equalsNoCase(n->contentType(), type) ? const_cast<Email2*>(n) : nullptr;
        n = n->partAt(0);
    }
    return nullptr;
}

// The alternatives: the filtered sub-parts of the alternative node. When the descent ends at
// a node without sub-parts instead, leaf is that node and the list is empty.
std::vector<Email2*> alternativeParts(const Email2* top, const Email2*& leaf) {
    leaf = nullptr;
    const Email2* n = top;
    while (!n->isAlternative()) {
        if (n->partCount() == 0) {
            leaf = n;
            return {};
        }
        n = n->partAt(0);
    }
    std::vector<Email2*> out;
    for (int i = 0; i < n->partCount(); ++i) {
        Email2* p = n->partAt(i);
        if (!p->isMultipart() && !isAlternativeAttachment(*p))
            out.push_back(p);
    }
    return out;
}

} // namespace

Email2* Email2::findAlternativeNode() const {
    const Email2* n = this;
    while (n && !n->isAlternative())
        n = n->parts_.elementAt(0);
    return const_cast<Email2*>(n);
}

Email2* Email2::plainTextNode() const {
    return findTextNode(this, "text/plain", false);
}

Email2* Email2::htmlNode() const {
    return findTextNode(this, "text/html", true);
}

const std::vector<Email2*>& Email2::alternativeList(const Email2*& leaf) const {
    const uint64_t edits = edits_.load(std::memory_order_relaxed);
    if (alternativeList_.edits != edits) {
        alternativeList_.items = alternativeParts(this, alternativeList_.leaf);
        alternativeList_.edits = edits;
    }
    leaf = alternativeList_.leaf;
    return alternativeList_.items;
}

int Email2::numAlternatives() const {
    const Email2* leaf = nullptr;
    return static_cast<int>(alternativeList(leaf).size());
}

bool Email2::getAlternativeBody(int index, DataBuffer& out, LogBase& log) const {
    const Email2* leaf = nullptr;
    const auto& parts = alternativeList(leaf);
    if (leaf) {
        out.append(leaf->body_.span());
        return true;
    }
    if (index < 0 || static_cast<size_t>(index) >= parts.size()) {
        log.logError("Failed to get alternative body, index out of range");
        log.logDataLong("index", index);
        return false;
    }
    out.append(parts[static_cast<size_t>(index)]->body_.span());
    return true;
}

bool Email2::getAlternativeContentType(int index, std::string& out, LogBase& log) const {
    const Email2* leaf = nullptr;
    const auto& parts = alternativeList(leaf);
    if (leaf) {
        out.append(leaf->contentType_);
        return true;
    }
    if (index < 0 || static_cast<size_t>(index) >= parts.size()) {
        log.logError("Failed to get alternative content type, index out of range");
        log.logDataLong("index", index);
        return false;
    }
    out.append(parts[static_cast<size_t>(index)]->contentType_);
    return true;
}

Email2* Email2::findRelatedNodeForAdd() const {
    if (isRelated())
        return const_cast<Email2*>(this);
    if (isMixed()) {
        Email2* first = parts_.elementAt(0);
        if (first && first->isRelated())
            return first;
    }
    return nullptr;
}

Email2* Email2::relatedNode() const {
    const Email2* n = this;
    while (n && !n->isRelated())
        n = n->parts_.elementAt(0);
    return const_cast<Email2*>(n);
}

int Email2::numRelatedItems() const {
    const Email2* r = relatedNode();
    return r && r->partCount() > 1 ? r->partCount() - 1 : 0;
}

Email2* Email2::relatedItem(int index) const {
    const Email2* r = relatedNode();
    return r && index >= 0 ? r->partAt(index + 1) : nullptr;
}

namespace {

std::vector<Email2*> attachedMessageParts(const Email2* top) {
    const Email2* n = top;
    while (n) {
        if (n->isAttachedMessage())
            return {const_cast<Email2*>(n)};
        if (n->isMixed() || n->isReport()) {
            std::vector<Email2*> out;
            for (int i = 0; i < n->partCount(); ++i)
                if (n->partAt(i)->isAttachedMessage())
                    out.push_back(n->partAt(i));
            return out;
        }
        n = n->partAt(0);
    }
    return {};
}

} // namespace

int Email2::numAttachedMessages() const {
    return static_cast<int>(attachedMessageParts(this).size());
}

Email2* Email2::attachedMessagePart(int index) const {
    const auto parts = attachedMessageParts(this);
    return index >= 0 && static_cast<size_t>(index) < parts.size()
               ? parts[static_cast<size_t>(index)]
               : nullptr;
}

std::unique_ptr<Email2> Email2::getAttachedMessage(int index, LogBase& log) const {
    const Email2* part = attachedMessagePart(index);
    if (!part)
        return nullptr;
    return fromMime(part->body_.view(), log);
}

// ---- whole tree ----

void Email2::normalizeTransferEncodings() {
    const int cp = charset_.getCodePage();
    if (sb::equalsNoCase(contentType_, "text/html")) {
        setEncodingForCodePage(cp);
    } else if ((sb::startsWithNoCase(contentType_, "text/") || contentType_.empty()) &&
               (sb::equalsNoCase(transferEncoding_, "8bit") || !text_scan::is7bit(body_.view()))) {
        setEncodingForCodePage(cp);
    }
    for (const auto& p : parts_)
        p->normalizeTransferEncodings();
}

} // namespace norvane
