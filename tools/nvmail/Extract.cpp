// nvmail extract: saves the attachments of an .eml file into a directory.
//
// File names come from the message, so they are treated as hostile: only the last path
// component is kept, control characters and leading dots go, the length is capped, and files
// are written under a temporary name and then given their name with a rename that refuses to
// replace anything, inside a directory opened once: an existing file is never overwritten, no
// link can redirect a write outside the directory, and a file appears complete or not at all.

#include "Commands.h"
#include "Posix.h"

#include "norvane/Email.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

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

// Writes the data of name to a new temporary file in dir; its name goes to temp. Reported on
// failure.
bool writeTemporary(int dir, const std::string& name, std::string_view data, std::string& temp) {
    UniqueFd fd;
    for (int n = 0; n < kMaxTries && !fd; ++n) {
        temp = ".nvmail-" + newUuid();
        fd = UniqueFd(::openat(dir, temp.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd && errno != EEXIST)
            break;
    }
    if (!fd) {
        error("cannot save " + name + ": " + systemErrorText(errno));
        return false;
    }
    if (!writeAll(fd.get(), data) || ::fsync(fd.get()) != 0 || ::close(fd.release()) != 0) {
        const int err = errno;
        (void)::unlinkat(dir, temp.c_str(), 0);
        error("cannot save " + name + ": " + systemErrorText(err));
        return false;
    }
    return true;
}

// Gives the temporary file the name wanted, unless that name is taken: then 0 with errno
// EEXIST. Nothing in the directory is ever replaced.
int renameNew(int dir, const std::string& temp, const std::string& name) {
    if (::renameat2(dir, temp.c_str(), dir, name.c_str(), RENAME_NOREPLACE) == 0)
        return 1;
    if (errno != EINVAL && errno != ENOSYS)
        return 0;
    // File systems without that rename still refuse to link over an existing name.
    if (::linkat(dir, temp.c_str(), dir, name.c_str(), 0) != 0)
        return 0;
    (void)::unlinkat(dir, temp.c_str(), 0);
    return 1;
}

// Saves data in dir under name, or a numbered variant when the name is taken; the name used
// goes to saved. The file appears complete or not at all.
bool saveNew(int dir, const std::string& name, std::string_view data, std::string& saved) {
    std::string temp;
    if (!writeTemporary(dir, name, data, temp))
        return false;
    for (int n = 0; n < kMaxTries; ++n) {
        const std::string candidate = n == 0 ? name : numbered(name, n);
        if (renameNew(dir, temp, candidate) == 1) {
            saved = candidate;
            return true;
        }
        if (errno != EEXIST) {
            const int err = errno;
            (void)::unlinkat(dir, temp.c_str(), 0);
            error("cannot create " + candidate + ": " + systemErrorText(err));
            return false;
        }
    }
    (void)::unlinkat(dir, temp.c_str(), 0);
    error("no free name for " + name);
    return false;
}

UniqueFd openDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        error("cannot create " + path + ": " + systemErrorText(errno));
        return UniqueFd();
    }
    UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        error("cannot open " + path + ": " + systemErrorText(errno));
    return dir;
}

} // namespace

bool saveIntoDirectory(const std::string& dirPath, const std::string& name, std::string_view data,
                       std::string& saved) {
    UniqueFd dir = openDirectory(dirPath);
    return dir && saveNew(dir.get(), name, data, saved);
}

int extract(const Parsed& p) {
    std::vector<uint8_t> mime;
    if (!readInput(p.operands[0], mime))
        return kFailed;
    norvane::Email email;
    (void)email.SetFromMimeBytes(mime);
    release(mime);
    struct Item {
        std::string name;
        std::vector<uint8_t> data;
    };
    std::vector<Item> items;
    for (int i = 0; i < email.get_NumAttachments(); ++i)
        items.push_back({email.GetAttachmentFilename(i), email.GetAttachmentData(i)});
    if (p.has("--inline"))
        for (int i = 0; i < email.get_NumRelatedItems(); ++i)
            items.push_back({email.GetRelatedFilename(i), email.GetRelatedData(i)});
    if (items.empty()) {
        std::printf("No attachments.\n");
        return kOk;
    }
    UniqueFd dir = openDirectory(p.operands[1]);
    if (!dir)
        return kFailed;
    int failures = 0;
    for (const Item& item : items) {
        std::string saved;
        const std::string_view data(reinterpret_cast<const char*>(item.data.data()),
                                    item.data.size());
        if (saveNew(dir.get(), safeFileName(item.name), data, saved))
            std::printf("saved %s (%zu bytes)\n", saved.c_str(), data.size());
        else
            ++failures;
    }
    return failures == 0 ? kOk : kFailed;
}

} // namespace nvmail
