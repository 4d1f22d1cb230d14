#include "ZipTestBytes.h"
#include "archive/ZipHandle.h"
#include "archive/ZlibCodec.h"
#include "common/Logger.h"
#include "support/Bytes.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

#include <string>

using namespace norvane;
using namespace norvane::test;
using test::RawEntry;

TEST(ZipReaderTest, EntriesHandOutTheirRawAndSafeNames) {
    // The safe name's rules are ZipEntry's; the reader hands each entry's name to them.
    std::string archive =
        test::buildArchive({stored("../../etc/passwd", "a"), stored("top/dir/", "")});
    auto zip = ZipHandle::create();
    Logger log;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(archive), log));
    ASSERT_EQ(zip->numEntries(), 2);
    std::string safe, raw;
    ASSERT_TRUE(zip->getEntryByIndex(0)->getSafeFileName(safe));
    EXPECT_EQ(safe, "passwd");
    ASSERT_TRUE(zip->getEntryByIndex(0)->getFileName(raw));
    EXPECT_EQ(raw, "../../etc/passwd");
    EXPECT_TRUE(zip->getEntryByIndex(1)->isDirectory());
}

TEST(ZipReaderTest, DirectoriesAreRecognisedByNameOrByTheirDosAttribute) {
    RawEntry winDir = stored("folder", "");
    winDir.madeBy = 0;
    winDir.externalAttr = 0x10;
    RawEntry backslash = stored("other\\", "");
    RawEntry file = stored("file", "");
    file.externalAttr = 0x20;
    auto zip = ZipHandle::create();
    LogNull log;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(test::buildArchive({winDir, backslash, file})), log));
    EXPECT_TRUE(zip->getEntryByIndex(0)->isDirectory());
    EXPECT_TRUE(zip->getEntryByIndex(1)->isDirectory());
    EXPECT_FALSE(zip->getEntryByIndex(2)->isDirectory());
}

TEST(ZipReaderTest, DeclaredSizesAreCheckedNotTrusted) {
    std::string plain(5000, 'q');
    RawEntry small = deflatedEntry("small-claim", plain);
    small.size = 10;
    RawEntry big = deflatedEntry("big-claim", "tiny");
    big.size = 0x7FFFFFFF;
    RawEntry badCrc = stored("bad-crc", "hello");
    badCrc.crc ^= 1;
    auto zip = ZipHandle::create();
    Logger log;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(test::buildArchive({small, big, badCrc})), log));
    for (int i = 0; i < 3; ++i) {
        DataBuffer out;
        EXPECT_FALSE(zip->getEntryByIndex(i)->inflate(out, log)) << i;
        EXPECT_TRUE(out.isEmpty());
    }
    EXPECT_NE(logText(log).find("CRC or size does not match"), std::string::npos);
}

TEST(ZipReaderTest, OverlappingEntriesAreRefused) {
    // Two directory entries pointing at the same local header: the form of zip bomb that
    // multiplies one compressed stream.
    RawEntry e = deflatedEntry("a", std::string(1000, 'z'));
    std::string body = test::localHeader(e) + e.data;
    std::string dir = test::centralHeader(e, 0) + test::centralHeader(e, 0);
    std::string archive =
        body + dir +
        test::endRecord(2, static_cast<uint32_t>(dir.size()), static_cast<uint32_t>(body.size()));
    auto zip = ZipHandle::create();
    Logger log;
    EXPECT_FALSE(zip->openFromMemory(bytesOf(archive), log));
    EXPECT_NE(logText(log).find("entries overlap"), std::string::npos);
}

TEST(ZipReaderTest, DataRunningIntoTheCentralDirectoryIsRefused) {
    RawEntry e = stored("a", "0123456789");
    std::string body = test::localHeader(e) + e.data;
    e.data += "extra bytes that are not there";
    std::string dir = test::centralHeader(e, 0);
    std::string archive =
        body + dir +
        test::endRecord(1, static_cast<uint32_t>(dir.size()), static_cast<uint32_t>(body.size()));
    auto zip = ZipHandle::create();
    Logger log;
    EXPECT_FALSE(zip->openFromMemory(bytesOf(archive), log));
    EXPECT_NE(logText(log).find("overruns"), std::string::npos);
}

TEST(ZipReaderTest, BadDirectoryFieldsAreRefused) {
    RawEntry e = stored("a", "x");
    std::string body = test::localHeader(e) + e.data;
    std::string dir = test::centralHeader(e, 0);
    auto open = [](const std::string& bytes, Logger& log) {
        auto zip = ZipHandle::create();
        return zip->openFromMemory(bytesOf(bytes), log);
    };
    Logger log;
    // Directory size beyond the file, entry count larger than the directory, bad offsets.
    EXPECT_FALSE(open(body + dir + test::endRecord(1, 0xFFFFFF, 0), log));
    EXPECT_FALSE(open(body + dir + test::endRecord(9, static_cast<uint32_t>(dir.size()), 0), log));
    EXPECT_FALSE(open(body + test::centralHeader(e, 5) + test::endRecord(1, 47, 32), log));
    EXPECT_FALSE(open(body + test::centralHeader(e, 0xFFFFFFF0) + test::endRecord(1, 47, 32), log));
    EXPECT_FALSE(open(std::string(21, 'P'), log));
    EXPECT_FALSE(open("", log));
    EXPECT_TRUE(open(body + dir +
                         test::endRecord(1, static_cast<uint32_t>(dir.size()),
                                         static_cast<uint32_t>(body.size())),
                     log));
}

