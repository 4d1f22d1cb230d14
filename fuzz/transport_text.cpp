// Text the transport layer reshapes: message framing for DATA, address lists, POP3 message
// text. Checks the framing invariant: after the CR LF that ends the DATA command, the framed
// text and its end line hold one line of a lone ".", the last.

#include "transport/PopConnImpl.h"
#include "transport/SmtpWire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string framed = norvane::smtp::frameData(text);
    std::string wire = "\r\n" + framed + std::string(norvane::smtp::endOfData(framed));
    if (wire.find("\r\n.\r\n") != wire.size() - 5)
        std::abort();
    for (size_t i = 0; i < framed.size(); ++i)
        if ((framed[i] == '\n' && (i == 0 || framed[i - 1] != '\r')) ||
            (framed[i] == '\r' && (i + 1 == framed.size() || framed[i + 1] != '\n')))
            std::abort();
    (void)norvane::smtp::bareAddresses(text);
    (void)norvane::PopConnImpl::messageText(text);
    return 0;
}
