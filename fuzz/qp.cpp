// Quoted-printable: any text decodes safely; any bytes encode to short 7-bit lines that decode
// back to the same bytes.
#include "charset/ContentCoding.h"

#include <cstdlib>

using norvane::ContentCoding;
using norvane::DataBuffer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    DataBuffer decoded;
    ContentCoding::qpDecode(text, decoded);
    // Decoding never adds more than the CR of each line break.
    if (decoded.getSize() > 2 * size)
        std::abort();

    std::string enc;
    ContentCoding::qpEncode(std::span<const uint8_t>(data, size), enc);
    size_t lineStart = 0;
    for (size_t i = 0; i < enc.size(); ++i) {
        auto c = static_cast<unsigned char>(enc[i]);
        if (c >= 0x7F || (c < 0x20 && c != '\t' && c != '\r' && c != '\n'))
            std::abort();
        if (c == '\n') {
            if (i - lineStart > 77)
                std::abort();
            lineStart = i + 1;
        }
    }
    DataBuffer back;
    ContentCoding::qpDecode(enc, back);
    if (back.view() != text)
        std::abort();
    return 0;
}
