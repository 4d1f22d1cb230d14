// Converts arbitrary bytes between two code pages chosen by the first two input bytes, then
// back again. Any output labelled UTF-8 must be well-formed UTF-8.
#include "charset/CodePageTable.h"
#include "charset/EncodingConvert.h"
#include "charset/EncodingUtf8.h"

#include <cstdlib>
#include <vector>

using namespace norvane;

namespace {

const std::vector<int>& codePages() {
    static const std::vector<int> cps = [] {
        std::vector<int> v = CodePageTable::tableCodePages();
        for (int cp : {1200, 1201, 65000, 65001, 65005, 65006, 50220, 50221, 50222, 50225, 50000})
            v.push_back(cp);
        return v;
    }();
    return cps;
}

void requireUtf8(std::string_view s) {
    auto p = reinterpret_cast<const uint8_t*>(s.data());
    auto end = p + s.size();
    while (p < end) {
        char32_t cp;
        p += EncodingUtf8::decode(p, end, cp);
        if (cp == EncodingUtf8::kInvalid)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const auto& cps = codePages();
    int from = cps[data[0] % cps.size()];
    int to = cps[data[1] % cps.size()];
    std::string_view in(reinterpret_cast<const char*>(data + 2), size - 2);
    EncodingConvert ec;
    std::string out, back, utf8;
    (void)ec.convert(from, to, in, out);
    (void)ec.convert(to, from, out, back);
    (void)ec.convert(from, 65001, in, utf8);
    if (from != 65001)
        requireUtf8(utf8);
    return 0;
}
