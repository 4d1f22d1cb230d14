// The e-mail object's views for other programs (a temporary MHT file for a browser, the
// domains its bodies link to) and the members that pack and unpack its attachments.

#include "facade/ClsEmail.h"

#include "archive/AttachmentArchive.h"
#include "email/Email2.h"
#include "email/EmailHtml.h"
#include "facade/ClsStringArray.h"
#include "facade/FacadeText.h"

#include <vector>

namespace norvane {

using facade_text::trimmed;

std::string ClsEmail::CreateTempMht(const char* inFilename) {
    Frame frame(m_log, "CreateTempMht");
    return email_html::writeTempMht(*email_, trimmed(inFilename), m_log);
}

std::unique_ptr<ClsStringArray> ClsEmail::GetLinkedDomains() const {
    std::vector<std::string> found;
    email_html::linkedDomainsOf(*email_, found);
    auto list = std::make_unique<ClsStringArray>();
    list->setUnique(true);
    for (const std::string& s : found)
        list->append(std::string_view(s));
    return list;
}

void ClsEmail::AesEncrypt(const char* /*password*/) {
    Frame frame(m_log, "AesEncryptBody");
}

void ClsEmail::AesDecrypt(const char* /*password*/) {
    Frame frame(m_log, "AesDecryptBody");
}

void ClsEmail::ZipAttachments(const char* zipFilename) {
    // The archive code opens the "ZipAttachments" context itself.
    m_log.clearLog();
    // The member has no result; the outcome is in the log.
    (void)attachment_archive::zipAttachments(email_.get(), facade_text::arg(zipFilename), m_log);
}

bool ClsEmail::UnzipAttachments() {
    m_log.clearLog();
    return attachment_archive::unzipAttachments(*email_, m_log);
}

} // namespace norvane
