#pragma once

#include "support/TestDirs.h"

#include <initializer_list>
#include <string>

namespace norvane::test {

// Points the machine and user configuration roots at a fresh temporary directory for its
// lifetime and fills certificate stores there from tests/data/smime/.
class TestPki {
public:
    TestPki();
    ~TestPki();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    // Copies tests/data/smime/<file> into <root>/<store>; root "user" or "machine".
    void add(const std::string& root, const std::string& store,
             std::initializer_list<const char*> files) const;
    // Root and CA stores holding the test CAs, so that test signers are trusted.
    void trustTestCa() const;
    [[nodiscard]] std::string userDir() const { return dir_.file("user"); }
    [[nodiscard]] std::string machineDir() const { return dir_.file("machine"); }
    [[nodiscard]] static std::string pkiFile(const std::string& name);

private:
    TempDir dir_;
};

} // namespace norvane::test
