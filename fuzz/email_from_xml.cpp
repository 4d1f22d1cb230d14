// Building e-mails and bundles from any XML text, then writing them out again as XML and MIME
// and reading that back. The XML arrives from files and peers, so none of it may crash, leak or
// hit undefined behaviour, and whatever was built must survive its own round trip.

#include "common/LogBase.h"
#include "email/Email2.h"
#include "store/EmailXml.h"
#include "store/MailBundle.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace norvane;

namespace {

EmailXmlOptions fuzzOptions() {
    EmailXmlOptions options;
    options.fromMime.limits.maxDepth = 20;
    options.fromMime.limits.maxParts = 500;
    return options;
}

void roundTrip(const Email2& e, LogBase& log, const EmailXmlOptions& options) {
    std::string xml;
    EmailXml::emailToXml(e, xml, log);
    if (xml.empty())
        return; // a message with neither header fields nor content has no form
    auto again = EmailXml::emailFromXml(xml, log, options);
    // What we wrote ourselves must always read back.
    if (!again)
        std::abort();
    StringBuffer mime;
    again->renderMime(mime, "", log);
    (void)again->attachments();
    (void)again->getBody();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LogNull log;
    const EmailXmlOptions options = fuzzOptions();
    if (auto e = EmailXml::emailFromXml(text, log, options))
        roundTrip(*e, log, options);

    MailBundle bundle;
    if (bundle.loadXml(text, log, options)) {
        std::string xml;
        bundle.toXml(xml, log);
        MailBundle again;
        (void)again.loadXml(xml, log, options);
        for (int i = 0; i < bundle.count() && i < 4; ++i)
            roundTrip(*bundle.get(i), log, options);
    }
    return 0;
}
