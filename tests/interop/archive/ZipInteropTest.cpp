// Archives we write are listed, tested and extracted by Info-ZIP's unzip and Python's zipfile
// with the same bytes; archives those tools write are read back by us.
#include "archive/ZipHandle.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "support/Bytes.h"
#include "support/LogText.h"
#include "support/RunCommand.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

using namespace norvane;
using namespace norvane::test;
using test::runCommand;
using test::shellQuote;

namespace {

std::string sampleText() {
    std::string s;
    for (int i = 0; i < 3000; ++i)
        s += "Line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog.\r\n";
    return s;
}

void writeFile(const std::string& path, std::string_view data) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    ASSERT_TRUE(file::writeWholeFile(path, data, nullptr)) << path;
}

// What one of our archives read back holds: name -> bytes ("/" for directories).
std::map<std::string, std::string> readWithEngine(const std::string& path) {
    std::map<std::string, std::string> out;
    DataBuffer bytes;
    Logger log;
    EXPECT_TRUE(file::readWholeFile(path, bytes, &log));
    auto zip = ZipHandle::create();
    if (!zip->openFromMemory(bytes.span(), log)) {
        ADD_FAILURE() << path << ": " << logText(log);
        return out;
    }
    for (int i = 0; i < zip->numEntries(); ++i) {
        auto e = zip->getEntryByIndex(i);
        std::string name;
        EXPECT_TRUE(e->getFileName(name));
        if (e->isDirectory()) {
            out[name] = "/";
            continue;
        }
        DataBuffer data;
        EXPECT_TRUE(e->inflate(data, log)) << name;
        out[name] = data.toString();
    }
    return out;
}

class ZipInteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"zip", "unzip", "python3"})
            ASSERT_TRUE(test::haveProgram(tool)) << tool << " is missing (scripts/packages.txt)";
    }
    test::TempDir dir;
};

} // namespace

TEST_F(ZipInteropTest, UnzipAndPythonExtractOurArchiveWithTheSameBytes) {
    const std::map<std::string, std::string> files = {
        {"report.txt", sampleText()},
        {"image.bin", randomBytes(200000, 11)},
        {"empty.dat", ""},
        {"docs/readme.txt", "read me\n"},
        {"r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.txt", "unicode name"},
    };
    auto zip = ZipHandle::create();
    LogNull log;
    for (const auto& [name, data] : files) {
        auto e = zip->appendData(name, bytesOf(data), log);
        ASSERT_TRUE(e);
        ASSERT_TRUE(e->setCompressionMethod(name == "image.bin" ? 0 : 8));
        ASSERT_TRUE(e->setCompressionLevel(6));
    }
    ASSERT_TRUE(zip->appendData("docs/", {}, log));
    DataBuffer archive;
    ASSERT_TRUE(zip->writeToMemory(archive, log));
    std::string path = dir.file("ours.zip");
    writeFile(path, archive.view());

    EXPECT_EQ(runCommand("unzip -tq " + shellQuote(path) + " >/dev/null"), 0);
    std::string unzipDir = dir.file("by-unzip");
    ASSERT_EQ(runCommand("unzip -q " + shellQuote(path) + " -d " + shellQuote(unzipDir)), 0);
    std::string pyDir = dir.file("by-python");
    std::string listing;
    ASSERT_EQ(runCommand("python3 -c " +
                             shellQuote("import sys, zipfile\n"
                                        "z = zipfile.ZipFile(sys.argv[1])\n"
                                        "assert z.testzip() is None\n"
                                        "z.extractall(sys.argv[2])\n"
                                        "for i in z.infolist():\n"
                                        "    print(i.filename, i.is_dir(), i.compress_type)\n") +
                             " " + shellQuote(path) + " " + shellQuote(pyDir),
                         &listing),
              0);
    for (const auto& [name, data] : files) {
        EXPECT_EQ(test::readFile(unzipDir + "/" + name), data) << name;
        EXPECT_EQ(test::readFile(pyDir + "/" + name), data) << name;
        EXPECT_TRUE(std::filesystem::is_regular_file(pyDir + "/" + name)) << name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(pyDir + "/docs"));
    EXPECT_NE(listing.find("docs/ True 0"), std::string::npos) << listing;
    EXPECT_NE(listing.find("report.txt False 8"), std::string::npos) << listing;
    EXPECT_NE(listing.find("image.bin False 0"), std::string::npos) << listing;
}

