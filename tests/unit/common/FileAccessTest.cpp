#include "common/FileAccess.h"
#include "common/Logger.h"
#include "support/TestDirs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>

using namespace norvane;

namespace {

std::string textOf(const Logger& log) {
    StringBuffer sb;
    log.getLastErrorText(sb);
    return sb.str();
}

} // namespace

TEST(FileAccessTest, WriteReadRoundTripAndZeroLengthWrite) {
    test::TempDir dir;
    Logger log;
    std::string name = dir.file("a.bin");
    std::string payload("\0\r\nbytes\xff", 9);
    ASSERT_TRUE(file::writeWholeFile(name, payload, &log));
    std::string back;
    ASSERT_TRUE(file::readWholeFile(name, back, &log));
    EXPECT_EQ(back, payload);
    EXPECT_EQ(file::fileSize(name, &log), 9u);

    std::string empty = dir.file("empty.txt");
    ASSERT_TRUE(file::writeWholeFile(empty, std::string_view(), &log));
    EXPECT_TRUE(file::fileExists(empty));
    EXPECT_EQ(file::fileSize(empty, &log), 0u);
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
    size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
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
        std::string t = textOf(log);
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
    EXPECT_EQ(textOf(log), "Cannot open file, filename is empty.\r\n");

    log.clearLog();
    std::string missing = dir.file("nope.txt");
    EXPECT_FALSE(file::openForRead(missing, &log));
    EXPECT_EQ(textOf(log), "Failed to open file (2)\r\nfilename: " + missing +
                               "\r\nosErrorInfo: No such file or directory\r\n");

    log.clearLog();
    EXPECT_FALSE(file::openForRead(dir.path(), &log));
    EXPECT_NE(textOf(log).find("osErrorInfo: Is a directory"), std::string::npos);
    EXPECT_TRUE(file::openForReadDirOk(dir.path(), nullptr));
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
    EXPECT_EQ(textOf(log), "Failed to open file (2)\r\nfilename: " + name +
                               "\r\nosErrorInfo: the file is locked by another process\r\n");
    EXPECT_FALSE(file::writeWholeFile(name, "other", nullptr));
    holder.reset();
    EXPECT_EQ(test::readFile(name), "data");
    EXPECT_TRUE(file::openForRead(name, nullptr));
}

TEST(FileAccessTest, DeleteMessages) {
    test::TempDir dir;
    Logger log;
    EXPECT_FALSE(file::deleteFile("", &log));
    EXPECT_EQ(textOf(log), "Cannot delete file, filename is null or empty\r\n");
    log.clearLog();
    std::string name = dir.file("d.txt");
    EXPECT_FALSE(file::deleteFile(name, &log));
    EXPECT_EQ(textOf(log),
              "delete_filename: " + name + "\r\nCannot delete file, file does not exist\r\n");
    log.clearLog();
    EXPECT_FALSE(file::deleteFile(dir.path(), &log));
    EXPECT_EQ(textOf(log), "Cannot delete file\r\ndelete_filename: " + dir.path() +
                               "\r\nDeleteFile: Is a directory\r\n");
    ASSERT_TRUE(file::writeWholeFile(name, "x", nullptr));
    EXPECT_TRUE(file::deleteFile(name, &log));
    EXPECT_FALSE(file::fileExists(name));
}

TEST(FileAccessTest, FileNameCheckReportsFirstForbiddenCharacterInFixedOrder) {
    Logger log;
    EXPECT_TRUE(file::checkFileName("report 2024.txt", &log));
    EXPECT_FALSE(file::checkFileName("a|b*c?d\"e>f<g", &log));
    EXPECT_EQ(textOf(log), "Filename cannot contain a '<'\r\n");
    struct {
        const char* name;
        const char* message;
    } cases[] = {{"a>b", "Filename cannot contain a '>'"},
                 {"a\"b?", "Filename cannot contain a double-quote character"},
                 {"a?b*", "Filename cannot contain a question-mark character"},
                 {"a*b|", "Filename cannot contain a * character"},
                 {"a|b", "Filename cannot contain a | character"}};
    for (auto& c : cases) {
        log.clearLog();
        EXPECT_FALSE(file::checkFileName(c.name, &log));
        EXPECT_EQ(textOf(log), std::string(c.message) + "\r\n") << c.name;
    }
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

    std::string written = file::writeTempFile("data.bin", std::span<const uint8_t>(), nullptr);
    ASSERT_FALSE(written.empty());
    EXPECT_TRUE(file::fileExists(written));
    EXPECT_TRUE(file::deleteFile(written, nullptr));
}

TEST(FileAccessTest, WildcardMatchAndCaselessFind) {
    EXPECT_TRUE(file::wildcardMatch("report.TXT", "*.txt", false));
    EXPECT_FALSE(file::wildcardMatch("report.TXT", "*.txt", true));
    EXPECT_TRUE(file::wildcardMatch("abc", "a*b*c", true));
    EXPECT_TRUE(file::wildcardMatch("", "*", true));
    EXPECT_FALSE(file::wildcardMatch("abcd", "a*c", true));
    EXPECT_TRUE(file::wildcardMatch("a?c", "a?c", true)); // "?" is literal
    EXPECT_FALSE(file::wildcardMatch("abc", "a?c", true));
    EXPECT_TRUE(file::wildcardMatch(std::string(5000, 'a') + "b", "*a*a*a*b", true));
    EXPECT_EQ(file::findIgnoreCase("Content-TYPE: x", "type"), 8u);
    EXPECT_EQ(file::findIgnoreCase("abc", "abcd"), std::string_view::npos);
}
