#include "email/Email2.h"

#include "EmailTestSupport.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "support/TestDirs.h"

#include <functional>

using namespace norvane;
using namespace norvane::test;

namespace {

DataBuffer bytes(std::string_view s) {
    return DataBuffer(s);
}

} // namespace

class Email2AttachTest : public DeterministicEmailTest {};

TEST_F(Email2AttachTest, AttachmentTurnsAPlainEmailIntoMixed) {
    Email2 e; // UUID 1: Message-ID
    e.setBody("Hello", false);
    EXPECT_EQ(e.addDataAttachment("report.pdf", bytes("%PDF-1.4"), ""), "application/pdf");
    const std::string b = testBoundary(2, "_.MIX");
    EXPECT_EQ(e.boundary(), b);
    EXPECT_FALSE(e.header().hasField("Content-Transfer-Encoding"));
    EXPECT_EQ(e.transferEncoding(), "");
    ASSERT_EQ(e.partCount(), 2);
    EXPECT_EQ(e.partAt(0)->contentType(), "text/plain");
    EXPECT_EQ(e.partAt(0)->transferEncoding(), "quoted-printable");
    EXPECT_EQ(render(e), defaultHeaderStart(1) +
                             "X-Mailer: Norvane Mail 0.1 (Linux)\r\n"
                             "X-Priority: 3 (Normal)\r\n"
                             "Content-Type: multipart/mixed;\r\n\tboundary=\"" +
                             b +
                             "\"\r\n"
                             "\r\n"
                             "This is a multi-part message in MIME format.\r\n\r\n"
                             "--" +
                             b +
                             "\r\n"
                             "Content-Type: text/plain\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n"
                             "\r\n"
                             "Hello\r\n"
                             "--" +
                             b +
                             "\r\n"
                             "Content-Type: application/pdf;\r\n\tname=\"report.pdf\"\r\n"
                             "Content-Transfer-Encoding: base64\r\n"
                             "Content-Disposition: attachment;\r\n\t filename=\"report.pdf\"\r\n"
                             "\r\n"
                             "JVBERi0xLjQ=\r\n"
                             "\r\n"
                             "--" +
                             b + "--\r\n");
}

TEST_F(Email2AttachTest, ContentTypesComeFromTheLowerCasedExtension) {
    Email2 e;
    EXPECT_EQ(e.addDataAttachment("REPORT.PDF", bytes("x"), ""), "application/pdf");
    EXPECT_EQ(e.addDataAttachment("notes.xyz", bytes("x"), ""), "application/octet-stream");
    EXPECT_EQ(e.addDataAttachment("noextension", bytes("x"), ""), "application/octet-stream");
    EXPECT_EQ(e.addDataAttachment("dir.d/README", bytes("x"), ""), "application/octet-stream");
    EXPECT_EQ(e.addDataAttachment("a.txt", bytes("x"), "  "), "text/plain");
    EXPECT_EQ(e.addDataAttachment("a.txt", bytes("x"), " image/x-custom "), "image/x-custom");
    EXPECT_EQ(e.addDataAttachment("", bytes("x"), ""), "application/octet-stream");
    EXPECT_EQ(e.attachmentAt(6)->attachmentFilename(), "attach.dat");
    // A text attachment is quoted-printable, anything else base64.
    EXPECT_EQ(e.attachmentAt(4)->transferEncoding(), "quoted-printable");
    EXPECT_EQ(e.attachmentAt(0)->transferEncoding(), "base64");
    // The name is the last path component of either kind.
    EXPECT_EQ(e.addDataAttachment("C:\\docs\\plan.doc", bytes("x"), ""), "application/msword");
    EXPECT_EQ(e.attachmentAt(7)->name(), "plan.doc");
    EXPECT_EQ(e.attachmentAt(7)->filename(), "plan.doc");
}

TEST_F(Email2AttachTest, RelatedItemWithUnknownExtensionIsBase64Text) {
    auto p = Email2::makeRelatedPart("data.xyz", bytes("\x01"));
    EXPECT_EQ(p->contentType(), "text/plain");
    EXPECT_EQ(p->transferEncoding(), "base64");
    EXPECT_EQ(p->name(), "data.xyz");
    EXPECT_FALSE(p->header().hasField("Content-Disposition"));
    EXPECT_EQ(p->contentId(), "<NORVANE-CID-" + test::testUuid(1) + ">");
    auto css = Email2::makeRelatedPart("style.css", bytes("b{}"));
    EXPECT_EQ(css->contentType(), "text/css");
    EXPECT_EQ(css->transferEncoding(), "quoted-printable");
}

