// The e-mail object's frame and core members, observed the way a caller sees them: results,
// the rendered header and the activity log of each member compared whole.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "email/Email2.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace norvane;
using namespace norvane::test;

TEST(ClsEmailTest, AddToChecksOnlyThatAnAddressIsGiven) {
    ClsEmail e;
    EXPECT_FALSE(e.AddTo("Ann", ""));
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("AddTo", data("name", "Ann") + data("address", "") +
                                                       err("No Email Address was provided")));
    EXPECT_FALSE(e.AddCC("x", nullptr));

    EXPECT_TRUE(e.AddTo("  Bob Lee ", "  bob  "));
    EXPECT_EQ(e.get_NumTo(), 1);
    EXPECT_EQ(e.GetTo(0), "\"Bob Lee\" <bob>");

    EXPECT_TRUE(e.AddBcc("", "hidden@example.com"));
    EXPECT_TRUE(e.AddCC("Cy", "cy@example.com"));
    EXPECT_EQ(e.GetBcc(0), "hidden@example.com");
    EXPECT_EQ(e.GetHeaderField("Cc"), "\"Cy\" <cy@example.com>");
}

TEST(ClsEmailTest, AddMultipleReportsEachKindOfBadList) {
    ClsEmail e;
    EXPECT_FALSE(e.AddMultipleTo(" , ,, "));
    EXPECT_FALSE(e.AddMultipleCC(nullptr));
    EXPECT_FALSE(e.AddMultipleBcc(" \t "));

    EXPECT_TRUE(e.AddMultipleTo("a@example.com, \"Lee, Ann\" <ann@example.com>, a@example.com"));
    EXPECT_EQ(e.get_NumTo(), 2);
    EXPECT_EQ(e.GetToName(1), "Lee, Ann");
}

TEST(ClsEmailTest, GetterOutOfRangeIsEmptyAndLeavesAnEmptyLog) {
    ClsEmail e;
    ASSERT_TRUE(e.AddTo("", "one@example.com"));
    ASSERT_FALSE(e.get_LastErrorXml().empty());
    EXPECT_EQ(e.GetTo(5), "");
    EXPECT_EQ(e.get_LastErrorXml(), "");
    EXPECT_EQ(e.GetHeaderFieldName(999), "");
    EXPECT_EQ(e.GetHeaderFieldValue(-1), "");
}

TEST(ClsEmailTest, HeaderFieldsByNameAndPosition) {
    auto owned = fromMime("Subject: Hi there\r\n\r\nbody");
    ClsEmail& e = *owned;
    EXPECT_EQ(e.GetHeaderField("subject"), "Hi there");
    EXPECT_EQ(e.get_Subject(), "Hi there");
    for (const char* missing : {"", "  ", static_cast<const char*>(nullptr)})
        EXPECT_EQ(e.GetHeaderField(missing), "");

    const int before = e.get_NumHeaderFields();
    e.AddHeaderField("X-Note", "first");
    EXPECT_EQ(e.GetHeaderFieldName(before), "X-Note");
    EXPECT_EQ(e.GetHeaderFieldValue(before), "first");
    e.AddHeaderField("X-NOTE", "");
    EXPECT_EQ(e.get_NumHeaderFields(), before);

    EXPECT_EQ(e.get_Header(), "Subject: Hi there");
    e.put_Subject("Next");
    EXPECT_EQ(e.get_Header(), "subject: Next");
}

TEST(ClsEmailTest, SmallPropertiesAreHeaderFields) {
    ClsEmail e;
    e.AddHeaderField("NVX-ReturnReceipt", "yes");
    EXPECT_FALSE(e.get_ReturnReceipt());
    e.put_ReturnReceipt(true);
    EXPECT_EQ(e.GetHeaderField("NVX-ReturnReceipt"), "YES");
    e.put_ReturnReceipt(false);
    EXPECT_EQ(e.GetHeaderField("NVX-ReturnReceipt"), "");

    e.put_Mailer("  Tool 2  ");
    EXPECT_EQ(e.GetHeaderField("X-Mailer"), "Tool 2");
}

TEST(ClsEmailTest, SenderSettersTrim) {
    ClsEmail e;
    e.put_FromName("  Pending Name ");
    e.put_FromAddress(" pn@example.com ");
    EXPECT_EQ(e.get_From(), "\"Pending Name\" <pn@example.com>");
}

TEST(ClsEmailTest, BodyPutChoosesCharsetAndTurnsHtmlIntoPlain) {
    auto owned = fromMime("Content-Type: text/html; charset=iso-8859-2\r\n\r\n<b>x</b>");
    ClsEmail& html = *owned;
    html.put_Body("plain now");
    EXPECT_EQ(html.GetHeaderField("Content-Type"), "text/plain; charset=\"iso-8859-2\"");
    EXPECT_EQ(html.get_Body(), "plain now");

    struct Case {
        const char* text;
        const char* charset;
    };
    const Case cases[] = {
        {"plain ascii", ""},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "iso-8859-1"},
        // U+0101 is Latin extended yet missing from Latin-2: nothing but UTF-8 holds it.
        {"R\xC4\x81ga", "utf-8"},
        // An emoji beside CJK text: a CJK charset would lose it.
        {"\xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80", "utf-8"},
    };
    for (const auto& c : cases) {
        ClsEmail e;
        e.put_Body(c.text);
        EXPECT_EQ(e.get_Charset(), c.charset) << c.text;
        EXPECT_EQ(e.get_Body(), c.text);
        ClsEmail s;
        s.put_Subject(c.text);
        EXPECT_EQ(s.get_Charset(), c.charset) << c.text;
        EXPECT_EQ(s.GetHeaderFieldName(s.get_NumHeaderFields() - 1), "subject");
    }

    ClsEmail e;
    e.put_Body("line one\r\n");
    e.AppendToBody("line two");
    EXPECT_EQ(e.get_Body(), "line one\r\nline two");

    // A received e-mail whose text part sits first in a mixed container, without alternatives.
    ClsEmail received;
    ASSERT_TRUE(received.SetFromMimeText(
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain; charset=iso-8859-2\r\n\r\nx\r\n--b\r\n"
        "Content-Type: application/octet-stream; name=a.bin\r\n\r\ny\r\n--b--\r\n"));
    EXPECT_EQ(received.get_Charset(), "iso-8859-2");
}

