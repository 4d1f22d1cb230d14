// The e-mail object's attachments, related items and attached messages: index checks with
// their messages, saving to disk (names from the message never leave the directory), and the
// members that read items back.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <regex>
#include <set>

using namespace norvane;
using namespace norvane::test;

namespace {

std::string indexLog(const std::string& context, const std::string& what, int index,
                     const std::string& countName, int count) {
    return "<NorvaneLog>\r\n<" + context + ">\r\n    <error>Index out of range: no " + what +
           " at index = " + std::to_string(index) + ".</error>\r\n    <index>" +
           std::to_string(index) + "</index>\r\n    <" + countName + ">" + std::to_string(count) +
           "</" + countName + ">\r\n</" + context + ">\r\n</NorvaneLog>\r\n";
}

std::string attachmentPart(const std::string& filename, const std::string& body) {
    return "--b\r\nContent-Type: application/octet-stream\r\n"
           "Content-Disposition: attachment; filename=\"" +
           filename + "\"\r\n\r\n" + body + "\r\n";
}

} // namespace

TEST(ClsEmailTest, EveryIndexedMemberLogsItsIndexMessage) {
    ClsEmail e;
    ASSERT_TRUE(e.AddStringAttachment("a.txt", "alpha"));
    (void)e.AddRelatedData(bytesOf("img"), "p.png");
    struct Case {
        const char* context;
        std::function<void(ClsEmail&, int)> call;
    };
    const Case attachmentCases[] = {
        {"DropSingleAttachment",
         [](ClsEmail& m, int i) { EXPECT_FALSE(m.DropSingleAttachment(i)); }},
        {"GetAttachmentFilename",
         [](ClsEmail& m, int i) { EXPECT_EQ(m.GetAttachmentFilename(i), ""); }},
        {"SetAttachmentFilename",
         [](ClsEmail& m, int i) { EXPECT_FALSE(m.SetAttachmentFilename(i, "x")); }},
        {"GetAttachmentData",
         [](ClsEmail& m, int i) { EXPECT_TRUE(m.GetAttachmentData(i).isEmpty()); }},
        {"GetAttachmentContentType",
         [](ClsEmail& m, int i) { EXPECT_EQ(m.GetAttachmentContentType(i), ""); }},
        {"GetAttachmentContentID",
         [](ClsEmail& m, int i) { EXPECT_EQ(m.GetAttachmentContentID(i), ""); }},
        {"GetAttachmentSize", [](ClsEmail& m, int i) { EXPECT_EQ(m.GetAttachmentSize(i), 0); }},
        {"GetAttachmentHeader",
         [](ClsEmail& m, int i) { EXPECT_EQ(m.GetAttachmentHeader(i, "x"), ""); }},
    };
    for (int index : {1, -1}) {
        for (const auto& c : attachmentCases) {
            c.call(e, index);
            EXPECT_EQ(e.get_LastErrorXml(),
                      indexLog(c.context, "attachment", index, "num_attachments", 1));
        }
    }
    const Case relatedCases[] = {
        {"GetRelatedFilename", [](ClsEmail& m, int i) { EXPECT_EQ(m.GetRelatedFilename(i), ""); }},
        {"GetRelatedData", [](ClsEmail& m, int i) { EXPECT_TRUE(m.GetRelatedData(i).isEmpty()); }},
        {"GetRelatedContentID",
         [](ClsEmail& m, int i) { EXPECT_EQ(m.GetRelatedContentID(i), ""); }},
        {"GetRelatedContentType",
         [](ClsEmail& m, int i) { EXPECT_EQ(m.GetRelatedContentType(i), ""); }},
        {"SaveRelatedItem", [](ClsEmail& m, int i) { EXPECT_FALSE(m.SaveRelatedItem(i, "")); }},
    };
    for (const auto& c : relatedCases) {
        c.call(e, 1);
        EXPECT_EQ(e.get_LastErrorXml(),
                  indexLog(c.context, "related item", 1, "num_related_items", 1));
    }
    EXPECT_EQ(e.GetAttachedMessage(0), nullptr);
    EXPECT_EQ(e.get_LastErrorXml(),
              indexLog("GetAttachedMessage", "attached message", 0, "num_attached_msgs", 0));
}

