#include "email/Email2.h"

#include "EmailTestSupport.h"

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

// The field's text is composed as the MIME layer composes it; the e-mail keeps the charset.
TEST_F(Email2Test, ContentTypeRecordsTheCharsetOfTextTypesOnly) {
    Email2 e;
    e.setContentType({.type = "text/plain", .charset = charsetOf(28591)});
    EXPECT_EQ(field(e, "Content-Type"), "text/plain; charset=\"iso-8859-1\"");
    EXPECT_EQ(e.charset().getName(), "iso-8859-1");
    // A non-text type leaves the recorded charset alone.
    e.setContentType({.type = "multipart/mixed", .boundary = "BND"});
    EXPECT_EQ(e.charset().getCodePage(), 28591);
    // typeParam text/html makes the charset a parameter of this type: none given clears it.
    e.setContentType({.type = "multipart/related", .boundary = "R", .typeParam = "text/html"});
    EXPECT_EQ(e.charset().getCodePage(), 0);

    e.setContentType({.type = "text/plain"});
    e.setFormatFlowed(true);
    e.setContentType({.type = "text/plain", .charset = charsetOf(65001)});
    EXPECT_EQ(field(e, "Content-Type"), "text/plain; charset=\"utf-8\";format=flowed");
    e.setContentType({});
    EXPECT_EQ(e.contentType(), "text/plain");
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
