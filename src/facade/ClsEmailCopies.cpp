// New e-mails made from this one (clone, reply, forward) and the mail-merge replace patterns
// that the mail manager applies when it sends.

#include "facade/ClsEmail.h"

#include "email/Email2.h"
#include "email/ReplacePatterns.h"
#include "facade/FacadeText.h"

namespace norvane {

using facade_text::arg;

std::unique_ptr<ClsEmail> ClsEmail::Clone() {
    Frame frame(m_log, "Clone");
    if (!email_) {
        m_log.logError("No email object!");
        return nullptr;
    }
    std::unique_ptr<Email2> copy = email_->clone(m_log);
    if (!copy) {
        m_log.logError("Clone failed!");
        return nullptr;
    }
    return std::make_unique<ClsEmail>(std::move(copy));
}

std::unique_ptr<ClsEmail> ClsEmail::CreateReply() {
    Frame frame(m_log, "CreateReply");
    std::unique_ptr<Email2> copy = email_->clone(m_log);
    if (!copy) {
        m_log.logError("Clone failed!");
        return nullptr;
    }
    copy->makeReply();
    return std::make_unique<ClsEmail>(std::move(copy));
}

std::unique_ptr<ClsEmail> ClsEmail::CreateForward() {
    Frame frame(m_log, "CreateForward");
    std::unique_ptr<Email2> copy = email_->clone(m_log);
    if (!copy) {
        m_log.logError("Clone failed!");
        return nullptr;
    }
    copy->makeForward();
    return std::make_unique<ClsEmail>(std::move(copy));
}

bool ClsEmail::SetReplacePattern(const char* pattern, const char* replaceString) {
    Frame frame(m_log, "SetReplacePattern");
    const std::string_view p = arg(pattern);
    if (p.empty()) {
        m_log.fail(ErrorCode::BadArgument, "Pattern is empty");
        return false;
    }
    m_log.logData("pattern", p);
    m_log.logData("replace_string", arg(replaceString));
    return replace_patterns::setPattern(replacePatterns_, p, arg(replaceString));
}

int ClsEmail::get_NumReplacePatterns() const {
    return static_cast<int>(replacePatterns_.getSize());
}

namespace {

const StringPair* pairAt(const ExtPtrArray<StringPair>& pairs, int index) {
    return index < 0 ? nullptr : pairs.elementAt(static_cast<size_t>(index));
}

} // namespace

std::string ClsEmail::GetReplacePattern(int index) {
    Frame frame(m_log, "GetReplacePattern");
    const StringPair* p = pairAt(replacePatterns_, index);
    if (!p) {
        m_log.logError("No pattern at the specified index");
        m_log.logDataLong("index", index);
        return {};
    }
    return p->name;
}

std::string ClsEmail::GetReplaceString(int index) {
    Frame frame(m_log, "GetReplaceString");
    const StringPair* p = pairAt(replacePatterns_, index);
    if (!p) {
        m_log.logError("No replace string found at index " + std::to_string(index));
        return {};
    }
    return p->value;
}

std::string ClsEmail::GetReplaceString2(const char* pattern) {
    Frame frame(m_log, "GetReplaceString2");
    const std::string_view p = arg(pattern);
    if (p.empty()) {
        m_log.fail(ErrorCode::BadArgument, "Pattern is empty");
        return {};
    }
    const StringPair* pair = replace_patterns::findPattern(replacePatterns_, p);
    if (!pair) {
        m_log.fail(ErrorCode::NotFound, "Pattern not found");
        m_log.logData("pattern", p);
        return {};
    }
    return pair->value;
}

std::unique_ptr<Email2> ClsEmail::copyForSending(LogBase& log) const {
    return replace_patterns::copyForSending(*email_, replacePatterns_, log);
}

} // namespace norvane
