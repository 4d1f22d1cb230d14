// nvmail: the command-line face of the library.
#include "Commands.h"

#include "common/Logger.h"
#include "common/Platform.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: nvmail <command> [args]\n"
                 "  compose [options]          build an e-mail (nvmail compose --help)\n"
                 "  show [--log] FILE.eml      the header, structure, text and attachments\n"
                 "                             (--log: then the activity log of the load)\n"
                 "  extract FILE.eml DIR       save the attachments into DIR\n"
                 "  to-xml FILE.eml [OUT.xml]  the e-mail in its XML form\n"
                 "  from-xml FILE.xml [OUT.eml] the e-mail of an XML form as MIME\n"
                 "  zip-attachments IN OUT [ZIPNAME]\n"
                 "                             replace the attachments by one zip file\n"
                 "  unzip-attachments IN OUT   replace attached zip files by their contents\n"
                 "  uuid                       print a new UUID\n"
                 "  log-demo                   show an activity log as text and XML\n");
    return 2;
}

int logDemo() {
    norvane::Logger log;
    log.enterContext("SendEmail");
    log.logData("certificate_store", "My");
    log.logError("Failed to find certificate for digital signature");
    log.leaveContext();
    norvane::StringBuffer text, xml;
    log.getLastErrorText(text);
    log.getLastErrorXml(xml);
    std::printf("-- text --\n%s-- xml --\n%s", text.getString(), xml.getString());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    const nvmail::Args args(argv + 2, argv + argc);
    if (command == "uuid") {
        std::printf("%s\n", norvane::platform::newUuidString().c_str());
        return 0;
    }
    if (command == "log-demo")
        return logDemo();
    if (command == "compose")
        return nvmail::compose(args);
    if (command == "show")
        return nvmail::show(args);
    if (command == "extract")
        return nvmail::extract(args);
    if (command == "to-xml")
        return nvmail::toXml(args);
    if (command == "from-xml")
        return nvmail::fromXml(args);
    if (command == "zip-attachments")
        return nvmail::zipAttachments(args);
    if (command == "unzip-attachments")
        return nvmail::unzipAttachments(args);
    return usage();
}
