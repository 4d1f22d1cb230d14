// Text the transport layer reshapes: message framing for DATA, address lists, POP3 message
// text. Checks the framing invariant: no line of the framed text is a lone ".".

#include "transport/PopConnImpl.h"
#include "transport/SmtpWire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string framed = norvane::smtp::frameData(text);
    if (framed.starts_with(".\r\n") || framed.find("\r\n.\r\n") != std::string::npos)
        std::abort();
    for (size_t i = 0; i < framed.size(); ++i)
        if ((framed[i] == '\n' && (i == 0 || framed[i - 1] != '\r')) ||
            (framed[i] == '\r' && (i + 1 == framed.size() || framed[i + 1] != '\n')))
            std::abort();
    (void)norvane::smtp::bareAddresses(text);
    (void)norvane::PopConnImpl::messageText(text);
    return 0;
}
