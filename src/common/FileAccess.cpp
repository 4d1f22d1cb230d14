#include "common/FileAccess.h"

#include "common/Platform.h"
#include "common/StringBuffer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>

namespace norvane::file {

namespace {

// Another process's flock() is our sharing violation: retried this often, this far apart.
constexpr int kShareRetries = 3;
constexpr unsigned kShareRetryMs = 50;
constexpr int kSharingViolation = -32;
const char* const kLockedText = "the file is locked by another process";

enum class Mode { Read, ReadWrite };

std::string errorText(int err) {
    return err == kSharingViolation ? kLockedText : platform::systemErrorText(err);
}

// One attempt; returns the fd, or -1 with err set (kSharingViolation for a lock conflict).
int openOnce(const std::string& path, Mode mode, int& err) {
    // Opening a FIFO for reading would block until a writer came.
    const int flags = O_CLOEXEC | (mode == Mode::Read ? O_RDONLY | O_NONBLOCK : O_RDWR | O_CREAT);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    UniqueFd guard(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        err = errno;
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
        return -1;
    }
    if (!S_ISREG(st.st_mode) && mode == Mode::Read) {
        // Devices, FIFOs and sockets are not files a mail component reads.
        err = EINVAL;
        return -1;
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        err = (errno == EWOULDBLOCK) ? kSharingViolation : errno;
        return -1;
    }
    if (flags & O_NONBLOCK)
        (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return guard.release();
}

UniqueFd openWithRetry(std::string_view name, Mode mode, LogBase* log) {
    if (name.empty()) {
        if (log)
            log->fail(ErrorCode::BadArgument, "Cannot open file, filename is empty.");
        return UniqueFd();
    }
    std::string path(name);
    int err = 0;
    for (int attempt = 0;; ++attempt) {
        int fd = openOnce(path, mode, err);
        if (fd >= 0)
            return UniqueFd(fd);
        if (err != kSharingViolation || attempt >= kShareRetries)
            break;
        platform::sleepMillis(kShareRetryMs);
    }
    if (log) {
        log->fail(err == ENOENT ? ErrorCode::NotFound : ErrorCode::Io, "Failed to open file (2)");
        log->logData("filename", path);
        log->logData("osErrorInfo", errorText(err));
    }
    return UniqueFd();
}

std::string directoryOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

char randomNameChar(std::mt19937& rng) {
    unsigned v = std::uniform_int_distribution<unsigned>(0, 35)(rng);
    return static_cast<char>(v < 26 ? 'A' + v : '0' + (v - 26));
}

std::mt19937& nameRng() {
    thread_local std::mt19937 rng(static_cast<unsigned>(platform::steadyMillis()) ^
                                  std::random_device{}());
    return rng;
}

template <typename Out>
bool readAll(std::string_view path, Out& out, LogBase* log) {
    UniqueFd fd = openForRead(path, log);
    if (!fd)
        return false;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > 0)
        out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (log) {
                log->fail(ErrorCode::Io, "Failed to read file");
                log->logData("filename", path);
                log->logData("osErrorInfo", platform::systemErrorText(errno));
            }
            return false;
        }
        if (n == 0)
            return true;
        out.append(std::string_view(buf, static_cast<size_t>(n)));
    }
}

} // namespace

UniqueFd openForRead(std::string_view path, LogBase* log) {
    return openWithRetry(path, Mode::Read, log);
}
UniqueFd openForReadWrite(std::string_view path, LogBase* log) {
    return openWithRetry(path, Mode::ReadWrite, log);
}

bool fileExists(std::string_view path) {
    return openForRead(path, nullptr).valid();
}

bool readWholeFile(std::string_view path, DataBuffer& out, LogBase* log) {
    out.clear();
    return readAll(path, out, log);
}

bool readWholeFile(std::string_view path, std::string& out, LogBase* log) {
    out.clear();
    return readAll(path, out, log);
}

