#pragma once

// Built-in code page tables, written by tools/codepages/gen_codepages.py. Each table is one text
// constant split into pieces (the list ends with a null pointer): 'x' then base64 of the table
// as is, or 'z' then base64 of an 8-byte header ("NVCT", unpacked length as 32-bit little
// endian) and a bzip2 stream.

#include <cstddef>

namespace norvane {

struct CodePageBlob {
    int codePage;
    const char* const* pieces;
};

// Sorted by code page.
extern const CodePageBlob kCodePageBlobs[];
extern const size_t kCodePageBlobCount;

} // namespace norvane
