#include "archive/ZipHandle.h"
#include "archive/ZlibCodec.h"
#include "common/Logger.h"
#include "support/Bytes.h"
#include "support/LogText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace norvane;
using namespace norvane::test;

namespace {

std::string inflateAt(ZipHandle& zip, int i, LogBase& log) {
    auto e = zip.getEntryByIndex(i);
    DataBuffer out;
    if (!e || !e->inflate(out, log))
        return "<failed>";
    return out.toString();
}

} // namespace

TEST(ZipArchiveTest, StoredEntriesAreWrittenByteForByte) {
    auto zip = ZipHandle::create();
    Logger log;
    zip::DosTime t{0x5A3C, 0x5821};
    auto file = zip->appendData("a.txt", bytesOf("hello"), log);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->setCompressionMethod(0));
    ASSERT_TRUE(file->setDosTime(t));
    auto dir = zip->appendData("d/", {}, log);
    ASSERT_TRUE(dir);
    ASSERT_TRUE(dir->setDosTime(t));
    DataBuffer out;
    ASSERT_TRUE(zip->writeToMemory(out, log));
    std::string expected = fromHex(
        // local header "a.txt": version 1.0, no flags, stored, time, date, CRC, sizes, name
        "504b0304 0a00 0000 0000 3c5a 2158 86a61036 05000000 05000000 0500 0000"
        "612e747874 68656c6c6f"
        // local header "d/"
        "504b0304 0a00 0000 0000 3c5a 2158 00000000 00000000 00000000 0200 0000 642f"
        // central directory: made by Unix 2.0, then the same fields, mode 0644 / 040755+dir
        "504b0102 1403 0a00 0000 0000 3c5a 2158 86a61036 05000000 05000000 0500 0000 0000"
        "0000 0000 0000a481 00000000 612e747874"
        "504b0102 1403 0a00 0000 0000 3c5a 2158 00000000 00000000 00000000 0200 0000 0000"
        "0000 0000 1000ed41 28000000 642f"
        // end record: 2 entries, directory of 0x63 bytes at 0x48
        "504b0506 0000 0000 0200 0200 63000000 48000000 0000");
    EXPECT_EQ(out.toString(), expected);
    EXPECT_EQ(log.entryCount(), 0u);
}

TEST(ZipArchiveTest, DeflatedEntriesNeedVersion20AndHoldRawDeflateAtTheirLevel) {
    auto zip = ZipHandle::create();
    LogNull log;
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "line " + std::to_string(i) + " of a text attachment\r\n";
    auto e = zip->appendData("t.txt", bytesOf(text), log);
    ASSERT_TRUE(e && e->setCompressionMethod(8) && e->setCompressionLevel(6));
    DataBuffer out;
    ASSERT_TRUE(zip->writeToMemory(out, log));
    const uint8_t* b = out.getData();
    EXPECT_EQ(b[4], 20); // version needed
    EXPECT_EQ(b[8], 8);  // method
    std::vector<uint8_t> expectedData;
    ASSERT_TRUE(zlibcodec::deflateRaw(bytesOf(text), 6, expectedData, log));
    uint32_t csize = b[18] | (b[19] << 8) | (b[20] << 16) | (b[21] << 24);
    ASSERT_EQ(csize, expectedData.size());
    EXPECT_TRUE(std::equal(expectedData.begin(), expectedData.end(), b + 30 + 5));
    EXPECT_LT(csize, text.size() / 4);
}

TEST(ZipArchiveTest, WrittenArchiveReadsBackWithEveryEntry) {
    auto zip = ZipHandle::create();
    Logger log;
    std::string binary = randomBytes(100000, 7);
    std::string text(50000, 'x');
    auto a = zip->appendData("bin.dat", bytesOf(binary), log);
    auto b = zip->appendData("sub/text.txt", bytesOf(text), log);
    auto c = zip->appendData("empty.txt", {}, log);
    auto d = zip->appendData("folder/", {}, log);
    ASSERT_TRUE(a && b && c && d);
    ASSERT_TRUE(b->setCompressionMethod(0));
    ASSERT_TRUE(a->setCompressionLevel(9));
    DataBuffer archive;
    ASSERT_TRUE(zip->writeToMemory(archive, log));

    auto back = ZipHandle::create();
    ASSERT_TRUE(back->openFromMemory(archive.span(), log));
    ASSERT_EQ(back->numEntries(), 4);
    std::string name;
    ASSERT_TRUE(back->getEntryByIndex(1)->getFileName(name));
    EXPECT_EQ(name, "sub/text.txt");
    EXPECT_EQ(inflateAt(*back, 0, log), binary);
    EXPECT_EQ(inflateAt(*back, 1, log), text);
    EXPECT_EQ(inflateAt(*back, 2, log), "");
    EXPECT_FALSE(back->getEntryByIndex(0)->isDirectory());
    EXPECT_TRUE(back->getEntryByIndex(3)->isDirectory());
    EXPECT_EQ(back->getEntryByIndex(1)->uncompressedSize(), text.size());
    EXPECT_EQ(back->getEntryByIndex(4), nullptr);
    EXPECT_EQ(back->getEntryByIndex(-1), nullptr);
    EXPECT_EQ(log.entryCount(), 0u);

    // A read archive written again carries the same entries.
    DataBuffer again;
    ASSERT_TRUE(back->writeToMemory(again, log));
    auto third = ZipHandle::create();
    ASSERT_TRUE(third->openFromMemory(again.span(), log));
    ASSERT_EQ(third->numEntries(), 4);
    EXPECT_EQ(inflateAt(*third, 0, log), binary);
    EXPECT_EQ(inflateAt(*third, 1, log), text);
}

