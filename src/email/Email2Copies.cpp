// New e-mails made from existing ones: the exact copy, the reply and forward that quote the
// original, and the copy with mail-merge replacements applied.
//
// Copies go through the MIME text on purpose: rendering and building again is the one path
// that is known to keep every header, body and attachment byte, and it leaves nothing shared
// between the two trees. What the text cannot carry is copied by hand afterwards.

#include "email/Email2.h"

#include "charset/DateParser.h"

namespace norvane {

namespace {

// The node whose body getBody returns, found by the same walk.
Email2* mainBodyNode(Email2* n) {
    for (;;) {
        if (n->partCount() == 0)
            return n;
        if (!n->isMultipart()) {
            for (int i = 0; i < n->partCount(); ++i) {
                Email2* p = n->partAt(i);
                if (p->partCount() == 0 && !p->isAttachmentNode())
                    return p;
            }
        }
        n = n->partAt(0);
    }
}

std::string headerFormOf(const Rfc822Address& a) {
    std::string out;
    a.renderRaw(out);
    return out;
}

// Entries of a recipient list in header form, joined by sep.
std::string joinedHeaderForms(const Email2& e, RecipientKind kind, std::string_view sep) {
    std::string out;
    for (int i = 0; i < e.numRecipients(kind); ++i) {
        if (i > 0)
            out += sep;
        out += headerFormOf(*e.recipient(kind, i));
    }
    return out;
}

std::string withoutLineBreaks(std::string s) {
    std::erase(s, '\r');
    std::erase(s, '\n');
    return s;
}

std::string fieldValue(const Email2& e, std::string_view name) {
    StringBuffer v;
    (void)e.getHeaderField(name, v);
    return v.str();
}

void copyCertificates(const ExtPtrArray<NorvaneObject>& from, ExtPtrArray<NorvaneObject>& to) {
    for (const auto& c : from)
        if (const auto* copyable = dynamic_cast<const CopyableObject*>(c.get()))
            to.appendObject(copyable->copyObject());
}

} // namespace

std::unique_ptr<Email2> Email2::clone(LogBase& log) const {
    StringBuffer mime;
    renderMime(mime, "", log);
    std::unique_ptr<Email2> copy = fromMime(mime.view(), log);
    if (!copy)
        return nullptr;
    copy->sendSigned_ = sendSigned_;
    copy->sendEncrypted_ = sendEncrypted_;
    SecurityOutcome& s = copy->security_;
    s.secured = security_.secured;
    s.signaturesValid = security_.signaturesValid;
    s.decrypted = security_.decrypted;
    s.numSigned = security_.numSigned;
    s.numEncrypted = security_.numEncrypted;
    s.layers = security_.layers;
    copyCertificates(security_.signerCerts, s.signerCerts);
    copyCertificates(security_.decryptCerts, s.decryptCerts);
    copy->signingCert_ = signingCert_;
    copy->encryptCert_ = encryptCert_;
    copy->bcc_.removeAllObjects();
    for (const auto& a : bcc_)
        copy->bcc_.appendObject(a->clone());
    copy->cspSpec_ = cspSpec_;
    return copy;
}

void Email2::makeReply() {
    quoteForResponse("RE: ", true);
}

void Email2::makeForward() {
    quoteForResponse("FW: ", false);
}

void Email2::quoteForResponse(std::string_view subjectPrefix, bool toSender) {
    const std::string sourceSubject = fieldValue(*this, "Subject");
    setHeaderField("subject", std::string(subjectPrefix) + sourceSubject);

    const std::string toText = withoutLineBreaks(joinedHeaderForms(*this, RecipientKind::To, ", "));
    const std::string ccText = withoutLineBreaks(joinedHeaderForms(*this, RecipientKind::Cc, ", "));
    const std::string fromText = from_ ? headerFormOf(*from_) : std::string();
    const std::string sentText = fieldValue(*this, "Date");

    Email2* quoted = this;
    if (findAlternativeNode())
        if (Email2* plain = plainTextNode())
            quoted = plain;
    Email2* target = mainBodyNode(quoted);

    // The original's header as a reader sees it above the quoted text; LF line ends, as the
    // body text itself is kept in whatever line ends it has.
    std::string quote =
        "-----Original Message-----\nFrom: " + fromText + "\nSent: " + sentText + "\n";
    if (!toText.empty())
        quote += "To: " + toText + "\n";
    if (!ccText.empty())
        quote += "CC: " + ccText + "\n";
    quote += "Subject: " + sourceSubject + "\n\n";
    DataBuffer body(std::string_view{quote});
    body.append(target->body_.span());
    target->body_ = std::move(body);

    const std::string senderName = from_ ? from_->getName() : pendingFromName_;
    const std::string senderAddress = from_ ? from_->getAddress() : std::string();
    clearRecipients(RecipientKind::To);
    if (toSender)
        (void)addTo(senderName, senderAddress);
    clearRecipients(RecipientKind::Bcc);
    clearRecipients(RecipientKind::Cc);

    // The sender stays in the model (it is written again when a sender is next set); only the
    // fields that belonged to the delivery of the original go.
    for (std::string_view f :
         {"x-sender", "x-rcpt-to", "x-uidl", "status", "received", "From", "Reply-To"})
        header_.removeField(f);

    header_.setField("MIME-Version", "1.0");
    std::string now;
    DateParser::formatNow(now);
    setDate(now);
    header_.setField("X-Mailer", defaultMailer());
    newMessageId();
    header_.setField("X-Mailer", defaultMailer());
    header_.setField("X-Priority", "3 (Normal)");
}

std::unique_ptr<Email2> Email2::withReplacements(const ExtPtrArray<StringPair>& pairs,
                                                 LogBase& log) const {
    StringBuffer mime;
    renderMime(mime, "", log);
    std::unique_ptr<Email2> copy = fromMime(mime.view(), log);
    if (!copy)
        return nullptr;
    std::string bccText;
    for (const auto& a : bcc_) {
        if (!bccText.empty())
            bccText += ',';
        bccText += headerFormOf(*a);
    }
    if (!bccText.empty())
        (void)copy->addMultiple(RecipientKind::Bcc, bccText);
    copy->sendSigned_ = sendSigned_;
    copy->sendEncrypted_ = sendEncrypted_;
    copy->cspSpec_ = cspSpec_;
    copy->applyReplacements(pairs);
    copy->signingCert_ = signingCert_;
    copy->encryptCert_ = encryptCert_;
    return copy;
}

void Email2::applyReplacements(const ExtPtrArray<StringPair>& pairs) {
    for (const auto& pair : pairs)
        applyReplacementsHere(pair->name, pair->value);
    for (const auto& p : parts_)
        p->applyReplacements(pairs);
}

void Email2::applyReplacementsHere(std::string_view pattern, std::string_view replacement) {
    if (pattern.empty())
        return;
    if (sb::startsWithNoCase(contentType_, "text")) {
        std::string text = body_.toString();
        if (sb::replaceAll(text, pattern, replacement) > 0)
            body_.assign(text);
    }
    std::string subject;
    {
        StringBuffer v;
        if (header_.getField("Subject", v))
            subject = v.str();
    }
    if (sb::replaceAll(subject, pattern, replacement) > 0)
        header_.setField("Subject", subject);

    if (from_ && from_->replaceText(pattern, replacement))
        header_.setField("From", headerFormOf(*from_));

    // To and Cc are written again whether or not an entry changed. Their header forms are
    // stored as UTF-8 like every field value; rendering writes 8-bit names as encoded words in
    // the e-mail's charset.
    for (RecipientKind kind : {RecipientKind::To, RecipientKind::Cc, RecipientKind::Bcc}) {
        for (const auto& a : list(kind))
            (void)a->replaceText(pattern, replacement);
        if (kind != RecipientKind::Bcc)
            header_.setField(kind == RecipientKind::To ? "To" : "Cc",
                             joinedHeaderForms(*this, kind, ",\r\n "));
    }
}

} // namespace norvane
