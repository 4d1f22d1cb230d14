#include "archive/AttachmentArchive.h"

#include "archive/ZipHandle.h"
#include "archive/ZipReader.h"
#include "common/Logger.h"
#include "support/Bytes.h"
#include "support/LogText.h"
#include "unit/archive/ZipTestBytes.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;
using attachment_archive::unzipAttachments;
using attachment_archive::zipAttachments;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

// An archive made by our own writer; names ending in '/' are directories.
std::string makeZip(const Files& files) {
    auto zip = ZipHandle::create();
    LogNull log;
    for (const auto& [name, data] : files)
        EXPECT_NE(zip->appendData(name, bytesOf(data), log), nullptr) << name;
    DataBuffer out;
    EXPECT_TRUE(zip->writeToMemory(out, log));
    return out.toString();
}

Files attachmentsOf(const Email2& e) {
    Files out;
    for (const Email2* a : e.attachments())
        out.emplace_back(a->attachmentFilename(), a->body().toString());
    return out;
}

std::unique_ptr<Email2> withAttachments(const Files& files) {
    auto e = std::make_unique<Email2>();
    e->setBody("body text", false);
    for (const auto& [name, data] : files)
        (void)e->addDataAttachment(name, DataBuffer(std::string_view(data)), "");
    return e;
}

std::string render(const Email2& e) {
    StringBuffer out;
    LogNull log;
    e.renderMime(out, "", log);
    return out.str();
}

} // namespace

