#pragma once

// What every nvmail command shares: its description and option parsing, one-line errors,
// reading inputs, writing outputs safely, the activity log on request, and colour.
//
// Conventions (those of git, curl and openssl): help on standard output with status 0, errors
// on standard error as one line "nvmail: ..." naming the file and the reason, status 1 when the
// work failed and 2 for a command line that cannot be used. An output file is written under a
// temporary name in its directory and renamed over the target only once the work succeeded, so
// a failed or interrupted run leaves an existing file (the input, when run in place) as it was.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace nvmail {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

using Args = std::vector<std::string>;

struct Option {
    std::string_view name;  // "--from"
    std::string_view alias; // "-o", or empty
    std::string_view value; // what the value is ("ADDR"); empty for a flag
    std::string_view help;
};

struct Parsed;

struct Command {
    std::string_view name;
    std::string_view operands; // "FILE.eml DIR"
    std::string_view summary;
    std::vector<Option> options;
    size_t minOperands = 0;
    size_t maxOperands = 0;
    int (*run)(const Parsed&) = nullptr;
};

// A command line taken apart: options by their long names, in order, and the operands.
struct Parsed {
    const Command* command = nullptr;
    std::vector<std::pair<std::string_view, std::string>> options;
    Args operands;

    [[nodiscard]] bool has(std::string_view name) const;
    // The last value given for name; empty when none.
    [[nodiscard]] std::string value(std::string_view name) const;
    [[nodiscard]] std::vector<std::string> values(std::string_view name) const;
    // --log or --verbose: the activity log is wanted.
    [[nodiscard]] bool wantsLog() const { return has("--log"); }
};

// The options every command takes besides its own.
const std::vector<Option>& commonOptions();
// The help of one command (usage line, summary, options).
void printCommandHelp(const Command& c, std::FILE* to);
// Parses args for c and runs it: --help prints the help (status 0); an unknown option, a
// missing value or a wrong number of operands is a usage error (status 2).
int runCommand(const Command& c, const Args& args);

// "nvmail: " + message, one line on standard error.
void error(std::string_view message);

// The whole file into out. An unreadable file, and an empty one unless allowEmpty, is reported
// ("cannot read PATH: REASON") and gives false.
bool readInput(const std::string& path, std::string& out, bool allowEmpty = false);
bool readInput(const std::string& path, std::vector<uint8_t>& out, bool allowEmpty = false);
// The data to standard output (path empty or "-") or to the file path, through a temporary
// file renamed over it; reported and false on failure, leaving any earlier file untouched.
bool writeOutput(const std::string& path, std::string_view data);
// Frees a string's or a byte vector's memory now rather than at the end of the command.
void release(std::string& s);
void release(std::vector<uint8_t>& bytes);

// The first error an activity log in its XML form (get_LastErrorXml) records, on one line:
// the reason a command gives in its one-line error. Empty when the log records none.
std::string firstLoggedError(std::string_view logXml);
// An activity log on standard error, when the command line asked for it (--log).
void printLogIfWanted(const Parsed& p, std::string_view logText);

// Text from a message made safe for a terminal: control bytes become '?', except tab and line
// feed; CR is dropped. oneLine also turns line feeds into spaces.
std::string printable(std::string_view s);
std::string oneLine(std::string_view s);

// True when standard output is a terminal and NO_COLOR is unset or empty.
bool useColour();
// text in bold when useColour().
std::string bold(std::string_view text);

} // namespace nvmail
