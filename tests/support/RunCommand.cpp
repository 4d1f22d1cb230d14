#include "support/RunCommand.h"

#include <sys/wait.h>

#include <cstdio>

namespace norvane::test {

int runCommand(const std::string& commandLine, std::string* output) {
    FILE* p = ::popen(commandLine.c_str(), "r");
    if (!p)
        return -1;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        if (output)
            output->append(buf, n);
    int status = ::pclose(p);
    if (status == -1 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

std::string shellQuote(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

bool haveProgram(const std::string& name) {
    return runCommand("command -v " + shellQuote(name) + " >/dev/null 2>&1") == 0;
}

} // namespace norvane::test
