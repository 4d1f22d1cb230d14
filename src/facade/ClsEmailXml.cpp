// The e-mail object's XML form (text, files) and its exchange with MIME objects.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "email/Email2.h"
#include "facade/ClsMime.h"
#include "facade/FacadeText.h"
#include "store/EmailXml.h"

namespace norvane {

using facade_text::arg;
using facade_text::trimmed;

std::string ClsEmail::GetXml() {
    Frame frame(m_log, "GetXml");
    std::string xml;
    EmailXml::emailToXml(*email_, xml, m_log);
    return xml;
}

bool ClsEmail::SaveXml(const char* fileName) {
    Frame frame(m_log, "SaveXml");
    const std::string name = trimmed(fileName);
    if (name.empty()) {
        m_log.fail(ErrorCode::BadArgument, "The filename parameter is missing");
        return false;
    }
    std::string xml(EmailXml::kDeclaration);
    EmailXml::emailToXml(*email_, xml, m_log);
    sb::replaceAll(xml, "\r\n", "\n");
    return file::writeWholeFile(name, xml, &m_log);
}

bool ClsEmail::LoadXml(const char* xmlFilename) {
    LogNull quiet;
    std::string xml;
    if (!file::readWholeFile(arg(xmlFilename), xml, &quiet))
        return false;
    return SetFromXmlText(std::string_view(xml));
}

bool ClsEmail::SetFromXmlText(const char* xmlText) {
    return SetFromXmlText(arg(xmlText));
}

bool ClsEmail::SetFromXmlText(std::string_view xmlText) {
    LogNull quiet;
    EmailXmlOptions options;
    options.fromMime.unwrapper = unwrapper_;
    std::unique_ptr<Email2> e = EmailXml::emailFromXml(xmlText, quiet, options);
    if (!e)
        return false;
    adoptEmail(std::move(e));
    return true;
}

std::unique_ptr<ClsMime> ClsEmail::GetMimeObject() {
    auto mime = std::make_unique<ClsMime>();
    (void)mime->LoadMime(std::string_view(GetMime()));
    return mime;
}

bool ClsEmail::SetFromMimeObject(const ClsMime* mime) {
    // Callers must pass an object; a missing one is refused rather than read.
    if (!mime)
        return false;
    return SetFromMimeText(std::string_view(mime->GetMime()));
}

} // namespace norvane
