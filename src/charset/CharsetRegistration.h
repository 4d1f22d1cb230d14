#pragma once

namespace norvane {

// Installs the conversion engine behind XString's code page conversions. Safe to call any
// number of times from any thread; the façades call it when they are constructed.
void registerCharsetConverter();

} // namespace norvane
