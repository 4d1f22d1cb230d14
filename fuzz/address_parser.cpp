// Address parsing: any header value parses safely, and nothing parsed or built from any text
// renders a line break or puts a control byte or space into an address.
#include "mime/Rfc822Address.h"

#include <cstdlib>

using norvane::ExtPtrArray;
using norvane::Rfc822Address;

namespace {
void check(const Rfc822Address& a) {
    std::string raw;
    a.renderRaw(raw);
    if (raw.find_first_of("\r\n") != std::string::npos)
        std::abort();
    for (char c : a.getAddress())
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F)
            std::abort();
    std::string xml;
    a.toXml(xml);
    (void)a.getName();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ExtPtrArray<Rfc822Address> list;
    int count = Rfc822Address::parseAddressList(text, list);
    if (count < static_cast<int>(list.getSize()))
        std::abort();
    for (const auto& a : list)
        check(*a);
    if (auto one = Rfc822Address::parseAddress(text))
        check(*one);
    size_t cut = text.find('|');
    if (cut != std::string_view::npos) {
        Rfc822Address built(text.substr(0, cut), text.substr(cut + 1));
        check(built);
    }
    return 0;
}
