// The e-mail object's frame and core members: body, subject, sender, recipients, header
// fields, MIME text and files, and the small properties.

#include "facade/ClsEmail.h"

#include "charset/DateParser.h"
#include "common/FileAccess.h"
#include "email/Email2.h"
#include "facade/FacadeText.h"
#include "security/SmimeUnwrapper.h"

#include <cstdio>

namespace norvane {

using facade_text::arg;
using facade_text::trimmed;

namespace {

std::string fieldValue(const Email2& e, std::string_view name) {
    StringBuffer v;
    (void)e.getHeaderField(name, v);
    return std::move(v.str());
}

// A header value on the one line of its part: line breaks become spaces.
std::string onOneLine(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
            continue;
        out.push_back(s[i] == '\r' || s[i] == '\n' ? ' ' : s[i]);
    }
    return out;
}

void describePart(const Email2& n, int depth, std::string& out) {
    std::string line(static_cast<size_t>(2 * depth), ' ');
    line += n.contentType().empty() ? "(no type)" : n.contentType();
    if (n.charset().getCodePage() != 0 && !n.isMultipart())
        line += "; charset=" + n.charset().getName();
    if (!n.typeParam().empty())
        line += "; type=" + n.typeParam();
    if (n.partCount() == 0) {
        if (!n.transferEncoding().empty())
            line += ", " + n.transferEncoding();
        line += ", " + std::to_string(n.body().getSize()) + " bytes";
    }
    if (!n.disposition().empty())
        line += ", " + n.disposition();
    if (!n.filename().empty() || !n.name().empty())
        line += ", \"" + n.attachmentFilename() + "\"";
    if (!n.contentId().empty())
        line += ", id " + n.contentId();
    out += onOneLine(line);
    out += '\n';
    for (int i = 0; i < n.partCount(); ++i)
        describePart(*n.partAt(i), depth + 1, out);
}

} // namespace

ClsEmail::ClsEmail()
    : email_(std::make_unique<Email2>()), ownUnwrapper_(std::make_unique<SmimeUnwrapper>()),
      unwrapper_(ownUnwrapper_.get()) {}

ClsEmail::ClsEmail(std::unique_ptr<Email2> email)
    : email_(email ? std::move(email) : std::make_unique<Email2>()),
      ownUnwrapper_(std::make_unique<SmimeUnwrapper>()), unwrapper_(ownUnwrapper_.get()) {}

ClsEmail::~ClsEmail() = default;

void ClsEmail::adoptEmail(std::unique_ptr<Email2> email) {
    if (!email)
        return;
    if (email.get() == email_.get()) {
        // Already ours: giving it up here would delete it twice.
        (void)email.release();
        return;
    }
    email_ = std::move(email);
}

// ---- body and text ----

void ClsEmail::chooseCharsetFor(std::string_view utf8) {
    if (email_->charset().getCodePage() != 0)
        return;
    const int cp = facade_text::chooseCodePage(utf8);
    Charset cs;
    if (cp != 0 && cs.setByCodePage(cp))
        email_->setCharset(cs);
}

void ClsEmail::setBodyText(std::string_view utf8) {
    chooseCharsetFor(utf8);
    if (sb::equalsNoCase(email_->contentType(), "text/html")) {
        ContentTypeParams p = email_->contentTypeParams();
        p.type = "text/plain";
        email_->setContentType(p);
    }
    email_->setBody(utf8, false);
}

std::string ClsEmail::get_Body() const {
    return email_->getBody().toString();
}

void ClsEmail::put_Body(const char* text) {
    setBodyText(arg(text));
}

void ClsEmail::AppendToBody(const char* text) {
    std::string body = email_->getBody().toString();
    body.append(arg(text));
    setBodyText(body);
}

std::string ClsEmail::get_Subject() const {
    return fieldValue(*email_, "Subject");
}

void ClsEmail::put_Subject(const char* text) {
    chooseCharsetFor(arg(text));
    email_->setSubjectText(arg(text));
}

std::string ClsEmail::get_Mailer() const {
    return fieldValue(*email_, "X-Mailer");
}

