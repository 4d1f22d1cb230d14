#pragma once

#include <string>
#include <string_view>

namespace norvane::test {

// Runs a shell command line and returns its exit status (-1 when it could not run or was
// killed). Its standard output goes to *output when given; standard error is left alone.
int runCommand(const std::string& commandLine, std::string* output = nullptr);

// The text as one single-quoted shell word.
std::string shellQuote(std::string_view text);

// True when the program is found on PATH.
bool haveProgram(const std::string& name);

} // namespace norvane::test
