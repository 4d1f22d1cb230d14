// Splitting mailbox files: the rules on small texts fed whole and a byte at a time (a block can
// end anywhere), then files written by Python's mailbox module through the mail manager.

#include "transport/MailboxFile.h"
#include "common/Logger.h"
#include "transport/MailManCore.h"

#include "support/LogText.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

using namespace norvane;
using namespace std::string_literals;
using Messages = std::vector<std::string>;

namespace {

Messages split(std::string_view mbox, size_t piece) {
    Messages out;
    MailboxSplitter splitter([&](std::string& m) { out.push_back(m); });
    for (size_t i = 0; i < mbox.size(); i += piece)
        splitter.feed(mbox.substr(i, piece));
    splitter.finish();
    return out;
}

std::string withLineEnds(std::string_view lf, std::string_view end) {
    std::string out;
    for (char c : lf)
        c == '\n' ? out.append(end) : out.append(1, c);
    return out;
}

std::string subjectOf(const Email2& e) {
    StringBuffer v;
    (void)e.getHeaderField("Subject", v);
    return v.str();
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kTwo = "From a@x Mon Jan  1 00:00:00 2001\nSubject: one\n\nbody 1\n\n"
                         "From b@x Mon Jan  1 00:00:00 2001\nSubject: two\n\nbody 2\n\n";
const Messages kTwoSplit = {"Subject: one\r\n\r\nbody 1\r\n", "Subject: two\r\n\r\nbody 2\r\n"};

} // namespace

TEST(MailboxFileTest, SplitsAtFromLinesWhateverTheBlocks) {
    const struct {
        std::string mbox;
        Messages expected;
    } cases[] = {
        {kTwo, kTwoSplit},
        {withLineEnds(kTwo, "\r\n"), kTwoSplit},
        {withLineEnds(kTwo, "\r"), kTwoSplit},
        // The first line is dropped whatever it says.
        {"Subject: lost\nSubject: kept\n\nb\n", {"Subject: kept\r\n\r\nb\r\n"}},
        // Quoted "From " lines, a lone CR and a NUL are data; only "From " splits.
        {"From a\nA: 1\n\n>From x\ry\0z\nFrom b\nB: 2\n"s,
         {"A: 1\r\n\r\n>From x\ry\0z\r\n"s, "B: 2\r\n"}},
        // A message ending in empty lines loses only the separating one.
        {"From a\nA: 1\n\nb\n\n\n", {"A: 1\r\n\r\nb\r\n\r\n"}},
        // A "From " line without its line end, and empty messages, give nothing.
        {"From a\nA: 1\n\nb\nFrom cut", {"A: 1\r\n\r\nb\r\n"}},
        {"From a\n\nFrom b\n", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(split(c.mbox, c.mbox.size() + 1), c.expected) << c.mbox;
        EXPECT_EQ(split(c.mbox, 1), c.expected) << c.mbox;
    }
}

TEST(MailboxFileTest, MailManKeepsFileOrderAndAppliesTheFilter) {
    test::TempDir dir;
    writeFile(dir.file("two.mbox"), kTwo);
    const struct {
        std::string path, filter;
        Messages subjects;
    } cases[] = {
        {dir.file("two.mbox"), "", {"one", "two"}},
        {dir.file("two.mbox"), R"(Subject = "two")", {"two"}},
        {dir.file("two.mbox"), R"(Subject = "three")", {}},
        {dir.file("missing.mbox"), "", {}},
    };
    for (const auto& c : cases) {
        MailManCore mailMan;
        mailMan.filter = c.filter;
        Logger log;
        const auto bundle = mailMan.loadMbx(c.path, log);
        ASSERT_TRUE(bundle);
        Messages subjects;
        for (int i = 0; i < bundle->count(); ++i)
            subjects.push_back(subjectOf(*bundle->get(i)));
        EXPECT_EQ(subjects, c.subjects) << c.filter;
        if (c.path.ends_with("missing.mbox")) {
            EXPECT_NE(test::logText(log).find(c.path), std::string::npos) << test::logText(log);
        }
    }
}

TEST(MailboxFileTest, LoadsWhatPythonsMailboxModuleWrites) {
    test::TempDir dir;
    const std::string mbox = dir.file("py.mbox"), expected = dir.file("expected");
    ASSERT_EQ(test::runCommand("python3 " + test::dataPath("mbox/write_mbox.py") + " " + mbox +
                               " " + expected),
              0);
    MailManCore mailMan;
    LogNull log;
    const auto bundle = mailMan.loadMbx(mbox, log);
    const std::string records = test::readFile(expected);
    int n = 0;
    for (size_t pos = 0, end; (end = records.find('\x1e', pos)) != std::string::npos; ++n) {
        const std::string record = records.substr(pos, end - pos);
        pos = end + 1;
        ASSERT_LT(n, bundle->count());
        const Email2* text = bundle->get(n)->plainTextNode();
        ASSERT_TRUE(text) << n;
        // Python reads the quoted "From " lines back as written, and so do we.
        const size_t sep = record.find('\x1f');
        EXPECT_EQ(subjectOf(*bundle->get(n)), record.substr(0, sep));
        EXPECT_EQ(text->body().view(), withLineEnds(record.substr(sep + 1), "\r\n"));
    }
    EXPECT_EQ(n, 4);
    EXPECT_EQ(bundle->count(), n);
}
