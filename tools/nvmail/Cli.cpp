#include "Cli.h"

#include "Posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace nvmail {

namespace {

// A temporary name must fit in a directory entry (255 bytes) with its suffix.
constexpr size_t kMaxTempBase = 200;
constexpr int kHelpColumn = 26;

const Option* findOption(const Command& c, std::string_view name) {
    for (const auto* list : {&c.options, &commonOptions()})
        for (const Option& o : *list)
            if (o.name == name || (!o.alias.empty() && o.alias == name))
                return &o;
    return nullptr;
}

void printOption(const Option& o, std::FILE* to) {
    std::string left = "  ";
    if (!o.alias.empty() && o.alias.size() == 2)
        left.append(o.alias).append(", ");
    left.append(o.name);
    if (!o.alias.empty() && o.alias.size() > 2)
        left.append(", ").append(o.alias);
    if (!o.value.empty())
        left.append(" ").append(o.value);
    std::fprintf(to, "%-*s", kHelpColumn, left.c_str());
    if (left.size() >= static_cast<size_t>(kHelpColumn))
        std::fprintf(to, "\n%-*s", kHelpColumn, "");
    // Continuation lines of the help text line up under its first line.
    for (char ch : o.help) {
        std::fputc(ch, to);
        if (ch == '\n')
            std::fprintf(to, "%-*s", kHelpColumn, "");
    }
    std::fputc('\n', to);
}

// The file a write to path changes: through a symbolic link, the file it points to.
std::string resolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : path;
}

// The whole file into out (a std::string or a byte vector), reported on failure.
template <typename Bytes>
bool readInto(const std::string& path, Bytes& out, bool allowEmpty) {
    out.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    int err = 0;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        err = errno;
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
    } else {
        if (S_ISREG(st.st_mode))
            out.reserve(static_cast<size_t>(st.st_size));
        char buf[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd.get(), buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                err = errno;
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
    }
    if (err != 0) {
        error("cannot read " + path + ": " + systemErrorText(err));
        Bytes().swap(out);
        return false;
    }
    if (out.empty() && !allowEmpty) {
        error("cannot read " + path + ": the file is empty");
        return false;
    }
    return true;
}

} // namespace

bool Parsed::has(std::string_view name) const {
    return std::any_of(options.begin(), options.end(),
                       [name](const auto& o) { return o.first == name; });
}

std::string Parsed::value(std::string_view name) const {
    std::string v;
    for (const auto& [n, value] : options)
        if (n == name)
            v = value;
    return v;
}

std::vector<std::string> Parsed::values(std::string_view name) const {
    std::vector<std::string> v;
    for (const auto& [n, value] : options)
        if (n == name)
            v.push_back(value);
    return v;
}

const std::vector<Option>& commonOptions() {
    static const std::vector<Option> options = {
        {"--log", "--verbose", "", "also print the activity log of the library"},
        {"--help", "-h", "", "this help"},
    };
    return options;
}

void printCommandHelp(const Command& c, std::FILE* to) {
    std::fprintf(to, "usage: nvmail %.*s [options]%s%.*s\n\n%.*s\n\noptions:\n",
                 static_cast<int>(c.name.size()), c.name.data(), c.operands.empty() ? "" : " ",
                 static_cast<int>(c.operands.size()), c.operands.data(),
                 static_cast<int>(c.summary.size()), c.summary.data());
    for (const Option& o : c.options)
        printOption(o, to);
    for (const Option& o : commonOptions())
        printOption(o, to);
}

int runCommand(const Command& c, const Args& args) {
    Parsed p;
    p.command = &c;
    bool optionsDone = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
            continue;
        }
        if (optionsDone || a.size() < 2 || a[0] != '-') {
            p.operands.push_back(a);
            continue;
        }
        std::string name = a;
        std::string value;
        const size_t eq = a.find('=');
        const bool inlineValue = a.starts_with("--") && eq != std::string::npos;
        if (inlineValue) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        }
        const Option* o = findOption(c, name);
        if (!o) {
            error("unknown option '" + name + "' for " + std::string(c.name) +
                  " (see 'nvmail help " + std::string(c.name) + "')");
            return kUsage;
        }
        if (o->name == "--help") {
            printCommandHelp(c, stdout);
            return kOk;
        }
        if (!o->value.empty() && !inlineValue) {
            if (i + 1 >= args.size()) {
                error("option '" + name + "' needs a value (" + std::string(o->value) + ")");
                return kUsage;
            }
            value = args[++i];
        } else if (o->value.empty() && inlineValue) {
            error("option '" + name + "' takes no value");
            return kUsage;
        }
        p.options.emplace_back(o->name, std::move(value));
    }
    if (p.operands.size() < c.minOperands || p.operands.size() > c.maxOperands) {
        std::fprintf(stderr, "usage: nvmail %.*s [options] %.*s\n", static_cast<int>(c.name.size()),
                     c.name.data(), static_cast<int>(c.operands.size()), c.operands.data());
        return kUsage;
    }
    return c.run(p);
}

