// nvmail: the command-line face of the library.
#include "common/Logger.h"
#include "common/Platform.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: nvmail <command> [args]\n"
                         "  uuid          print a new UUID\n"
                         "  log-demo      show an activity log as text and XML\n");
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
    if (std::strcmp(argv[1], "uuid") == 0) {
        std::printf("%s\n", norvane::platform::newUuidString().c_str());
        return 0;
    }
    if (std::strcmp(argv[1], "log-demo") == 0)
        return logDemo();
    return usage();
}
