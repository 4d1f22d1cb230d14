#pragma once

// Decoding of uuencoded bodies (the "begin <mode> <name>" ... "`" ... "end" form that older
// mailers send as Content-Transfer-Encoding x-uuencode or inline in text).

#include "common/DataBuffer.h"

#include <string>
#include <string_view>

namespace norvane {

class Uu {
public:
    // Decodes the first "begin" block of text and appends its bytes to out. False when no line
    // begins with "begin " or that line has no octal mode and name; out is then unchanged.
    // Data lines shorter than their length byte announces decode as if padded with zero bits
    // (mail transports strip the trailing spaces of such lines). The file name is kept as
    // written: callers that use it as a path must sanitise it.
    [[nodiscard]] bool uuDecode(std::string_view text, DataBuffer& out);

    // The name from the "begin" line of the last successful decoding.
    [[nodiscard]] const std::string& fileName() const { return fileName_; }

private:
    std::string fileName_;
};

} // namespace norvane