void error(std::string_view message) {
    std::fprintf(stderr, "nvmail: %.*s\n", static_cast<int>(message.size()), message.data());
}

bool readInput(const std::string& path, std::string& out, bool allowEmpty) {
    return readInto(path, out, allowEmpty);
}

bool readInput(const std::string& path, std::vector<uint8_t>& out, bool allowEmpty) {
    return readInto(path, out, allowEmpty);
}

bool writeOutput(const std::string& path, std::string_view data) {
    if (path.empty() || path == "-") {
        if (std::fwrite(data.data(), 1, data.size(), stdout) == data.size() &&
            std::fflush(stdout) == 0)
            return true;
        error("cannot write to standard output: " + systemErrorText(errno));
        return false;
    }
    const std::string target = resolveTarget(path);
    struct stat st {};
    mode_t mode = 0;
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error("cannot write " + path + ": " + systemErrorText(EISDIR));
            return false;
        }
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = target.substr(dir.size()).substr(0, kMaxTempBase);
    std::string temp = dir + "." + base + ".nvmail-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd) {
        error("cannot write " + path + ": " + systemErrorText(errno));
        return false;
    }
    // Flushed to disk before the rename, so that the new name never points at missing data.
    bool ok = writeAll(fd.get(), data) && ::fchmod(fd.get(), mode) == 0 && ::fsync(fd.get()) == 0;
    int err = errno;
    if (::close(fd.release()) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        (void)::unlink(temp.c_str());
        error("cannot write " + path + ": " + systemErrorText(err));
    }
    return ok;
}

void release(std::string& s) {
    std::string().swap(s);
}

void release(std::vector<uint8_t>& bytes) {
    std::vector<uint8_t>().swap(bytes);
}

std::string firstLoggedError(std::string_view logXml) {
    // An error is an <error> element (with a keyword attribute when another member logged it);
    // its text is in a CDATA section or escaped.
    size_t at = 0;
    while ((at = logXml.find("<error", at)) != std::string_view::npos &&
           logXml.substr(at + 6, 1) != ">" && logXml.substr(at + 6, 1) != " ")
        at += 6;
    if (at == std::string_view::npos)
        return {};
    const size_t open = logXml.find('>', at);
    const size_t close = logXml.find("</error>", open);
    if (open == std::string_view::npos || close == std::string_view::npos)
        return {};
    std::string_view content = logXml.substr(open + 1, close - open - 1);
    std::string text;
    if (content.starts_with("<![CDATA[") && content.ends_with("]]>")) {
        text = content.substr(9, content.size() - 12);
    } else {
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
        while (!content.empty()) {
            const auto entity =
                std::find_if(std::begin(kEntities), std::end(kEntities),
                             [&](const auto& e) { return content.starts_with(e.first); });
            if (entity != std::end(kEntities)) {
                text.push_back(entity->second);
                content.remove_prefix(entity->first.size());
            } else {
                text.push_back(content.front());
                content.remove_prefix(1);
            }
        }
    }
    return text.substr(0, text.find_first_of("\r\n"));
}

void printLogIfWanted(const Parsed& p, std::string_view logText) {
    if (p.wantsLog())
        std::fprintf(stderr, "%.*s", static_cast<int>(logText.size()), logText.data());
}

std::string printable(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            continue;
        if ((u < 0x20 && c != '\t' && c != '\n') || u == 0x7F)
            out.push_back('?');
        else
            out.push_back(c);
    }
    return out;
}

std::string oneLine(std::string_view s) {
    std::string out = printable(s);
    for (char& c : out)
        if (c == '\n')
            c = ' ';
    return out;
}

bool useColour() {
    static const bool colour = [] {
        const char* noColour = std::getenv("NO_COLOR");
        const char* term = std::getenv("TERM");
        return ::isatty(STDOUT_FILENO) == 1 && (!noColour || !*noColour) &&
               !(term && std::string_view(term) == "dumb");
    }();
    return colour;
}

std::string bold(std::string_view text) {
    if (!useColour())
        return std::string(text);
    return "\033[1m" + std::string(text) + "\033[0m";
}

} // namespace nvmail
