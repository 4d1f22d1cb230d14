// nvmail to-xml / from-xml: an .eml file to the XML form of the e-mail and back.

#include "Commands.h"

#include "common/FileAccess.h"
#include "common/Logger.h"
#include "mime/Email2.h"
#include "mime/EmailXml.h"

#include <cstdio>

namespace nvmail {

namespace {

bool writeResult(const char* command, const std::string& path, std::string_view data) {
    if (path.empty() || path == "-")
        return std::fwrite(data.data(), 1, data.size(), stdout) == data.size() &&
               std::fflush(stdout) == 0;
    norvane::Logger log;
    if (norvane::file::writeWholeFile(path, data, &log))
        return true;
    norvane::StringBuffer text;
    log.getLastErrorText(text);
    std::fprintf(stderr, "nvmail %s: cannot write %s\n%s", command, path.c_str(), text.getString());
    return false;
}

} // namespace

int toXml(const Args& args) {
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr, "usage: nvmail to-xml FILE.eml [OUT.xml]\n");
        return 2;
    }
    std::string mime;
    if (!readInput(args[0], mime))
        return 1;
    norvane::LogNull log;
    auto email = norvane::Email2::fromMime(mime, log);
    std::string xml(norvane::EmailXml::kDeclaration);
    norvane::EmailXml::emailToXml(*email, xml, log);
    return writeResult("to-xml", args.size() > 1 ? args[1] : "", xml) ? 0 : 1;
}

int fromXml(const Args& args) {
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr, "usage: nvmail from-xml FILE.xml [OUT.eml]\n");
        return 2;
    }
    std::string xml;
    if (!readInput(args[0], xml))
        return 1;
    norvane::Logger log;
    auto email = norvane::EmailXml::emailFromXml(xml, log);
    if (!email) {
        norvane::StringBuffer text;
        log.getLastErrorText(text);
        std::fprintf(stderr, "nvmail from-xml: no e-mail in %s\n%s", args[0].c_str(),
                     text.getString());
        return 1;
    }
    norvane::StringBuffer mime;
    email->renderMime(mime, "", log);
    return writeResult("from-xml", args.size() > 1 ? args[1] : "", mime.view()) ? 0 : 1;
}

} // namespace nvmail
