// nvmail to-xml / from-xml: an .eml file to the XML form of the e-mail and back.

#include "Commands.h"

#include "email/Email2.h"
#include "store/EmailXml.h"

namespace nvmail {

int toXml(const Parsed& p) {
    const std::string& in = p.operands[0];
    std::string text;
    if (!readInput(in, text))
        return kFailed;
    ToolLog log;
    auto email = norvane::Email2::fromMime(text, log);
    release(text);
    std::string xml(norvane::EmailXml::kDeclaration);
    const size_t declaration = xml.size();
    norvane::EmailXml::emailToXml(*email, xml, log);
    log.printIfWanted(p);
    // A declaration alone is no XML document, and nothing could read it back.
    if (xml.size() == declaration) {
        error("no e-mail in " + in + ": no header fields and no body");
        return kFailed;
    }
    return writeOutput(p.operands.size() > 1 ? p.operands[1] : "", xml) ? kOk : kFailed;
}

int fromXml(const Parsed& p) {
    const std::string& in = p.operands[0];
    std::string xml;
    if (!readInput(in, xml))
        return kFailed;
    ToolLog log;
    auto email = norvane::EmailXml::emailFromXml(xml, log);
    release(xml);
    log.printIfWanted(p);
    if (!email) {
        error("no e-mail in " + in + ": " + log.reason("no <mime_message> element"));
        return kFailed;
    }
    norvane::StringBuffer mime;
    email->renderMime(mime, "", log);
    email.reset();
    return writeOutput(p.operands.size() > 1 ? p.operands[1] : "", mime.view()) ? kOk : kFailed;
}

} // namespace nvmail