void ClsEmail::put_Mailer(const char* text) {
    email_->setHeaderField("X-Mailer", trimmed(text));
}

std::string ClsEmail::get_Uidl() const {
    return fieldValue(*email_, "X-UIDL");
}

// ---- sender and recipients ----

std::string ClsEmail::get_From() const {
    std::string out;
    if (const Rfc822Address* a = email_->from())
        a->renderDisplay(out);
    return out;
}

void ClsEmail::put_From(const char* text) {
    if (!email_->setFrom(arg(text)))
        m_log.fail(ErrorCode::BadArgument, "Invalid email address: " + std::string(arg(text)));
}

std::string ClsEmail::get_FromName() const {
    const Rfc822Address* a = email_->from();
    return a ? a->getName() : email_->pendingFromName();
}

void ClsEmail::put_FromName(const char* name) {
    email_->setFromName(trimmed(name));
}

std::string ClsEmail::get_FromAddress() const {
    const Rfc822Address* a = email_->from();
    return a ? a->getAddress() : std::string();
}

void ClsEmail::put_FromAddress(const char* address) {
    const std::string a = trimmed(address);
    if (!a.empty() && !email_->setFromAddress(a))
        m_log.fail(ErrorCode::BadArgument, "Invalid email address: " + a);
}

std::string ClsEmail::get_ReplyTo() const {
    return fieldValue(*email_, "Reply-To");
}

void ClsEmail::put_ReplyTo(const char* text) {
    if (!email_->setReplyTo(arg(text)) && !trimmed(text).empty())
        m_log.fail(ErrorCode::BadArgument, "Invalid email address: " + std::string(arg(text)));
}

std::string ClsEmail::get_BounceAddress() {
    return GetHeaderField("return-path");
}

void ClsEmail::put_BounceAddress(const char* address) {
    const std::string a = trimmed(address);
    if (!a.empty() && !Rfc822Address::isAcceptable(a)) {
        m_log.fail(ErrorCode::BadArgument, "Invalid email address: " + a);
        return;
    }
    email_->setHeaderField("return-path", a);
}

bool ClsEmail::addRecipient(RecipientKind kind, std::string_view context, const char* name,
                            const char* address) {
    Frame frame(m_log, context);
    const std::string n = trimmed(name);
    const std::string a = trimmed(address);
    m_log.logData("name", n);
    m_log.logData("address", a);
    if (a.empty()) {
        m_log.fail(ErrorCode::BadArgument, "No Email Address was provided");
        return false;
    }
    const bool ok = email_->addRecipient(kind, n, a);
    if (!ok)
        m_log.fail(ErrorCode::BadArgument,
                   "Invalid email address: name = [" + n + "], address = [" + a + "]");
    return ok;
}

bool ClsEmail::AddTo(const char* friendlyName, const char* emailAddress) {
    return addRecipient(RecipientKind::To, "AddTo", friendlyName, emailAddress);
}

bool ClsEmail::AddCC(const char* friendlyName, const char* emailAddress) {
    return addRecipient(RecipientKind::Cc, "AddCC", friendlyName, emailAddress);
}

bool ClsEmail::AddBcc(const char* friendlyName, const char* emailAddress) {
    return addRecipient(RecipientKind::Bcc, "AddBcc", friendlyName, emailAddress);
}

bool ClsEmail::addMultiple(RecipientKind kind, std::string_view context, const char* text) {
    Frame frame(m_log, context);
    if (!text) {
        m_log.logError("No email addresses were provided");
        return false;
    }
    const std::string t = trimmed(text);
    m_log.logData("addresses", t);
    if (t.empty()) {
        m_log.fail(ErrorCode::BadArgument, "No Email Address was provided");
        return false;
    }
    if (email_->addMultiple(kind, t) == 0) {
        m_log.fail(ErrorCode::BadArgument, "No valid email addresses in the following string:");
        m_log.logError(t);
        return false;
    }
    return true;
}

bool ClsEmail::AddMultipleTo(const char* commaSeparatedAddresses) {
    return addMultiple(RecipientKind::To, "AddMultipleTo", commaSeparatedAddresses);
}

