#include "facade/ClsEmailBundle.h"

#include "common/FileAccess.h"
#include "email/Email2.h"
#include "facade/ClsStringArray.h"
#include "facade/FacadeText.h"
#include "store/EmailXml.h"
#include "store/MailBundle.h"

namespace norvane {

ClsEmailBundle::~ClsEmailBundle() = default;

ClsEmail* ClsEmailBundle::emailAt(int index) const {
    return index < 0 ? nullptr : emails_.elementAt(static_cast<size_t>(index));
}

bool ClsEmailBundle::AddEmail(ClsEmail* email) {
    Frame frame(m_log, "AddEmail");
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "No Email was provided");
        return false;
    }
    std::unique_ptr<ClsEmail> copy = email->Clone();
    if (!copy) {
        m_log.logError("Failed to copy the email");
        return false;
    }
    emails_.appendObject(std::move(copy));
    return true;
}

std::unique_ptr<ClsEmail> ClsEmailBundle::GetEmail(int index) const {
    const ClsEmail* e = emailAt(index);
    if (!e)
        return nullptr;
    LogNull quiet;
    std::unique_ptr<Email2> copy = e->email2().clone(quiet);
    if (!copy)
        return nullptr;
    return std::make_unique<ClsEmail>(std::move(copy));
}

bool ClsEmailBundle::RemoveEmail(ClsEmail* email) {
    Frame frame(m_log, "RemoveEmail");
    if (!email) {
        m_log.fail(ErrorCode::BadArgument, "No Email was provided");
        return false;
    }
    const std::string uidl = email->get_Uidl();
    if (!uidl.empty()) {
        for (size_t i = 0; i < emails_.getSize(); ++i) {
            if (emails_.elementAt(i)->get_Uidl() == uidl) {
                (void)emails_.removeAt(i);
                return true;
            }
        }
    }
    const std::string messageId = email->GetHeaderField("message-id");
    if (messageId.empty())
        return false;
    for (size_t i = 0; i < emails_.getSize(); ++i) {
        if (emails_.elementAt(i)->GetHeaderField("message-id") == messageId) {
            (void)emails_.removeAt(i);
            return true;
        }
    }
    return false;
}

bool ClsEmailBundle::RemoveEmailByIndex(int index) {
    Frame frame(m_log, "RemoveEmailByIndex");
    if (index < 0 || !emails_.removeAt(static_cast<size_t>(index))) {
        m_log.logError("Email bundle index out of range.");
        return false;
    }
    return true;
}

// ---- XML ----

void ClsEmailBundle::appendXml(std::string& xml) {
    xml.append("<email_bundle>\n");
    for (size_t i = emails_.getSize(); i > 0; --i)
        xml.append(emails_.elementAt(i - 1)->GetXml());
    xml.append("</email_bundle>\n");
}

std::string ClsEmailBundle::GetXml() {
    Frame frame(m_log, "GetXml");
    std::string xml;
    appendXml(xml);
    return xml;
}

bool ClsEmailBundle::SaveXml(const char* fileName) {
    Frame frame(m_log, "SaveXmlBundle");
    std::string xml(EmailXml::kDeclaration);
    appendXml(xml);
    const std::string_view name = facade_text::arg(fileName);
    if (!file::writeWholeFile(name, xml, &m_log)) {
        m_log.logError("Failed to write XML file");
        m_log.logData("filename", name);
        return false;
    }
    return true;
}

bool ClsEmailBundle::LoadXml(const char* fileName) {
    Frame frame(m_log, "LoadXml");
    std::string xml;
    if (!file::readWholeFile(facade_text::arg(fileName), xml, &m_log))
        return false;
    return loadXmlText(xml);
}

bool ClsEmailBundle::LoadXmlString(const char* str) {
    return LoadXmlString(facade_text::arg(str));
}

bool ClsEmailBundle::LoadXmlString(std::string_view str) {
    Frame frame(m_log, "LoadXmlString");
    return loadXmlText(str);
}

bool ClsEmailBundle::loadXmlText(std::string_view xml) {
    MailBundle parsed;
    if (!parsed.loadXml(xml, m_log))
        return false;
    appendAllOf(parsed);
    return true;
}

void ClsEmailBundle::appendAllOf(MailBundle& bundle) {
    bundle.transferAll([this](std::unique_ptr<Email2> email) {
        emails_.appendObject(std::make_unique<ClsEmail>(std::move(email)));
    });
}

// ---- lists and order ----

std::unique_ptr<ClsStringArray> ClsEmailBundle::GetUidls() {
    Frame frame(m_log, "GetUidls");
    auto uidls = std::make_unique<ClsStringArray>();
    for (const auto& e : emails_) {
        const std::string uidl = e->get_Uidl();
        if (!uidl.empty())
            uidls->append(std::string_view(uidl));
    }
    return uidls;
}

void ClsEmailBundle::sortBy(MailSortKey key, bool ascending) {
    MailSort::sort(emails_.items(), key, ascending, [](const ClsEmail& e) { return &e.email2(); });
}

void ClsEmailBundle::SortBySubject(bool ascending) {
    sortBy(MailSortKey::Subject, ascending);
}

void ClsEmailBundle::SortBySender(bool ascending) {
    sortBy(MailSortKey::Sender, ascending);
}

void ClsEmailBundle::SortByDate(bool ascending) {
    sortBy(MailSortKey::Date, ascending);
}

void ClsEmailBundle::SortByRecipient(bool ascending) {
    // The recipient key is what GetTo(0) answers; asking each e-mail leaves that member in its
    // log, as callers of the e-mail objects see it.
    for (const auto& e : emails_)
        (void)e->GetTo(0);
    sortBy(MailSortKey::Recipient, ascending);
}

// ---- for in-process peers ----

bool ClsEmailBundle::injectEmail(std::unique_ptr<ClsEmail> email) {
    m_log.clearLog();
    if (!email)
        return false;
    emails_.appendObject(std::move(email));
    return true;
}

void ClsEmailBundle::transferFrom(MailBundle& bundle) {
    m_log.clearLog();
    appendAllOf(bundle);
}

} // namespace norvane
