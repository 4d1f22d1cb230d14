#pragma once

// Expected activity logs of the public objects, in the XML form LastErrorXml hands out.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace norvane::test {

// A log holding one context; a context that recorded nothing leaves no trace.
inline std::string xmlOf(const std::string& context, const std::string& body) {
    if (body.empty())
        return "";
    std::string x = "<NorvaneLog>\r\n<" + context + ">\r\n" + body;
    return x + "</" + context + ">\r\n</NorvaneLog>\r\n";
}

inline std::string err(const std::string& text) {
    return "    <error>" + text + "</error>\r\n";
}

inline std::string data(const std::string& name, const std::string& value) {
    return "    <" + name + ">" + value + "</" + name + ">\r\n";
}

inline std::span<const uint8_t> bytes(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

} // namespace norvane::test
