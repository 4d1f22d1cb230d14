// Sender and recipients of an e-mail. The lists are the master copy; the From, To and Cc
// fields are rewritten from them after every change (Bcc never reaches the header).

#include "email/Email2.h"

#include "charset/ContentCoding.h"

namespace norvane {

namespace {

// A display name as one UTF-8 Q encoded word, even when it is pure ASCII: the stored name is
// then 7-bit whatever the caller gave, and the header renders it back as text.
std::string encodeNameAsWord(std::string_view name) {
    if (name.starts_with("\xEF\xBB\xBF"))
        name.remove_prefix(3);
    std::string out;
    if (!name.empty())
        ContentCoding::encodeWordQ(name, "utf-8", out);
    return out;
}

std::string_view fieldNameOf(RecipientKind kind) {
    switch (kind) {
    case RecipientKind::To:
        return "To";
    case RecipientKind::Cc:
        return "Cc";
    case RecipientKind::Bcc:
        break;
    }
    return {};
}

} // namespace

ExtPtrArray<Rfc822Address>& Email2::list(RecipientKind kind) {
    return kind == RecipientKind::To ? to_ : kind == RecipientKind::Cc ? cc_ : bcc_;
}

const ExtPtrArray<Rfc822Address>& Email2::list(RecipientKind kind) const {
    return kind == RecipientKind::To ? to_ : kind == RecipientKind::Cc ? cc_ : bcc_;
}

void Email2::setSenderField() {
    std::string text;
    if (from_)
        from_->renderRaw(text);
    header_.setField("From", text);
    if (from_ && !header_.hasField("return-path"))
        header_.setField("return-path", from_->getAddress());
}

bool Email2::setFrom(std::string_view text) {
    auto addr = Rfc822Address::parseAddress(text);
    if (!addr || !Rfc822Address::isAcceptable(text, addr->getAddress()))
        return false;
    addr->setName(encodeNameAsWord(addr->getName()));
    from_ = std::move(addr);
    setSenderField();
    return true;
}

void Email2::setFromName(std::string_view name) {
    pendingFromName_.clear();
    if (from_) {
        from_->setName(name);
        std::string text;
        from_->renderRaw(text);
        header_.setField("From", text);
    } else if (!name.empty()) {
        pendingFromName_ = name;
    }
}

bool Email2::setFromAddress(std::string_view addr) {
    if (addr.find('@') == std::string_view::npos || !Rfc822Address::isAcceptable(addr))
        return false;
    if (from_)
        from_->setAddress(addr);
    else
        from_ = std::make_unique<Rfc822Address>(pendingFromName_, addr);
    pendingFromName_.clear();
    setSenderField();
    return true;
}

bool Email2::setReplyTo(std::string_view text) {
    auto addr = Rfc822Address::parseAddress(text);
    if (!addr || !Rfc822Address::isAcceptable(text, addr->getAddress()))
        return false;
    addr->setName(encodeNameAsWord(addr->getName()));
    std::string value;
    addr->renderRaw(value);
    header_.setField("Reply-To", value);
    return true;
}

void Email2::rewriteRecipientField(RecipientKind kind) {
    const std::string_view field = fieldNameOf(kind);
    if (field.empty())
        return;
    std::string value;
    for (const auto& a : list(kind)) {
        if (!value.empty())
            value += ", ";
        a->renderRaw(value);
    }
    header_.setField(field, value);
}

bool Email2::addRecipient(RecipientKind kind, std::string_view name, std::string_view address) {
    if (!Rfc822Address::isAcceptable(address))
        return false;
    list(kind).appendObject(std::make_unique<Rfc822Address>(name, address));
    rewriteRecipientField(kind);
    return true;
}

int Email2::addMultiple(RecipientKind kind, std::string_view text) {
    std::string t(text);
    if (sb::findNoCase(t, "?Q?") != std::string::npos ||
        sb::findNoCase(t, "?B?") != std::string::npos)
        ContentCoding::decodeWordsToUtf8(t);
    // Line breaks and tabs may fold a list; any other control byte (also one an encoded word
    // carried in) would be dropped by the parser and glue the text around it into an address
    // nobody wrote.
    for (const char c : t)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r' && c != '\n') ||
            c == 0x7F)
            return 0;
    // Each new entry passes the same check as a single recipient: a line break inside the
    // list would otherwise glue an injected command onto an address and send to it.
    ExtPtrArray<Rfc822Address>& l = list(kind);
    const size_t before = l.getSize();
    int n = Rfc822Address::parseAddressList(t, l);
    for (size_t i = l.getSize(); i-- > before;) {
        if (!Rfc822Address::isAcceptable(l.elementAt(i)->getAddress())) {
            (void)l.removeAt(i);
            --n;
        }
    }
    rewriteRecipientField(kind);
    return n;
}

void Email2::clearRecipients(RecipientKind kind) {
    list(kind).removeAllObjects();
    const std::string_view field = fieldNameOf(kind);
    if (!field.empty())
        header_.removeField(field);
}

int Email2::numRecipients(RecipientKind kind) const {
    return static_cast<int>(list(kind).getSize());
}

const Rfc822Address* Email2::recipient(RecipientKind kind, int index) const {
    return index < 0 ? nullptr : list(kind).elementAt(static_cast<size_t>(index));
}

} // namespace norvane
