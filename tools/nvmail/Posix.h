#pragma once

// The few system helpers nvmail needs beside the library: an owned file descriptor, complete
// writes, the text of an errno value and random UUIDs.

#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

namespace nvmail {

// Owns one file descriptor and closes it once.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o)
            reset(std::exchange(o.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Writes all of data, going on after short writes and interruptions; false with errno set.
bool writeAll(int fd, std::string_view data);

// The system's text for an errno value ("No such file or directory").
std::string systemErrorText(int err);

// A new random (version 4) UUID in lower case, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string newUuid();

} // namespace nvmail