TEST(ZipReaderTest, PrefixAndTrailingCommentAreAllowed) {
    std::string archive = test::buildArchive({stored("a.txt", "alpha")});
    // A stub before the archive shifts every offset; the end record carries a comment.
    std::string prefixed = "#!/bin/sh\nexit 0\n" + archive;
    prefixed.resize(prefixed.size() - 2);
    prefixed += std::string("\x07\x00", 2) + "comment";
    auto zip = ZipHandle::create();
    Logger log;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(prefixed), log)) << logText(log);
    DataBuffer out;
    ASSERT_TRUE(zip->getEntryByIndex(0)->inflate(out, log));
    EXPECT_EQ(out.toString(), "alpha");
}

TEST(ZipReaderTest, EveryTruncationOrByteFlipFailsCleanly) {
    std::string archive =
        test::buildArchive({deflatedEntry("one.txt", std::string(3000, 'a') + "tail"),
                            stored("two.bin", "0123456789"), stored("dir/", "")});
    LogNull log;
    for (size_t n = 0; n < archive.size(); ++n) {
        auto zip = ZipHandle::create();
        if (!zip->openFromMemory(bytesOf(std::string_view(archive).substr(0, n)), log))
            continue;
        for (int i = 0; i < zip->numEntries(); ++i) {
            DataBuffer out;
            (void)zip->getEntryByIndex(i)->inflate(out, log);
        }
    }
    for (size_t at = 0; at < archive.size(); ++at) {
        std::string bad = archive;
        bad[at] = static_cast<char>(bad[at] ^ 0x5A);
        auto zip = ZipHandle::create();
        if (!zip->openFromMemory(bytesOf(bad), log))
            continue;
        for (int i = 0; i < zip->numEntries(); ++i) {
            DataBuffer out;
            if (zip->getEntryByIndex(i)->inflate(out, log) && i == 1) {
                // Whatever survives a flip and still inflates passed the CRC check.
                EXPECT_EQ(zlibcodec::crc32Of(out.span()),
                          zlibcodec::crc32Of(bytesOf("0123456789")));
            }
        }
    }
}

TEST(ZipReaderTest, EncryptedAndUnknownMethodEntriesListButDoNotInflate) {
    RawEntry enc = stored("secret.txt", "xxxxxxxxxxxx");
    enc.flags = 1;
    RawEntry bz = stored("b.bz2", "BZh9....");
    bz.method = 12;
    auto zip = ZipHandle::create();
    Logger log;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(test::buildArchive({enc, bz})), log));
    ASSERT_EQ(zip->numEntries(), 2);
    DataBuffer out;
    EXPECT_FALSE(zip->getEntryByIndex(0)->inflate(out, log));
    EXPECT_FALSE(zip->getEntryByIndex(1)->inflate(out, log));
    std::string text = logText(log);
    EXPECT_NE(text.find("Encrypted zip entries are not supported"), std::string::npos);
    EXPECT_NE(text.find("Unsupported compression method"), std::string::npos);
}

TEST(ZipReaderTest, LimitsAreAbsoluteNotARatio) {
    // 80 MiB of zeros deflate to about 80 KB, a ratio no limit refuses by itself.
    std::string zeros(80u << 20, '\0');
    const std::string archive = test::buildArchive({deflatedEntry("zeros.bin", zeros)});
    ASSERT_LT(archive.size(), 200000u);
    auto zip = ZipHandle::create();
    Logger log;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(archive), log));
    DataBuffer out;
    ASSERT_TRUE(zip->getEntryByIndex(0)->inflate(out, log)) << logText(log);
    EXPECT_TRUE(out.view() == zeros);

    // An entry past the entry limit stops there, declared honestly or not.
    ASSERT_TRUE(zip->setMaxEntrySize(zeros.size() - 1));
    EXPECT_FALSE(zip->getEntryByIndex(0)->inflate(out, log));
    EXPECT_TRUE(out.isEmpty());
    RawEntry liar = deflatedEntry("liar.bin", zeros);
    liar.size = 1000;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(test::buildArchive({liar})), log));
    EXPECT_FALSE(zip->getEntryByIndex(0)->inflate(out, log));
    const std::string text = logText(log);
    EXPECT_NE(text.find("size_limit: 83886079"), std::string::npos) << text;
    EXPECT_NE(text.find("size_limit: 1000"), std::string::npos) << text;
}

TEST(ZipReaderTest, TheBudgetCoversTheWholeArchiveButChargesEachEntryOnce) {
    std::string chunk(600000, 'z');
    std::string archive =
        test::buildArchive({deflatedEntry("a", chunk), deflatedEntry("b", chunk)});
    auto zip = ZipHandle::create();
    Logger log;
    ASSERT_TRUE(zip->openFromMemory(bytesOf(archive), log));
    ASSERT_TRUE(zip->setInflateBudget(1000000));
    DataBuffer out;
    ASSERT_TRUE(zip->getEntryByIndex(0)->inflate(out, log));
    ASSERT_TRUE(zip->getEntryByIndex(0)->inflate(out, log));
    EXPECT_EQ(out.getSize(), chunk.size());
    EXPECT_FALSE(zip->getEntryByIndex(1)->inflate(out, log));
    EXPECT_NE(logText(log).find("Entry inflates past the size limit"), std::string::npos);
    ASSERT_TRUE(zip->setInflateBudget(1200000));
    EXPECT_TRUE(zip->getEntryByIndex(1)->inflate(out, log));
}
