// MIME parse-then-render: any byte string parses to some tree, renders, and the rendering parses
// and renders again, all without a crash, a leak or undefined behaviour.

#include "common/LogBase.h"
#include "mime/MimeMessage2.h"

#include <cstdint>
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
    return 0;
}
