#pragma once

// Expected activity logs of the public objects, in the XML form LastErrorXml hands out.

#include "facade/ClsEmail.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// An e-mail object holding the given MIME text.
inline std::unique_ptr<ClsEmail> fromMime(const std::string& mime) {
    auto e = std::make_unique<ClsEmail>();
    EXPECT_TRUE(e->SetFromMimeText(mime.c_str()));
    return e;
}

} // namespace norvane::test
