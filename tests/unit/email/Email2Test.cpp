#include "mime/Email2.h"

#include "EmailTestSupport.h"

#include <set>
#include <thread>

using namespace norvane;
using namespace norvane::test;

class Email2Test : public DeterministicEmailTest {};

TEST_F(Email2Test, NewEmailRendersItsDefaultHeaderInOrder) {
    Email2 e;
    EXPECT_EQ(render(e), defaultHeaderStart(1) + "Content-Type: text/plain\r\n"
                                                 "Content-Transfer-Encoding: 7bit\r\n"
                                                 "X-Mailer: Norvane Mail 0.1 (Linux)\r\n"
                                                 "X-Priority: 3 (Normal)\r\n"
                                                 "\r\n");
    EXPECT_EQ(e.date().hour, 14);
    EXPECT_EQ(e.charset().getCodePage(), 0);
}

TEST_F(Email2Test, NewPartKeepsOnlyContentTypeAndEncoding) {
    auto p = Email2::newPart();
    EXPECT_EQ(fieldNames(*p),
              (std::vector<std::string>{"Content-Type", "Content-Transfer-Encoding"}));
    EXPECT_EQ(render(*p), "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\n");
}

TEST_F(Email2Test, BlankEmailHasNoHeaderButTodaysDate) {
    Email2 e{Email2::Blank{}};
    EXPECT_EQ(e.header().fieldCount(), 0);
    EXPECT_EQ(e.contentType(), "");
    EXPECT_EQ(e.date().year, 2024);
    EXPECT_EQ(render(e), "\r\n"); // an empty header is the blank line alone
}

TEST_F(Email2Test, LaterSetsAppendInCallOrder) {
    Email2 e;
    e.setHeaderField("subject", "Hi");
    ASSERT_TRUE(e.setFrom("a@example.com"));
    ASSERT_TRUE(e.addTo("", "b@example.com"));
    e.setBody("x", false); // 7-bit: only the encoding is set again
    EXPECT_EQ(fieldNames(e),
              (std::vector<std::string>{"MIME-Version", "Date", "Message-ID", "Content-Type",
                                        "X-Mailer", "X-Priority", "subject", "From", "return-path",
                                        "To", "Content-Transfer-Encoding"}));
    e.setBody("caf\xC3\xA9", false); // a charset is recorded: Content-Type moves too
    EXPECT_EQ(fieldNames(e),
              (std::vector<std::string>{"MIME-Version", "Date", "Message-ID", "X-Mailer",
                                        "X-Priority", "subject", "From", "return-path", "To",
                                        "Content-Type", "Content-Transfer-Encoding"}));
}

TEST_F(Email2Test, SetHeaderFieldRoutesStructuredNames) {
    Email2 e;
    e.setHeaderField("content-transfer-encoding", " base64 ");
    EXPECT_EQ(e.transferEncoding(), "base64");
    EXPECT_EQ(field(e, "Content-Transfer-Encoding"), "base64");

    e.setHeaderField("CONTENT-ID", "<x@y>");
    EXPECT_EQ(e.contentId(), "<x@y>");

    e.setHeaderField("date", "Mon, 1 Jan 2001 10:00:00 +0200");
    EXPECT_EQ(e.date().year, 2001);
    EXPECT_EQ(e.date().hour, 8);
    EXPECT_EQ(field(e, "Date"), "Mon, 1 Jan 2001 10:00:00 +0200");
    e.setDate("not a date"); // the model keeps its date, the field takes the text
    EXPECT_EQ(e.date().year, 2001);
    EXPECT_EQ(field(e, "Date"), "not a date");

    e.setHeaderField("from", "Ann <ann@example.com>");
    ASSERT_NE(e.from(), nullptr);
    EXPECT_EQ(e.from()->getAddress(), "ann@example.com");

    e.setHeaderField("reply-to", "bob@example.com");
    EXPECT_EQ(field(e, "Reply-To"), "bob@example.com");

    e.setHeaderField("X-Custom", "one");
    e.setHeaderField("x-custom", "two");
    EXPECT_EQ(field(e, "X-Custom"), "two");
    EXPECT_EQ(fieldNames(e).back(), "x-custom");
    e.setHeaderField("X-CUSTOM", "  ");
    EXPECT_FALSE(e.header().hasField("X-Custom"));

    const int before = e.header().fieldCount();
    e.setHeaderField("", "ignored");
    EXPECT_EQ(e.header().fieldCount(), before);
}

