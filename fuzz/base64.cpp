// base64: decoding never fails unsafely, strict and lenient decoding agree on clean text, and
// both encoders round-trip through the strict decoder.
#include "charset/ContentCoding.h"

#include <cstdlib>

using norvane::ContentCoding;
using norvane::DataBuffer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    DataBuffer strict;
    DataBuffer lenient;
    bool ok = ContentCoding::base64DecodeStrict(text, strict);
    ContentCoding::base64Decode(text, lenient);
    if (ok && !(strict == lenient))
        std::abort();
    if (!ok && !strict.isEmpty())
        std::abort();

    std::span<const uint8_t> bytes(data, size);
    std::string flat;
    std::string lined;
    ContentCoding::base64Encode(bytes, flat);
    ContentCoding::base64EncodeLines(bytes, lined);
    DataBuffer back;
    if (!ContentCoding::base64DecodeStrict(flat, back) || back.view() != text)
        std::abort();
    back.clear();
    if (!ContentCoding::base64DecodeStrict(lined, back) || back.view() != text)
        std::abort();
    return 0;
}