TEST(ZipArchiveTest, NonAsciiUtf8NamesAreFlaggedAsUtf8) {
    auto zip = ZipHandle::create();
    LogNull log;
    ASSERT_TRUE(zip->appendData("r\xC3\xA9sum\xC3\xA9.txt", bytesOf("x"), log));
    ASSERT_TRUE(zip->appendData("plain.txt", bytesOf("y"), log));
    DataBuffer out;
    ASSERT_TRUE(zip->writeToMemory(out, log));
    const uint8_t* b = out.getData();
    EXPECT_EQ(b[7] & 0x08, 0x08); // flag bit 11
    size_t second = 30 + 12 + (b[18] | (b[19] << 8));
    EXPECT_EQ(b[second + 7] & 0x08, 0);
    auto back = ZipHandle::create();
    ASSERT_TRUE(back->openFromMemory(out.span(), log));
    std::string name;
    ASSERT_TRUE(back->getEntryByIndex(0)->getFileName(name));
    EXPECT_EQ(name, "r\xC3\xA9sum\xC3\xA9.txt");
}

TEST(ZipArchiveTest, EmptyArchiveIsJustTheEndRecord) {
    auto zip = ZipHandle::create();
    LogNull log;
    DataBuffer out;
    ASSERT_TRUE(zip->writeToMemory(out, log));
    EXPECT_EQ(out.toString(), fromHex("504b0506 00000000 00000000 00000000 00000000 0000"));
    auto back = ZipHandle::create();
    ASSERT_TRUE(back->openFromMemory(out.span(), log));
    EXPECT_EQ(back->numEntries(), 0);
}

TEST(ZipArchiveTest, BadEntriesAreRefusedInsideTheAppendDataContext) {
    auto zip = ZipHandle::create();
    Logger log;
    EXPECT_FALSE(zip->appendData("", bytesOf("x"), log));
    EXPECT_FALSE(zip->appendData("dir/", bytesOf("data"), log));
    EXPECT_FALSE(zip->appendData(std::string(70000, 'n'), bytesOf("x"), log));
    std::string text = logText(log);
    EXPECT_NE(logXml(log).find("<AppendData>"), std::string::npos);
    EXPECT_NE(text.find("Invalid zip entry name"), std::string::npos);
    EXPECT_NE(text.find("A directory entry cannot hold data"), std::string::npos);
    EXPECT_EQ(zip->numEntries(), 0);
}

TEST(ZipArchiveTest, OnlyKnownMethodsAndLevelsAreAccepted) {
    auto zip = ZipHandle::create();
    LogNull log;
    auto e = zip->appendData("x", bytesOf("x"), log);
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->setCompressionMethod(12));
    EXPECT_FALSE(e->setCompressionMethod(-1));
    EXPECT_FALSE(e->setCompressionLevel(10));
    EXPECT_FALSE(e->setCompressionLevel(-1));
    EXPECT_TRUE(e->setCompressionMethod(0));
    EXPECT_TRUE(e->setCompressionLevel(0));
}

TEST(ZipArchiveTest, EntryHandlesFailSoftlyOnceTheirEntryIsGone) {
    LogNull log;
    auto zip = ZipHandle::create();
    auto e = zip->appendData("x.txt", bytesOf("x"), log);
    ASSERT_TRUE(e);
    std::string name;
    ASSERT_TRUE(e->getFileName(name));

    // Reopening replaces the entries.
    auto other = ZipHandle::create();
    ASSERT_TRUE(other->appendData("y.txt", bytesOf("y"), log));
    DataBuffer bytes;
    ASSERT_TRUE(other->writeToMemory(bytes, log));
    ASSERT_TRUE(zip->openFromMemory(bytes.span(), log));
    EXPECT_FALSE(e->getFileName(name));
    EXPECT_FALSE(e->setCompressionMethod(0));
    DataBuffer out;
    Logger errors;
    EXPECT_FALSE(e->inflate(out, errors));
    EXPECT_NE(logText(errors).find("Zip entry no longer exists"), std::string::npos);

    // Destroying the last zip handle destroys the registry.
    auto w = other->getEntryByIndex(0);
    ASSERT_TRUE(w && w->isDirectory() == false && w->getFileName(name));
    other.reset();
    EXPECT_FALSE(w->getFileName(name));
    EXPECT_FALSE(w->isDirectory());
    EXPECT_EQ(w->uncompressedSize(), 0u);
}

TEST(ZipArchiveTest, FailedOpenLeavesTheArchiveEmpty) {
    LogNull log;
    auto zip = ZipHandle::create();
    ASSERT_TRUE(zip->appendData("x", bytesOf("x"), log));
    Logger errors;
    EXPECT_FALSE(zip->openFromMemory(bytesOf("this is not an archive at all"), errors));
    EXPECT_EQ(zip->numEntries(), 0);
    EXPECT_NE(logText(errors).find("Not a zip archive"), std::string::npos);
}