TEST(ClsEmailTest, AttachmentMembersReadAndChangeTheItems) {
    test::TempDir dir;
    const std::string path = dir.file("notes.txt");
    ASSERT_TRUE(file::writeWholeFile(path, std::string_view("line1\nline2\r\n"), nullptr));
    ClsEmail e;
    e.put_Body("see attached");
    EXPECT_EQ(e.AddFileAttachment(path.c_str()), "text/plain");
    EXPECT_TRUE(e.AddFileAttachment2(path.c_str(), "  "));
    EXPECT_EQ(e.AddDataAttachment(bytesOf("%PDF"), " r.pdf "), "application/pdf");
    EXPECT_TRUE(e.AddStringAttachment("caf\xC3\xA9.txt", "caf\xC3\xA9"));
    EXPECT_EQ(e.get_NumAttachments(), 4);
    EXPECT_EQ(e.GetAttachmentContentType(1), "application/octet-stream");
    EXPECT_EQ(e.GetAttachmentFilename(2), "r.pdf");
    EXPECT_EQ(e.GetAttachmentSize(2), 4);
    EXPECT_EQ(e.GetAttachmentString(0, "us-ascii"), "line1\nline2\r\n");
    EXPECT_EQ(e.GetAttachmentStringCrLf(0, "utf-8"), "line1\r\nline2\r\n");
    // Latin-1 bytes read as Latin-1 become UTF-8 text.
    EXPECT_TRUE(e.AddDataAttachment(bytesOf("caf\xE9"), "l1.txt") == "text/plain");
    EXPECT_EQ(e.GetAttachmentString(4, "iso-8859-1"), "caf\xC3\xA9");

    EXPECT_EQ(e.GetAttachmentHeader(0, ""), "");
    EXPECT_EQ(e.GetAttachmentHeader(0, nullptr), "");
    e.AddAttachmentHeader(0, "X-Extra", "v1");
    e.AddAttachmentHeader(9, "X-Extra", "ignored");
    EXPECT_EQ(e.get_LastErrorXml(), "");
    EXPECT_EQ(e.GetAttachmentHeader(0, " x-extra "), "v1");

    EXPECT_TRUE(e.SetAttachmentFilename(2, "  new.pdf "));
    EXPECT_EQ(e.GetAttachmentFilename(2), "new.pdf");

    EXPECT_EQ(e.AddFileAttachment(dir.file("missing").c_str()), "");
    EXPECT_FALSE(e.AddFileAttachment2(dir.path().c_str(), "text/plain"));
}

TEST(ClsEmailTest, SavingTwiceDrawsAUniqueNameAndRenamesTheAttachment) {
    test::TempDir dir;
    const std::string out = dir.file("a/b");
    ClsEmail e;
    ASSERT_TRUE(e.AddStringAttachment("report.txt", "one"));
    ASSERT_TRUE(e.SaveAllAttachments(out.c_str()));
    ASSERT_TRUE(e.SaveAttachedFile(0, out.c_str()));
    const std::string renamed = e.GetAttachmentFilename(0);
    EXPECT_TRUE(std::regex_match(renamed, std::regex("report_[A-Z0-9]{4}\\.txt"))) << renamed;
    EXPECT_EQ(listDir(out), (std::set<std::string>{"report.txt", renamed}));
    EXPECT_EQ(test::readFile(out + "/" + renamed), "one");
}

TEST(ClsEmailTest, OverlongNamesAreSavedShortenedWithTheirExtension) {
    test::TempDir dir;
    ClsEmail e;
    std::string longName;
    for (int i = 0; i < 150; ++i)
        longName += "\xC3\xA9"; // 300 bytes, cut only between characters
    ASSERT_TRUE(e.AddStringAttachment((longName + ".pdf").c_str(), "data"));
    ASSERT_TRUE(e.SaveAttachedFile(0, dir.path().c_str()));
    const std::string saved = e.GetAttachmentFilename(0);
    EXPECT_EQ(saved, longName.substr(0, 196) + ".pdf");
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{saved}));
    EXPECT_EQ(test::readFile(dir.path() + "/" + saved), "data");
}

TEST(ClsEmailTest, SavedNamesNeverLeaveTheDirectory) {
    test::TempDir dir;
    const std::string mime = "Content-Type: multipart/mixed; boundary=b\r\n\r\n" +
                             attachmentPart("../../x", "1") + attachmentPart("/etc/x2", "2") +
                             attachmentPart("a/b/c.txt", "3") +
                             attachmentPart("C:\\x\\y.txt", "4") + attachmentPart("..", "5") +
                             attachmentPart("sub/", "6") + "--b--\r\n";
    ClsEmail e;
    ASSERT_TRUE(e.SetFromMimeText(mime.c_str()));
    ASSERT_EQ(e.get_NumAttachments(), 6);
    const std::string out = dir.file("out");
    const std::string cwd = file::currentDirectory();
    ASSERT_TRUE(e.SaveAllAttachments(out.c_str()));
    EXPECT_EQ(file::currentDirectory(), cwd);
    const auto names = listDir(out);
    EXPECT_EQ(names.size(), 6u);
    for (const char* n : {"x", "x2", "c.txt", "y.txt", "attachedFile.dat"})
        EXPECT_EQ(names.count(n), 1u) << n;
    EXPECT_EQ(test::readFile(out + "/c.txt"), "3");
    EXPECT_EQ(test::readFile(out + "/attachedFile.dat"), "5");
    EXPECT_EQ(listDir(dir.path()), (std::set<std::string>{"out"}));

    // A file in the way of the directory: failure, not a silent success.
    ASSERT_TRUE(file::writeWholeFile(dir.file("plain"), std::string_view("x"), nullptr));
    EXPECT_FALSE(e.SaveAttachedFile(0, dir.file("plain").c_str()));
    EXPECT_NE(e.get_LastErrorText().find("directory: " + dir.file("plain")), std::string::npos);
}