TEST_F(ZipInteropTest, ArchivesMadeByZipAreReadBack) {
    std::string src = dir.file("src");
    std::string text = sampleText();
    std::string binary = randomBytes(70000, 5);
    writeFile(src + "/a.txt", text);
    writeFile(src + "/b.bin", binary);
    writeFile(src + "/sub/c.txt", "inner file\n");
    const std::map<std::string, std::string> expected = {
        {"a.txt", text}, {"b.bin", binary}, {"sub/", "/"}, {"sub/c.txt", "inner file\n"}};
    for (const char* level : {"-0", "-6", "-9"}) {
        std::string out = dir.file(std::string("zip") + level + ".zip");
        ASSERT_EQ(runCommand("cd " + shellQuote(src) + " && zip -q -X " + level + " -r " +
                             shellQuote(out) + " a.txt b.bin sub"),
                  0);
        EXPECT_EQ(readWithEngine(out), expected) << level;
    }
    // Written to a pipe, zip cannot seek back: sizes follow the data in data descriptors.
    std::string piped = dir.file("piped.zip");
    ASSERT_EQ(runCommand("cd " + shellQuote(src) + " && zip -q - a.txt b.bin | cat > " +
                         shellQuote(piped)),
              0);
    EXPECT_EQ(readWithEngine(piped),
              (std::map<std::string, std::string>{{"a.txt", text}, {"b.bin", binary}}));
    // Data from standard input, with a stub glued in front of the archive and its offsets left
    // as they were (as in self-extracting files).
    std::string stdinZip = dir.file("stdin.zip");
    ASSERT_EQ(runCommand("printf 'from stdin' | zip -q > " + shellQuote(stdinZip)), 0);
    const std::map<std::string, std::string> fromStdin = {{"-", "from stdin"}};
    EXPECT_EQ(readWithEngine(stdinZip), fromStdin);
    std::string prefixed = dir.file("prefixed.zip");
    writeFile(prefixed, "#!/bin/sh\necho stub\nexit 0\n" + test::readFile(stdinZip));
    EXPECT_EQ(readWithEngine(prefixed), fromStdin);
}

TEST_F(ZipInteropTest, ArchivesMadeByPythonAreReadBack) {
    std::string text = sampleText();
    writeFile(dir.file("text.txt"), text);
    std::string script =
        "import io, sys, zipfile\n"
        "d = sys.argv[1]\n"
        "text = open(d + '/text.txt', 'rb').read()\n"
        "blob = bytes(range(256)) * 500\n"
        "def fill(z):\n"
        "    z.writestr('folder/', b'')\n"
        "    z.writestr('folder/text.txt', text)\n"
        "    z.writestr('blob.bin', blob)\n"
        "    z.writestr('caf\\u00e9.txt', 'accent'.encode())\n"
        "for name, kind in (('stored', zipfile.ZIP_STORED), ('deflated', "
        "zipfile.ZIP_DEFLATED)):\n"
        "    with zipfile.ZipFile(f'{d}/{name}.zip', 'w', kind) as z:\n"
        "        fill(z)\n"
        "        z.comment = b'archive comment'\n"
        "with zipfile.ZipFile(f'{d}/zip64.zip', 'w', zipfile.ZIP_DEFLATED, allowZip64=True) as z:\n"
        "    z.writestr('folder/', b'')\n"
        "    with z.open('folder/text.txt', 'w', force_zip64=True) as f:\n"
        "        f.write(text)\n"
        "    with z.open('blob.bin', 'w', force_zip64=True) as f:\n"
        "        f.write(blob)\n"
        "    z.writestr('caf\\u00e9.txt', 'accent'.encode())\n"
        "class Pipe(io.RawIOBase):\n"
        "    def __init__(self): self.buf = bytearray()\n"
        "    def writable(self): return True\n"
        "    def write(self, b): self.buf += b; return len(b)\n"
        "p = Pipe()\n"
        "with zipfile.ZipFile(p, 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    fill(z)\n"
        "open(f'{d}/streamed.zip', 'wb').write(p.buf)\n";
    ASSERT_EQ(runCommand("python3 -c " + shellQuote(script) + " " + shellQuote(dir.path())), 0);
    std::string blob;
    for (int i = 0; i < 500; ++i)
        for (int b = 0; b < 256; ++b)
            blob.push_back(static_cast<char>(b));
    const std::map<std::string, std::string> expected = {{"folder/", "/"},
                                                         {"folder/text.txt", text},
                                                         {"blob.bin", blob},
                                                         {"caf\xC3\xA9.txt", "accent"}};
    for (const char* name : {"stored", "deflated", "zip64", "streamed"})
        EXPECT_EQ(readWithEngine(dir.file(std::string(name) + ".zip")), expected) << name;
}
