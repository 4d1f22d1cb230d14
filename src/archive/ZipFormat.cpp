#include "archive/ZipFormat.h"

#include "charset/EncodingUtf8.h"

namespace norvane::zip {

DosTime toDosTime(const std::tm& local) {
    DosTime d;
    int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107)
        return d;
    d.time =
        static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    d.date =
        static_cast<uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    return d;
}

bool isUtf8(std::string_view s) {
    return EncodingUtf8::isValid(s);
}

} // namespace norvane::zip