bool writeWholeFile(std::string_view name, std::span<const uint8_t> data, LogBase* log) {
    if (name.empty()) {
        if (log)
            log->fail(ErrorCode::BadArgument, "Cannot open file, filename is empty.");
        return false;
    }
    std::string path(name);
    auto openFailed = [&]() {
        if (log)
            log->fail(ErrorCode::Io, "Failed to write complete file (7)");
        return false;
    };
    // Respect another process's lock on the file we are about to replace, and refuse to
    // replace a directory or a device.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            if (log) {
                log->fail(ErrorCode::Io, "Failed to open file (2)");
                log->logData("filename", path);
                log->logData("osErrorInfo",
                             platform::systemErrorText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
            }
            return openFailed();
        }
        if (!openForReadWrite(path, log))
            return openFailed();
    }

    std::string dir = directoryOf(path);
    std::string tmp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        tmp = dir + "/.nvtmp_";
        for (int i = 0; i < 8; ++i)
            tmp.push_back(randomNameChar(nameRng()));
        int raw = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (raw >= 0)
            fd.reset(raw);
        else if (errno != EEXIST)
            break;
    }
    if (!fd) {
        if (log) {
            const int err = errno;
            log->fail(ErrorCode::Io, "Failed to open file (2)");
            log->logData("filename", path);
            log->logData("osErrorInfo", platform::systemErrorText(err));
        }
        return openFailed();
    }
    if (S_ISREG(st.st_mode))
        (void)::fchmod(fd.get(), st.st_mode & 07777);
    if (!writeAll(fd.get(), data) || ::fsync(fd.get()) != 0) {
        int err = errno;
        fd.reset();
        ::unlink(tmp.c_str());
        if (log) {
            log->logData("filename", path);
            log->fail(ErrorCode::Io, platform::systemErrorText(err));
            log->fail(ErrorCode::Io, "Failed to write complete file (1)");
        }
        return false;
    }
    fd.reset();
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        if (log) {
            log->logData("filename", path);
            log->fail(ErrorCode::Io, platform::systemErrorText(err));
            log->fail(ErrorCode::Io, "Failed to write complete file (1)");
        }
        return false;
    }
    return true;
}

bool writeWholeFile(std::string_view path, std::string_view data, LogBase* log) {
    return writeWholeFile(
        path, std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()), log);
}

bool deleteFile(std::string_view name, LogBase* log) {
    if (name.empty()) {
        if (log)
            log->fail(ErrorCode::Io, "Cannot delete file, filename is null or empty");
        return false;
    }
    std::string path(name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        if (log) {
            log->logData("delete_filename", path);
            log->fail(ErrorCode::Io, "Cannot delete file, file does not exist");
        }
        return false;
    }
    if (::unlink(path.c_str()) != 0) {
        if (log) {
            log->fail(ErrorCode::Io, "Cannot delete file");
            log->logData("delete_filename", path);
            log->fail(ErrorCode::Io, "DeleteFile: " + platform::systemErrorText(errno));
        }
        return false;
    }
    return true;
}

bool createDirectory(std::string_view path) {
    return !path.empty() && ::mkdir(std::string(path).c_str(), 0777) == 0;
}

bool isDirectory(std::string_view path) {
    struct stat st {};
    return !path.empty() && ::stat(std::string(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string currentDirectory() {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

std::string tempDirectory() {
    const char* t = std::getenv("TMPDIR");
    return (t && *t) ? std::string(t) : std::string("/tmp");
}

std::string makeTempFileName(std::string_view dir, std::string_view baseName) {
    std::string prefix(dir);
    if (prefix.empty() || (prefix.back() != '/' && prefix.back() != '\\'))
        prefix.push_back('/');
    std::string base = baseName.empty() ? std::string("x") : std::string(baseName);
    if (base.find('.') == std::string::npos)
        base += ".tmp";
    size_t dot = base.find_last_of('.');
    std::string stem = base.substr(0, dot);
    std::string ext = base.substr(dot);
    for (;;) {
        std::string candidate = prefix + stem + "_";
        for (int i = 0; i < 4; ++i)
            candidate.push_back(randomNameChar(nameRng()));
        candidate += ext;
        struct stat st {};
        if (::lstat(candidate.c_str(), &st) != 0)
            return candidate;
    }
}

bool writeAll(int fd, std::span<const uint8_t> data) {

    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, std::string_view data) {
    return writeAll(fd, std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

} // namespace norvane::file
