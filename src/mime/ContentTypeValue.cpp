#include "mime/ContentTypeValue.h"

#include "common/StringBuffer.h"

namespace norvane {

std::string composeContentType(const ContentTypeValue& v) {
    std::string out(v.type);
    if (!v.charset.empty())
        out.append("; charset=\"").append(v.charset).append("\";");
    else
        out += ';';
    auto param = [&out](std::string_view value, const char* prefix, const char* suffix) {
        if (!value.empty())
            out.append(prefix).append(value).append(suffix);
    };
    param(v.typeParam, " type=\"", "\";");
    param(v.boundary, "\r\n\tboundary=\"", "\";");
    param(v.name, "\r\n\tname=\"", "\";");
    param(v.protocol, "\r\n\tprotocol=\"", "\";");
    param(v.micalg, "\r\n\tmicalg=", ";");
    param(v.smimeType, "\r\n\tsmime-type=", ";");
    if (v.formatFlowed && sb::equalsNoCase(v.type, "text/plain"))
        out += "\r\n\tformat=flowed;";
    sb::trim(out);
    if (!out.empty() && out.back() == ';') {
        out.pop_back();
        sb::trim(out);
    }
    return out;
}

} // namespace norvane
