// nvmail extract: saves the attachments of an .eml file into a directory.
//
// File names come from the message, so they are treated as hostile: only the last path
// component is kept, control characters and leading dots go, the length is capped, and files
// are created with O_EXCL|O_NOFOLLOW inside a directory opened once, so an existing file is
// never overwritten and no link can redirect a write outside the directory.

#include "Commands.h"

#include "common/Platform.h"
#include "common/UniqueFd.h"
#include "facade/ClsEmail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

using norvane::ClsEmail;
using norvane::DataBuffer;
using norvane::UniqueFd;

namespace nvmail {

namespace {

constexpr size_t kMaxNameBytes = 200;
constexpr int kMaxTries = 1000;

// Cuts s to at most n bytes without splitting a UTF-8 sequence.
void cutUtf8(std::string& s, size_t n) {
    if (s.size() <= n)
        return;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80)
        --n;
    s.resize(n);
}

std::string safeFileName(std::string_view name) {
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos)
        name.remove_prefix(slash + 1);
    std::string out;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(u < 0x20 || u == 0x7F || c == ':' ? '_' : c);
    }
    while (!out.empty() && (out.front() == '.' || out.front() == ' '))
        out.erase(0, 1);
    while (!out.empty() && (out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    cutUtf8(out, kMaxNameBytes);
    return out.empty() ? "attachment.dat" : out;
}

// "name.ext" -> "name (n).ext"
std::string numbered(const std::string& name, int n) {
    const size_t dot = name.rfind('.');
    const std::string suffix = " (" + std::to_string(n) + ")";
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Creates a new file for name in dir (a numbered variant when the name is taken) and writes
// data; the name used goes to saved.
bool saveNew(int dir, const std::string& name, std::string_view data, std::string& saved) {
    for (int n = 0; n < kMaxTries; ++n) {
        const std::string candidate = n == 0 ? name : numbered(name, n);
        UniqueFd fd(::openat(dir, candidate.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd) {
            if (errno == EEXIST)
                continue;
            std::fprintf(stderr, "nvmail extract: cannot create %s: %s\n", candidate.c_str(),
                         norvane::platform::systemErrorText(errno).c_str());
            return false;
        }
        if (!writeAll(fd.get(), data) || ::close(fd.release()) != 0) {
            std::fprintf(stderr, "nvmail extract: cannot write %s: %s\n", candidate.c_str(),
                         norvane::platform::systemErrorText(errno).c_str());
            (void)::unlinkat(dir, candidate.c_str(), 0);
            return false;
        }
        saved = candidate;
        return true;
    }
    std::fprintf(stderr, "nvmail extract: no free name for %s\n", name.c_str());
    return false;
}

UniqueFd openDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "nvmail extract: cannot create %s: %s\n", path.c_str(),
                     norvane::platform::systemErrorText(errno).c_str());
        return UniqueFd();
    }
    UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        std::fprintf(stderr, "nvmail extract: cannot open %s: %s\n", path.c_str(),
                     norvane::platform::systemErrorText(errno).c_str());
    return dir;
}

} // namespace

int extract(const Args& args) {
    Args rest;
    const bool withInline = takeFlag(args, "--inline", rest);
    if (rest.size() != 2) {
        std::fprintf(stderr, "usage: nvmail extract [--inline] FILE.eml DIR\n");
        return 2;
    }
    std::string mime;
    if (!readInput(rest[0], mime))
        return 1;
    ClsEmail email;
    (void)email.SetFromMimeText(std::string_view(mime));
    struct Item {
        std::string name;
        DataBuffer data;
    };
    std::vector<Item> items;
    for (int i = 0; i < email.get_NumAttachments(); ++i)
        items.push_back({email.GetAttachmentFilename(i), email.GetAttachmentData(i)});
    if (withInline)
        for (int i = 0; i < email.get_NumRelatedItems(); ++i)
            items.push_back({email.GetRelatedFilename(i), email.GetRelatedData(i)});
    if (items.empty()) {
        std::printf("No attachments.\n");
        return 0;
    }
    UniqueFd dir = openDirectory(rest[1]);
    if (!dir)
        return 1;
    int failures = 0;
    for (const Item& item : items) {
        std::string saved;
        if (saveNew(dir.get(), safeFileName(item.name), item.data.view(), saved))
            std::printf("saved %s (%zu bytes)\n", saved.c_str(), item.data.getSize());
        else
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace nvmail