TEST(ClsEmailTest, RelatedItemsAddReadSaveAndDrop) {
    test::TempDir dir;
    const std::string png = dir.file("logo.png");
    ASSERT_TRUE(file::writeWholeFile(png, std::string_view("\x89PNG-data"), nullptr));
    ClsEmail e;
    ASSERT_TRUE(e.SetHtmlBody("<p>hi</p>"));
    const std::string cid = e.AddRelatedFile(png.c_str());
    EXPECT_TRUE(std::regex_match(cid, std::regex("NORVANE-CID-[-0-9a-f]+"))) << cid;
    EXPECT_EQ(e.GetRelatedContentID(0), "<" + cid + ">");
    const std::string cid2 = e.AddRelatedData(bytesOf("a\nb"), "t.txt");
    EXPECT_EQ(e.GetRelatedContentID(1), "<" + cid2 + ">");
    EXPECT_EQ(e.get_NumRelatedItems(), 2);
    EXPECT_EQ(e.get_NumAttachments(), 0);
    EXPECT_EQ(e.GetRelatedFilename(0), "logo.png");
    EXPECT_EQ(e.GetRelatedContentType(0), "image/png");
    EXPECT_EQ(e.GetRelatedContentType(1), "text/plain");
    EXPECT_EQ(e.GetRelatedData(0).toString(), "\x89PNG-data");
    EXPECT_EQ(e.GetRelatedStringCrLf(1, "us-ascii"), "a\r\nb");

    EXPECT_EQ(e.AddRelatedFile(nullptr), "");
    EXPECT_EQ(e.AddRelatedData(bytesOf("x"), nullptr), "");
    EXPECT_EQ(e.AddRelatedFile(dir.file("none.png").c_str()), "");

    const std::string out = dir.file("rel");
    ASSERT_TRUE(e.SaveRelatedItem(0, out.c_str()));
    ASSERT_TRUE(e.SaveRelatedItem(0, out.c_str()));
    const std::string second = e.GetRelatedFilename(0);
    EXPECT_NE(second, "logo.png");
    EXPECT_EQ(listDir(out), (std::set<std::string>{"logo.png", second}));
    // The new name did not turn the inline item into an attachment.
    EXPECT_EQ(e.get_NumAttachments(), 0);
    EXPECT_EQ(e.get_NumRelatedItems(), 2);

    e.DropRelatedItems();
    EXPECT_EQ(e.get_NumRelatedItems(), 0);
}

TEST(ClsEmailTest, RemoveAttachmentPathsKeepsTheLastComponent) {
    const std::string mime = "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                             "--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n" +
                             attachmentPart("C:\\docs\\a.txt", "1") +
                             attachmentPart("dir/sub/b.txt", "2") + attachmentPart("c.txt", "3") +
                             "--b--\r\n";
    ClsEmail e;
    ASSERT_TRUE(e.SetFromMimeText(mime.c_str()));
    e.RemoveAttachmentPaths();
    EXPECT_EQ(e.GetAttachmentFilename(0), "a.txt");
    EXPECT_EQ(e.GetAttachmentFilename(1), "b.txt");
    EXPECT_EQ(e.GetAttachmentFilename(2), "c.txt");
    EXPECT_EQ(e.GetAttachmentHeader(1, "Content-Disposition"), "attachment; filename=\"b.txt\"");
}

TEST(ClsEmailTest, AttachedMessageComesBackAsANewObject) {
    const std::string mime = "Subject: outer\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                             "--b\r\nContent-Type: text/plain\r\n\r\nsee inner\r\n"
                             "--b\r\nContent-Type: message/rfc822\r\n\r\n"
                             "Subject: inner\r\nFrom: In <in@example.com>\r\n\r\ninner body\r\n"
                             "--b--\r\n";
    ClsEmail e;
    ASSERT_TRUE(e.SetFromMimeText(mime.c_str()));
    auto inner = e.GetAttachedMessage(0);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->get_FromAddress(), "in@example.com");
    inner->put_Subject("changed");
    EXPECT_EQ(e.GetAttachedMessage(0)->get_Subject(), "inner");
}
