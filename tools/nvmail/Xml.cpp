// nvmail to-xml / from-xml: an .eml file to the XML form of the e-mail and back.

#include "Commands.h"

#include "norvane/Email.h"

namespace nvmail {

namespace {

// What an XML file of an e-mail starts with.
constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" ?>\n";

} // namespace

int toXml(const Parsed& p) {
    const std::string& in = p.operands[0];
    std::vector<uint8_t> mime;
    if (!readInput(in, mime))
        return kFailed;
    norvane::Email email;
    (void)email.SetFromMimeBytes(mime);
    release(mime);
    std::string log = email.get_LastErrorText();
    const std::string xml = email.GetXml();
    printLogIfWanted(p, log + email.get_LastErrorText());
    // A declaration alone is no XML document, and nothing could read it back.
    if (xml.empty()) {
        error("no e-mail in " + in + ": no header fields and no body");
        return kFailed;
    }
    return writeOutput(p.operands.size() > 1 ? p.operands[1] : "", std::string(kDeclaration) + xml)
               ? kOk
               : kFailed;
}

int fromXml(const Parsed& p) {
    const std::string& in = p.operands[0];
    std::string xml;
    if (!readInput(in, xml))
        return kFailed;
    release(xml);
    norvane::Email email;
    // From the file, so that a body holding NUL bytes is read whole. Reading the XML form keeps
    // no log to take a more precise reason from.
    if (!email.LoadXml(in.c_str())) {
        error("no e-mail in " + in + ": not the XML form of an e-mail");
        return kFailed;
    }
    const std::string mime = email.GetMime();
    printLogIfWanted(p, email.get_LastErrorText());
    return writeOutput(p.operands.size() > 1 ? p.operands[1] : "", mime) ? kOk : kFailed;
}

} // namespace nvmail
