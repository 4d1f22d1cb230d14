#pragma once

// Runs the nvmail program built beside the tests.

#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <string>

namespace norvane::test {

inline const std::string kNvmail = std::string(NORVANE_BINARY_DIR) + "/tools/nvmail";

struct NvmailResult {
    int status = -1;
    std::string out;
    std::string err;
};

// nvmail with the given (shell-quoted) arguments: exit status, standard output, standard error.
inline NvmailResult nvmail(const std::string& args) {
    TempDir dir;
    const std::string errFile = dir.file("stderr");
    NvmailResult r;
    r.status = runCommand(kNvmail + " " + args + " 2>" + errFile, &r.out);
    r.err = readFile(errFile);
    return r;
}

// The same with standard error appended to standard output.
inline NvmailResult nvmailMerged(const std::string& args) {
    NvmailResult r = nvmail(args);
    r.out += r.err;
    return r;
}

} // namespace norvane::test
