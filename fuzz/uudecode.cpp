// uudecode: any text decodes safely, and output stays within what the data lines can announce.
#include "charset/Uu.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    norvane::Uu uu;
    norvane::DataBuffer out;
    bool ok = uu.uuDecode(text, out);
    if (!ok && !out.isEmpty())
        std::abort();
    // At most 63 bytes per data line, and a data line takes at least two input bytes.
    if (out.getSize() > 32 * size)
        std::abort();
    return 0;
}
