#include "facade/ClsBase.h"

#include "charset/CharsetRegistration.h"
#include "common/StringBuffer.h"

namespace norvane {

ClsBase::ClsBase() {
    registerCharsetConverter();
}

std::string ClsBase::get_LastErrorText() const {
    StringBuffer sb;
    m_log.getLastErrorText(sb);
    sb.toCRLF();
    return std::move(sb.str());
}

std::string ClsBase::get_LastErrorXml() const {
    StringBuffer sb;
    m_log.getLastErrorXml(sb);
    sb.toCRLF();
    return std::move(sb.str());
}

std::string ClsBase::get_LastErrorHtml() const {
    StringBuffer sb;
    m_log.getLastErrorHtml(sb);
    sb.toCRLF();
    return std::move(sb.str());
}

bool ClsBase::SaveLastError(const char* fileName) const {
    if (!fileName)
        return false;
    std::string name(sb::trimView(fileName));
    if (name.empty())
        return false;
    return m_log.saveLastErrorXml(name.c_str());
}

} // namespace norvane
