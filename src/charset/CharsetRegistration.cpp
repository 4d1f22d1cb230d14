#include "charset/CharsetRegistration.h"

#include "charset/EncodingConvert.h"
#include "common/XString.h"

#include <mutex>

namespace norvane {

namespace {

// XString expects the result to replace out, while the engine appends.
bool convertReplacing(int fromCp, int toCp, std::string_view in, std::string& out) {
    out.clear();
    EncodingConvert ec;
    return ec.convert(fromCp, toCp, in, out);
}

} // namespace

void registerCharsetConverter() {
    static std::once_flag once;
    std::call_once(once, [] { setCodePageConverter(&convertReplacing); });
}

} // namespace norvane