bool ClsEmail::AddMultipleCC(const char* commaSeparatedAddresses) {
    return addMultiple(RecipientKind::Cc, "AddMultipleCC", commaSeparatedAddresses);
}

bool ClsEmail::AddMultipleBcc(const char* commaSeparatedAddresses) {
    return addMultiple(RecipientKind::Bcc, "AddMultipleBcc", commaSeparatedAddresses);
}

void ClsEmail::ClearTo() {
    email_->clearRecipients(RecipientKind::To);
}

void ClsEmail::ClearCC() {
    email_->clearRecipients(RecipientKind::Cc);
}

void ClsEmail::ClearBcc() {
    email_->clearRecipients(RecipientKind::Bcc);
}

int ClsEmail::get_NumTo() const {
    return email_->numRecipients(RecipientKind::To);
}

int ClsEmail::get_NumCC() const {
    return email_->numRecipients(RecipientKind::Cc);
}

int ClsEmail::get_NumBcc() const {
    return email_->numRecipients(RecipientKind::Bcc);
}

std::string ClsEmail::recipientDisplay(RecipientKind kind, std::string_view context, int index) {
    Frame frame(m_log, context);
    std::string out;
    if (const Rfc822Address* a = email_->recipient(kind, index))
        a->renderDisplay(out);
    return out;
}

std::string ClsEmail::recipientName(RecipientKind kind, int index) const {
    const Rfc822Address* a = email_->recipient(kind, index);
    return a ? a->getName() : std::string();
}

std::string ClsEmail::recipientAddr(RecipientKind kind, int index) const {
    const Rfc822Address* a = email_->recipient(kind, index);
    return a ? a->getAddress() : std::string();
}

std::string ClsEmail::GetTo(int index) {
    return recipientDisplay(RecipientKind::To, "GetTo", index);
}

std::string ClsEmail::GetCC(int index) {
    return recipientDisplay(RecipientKind::Cc, "GetCC", index);
}

std::string ClsEmail::GetBcc(int index) {
    return recipientDisplay(RecipientKind::Bcc, "GetBcc", index);
}

std::string ClsEmail::GetToName(int index) const {
    return recipientName(RecipientKind::To, index);
}

std::string ClsEmail::GetCcName(int index) const {
    return recipientName(RecipientKind::Cc, index);
}

std::string ClsEmail::GetBccName(int index) const {
    return recipientName(RecipientKind::Bcc, index);
}

std::string ClsEmail::GetToAddr(int index) const {
    return recipientAddr(RecipientKind::To, index);
}

std::string ClsEmail::GetCcAddr(int index) const {
    return recipientAddr(RecipientKind::Cc, index);
}

std::string ClsEmail::GetBccAddr(int index) const {
    return recipientAddr(RecipientKind::Bcc, index);
}

// ---- header fields ----

std::string ClsEmail::GetHeaderField(const char* fieldName) {
    Frame frame(m_log, "GetHeaderField");
    const std::string name = trimmed(fieldName);
    if (name.empty()) {
        m_log.logError("Field name is missing");
        return {};
    }
    return fieldValue(*email_, name);
}

void ClsEmail::AddHeaderField(const char* fieldName, const char* fieldValue) {
    Frame frame(m_log, "AddHeaderField");
    if (!email_->setHeaderField(arg(fieldName), arg(fieldValue)))
        m_log.fail(ErrorCode::BadArgument,
                   "Invalid header field name: " + std::string(arg(fieldName)));
}

void ClsEmail::RemoveHeaderField(const char* fieldName) {
    email_->removeHeaderField(arg(fieldName));
}

int ClsEmail::get_NumHeaderFields() const {
    return email_->header().fieldCount();
}

std::string ClsEmail::GetHeaderFieldName(int index) {
    Frame frame(m_log, "GetHeaderFieldName");
    StringBuffer out;
    email_->header().fieldName(index, out);
    return std::move(out.str());
}

std::string ClsEmail::GetHeaderFieldValue(int index) {
    Frame frame(m_log, "GetHeaderFieldValue");
    StringBuffer out;
    email_->header().fieldValue(index, out);
    return std::move(out.str());
}

std::string ClsEmail::get_Header() const {
    StringBuffer out;
    email_->header().render(out, "", email_->charset());
    return std::move(out.str());
}

