#pragma once

// Marks what the shared library exports; everything else in it is built hidden.

#if defined(__GNUC__) || defined(__clang__)
#define NORVANE_API __attribute__((visibility("default")))
#else
#define NORVANE_API
#endif