TEST_F(Email2AttachTest, FileAttachmentsReadTheFileOrAddNothing) {
    test::TempDir dir;
    const std::string path = dir.file("photo.JPG");
    ASSERT_TRUE(file::writeWholeFile(path, std::string_view("\xFF\xD8\xFF"), nullptr));
    Email2 e;
    Logger log;
    std::string type;
    ASSERT_TRUE(e.addFileAttachment(path, "", type, log));
    EXPECT_EQ(type, "image/jpeg");
    EXPECT_EQ(e.attachmentAt(0)->body().toString(), "\xFF\xD8\xFF");
    EXPECT_EQ(e.attachmentAt(0)->attachmentFilename(), "photo.JPG");

    type.clear();
    EXPECT_FALSE(e.addFileAttachment(dir.file("missing.pdf"), "", type, log));
    EXPECT_EQ(type, "");
    EXPECT_EQ(e.numAttachments(), 1);

    std::string cid;
    EXPECT_FALSE(e.addRelatedFile(dir.file("missing.png"), cid, log));
    EXPECT_EQ(e.numRelatedItems(), 0);

    ASSERT_TRUE(e.addRelatedFile(path, cid, log));
    EXPECT_EQ(e.numRelatedItems(), 1);
    EXPECT_EQ(e.relatedItem(0)->contentId(), cid);
}

TEST_F(Email2AttachTest, HtmlAlternativeGoesAfterThePlainBodyAndReplacesASecondOne) {
    Email2 e;
    e.setBody("plain", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>one</b>", Charset()));
    EXPECT_EQ(shape(e), "multipart/alternative(text/plain,text/html)");
    EXPECT_TRUE(e.boundary().ends_with("_.ALT"));
    EXPECT_FALSE(e.header().hasField("Content-Transfer-Encoding"));
    EXPECT_EQ(e.partAt(0)->body().toString(), "plain");
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>two</b>", Charset()));
    ASSERT_EQ(e.partCount(), 2);
    EXPECT_NE(e.partAt(1)->body().toString().find("<b>two</b>"), std::string::npos);
}

TEST_F(Email2AttachTest, PlainAlternativeGoesFirstAndIsFlowed) {
    Email2 e;
    e.setHtmlBody("<p>html</p>");
    e.addAlternative(Email2::makePlainAlternativePart("caf\xC3\xA9"));
    EXPECT_EQ(shape(e), "multipart/alternative(text/plain,text/html)");
    // The charset chosen for the text stays on the part, or readers would take it for ASCII.
    EXPECT_EQ(field(*e.partAt(0), "Content-Type"),
              "text/plain; charset=\"iso-8859-1\";format=flowed");
}

TEST_F(Email2AttachTest, RelatedItemsAndAttachmentsNestInTheRightContainers) {
    struct Case {
        bool alternative, relatedFirst;
        const char* tree;
    };
    const Case cases[] = {
        // On a mixed e-mail a related item wraps the alternative in a new related part...
        {true, false,
         "multipart/mixed(multipart/related[multipart/alternative](multipart/alternative("
         "text/plain,text/html),image/png),application/zip)"},
        // ...or, without an alternative, the first leaf.
        {false, false,
         "multipart/mixed(multipart/related[text/html](text/html,image/png),"
         "application/zip)"},
        // An attachment on a related e-mail wraps it in mixed; the root type survives.
        {false, true,
         "multipart/mixed(multipart/related[text/html](text/html,image/png),"
         "application/zip)"},
        {true, true,
         "multipart/mixed(multipart/related[multipart/alternative](multipart/alternative("
         "text/plain,text/html),image/png),application/zip)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tree);
        Email2 e;
        if (c.alternative) {
            e.setBody("plain", false);
            e.addAlternative(Email2::makeHtmlAlternativePart("<img src=\"cid:i\">", Charset()));
        } else {
            e.setHtmlBody("<p>x</p>");
        }
        std::string cid;
        if (c.relatedFirst)
            e.addRelatedData("i.png", bytes("\x89PNG"), cid);
        (void)e.addDataAttachment("a.zip", bytes("PK"), "");
        if (!c.relatedFirst)
            e.addRelatedData("i.png", bytes("\x89PNG"), cid);
        EXPECT_EQ(shape(e), c.tree);
        EXPECT_TRUE(e.partAt(0)->boundary().ends_with("_.REL"));
        EXPECT_EQ(e.partAt(0)->partAt(1)->contentId(), cid);
        EXPECT_EQ(e.numRelatedItems(), 1);
        EXPECT_EQ(e.numAttachments(), 1);
        EXPECT_EQ(e.htmlNode()->contentType(), "text/html");
    }
}

TEST_F(Email2AttachTest, DispositionMovesWithTheContentIntoTheNewContainer) {
    LogNull log;
    auto e = Email2::fromMime("Content-Type: application/pdf; name=a.pdf\r\n"
                              "Content-Disposition: attachment; filename=a.pdf\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\nJVBERg==\r\n",
                              log);
    EXPECT_EQ(e->numAttachments(), 1);
    (void)e->addDataAttachment("b.txt", bytes("b"), "");
    EXPECT_FALSE(e->header().hasField("Content-Disposition"));
    EXPECT_EQ(e->disposition(), "");
    EXPECT_EQ(e->numAttachments(), 2);
    EXPECT_EQ(e->attachmentAt(0)->attachmentFilename(), "a.pdf");
    EXPECT_EQ(e->attachmentAt(0)->body().toString(), "%PDF");
}

TEST_F(Email2AttachTest, CollectingFindsNestedAttachmentsAndRelatedDispositionOnes) {
    LogNull log;
    auto e = Email2::fromMime(
        "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
        "--m\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
        "--r\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n"
        "--r\r\nContent-Type: image/png; name=inline.png\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-ID: <i>\r\n\r\niVBO\r\n"
        "--r\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=r.txt\r\n\r\n"
        "related attachment\r\n--r--\r\n"
        "--m\r\nContent-Type: application/zip; name=z.zip\r\nContent-Transfer-Encoding: base64\r\n"
        "\r\nUEs=\r\n"
        "--m\r\nContent-Type: multipart/mixed; boundary=n\r\n\r\n"
        "--n\r\nContent-Type: text/csv\r\nContent-Disposition: attachment; filename=d.csv\r\n\r\n"
        "a,b\r\n--n--\r\n"
        "--m--\r\n",
        log);
    const auto list = e->attachments();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0]->attachmentFilename(), "r.txt");
    EXPECT_EQ(list[1]->attachmentFilename(), "z.zip");
    EXPECT_EQ(list[2]->attachmentFilename(), "d.csv");
    EXPECT_EQ(e->numRelatedItems(), 2);

    EXPECT_FALSE(e->removeAttachment(3));
    EXPECT_FALSE(e->removeAttachment(-1));
    EXPECT_TRUE(e->removeAttachment(1));
    ASSERT_EQ(e->numAttachments(), 2);
    EXPECT_EQ(e->attachmentAt(1)->attachmentFilename(), "d.csv");

    e->dropAllAttachments();
    EXPECT_EQ(e->numAttachments(), 0);
    EXPECT_EQ(e->numRelatedItems(), 1); // the inline image stays
    EXPECT_EQ(e->partCount(), 2);       // the related part and the emptied inner mixed
}

