#pragma once

// The MIME object handed out by ClsEmail::GetMimeObject and read by SetFromMimeObject: an
// in-process holder of one message's MIME text. Its text is the whole contract between the two
// objects; it is not parsed here.

#include "facade/ClsBase.h"

#include <string>
#include <string_view>

namespace norvane {

class ClsMime : public ClsBase {
public:
    ClsMime() = default;

    // Replaces the held text; a null text is refused (false, nothing changed).
    bool LoadMime(const char* mimeText);
    bool LoadMime(std::string_view mimeText);
    // The held text; empty for a new object.
    [[nodiscard]] std::string GetMime() const { return mime_; }

private:
    std::string mime_;
};

} // namespace norvane
