#pragma once

// Bounds the MIME parser keeps so that a hostile message cannot exhaust the stack or the heap.
// Everything beyond a bound is kept, not dropped: it stays in an unsplit (opaque) body.

#include <cstddef>

namespace norvane {

struct MimeParseLimits {
    // Multipart levels that are split into child nodes. The parser recurses once per level, so
    // this bounds its stack; real mail rarely goes beyond 5 levels. A multipart deeper than this
    // keeps its whole body, boundaries included, as an opaque body.
    size_t maxDepth = 100;
    // Nodes one parse may create. Every node costs several hundred bytes on the heap however small
    // its text, so this bounds memory for messages made of many tiny parts. When it is reached,
    // the rest of the multipart body being split becomes one last child that is not split further.
    size_t maxParts = 10000;
};

} // namespace norvane