TEST(ClsEmailTest, MimeTextInAndOut) {
    ClsEmail e;
    e.put_Subject("Round trip");
    e.put_Body("Body text");
    ClsEmail copy;
    ASSERT_TRUE(copy.SetFromMimeText(e.GetMime().c_str()));
    EXPECT_EQ(copy.GetMime(), e.GetMime());
    // Bodies may hold NUL bytes when the text is passed with its length.
    const std::string withNul("Subject: n\r\n\r\na\0b", 17);
    ASSERT_TRUE(copy.SetFromMimeBytes(bytesOf(withNul)));
    EXPECT_EQ(copy.get_Body(), std::string("a\0b", 3));
}

TEST(ClsEmailTest, MimeStructureDescribesEachPartOnALine) {
    auto e = fromMime("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
                      "Content-Type: text/plain; charset=utf-8\r\n"
                      "Content-Transfer-Encoding: quoted-printable\r\n\r\ncaf=C3=A9\r\n--b\r\n"
                      "Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n"
                      "Content-Disposition: inline; filename*=utf-8''a%0Ab%0D%0Ac.png\r\n"
                      "Content-ID: <x@y>\r\n\r\naGVsbG8=\r\n--b--\r\n");
    EXPECT_EQ(e->GetMimeStructure(),
              "multipart/mixed\n"
              "  text/plain; charset=utf-8, quoted-printable, 5 bytes\n"
              "  image/png, base64, 5 bytes, inline, \"a b c.png\", id <x@y>\n");
    EXPECT_EQ(fromMime("Subject: s\r\n\r\nbody\r\n")->GetMimeStructure(), "(no type), 6 bytes\n");
}

TEST(ClsEmailTest, SaveEmlWritesUnsentMarkAndThenDropsIt) {
    test::TempDir dir;
    ClsEmail e;
    e.AddHeaderField("X-Unsent", "1");
    EXPECT_FALSE(e.SaveEml("  "));
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("SaveEml", err("The filename parameter is missing")));

    const std::string path = dir.file("out.eml");
    ASSERT_TRUE(e.SaveEml(("  " + path + " ").c_str()));
    EXPECT_NE(test::readFile(path).find("\r\nX-Unsent: 1\r\n"), std::string::npos);
    EXPECT_EQ(e.GetHeaderField("X-Unsent"), "");

    EXPECT_FALSE(e.SaveEml(dir.file("missing/dir/out.eml").c_str()));
}

TEST(ClsEmailTest, LoadEmlReplacesOnlyOnSuccessAndLeavesTheLogAlone) {
    test::TempDir dir;
    const std::string path = dir.file("in.eml");
    ASSERT_TRUE(
        file::writeWholeFile(path, std::string_view("Subject: Loaded\r\n\r\nhello"), nullptr));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);

    ClsEmail e;
    e.put_Subject("Original");
    (void)e.GetHeaderField("");
    const std::string log = e.get_LastErrorXml();
    const std::string header = e.get_Header();
    for (const std::string& bad :
         {dir.file("missing.eml"), dir.path(), dir.file("fifo"), std::string("/dev/null"),
          std::string("/dev/zero"), std::string()}) {
        EXPECT_FALSE(e.LoadEml(bad.c_str())) << bad;
        EXPECT_EQ(e.get_Header(), header) << bad;
        EXPECT_EQ(e.get_LastErrorXml(), log) << bad;
    }
    EXPECT_FALSE(e.LoadEml(nullptr));

    ASSERT_TRUE(e.LoadEml(path.c_str()));
    EXPECT_EQ(e.get_Subject(), "Loaded");
    EXPECT_EQ(e.get_LastErrorXml(), log);
    e.put_Subject("Changed");
    ASSERT_TRUE(e.LoadEml(("file://" + path).c_str()));
    EXPECT_EQ(e.get_Subject(), "Loaded");
}

TEST(ClsEmailTest, DatesAreAutomationDates) {
    auto owned = fromMime("Date: Tue, 05 Mar 2024 14:07:09 -0100\r\n\r\nx");
    ClsEmail& f = *owned;
    EXPECT_NEAR(f.get_EmailDate(), 45356.0 + (15 * 3600 + 7 * 60 + 9) / 86400.0, 1e-6);
    // Whatever the zone of the machine, local time is at most 14 hours away.
    EXPECT_NEAR(f.get_LocalDate(), f.get_EmailDate(), 14.0 / 24 + 1e-9);
}

TEST(ClsEmailTest, AdoptedEmailIsUsedAndNullGivesDefault) {
    auto inner = std::make_unique<Email2>();
    inner->setHeaderField("subject", "adopted");
    ClsEmail e(std::move(inner));
    EXPECT_EQ(e.get_Subject(), "adopted");
    ClsEmail d(nullptr);
    EXPECT_EQ(d.GetHeaderField("MIME-Version"), "1.0");
    EXPECT_EQ(d.GetHeaderField("Content-Type"), "text/plain");
}
