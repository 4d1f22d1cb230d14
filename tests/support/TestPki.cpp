#include "support/TestPki.h"

#include <cstdlib>
#include <filesystem>

namespace norvane::test {

TestPki::TestPki() {
    std::filesystem::create_directories(userDir());
    std::filesystem::create_directories(machineDir());
    ::setenv("NORVANE_USER_DIR", userDir().c_str(), 1);
    ::setenv("NORVANE_MACHINE_DIR", machineDir().c_str(), 1);
}

TestPki::~TestPki() {
    ::unsetenv("NORVANE_USER_DIR");
    ::unsetenv("NORVANE_MACHINE_DIR");
}

std::string TestPki::pkiFile(const std::string& name) {
    return dataPath("smime/" + name);
}

void TestPki::add(const std::string& root, const std::string& store,
                  std::initializer_list<const char*> files) const {
    const std::string dir = dir_.file(root) + "/" + store;
    std::filesystem::create_directories(dir);
    for (const char* f : files)
        std::filesystem::copy_file(pkiFile(f), dir + "/" + f,
                                   std::filesystem::copy_options::overwrite_existing);
}

void TestPki::trustTestCa() const {
    add("machine", "Root", {"ca-root.pem"});
    add("machine", "CA", {"ca-inter.pem"});
}

} // namespace norvane::test