TEST_F(Email2Test, RemoveHeaderFieldResetsTheModelBehindIt) {
    Email2 e;
    ASSERT_TRUE(e.setFrom("a@example.com"));
    ASSERT_TRUE(e.addTo("", "b@example.com"));
    ASSERT_TRUE(e.addCc("", "c@example.com"));
    e.setContentType(
        {.type = "text/plain", .name = "n.txt", .charset = charsetOf(28591), .boundary = "b"});
    e.setDisposition("attachment", "n.txt");
    e.setContentId("<id>");

    e.removeHeaderField("TO");
    EXPECT_EQ(e.numRecipients(RecipientKind::To), 0);
    EXPECT_EQ(e.numRecipients(RecipientKind::Cc), 1);
    e.removeHeaderField("cc");
    EXPECT_EQ(e.numRecipients(RecipientKind::Cc), 0);

    e.removeHeaderField("Content-Type");
    EXPECT_EQ(e.contentType(), "");
    EXPECT_EQ(e.name(), "");
    EXPECT_EQ(e.boundary(), "");
    EXPECT_EQ(e.charset().getCodePage(), 0);
    EXPECT_FALSE(e.header().hasField("Content-Type"));

    e.removeHeaderField("content-disposition");
    EXPECT_EQ(e.disposition(), "");
    EXPECT_EQ(e.filename(), "");
    e.removeHeaderField("content-transfer-encoding");
    EXPECT_EQ(e.transferEncoding(), "");
    e.removeHeaderField("content-id");
    EXPECT_EQ(e.contentId(), "");
    e.removeHeaderField("from");
    EXPECT_EQ(e.from(), nullptr);
    EXPECT_FALSE(e.header().hasField("From"));
}

