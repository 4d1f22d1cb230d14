// MIME parse-then-render: any byte string parses to some tree, renders, and the rendering parses
// and renders again, all without a crash, a leak or undefined behaviour. Text with LF line ends
// and no CR renders as the same text with CR LF line ends does: the parser reads it in place as
// that text.

#include "common/LogBase.h"
#include "mime/MimeMessage2.h"
#include "mime/TextScan.h"

#include <cstdint>
#include <string>
#include <string_view>

using namespace norvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LogNull log;
    MimeMessage2 m;
    m.loadFromText(text, log);
    m.normalizeFileNames();
    m.decodeUuencodedBody(log);
    StringBuffer first;
    m.render(first);

    MimeMessage2 again;
    again.loadFromText(first.view(), log);
    StringBuffer second;
    again.render(second);

    if (text.find('\r') == std::string_view::npos && text.find("\n\n") != std::string_view::npos) {
        std::string crlf;
        text_scan::appendWithCrlf(text, crlf);
        MimeMessage2 c;
        c.loadFromText(crlf, log);
        c.normalizeFileNames();
        c.decodeUuencodedBody(log);
        StringBuffer third;
        c.render(third);
        if (third.view() != first.view())
            __builtin_trap();
    }
    return 0;
}
