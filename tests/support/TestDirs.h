#pragma once

#include <set>
#include <string>

namespace norvane::test {

// A fresh directory under the system temporary directory, removed with everything in it when
// the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole contents of a file ("" when it cannot be read).
std::string readFile(const std::string& path);
// Names in a directory, without "." and ".." (empty when it cannot be read).
std::set<std::string> listDir(const std::string& path);
// Path of a file under tests/data/.
std::string dataPath(const std::string& relative);

} // namespace norvane::test

#include <functional>

namespace norvane::test {
// Runs fn in a child process without root's power to ignore file permissions (as "nobody"
// when the tests run as root) and returns what fn returned; false if the child failed.
bool runUnprivileged(const std::function<bool()>& fn);
} // namespace norvane::test