// ---- MIME text and files ----

std::string ClsEmail::GetMime() {
    Frame frame(m_log, "GetMime");
    StringBuffer out;
    email_->renderMime(out, "", m_log);
    return std::move(out.str());
}

bool ClsEmail::SetFromMimeText(std::string_view mimeText) {
    Frame frame(m_log, "SetFromMimeText");
    std::unique_ptr<Email2> e = Email2::fromMime(mimeText, m_log);
    if (!e) {
        m_log.logError("Failed to create email object from MIME text");
        return false;
    }
    adoptEmail(std::move(e));
    return true;
}

bool ClsEmail::SetFromMimeText(const char* mimeText) {
    return SetFromMimeText(arg(mimeText));
}

bool ClsEmail::SetFromMimeBytes(std::span<const uint8_t> mimeBytes) {
    return SetFromMimeText(
        std::string_view(reinterpret_cast<const char*>(mimeBytes.data()), mimeBytes.size()));
}

std::string ClsEmail::GetMimeStructure() {
    Frame frame(m_log, "GetMimeStructure");
    std::string out;
    describePart(*email_, 0, out);
    return out;
}

bool ClsEmail::LoadEml(const char* emlFilename) {
    std::string_view name = arg(emlFilename);
    // A file URL names a local path; its third slash is the root of that path.
    if (sb::startsWithNoCase(name, "file:///"))
        name.remove_prefix(7);
    LogNull quiet;
    std::string bytes;
    if (!file::readWholeFile(name, bytes, &quiet)) {
        // The log stays as it was, but a program may still learn why.
        m_log.setError(quiet.error());
        return false;
    }
    FromMimeOptions options;
    options.unwrapper = unwrapper_;
    std::unique_ptr<Email2> e = Email2::fromMime(bytes, quiet, options);
    if (!e)
        return false;
    adoptEmail(std::move(e));
    return true;
}

bool ClsEmail::SaveEml(const char* fileName) {
    Frame frame(m_log, "SaveEml");
    const std::string name = trimmed(fileName);
    if (name.empty()) {
        m_log.fail(ErrorCode::BadArgument, "The filename parameter is missing");
        return false;
    }
    StringBuffer mime;
    email_->renderMime(mime, "", m_log);
    // The file keeps the mark; the e-mail no longer counts as unsent once it is saved.
    email_->removeHeaderField("X-Unsent");
    if (!file::writeWholeFile(name, mime.view(), &m_log)) {
        m_log.fail(ErrorCode::Io, "Failed to write EML file.");
        return false;
    }
    return true;
}

// ---- other properties ----

std::string ClsEmail::get_Charset() {
    email_->resolveCharset();
    return email_->charset().getName();
}

void ClsEmail::put_Charset(const char* name) {
    const std::string_view n = arg(name);
    email_->setHtmlCharset(n);
    email_->setPlainTextCharset(n);
    Charset cs;
    (void)cs.setByName(n);
    email_->setCharset(cs);
}

double ClsEmail::get_EmailDate() const {
    double d = 0;
    return DateParser::toOleDate(email_->date(), d) ? d : 0;
}

double ClsEmail::get_LocalDate() const {
    SystemTime local;
    double d = 0;
    if (!DateParser::utcToLocal(email_->date(), local))
        return 0;
    return DateParser::toOleDate(local, d) ? d : 0;
}

long ClsEmail::get_Size() const {
    return static_cast<long>(email_->size());
}

bool ClsEmail::get_ReturnReceipt() const {
    return fieldValue(*email_, "NVX-ReturnReceipt") == "YES";
}

void ClsEmail::put_ReturnReceipt(bool on) {
    if (on)
        email_->setHeaderField("NVX-ReturnReceipt", "YES");
    else
        email_->removeHeaderField("NVX-ReturnReceipt");
}

std::string ClsEmail::get_FileDistList() const {
    return fieldValue(*email_, "NVX-FileDistList");
}

void ClsEmail::put_FileDistList(const char* value) {
    email_->setHeaderField("NVX-FileDistList", arg(value));
}

} // namespace norvane
