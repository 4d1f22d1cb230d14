// The public mail manager's mailbox-file member.

#include "charset/DateParser.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsMailMan.h"

namespace norvane {

std::unique_ptr<ClsEmailBundle> ClsMailMan::LoadMbx(const char* mbxFileName) {
    Frame frame(m_log, "LoadMbx");
    std::unique_ptr<MailBundle> loaded =
        mailMan_.loadMbx(mbxFileName ? std::string_view(mbxFileName) : std::string_view(), m_log);
    if (resetDateOnLoad_) {
        std::string now;
        DateParser::formatNow(now);
        for (int i = 0; i < loaded->count(); ++i)
            loaded->get(i)->setDate(now);
    }
    // Taken from the last e-mail to the first, each with its transfer encodings made ready for
    // sending: the last message of the file comes first.
    auto bundle = std::make_unique<ClsEmailBundle>();
    bundle->transferFrom(*loaded);
    return bundle;
}

} // namespace norvane
