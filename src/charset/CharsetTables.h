#pragma once

// The two tables that join charset names and code pages; Charset is their only reader.

#include <cstddef>

namespace norvane {

struct CharsetName {
    const char* name; // normalised: lower case, '-' for '_'
    int codePage;
};

struct CharsetPreferred {
    int codePage;
    const char* name;
};

extern const CharsetName kCharsetNames[];
extern const size_t kCharsetNameCount;
extern const CharsetPreferred kPreferredNames[];
extern const size_t kPreferredNameCount;

} // namespace norvane
