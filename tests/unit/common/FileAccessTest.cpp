#include "common/FileAccess.h"
#include "common/Logger.h"
#include "support/LogText.h"
#include "support/TestDirs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>

using namespace norvane;

TEST(FileAccessTest, WriteReadRoundTripAndZeroLengthWrite) {
    test::TempDir dir;
    Logger log;
    std::string name = dir.file("a.bin");
    std::string payload("\0\r\nbytes\xff", 9);
    ASSERT_TRUE(file::writeWholeFile(name, payload, &log));
    std::string back;
    ASSERT_TRUE(file::readWholeFile(name, back, &log));
    EXPECT_EQ(back, payload);

    std::string empty = dir.file("empty.txt");
    ASSERT_TRUE(file::writeWholeFile(empty, std::string_view(), &log));
    EXPECT_TRUE(file::fileExists(empty));
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST(FileAccessTest, ReplacingAFileKeepsItsModeAndLeavesNoTemporaries) {
    test::TempDir dir;
    std::string name = dir.file("keep.txt");
    ASSERT_TRUE(file::writeWholeFile(name, "old", nullptr));
    ::chmod(name.c_str(), 0640);
    ASSERT_TRUE(file::writeWholeFile(name, "new contents", nullptr));
    EXPECT_EQ(test::readFile(name), "new contents");
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(test::listDir(dir.path()).size(), 1u);
}

TEST(FileAccessTest, WriteIntoReadOnlyDirectoryFailsAndKeepsOldFile) {
    test::TempDir dir;
    std::string sub = dir.file("ro");
    ASSERT_TRUE(file::createDirectory(sub));
    std::string name = sub + "/f.txt";
    ASSERT_TRUE(file::writeWholeFile(name, "original", nullptr));
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(sub.c_str(), 0555);
    ::chmod(name.c_str(), 0666);
    bool childSawExpectedFailure = test::runUnprivileged([&] {
        Logger log;
        bool wrote = file::writeWholeFile(name, "replacement", &log);
        std::string t = test::logText(log);
        return !wrote && t.find("Failed to open file (2)") != std::string::npos &&
               t.find("filename: " + name) != std::string::npos &&
               t.find("osErrorInfo: Permission denied") != std::string::npos &&
               t.find("Failed to write complete file (7)") != std::string::npos;
    });
    EXPECT_TRUE(childSawExpectedFailure);
    EXPECT_EQ(test::readFile(name), "original");
}

TEST(FileAccessTest, OpenFailuresLogTheNameAndSystemText) {
    test::TempDir dir;
    Logger log;
    EXPECT_FALSE(file::openForRead("", &log));
    EXPECT_EQ(test::logText(log), "Cannot open file, filename is empty.\r\n");

    log.clearLog();
    std::string missing = dir.file("nope.txt");
    EXPECT_FALSE(file::openForRead(missing, &log));
    EXPECT_EQ(test::logText(log), "Failed to open file (2)\r\nfilename: " + missing +
                                      "\r\nosErrorInfo: No such file or directory\r\n");

    log.clearLog();
    EXPECT_FALSE(file::openForRead(dir.path(), &log));
    EXPECT_NE(test::logText(log).find("osErrorInfo: Is a directory"), std::string::npos);
    EXPECT_FALSE(file::fileExists(dir.path()));
}

TEST(FileAccessTest, DevicesAndFifosAreNotReadAsFiles) {
    test::TempDir dir;
    std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string out;
    EXPECT_FALSE(file::readWholeFile(fifo, out, nullptr)); // must not block
    EXPECT_FALSE(file::readWholeFile("/dev/zero", out, nullptr));
    EXPECT_FALSE(file::writeWholeFile(dir.path(), "x", nullptr));
}

TEST(FileAccessTest, LockedFileIsRetriedThenReportedAsLocked) {
    test::TempDir dir;
    std::string name = dir.file("locked.txt");
    ASSERT_TRUE(file::writeWholeFile(name, "data", nullptr));
    // Another open file description holding an exclusive lock stands in for another process.
    UniqueFd holder(::open(name.c_str(), O_RDONLY));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    Logger log;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(file::openForRead(name, &log));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(150)); // three retries, 50 ms apart
    EXPECT_EQ(test::logText(log), "Failed to open file (2)\r\nfilename: " + name +
                                      "\r\nosErrorInfo: the file is locked by another process\r\n");
    EXPECT_FALSE(file::writeWholeFile(name, "other", nullptr));
    holder.reset();
    EXPECT_EQ(test::readFile(name), "data");
    EXPECT_TRUE(file::openForRead(name, nullptr));
}

TEST(FileAccessTest, DeleteRefusesWhatIsNoFile) {
    test::TempDir dir;
    const std::string name = dir.file("d.txt");
    for (const std::string& bad : {std::string(), name, dir.path()})
        EXPECT_FALSE(file::deleteFile(bad, nullptr)) << bad;
    ASSERT_TRUE(file::writeWholeFile(name, "x", nullptr));
    EXPECT_TRUE(file::deleteFile(name, nullptr));
    EXPECT_FALSE(file::fileExists(name));
}

TEST(FileAccessTest, TempNamesFollowThePatternAndAvoidExistingFiles) {
    test::TempDir dir;
    std::regex shape(
        std::regex_replace(dir.path(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
        "/report_[A-Z0-9]{4}\\.txt");
    for (int i = 0; i < 50; ++i) {
        std::string n = file::makeTempFileName(dir.path(), "report.txt");
        ASSERT_TRUE(std::regex_match(n, shape)) << n;
        ASSERT_FALSE(file::fileExists(n));
        ASSERT_TRUE(file::writeWholeFile(n, "", nullptr)); // occupy it
    }
    EXPECT_TRUE(file::makeTempFileName(dir.path() + "/", "").ends_with(".tmp"));
    EXPECT_NE(file::makeTempFileName(dir.path(), "").find("/x_"), std::string::npos);
    EXPECT_NE(file::makeTempFileName("C:\\temp\\", "a.b.c").find("C:\\temp\\a.b_"),
              std::string::npos);
}