TEST_F(Email2Test, ContentTypeCompositionMatchesTheDocumentedForms) {
    Email2 e;
    e.setContentType({.type = "text/plain", .charset = charsetOf(28591)});
    EXPECT_EQ(field(e, "Content-Type"), "text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(e.charset().getName(), "iso-8859-1");

    e.setContentType({.type = "multipart/mixed", .boundary = "BND"});
    EXPECT_EQ(field(e, "Content-Type"), "multipart/mixed;boundary=\"BND\"");
    // A non-text type leaves the recorded charset alone.
    EXPECT_EQ(e.charset().getCodePage(), 28591);

    e.setContentType({.type = "application/pdf", .name = "a.pdf"});
    EXPECT_EQ(field(e, "Content-Type"), "application/pdf;name=\"a.pdf\"");

    e.setContentType({.type = "multipart/related", .boundary = "R", .typeParam = "text/html"});
    EXPECT_EQ(field(e, "Content-Type"), "multipart/related; type=\"text/html\";boundary=\"R\"");
    // typeParam text/html makes the charset a parameter of this type: none given clears it.
    EXPECT_EQ(e.charset().getCodePage(), 0);

    e.setContentType({.type = "application/x-pkcs7-mime",
                      .name = "smime.p7m",
                      .protocol = "p",
                      .micalg = "sha1",
                      .smimeType = "signed-data"});
    EXPECT_EQ(field(e, "Content-Type"), "application/x-pkcs7-mime;name=\"smime.p7m\";"
                                        "protocol=\"p\";micalg=sha1;smime-type=signed-data");

    e.setContentType({.type = "text/plain"});
    e.setFormatFlowed(true);
    e.setContentType({.type = "text/plain", .charset = charsetOf(65001)});
    EXPECT_EQ(field(e, "Content-Type"), "text/plain; charset=\"utf-8\";format=flowed");
    e.setContentType({});
    EXPECT_EQ(e.contentType(), "text/plain");
}

TEST_F(Email2Test, ComposedContentTypeRendersFoldedAfterSemicolons) {
    Email2 e{Email2::Blank{}};
    e.setContentType({.type = "multipart/mixed", .boundary = testBoundary(7, "_.MIX")});
    EXPECT_EQ(render(e), "Content-Type: multipart/mixed;\r\n\tboundary=\"" +
                             testBoundary(7, "_.MIX") + "\"\r\n\r\n");
}

TEST_F(Email2Test, SetFilenameAndCharsetKeepEveryOtherParameter) {
    Email2 e{Email2::Blank{}};
    e.setContentType({.type = "text/plain", .name = "old.txt", .charset = charsetOf(28592)});
    e.setDisposition("inline", "old.txt");
    e.setFilename("new.txt");
    EXPECT_EQ(field(e, "Content-Type"), "text/plain; charset=\"iso-8859-2\";name=\"new.txt\"");
    EXPECT_EQ(field(e, "Content-Disposition"), "inline; filename=\"new.txt\"");
    EXPECT_EQ(e.filename(), "new.txt");

    e.setCharset(charsetOf(65001));
    EXPECT_EQ(field(e, "Content-Type"), "text/plain; charset=\"utf-8\";name=\"new.txt\"");
    EXPECT_EQ(e.charset().getName(), "utf-8");
}

TEST_F(Email2Test, EncodingFollowsTheCodePage) {
    Email2 e;
    const std::pair<int, const char*> cases[] = {{20127, "7bit"},
                                                 {28591, "quoted-printable"},
                                                 {65001, "base64"},
                                                 {932, "base64"},
                                                 {936, "base64"},
                                                 {874, "base64"},
                                                 {1200, "base64"},
                                                 {1361, "base64"},
                                                 {10001, "base64"},
                                                 {20932, "base64"},
                                                 {1252, "quoted-printable"},
                                                 {0, "quoted-printable"},
                                                 {10000, "quoted-printable"}};
    for (const auto& [cp, enc] : cases) {
        e.setEncodingForCodePage(cp);
        EXPECT_EQ(e.transferEncoding(), enc) << cp;
    }
}

TEST_F(Email2Test, IdentifiersFollowTheirForms) {
    Email2 e; // takes UUID 1 for its Message-ID
    EXPECT_EQ(field(e, "Message-ID"),
              "<NORVANE-MID-" + testUuid(1) + "@" + test::messageIdHost() + ">");
    e.newContentId();
    EXPECT_EQ(e.contentId(), "<NORVANE-CID-" + testUuid(2) + ">");
    // u = 00000000-0000-4000-8000-000000000003
    EXPECT_EQ(Email2::newBoundary("_.ALT"), "----=_NextPart_000_0000_00004000.00000000_.ALT");
    platform::setUuidGeneratorForTesting([] { return "01234567-89ab-cdef-0123-456789abcdef"; });
    EXPECT_EQ(Email2::newBoundary("_.MIX"), "----=_NextPart_012_3456_89abcdef.456789ab_.MIX");
}

TEST_F(Email2Test, SavedFileNamesCountToNineHundredNinetyNineThenRestart) {
    Email2 e;
    auto counterOf = [](const std::string& name) {
        // e_20240305_140709_XXXXXXNNN.eml
        EXPECT_EQ(name.size(), 31u) << name;
        EXPECT_EQ(name.substr(0, 18), "e_20240305_140709_") << name;
        EXPECT_EQ(name.substr(27), ".eml");
        return std::stoi(name.substr(24, 3), nullptr, 16);
    };
    int prev = counterOf(e.savedFileName());
    for (int i = 0; i < 1000; ++i) {
        const int n = counterOf(e.savedFileName());
        EXPECT_EQ(n, prev == 999 ? 0 : prev + 1);
        EXPECT_LE(n, 999);
        prev = n;
    }
}

TEST_F(Email2Test, SavedFileCounterHandsEachNumberOnceAcrossThreads) {
    Email2 e;
    std::vector<int> a, b;
    auto take = [&e](std::vector<int>& out) {
        for (int i = 0; i < 500; ++i)
            out.push_back(std::stoi(e.savedFileName().substr(24, 3), nullptr, 16));
    };
    std::thread t1(take, std::ref(a));
    std::thread t2(take, std::ref(b));
    t1.join();
    t2.join();
    std::set<int> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), 1000u); // 1000 consecutive takes cover 0..999 exactly once
}

TEST_F(Email2Test, SizeCountsHeadersBodiesAndSubParts) {
    Email2 e{Email2::Blank{}};
    e.setHeaderField("Subject", "abc"); // 7 + 3 + 4
    e.setBodyBytes(DataBuffer(std::string_view("12345")));
    auto p = Email2::newPart(); // Content-Type: text/plain (12 + 10 + 4), CTE: 7bit (25+4+4)
    p->setBodyBytes(DataBuffer(std::string_view("xy")));
    e.addPart(std::move(p));
    EXPECT_EQ(e.size(), 14 + 5 + 26 + 33 + 2);

    e.setHeaderField("NVZ-HeaderOnly", "YES");
    e.setHeaderField("NVZ-Size", "123456");
    EXPECT_EQ(e.size(), 123456);
}

TEST_F(Email2Test, SendSizeEstimateAddsSigningAndEncryptionOverhead) {
    Email2 e{Email2::Blank{}};
    e.setHeaderField("Subject", "abc");
    e.setBodyBytes(DataBuffer(std::string(940, 'x')));
    EXPECT_EQ(e.sendSizeEstimate(), 1000);
    e.setSendSigned(true);
    EXPECT_EQ(e.sendSizeEstimate(), 3000);
    e.setSendEncrypted(true);
    EXPECT_EQ(e.sendSizeEstimate(), 3750);
}

