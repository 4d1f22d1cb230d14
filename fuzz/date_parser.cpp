// Date parsing: any text parses safely; a parsed date is a valid calendar time that survives the
// trip through an automation date.
#include "charset/DateParser.h"

#include <cstdlib>

using norvane::DateParser;
using norvane::SystemTime;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    SystemTime t;
    if (!DateParser::parseDate(text, t))
        return 0;
    double ole = 0;
    if (!DateParser::toOleDate(t, ole))
        std::abort();
    SystemTime back;
    DateParser::fromOleDate(ole, back);
    if (!(back == t))
        std::abort();
    return 0;
}