TEST_F(Email2AttachTest, ASinglePartAttachmentIsCountedButCannotBeRemoved) {
    LogNull log;
    auto e = Email2::fromMime("Content-Type: application/pdf\r\n"
                              "Content-Disposition: attachment; filename=a.pdf\r\n\r\n%PDF",
                              log);
    EXPECT_EQ(e->numAttachments(), 1);
    EXPECT_EQ(e->attachmentAt(0), e.get());
    EXPECT_FALSE(e->removeAttachment(0));
    EXPECT_FALSE(e->removeAttachment(1));
}

TEST_F(Email2AttachTest, AttachmentFilenamePrefersFilenameThenNameAndDecodesWords) {
    Email2 p{Email2::Blank{}};
    EXPECT_EQ(p.attachmentFilename(), "attachedFile.dat");
    p.setContentType({.type = "application/pdf", .name = "=?utf-8?B?w6kucGRm?="});
    EXPECT_EQ(p.attachmentFilename(), "\xC3\xA9.pdf");
    p.setDisposition("attachment", "plan.pdf");
    EXPECT_EQ(p.attachmentFilename(), "plan.pdf");
}

TEST_F(Email2AttachTest, AlternativeAddedToARelatedEmailLandsInsideIt) {
    Email2 e;
    e.setHtmlBody("<p>x</p>");
    std::string cid;
    e.addRelatedData("i.gif", bytes("GIF8"), cid);
    e.addAlternative(Email2::makePlainAlternativePart("text"));
    EXPECT_EQ(shape(e), "multipart/related[multipart/alternative](multipart/alternative("
                        "text/plain,text/html),image/gif)");
}

TEST_F(Email2AttachTest, ItemsReadByIndexFollowEveryEdit) {
    Email2 e;
    e.setBody("body", false);
    (void)e.addDataAttachment("a.txt", bytes("a"), "text/plain");
    (void)e.addDataAttachment("b.txt", bytes("b"), "text/plain");
    // Each edit comes after a read, and the next read must see it.
    const std::pair<std::function<void()>, int> steps[] = {
        {[] {}, 2},
        {[&] { (void)e.removeAttachment(0); }, 1},
        {[&] { e.attachmentAt(0)->setDisposition("inline", ""); }, 0},
        {[&] { (void)e.addDataAttachment("c.txt", bytes("c"), "text/plain"); }, 1},
        {[&] { e.dropAllAttachments(); }, 0},
    };
    for (const auto& [edit, count] : steps) {
        edit();
        EXPECT_EQ(e.numAttachments(), count);
        EXPECT_EQ(e.attachmentAt(count), nullptr);
    }
    Email2 a;
    a.setBody("text", false);
    a.addAlternative(Email2::makeHtmlAlternativePart("<p>x</p>", Charset()));
    EXPECT_EQ(a.numAlternatives(), 2);
    a.findAlternativeNode()->addPart(Email2::makeHtmlAlternativePart("<p>y</p>", Charset()));
    EXPECT_EQ(a.numAlternatives(), 3);
    (void)a.findAlternativeNode()->removePart(0);
    EXPECT_EQ(a.numAlternatives(), 2);
}