TEST_F(Email2Test, TermValuesReadBodyAndHeaderFields) {
    Email2 e;
    e.setHeaderField("Subject", "Quarterly");
    e.setBody("the body", false);
    StringBuffer body, subject, none;
    e.getTermValue("body", body);
    e.getTermValue("subject", subject);
    e.getTermValue("X-None", none);
    EXPECT_EQ(body.str(), "the body");
    EXPECT_EQ(subject.str(), "Quarterly");
    EXPECT_EQ(none.str(), "");
}

TEST_F(Email2Test, NodeRolesFollowDispositionNameAndEncoding) {
    Email2 p{Email2::Blank{}};
    p.setContentType({.type = "application/pdf", .name = "a.pdf"});
    p.setTransferEncoding("base64");
    EXPECT_TRUE(p.isAttachmentNode()); // a name and base64, no disposition
    EXPECT_FALSE(p.isAttachmentDispositionNode());
    p.setDisposition("inline", "");
    EXPECT_FALSE(p.isAttachmentNode()); // inline without filename
    p.setDisposition("inline", "a.pdf");
    EXPECT_TRUE(p.isAttachmentNode());
    p.setDisposition("attachment", "");
    EXPECT_TRUE(p.isAttachmentDispositionNode());
    p.setContentType({.type = "message/rfc822"});
    EXPECT_FALSE(p.isAttachmentNode());
    EXPECT_FALSE(p.isAttachmentDispositionNode());
    EXPECT_TRUE(p.isAttachedMessage());
    p.setContentType({.type = "MULTIPART/Mixed", .boundary = "b"});
    EXPECT_TRUE(p.isMixed());
    EXPECT_TRUE(p.isMultipart());
    EXPECT_FALSE(p.isAlternative());
}

TEST_F(Email2Test, CopyEnvelopeTakesHeaderValuesAndAddresses) {
    Email2 src;
    ASSERT_TRUE(src.setFrom("Ann <ann@example.com>"));
    ASSERT_TRUE(src.addTo("Bob", "bob@example.com"));
    ASSERT_TRUE(src.addCc("", "cc@example.com"));
    ASSERT_TRUE(src.addBcc("Hid", "hid@example.com"));
    src.setHeaderField("Subject", "envelope");
    src.setContentType({.type = "text/plain", .charset = charsetOf(28592)});
    src.setDisposition("inline", "x.txt");
    src.setPopNumber(7);
    src.setDate("Mon, 1 Jan 2001 10:00:00 +0000");

    Email2 dst;
    ASSERT_TRUE(dst.addTo("", "old@example.com"));
    Email2::copyEnvelope(dst, src);
    EXPECT_EQ(dst.charset().getCodePage(), 28592);
    EXPECT_EQ(dst.filename(), "x.txt");
    EXPECT_EQ(dst.popNumber(), 7);
    EXPECT_EQ(dst.date().year, 2001);
    ASSERT_NE(dst.from(), nullptr);
    ASSERT_EQ(dst.numRecipients(RecipientKind::To), 1);
    EXPECT_EQ(dst.recipient(RecipientKind::To, 0)->getAddress(), "bob@example.com");
    ASSERT_EQ(dst.numRecipients(RecipientKind::Bcc), 1);
    EXPECT_EQ(dst.recipient(RecipientKind::Bcc, 0)->getName(), "Hid");
    EXPECT_EQ(render(dst).substr(render(dst).find("\r\nSubject")),
              render(src).substr(render(src).find("\r\nSubject")));
}

TEST_F(Email2Test, BodyGoesIntoANewFirstPartWhenEveryPartHasSubParts) {
    Email2 e{Email2::Blank{}};
    e.setContentType({.type = "multipart/report", .boundary = "r"});
    auto inner = Email2::newPart();
    inner->setContentType({.type = "multipart/mixed", .boundary = "m"});
    inner->addPart(Email2::newPart());
    e.addPart(std::move(inner));
    e.setBody("report text", false);
    ASSERT_EQ(e.partCount(), 2);
    EXPECT_EQ(e.partAt(0)->body().toString(), "report text");
    EXPECT_EQ(e.partAt(0)->contentType(), "text/plain");
    EXPECT_TRUE(e.partAt(1)->isMixed());
}

TEST_F(Email2Test, DefaultCharsetNameMeansNone) {
    LogNull log;
    auto e = Email2::fromMime("Content-Type: text/plain; charset=default\r\n\r\nx", log);
    EXPECT_EQ(e->charset().getCodePage(), 0);
    EXPECT_EQ(e->getBody().toString(), "x");
}