TEST(AttachmentArchiveTest, ZippingReplacesTheAttachmentsByOneDeflatedArchive) {
    std::string big(50000, 'x');
    auto e = withAttachments({{"a.txt", "first file\r\n"}, {"b.bin", big}});
    Logger log;
    ASSERT_TRUE(zipAttachments(e.get(), "  ", log));
    ASSERT_EQ(e->numAttachments(), 1);
    const Email2* zip = e->attachmentAt(0);
    EXPECT_EQ(zip->attachmentFilename(), "attach.zip");
    EXPECT_EQ(zip->contentType(), "application/zip");
    EXPECT_EQ(e->getBody().toString(), "body text");

    std::vector<zip::DirEntry> dir;
    ASSERT_TRUE(zip::readDirectory(zip->body().span(), dir, log));
    ASSERT_EQ(dir.size(), 2u);
    EXPECT_EQ(dir[0].name, "a.txt");
    EXPECT_EQ(dir[1].name, "b.bin");
    for (const auto& d : dir)
        EXPECT_EQ(d.method, 8);
    EXPECT_LT(dir[1].compressedSize, 1000u);

    const std::string text = logText(log);
    EXPECT_NE(logXml(log).find("<ZipAttachments>"), std::string::npos) << logXml(log);
    for (const char* expected :
         {"ZipFilename", "NumAttachments: 2", "added_file: a.txt", "added_file: b.bin"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

    // Unzipping gives back the same files.
    Logger log2;
    EXPECT_TRUE(unzipAttachments(*e, log2)) << logText(log2);
    EXPECT_EQ(attachmentsOf(*e), (Files{{"a.txt", "first file\r\n"}, {"b.bin", big}}));
}

TEST(AttachmentArchiveTest, ZippingUsesTheTrimmedNameAndIgnoresEmailsWithoutAttachments) {
    auto e = withAttachments({{"x.pdf", "%PDF"}});
    LogNull log;
    ASSERT_TRUE(zipAttachments(e.get(), " bundle.zip\t", log));
    EXPECT_EQ(attachmentsOf(*e).at(0).first, "bundle.zip");

    Email2 plain;
    plain.setBody("nothing attached", false);
    const std::string before = render(plain);
    Logger quiet;
    EXPECT_TRUE(zipAttachments(&plain, "a.zip", quiet));
    EXPECT_EQ(render(plain), before);
    EXPECT_EQ(logText(quiet).find("ZipFilename"), std::string::npos);

    Logger nullLog;
    EXPECT_FALSE(zipAttachments(nullptr, "a.zip", nullLog));
    EXPECT_NE(logText(nullLog).find("Internal email pointer is NULL"), std::string::npos);
}

TEST(AttachmentArchiveTest, ZippingChangesNothingWhenAnAttachmentCannotGoIn) {
    // Zip entry names are at most 65535 bytes long.
    const Files files{{"a.txt", "kept"}, {std::string(70000, 'n'), "data"}};
    auto e = withAttachments(files);
    Logger log;
    EXPECT_FALSE(zipAttachments(e.get(), "x.zip", log));
    EXPECT_EQ(attachmentsOf(*e), files);
    EXPECT_NE(logText(log).find("Failed to add file to Zip archive"), std::string::npos);
}

TEST(AttachmentArchiveTest, UnzippingPutsTheFilesAfterTheOtherAttachments) {
    const std::string archive = makeZip({{"one.txt", "1"}, {"dir/", ""}, {"dir/two.txt", "22"}});
    auto e = withAttachments({{"a.ZIP", archive}, {"b.txt", "bee"}});
    Logger log;
    EXPECT_TRUE(unzipAttachments(*e, log)) << logText(log);
    // The directory entry gives no attachment; the nested file loses its directory.
    EXPECT_EQ(attachmentsOf(*e), (Files{{"b.txt", "bee"}, {"one.txt", "1"}, {"two.txt", "22"}}));
    EXPECT_EQ(e->attachmentAt(1)->contentType(), "text/plain");

    Email2 none;
    none.setBody("x", false);
    EXPECT_TRUE(unzipAttachments(none, log));
}

TEST(AttachmentArchiveTest, NamesMustEndInDotZip) {
    const std::string archive = makeZip({{"in.txt", "in"}});
    auto e = withAttachments({{"x.zip.txt", archive}, {"zip", archive}, {" Y.Zip ", archive}});
    LogNull log;
    EXPECT_TRUE(unzipAttachments(*e, log));
    EXPECT_EQ(attachmentsOf(*e),
              (Files{{"x.zip.txt", archive}, {"zip", archive}, {"in.txt", "in"}}));
}

TEST(AttachmentArchiveTest, ConsecutiveArchivesAreAllRemovedAndABadOneFailsAndStays) {
    auto e = withAttachments({{"x.zip", "not an archive at all"},
                              {"y.zip", makeZip({{"y.txt", "why"}})},
                              {"z.zip", makeZip({{"z.txt", "zed"}})}});
    Logger log;
    EXPECT_FALSE(unzipAttachments(*e, log));
    EXPECT_EQ(attachmentsOf(*e),
              (Files{{"x.zip", "not an archive at all"}, {"y.txt", "why"}, {"z.txt", "zed"}}));
    EXPECT_NE(logXml(log).find("<UnzipAttachments>"), std::string::npos) << logXml(log);
}

TEST(AttachmentArchiveTest, HostileEntryNamesKeepOnlyTheirLastComponent) {
    const std::string archive = test::buildArchive(
        {stored("../../etc/passwd", "p"), stored("/abs/path.txt", "a"),
         stored("C:\\win\\evil.exe", "e"), stored("..", "d"), stored("ok/../..", "o")});
    auto e = withAttachments({{"h.zip", archive}});
    LogNull log;
    EXPECT_TRUE(unzipAttachments(*e, log));
    const Files got = attachmentsOf(*e);
    EXPECT_EQ(got, (Files{{"passwd", "p"},
                          {"path.txt", "a"},
                          {"evil.exe", "e"},
                          {"unnamed", "d"},
                          {"unnamed", "o"}}));
    for (const auto& [name, data] : got)
        EXPECT_EQ(name.find(".."), std::string::npos) << name;
}

TEST(AttachmentArchiveTest, TextThatShrinksMoreThanAHundredTimesUnzipsAgain) {
    // A log like this used to be refused (the archive was allowed 100 times its own size) and
    // was lost with its archive.
    std::string text;
    for (int i = 0; text.size() < (66u << 20); ++i)
        text += "2026-12-07 04:55:" + std::to_string(i % 60) + " worker INFO request ok\n";
    auto e = withAttachments({{"server.log", text}});
    Logger log;
    ASSERT_TRUE(zipAttachments(e.get(), "logs.zip", log)) << logText(log);
    ASSERT_LT(e->attachmentAt(0)->body().getSize() * 100, text.size());
    EXPECT_TRUE(unzipAttachments(*e, log)) << logText(log);
    ASSERT_EQ(e->numAttachments(), 1);
    EXPECT_EQ(e->attachmentAt(0)->attachmentFilename(), "server.log");
    EXPECT_TRUE(e->attachmentAt(0)->body().view() == text);
}

TEST(AttachmentArchiveTest, AnArchivePastTheEntryLimitStaysWhole) {
    const std::string zeros(2u << 20, '\0');
    const std::string archive = makeZip({{"small.txt", "fine"}, {"bomb.bin", zeros}});
    auto e = withAttachments({{"b.zip", archive}});
    Logger log;
    EXPECT_FALSE(unzipAttachments(*e, log, {.maxEntrySize = 1u << 20}));
    EXPECT_EQ(attachmentsOf(*e), (Files{{"b.zip", archive}}));
    EXPECT_NE(logText(log).find("Entry inflates past the size limit"), std::string::npos)
        << logText(log);
}

TEST(AttachmentArchiveTest, EverythingUnpackedFromOneEmailIsBounded) {
    const std::string mib(1u << 20, 'm');
    auto e = withAttachments({{"a.zip", makeZip({{"a.bin", mib}})},
                              {"b.zip", makeZip({{"b.bin", mib}, {"c.bin", "c"}})}});
    Logger log;
    EXPECT_FALSE(unzipAttachments(*e, log, {.maxTotal = (3u << 20) / 2}));
    const Files got = attachmentsOf(*e);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].first, "b.zip");
    EXPECT_EQ(got[1], (std::pair<std::string, std::string>{"a.bin", mib}));
}

TEST(AttachmentArchiveTest, ZipFilesInsideAnArchiveStayPacked) {
    const std::string inner = makeZip({{"deep.txt", "deep"}});
    auto e = withAttachments({{"outer.zip", makeZip({{"inner.zip", inner}, {"top.txt", "t"}})}});
    LogNull log;
    EXPECT_TRUE(unzipAttachments(*e, log));
    EXPECT_EQ(attachmentsOf(*e), (Files{{"inner.zip", inner}, {"top.txt", "t"}}));
}

TEST(AttachmentArchiveTest, AMessageThatIsOneZipAttachmentIsUnpacked) {
    std::string b64;
    const std::string archive = makeZip({{"only.txt", "only"}});
    LogNull log;
    DataBuffer data{std::string_view(archive)};
    auto single = Email2::makeAttachmentPart("solo.zip", std::move(data), "");
    StringBuffer mime;
    mime.append("From: a@example.com\r\nSubject: zip\r\nMIME-Version: 1.0\r\n");
    single->renderMime(mime, "", log);
    auto e = Email2::fromMime(mime.view(), log);
    ASSERT_EQ(attachmentsOf(*e).size(), 1u);
    EXPECT_TRUE(unzipAttachments(*e, log));
    EXPECT_EQ(attachmentsOf(*e), (Files{{"only.txt", "only"}}));
}
