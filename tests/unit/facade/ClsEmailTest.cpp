// The e-mail object's frame and core members, observed the way a caller sees them: results,
// the rendered header and the activity log of each member compared whole.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "mime/Email2.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace norvane;
using namespace norvane::test;

namespace {

std::unique_ptr<ClsEmail> fromMime(const std::string& mime) {
    auto e = std::make_unique<ClsEmail>();
    EXPECT_TRUE(e->SetFromMimeText(mime.c_str()));
    return e;
}

} // namespace

TEST(ClsEmailTest, AddToChecksOnlyThatAnAddressIsGiven) {
    ClsEmail e;
    EXPECT_FALSE(e.AddTo("Ann", ""));
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("AddTo", data("name", "Ann") + data("address", "") +
                                                       err("No Email Address was provided")));
    EXPECT_EQ(e.get_LastErrorText(), "name: Ann\r\naddress: \r\nNo Email Address was provided\r\n");
    EXPECT_FALSE(e.AddCC("x", nullptr));
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("AddCC", data("name", "x") + data("address", "") +
                                                       err("No Email Address was provided")));

    EXPECT_TRUE(e.AddTo("  Bob Lee ", "  bob  "));
    EXPECT_EQ(e.get_LastErrorXml(),
              xmlOf("AddTo", data("name", "Bob Lee") + data("address", "bob")));
    EXPECT_EQ(e.get_NumTo(), 1);
    EXPECT_EQ(e.GetToAddr(0), "bob");
    EXPECT_EQ(e.GetToName(0), "Bob Lee");
    EXPECT_EQ(e.GetTo(0), "\"Bob Lee\" <bob>");

    EXPECT_TRUE(e.AddBcc("", "hidden@example.com"));
    EXPECT_TRUE(e.AddCC("Cy", "cy@example.com"));
    EXPECT_EQ(e.GetBccAddr(0), "hidden@example.com");
    EXPECT_EQ(e.GetCcName(0), "Cy");
    EXPECT_EQ(e.GetCC(0), "\"Cy\" <cy@example.com>");
    EXPECT_EQ(e.GetBcc(0), "hidden@example.com");
    EXPECT_EQ(e.GetHeaderField("Cc"), "\"Cy\" <cy@example.com>");
    e.ClearTo();
    e.ClearCC();
    e.ClearBcc();
    EXPECT_EQ(e.get_NumTo() + e.get_NumCC() + e.get_NumBcc(), 0);
    EXPECT_EQ(e.GetHeaderField("To"), "");
    EXPECT_EQ(e.GetHeaderField("Cc"), "");
}

TEST(ClsEmailTest, AddMultipleReportsEachKindOfBadList) {
    ClsEmail e;
    EXPECT_FALSE(e.AddMultipleTo(" , ,, "));
    EXPECT_EQ(e.get_LastErrorText(), "addresses: , ,,\r\n"
                                     "No valid email addresses in the following string:\r\n"
                                     ", ,,\r\n");
    EXPECT_FALSE(e.AddMultipleCC(nullptr));
    EXPECT_EQ(e.get_LastErrorXml(),
              xmlOf("AddMultipleCC", err("No email addresses were provided")));
    EXPECT_FALSE(e.AddMultipleBcc(" \t "));
    EXPECT_EQ(
        e.get_LastErrorXml(),
        xmlOf("AddMultipleBcc", data("addresses", "") + err("No Email Address was provided")));

    EXPECT_TRUE(e.AddMultipleTo("a@example.com, \"Lee, Ann\" <ann@example.com>, a@example.com"));
    EXPECT_EQ(e.get_NumTo(), 2);
    EXPECT_EQ(e.GetToName(1), "Lee, Ann");
    EXPECT_TRUE(e.AddMultipleBcc("b@example.com"));
    EXPECT_EQ(e.get_NumBcc(), 1);
}

TEST(ClsEmailTest, GetterOutOfRangeIsEmptyAndLeavesAnEmptyLog) {
    ClsEmail e;
    ASSERT_TRUE(e.AddTo("", "one@example.com"));
    ASSERT_FALSE(e.get_LastErrorXml().empty());
    EXPECT_EQ(e.GetTo(5), "");
    EXPECT_EQ(e.get_LastErrorXml(), "");
    EXPECT_EQ(e.get_LastErrorText(), "");
    EXPECT_EQ(e.GetToName(5), "");
    EXPECT_EQ(e.GetToAddr(-1), "");
    EXPECT_EQ(e.GetHeaderFieldName(999), "");
    EXPECT_EQ(e.GetHeaderFieldValue(-1), "");
}

TEST(ClsEmailTest, HeaderFieldsByNameAndPosition) {
    auto owned = fromMime("Subject: Hi there\r\nX-Thing: 1\r\n\r\nbody");
    ClsEmail& e = *owned;
    EXPECT_EQ(e.GetHeaderField("subject"), "Hi there");
    EXPECT_EQ(e.get_Subject(), "Hi there");
    for (const char* missing : {"", "  ", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(e.GetHeaderField(missing), "");
        EXPECT_EQ(e.get_LastErrorXml(), xmlOf("GetHeaderField", err("Field name is missing")));
    }

    const int before = e.get_NumHeaderFields();
    e.AddHeaderField("X-Note", "first");
    e.AddHeaderField("x-note", "second");
    EXPECT_EQ(e.get_NumHeaderFields(), before + 1);
    EXPECT_EQ(e.GetHeaderFieldName(before), "x-note");
    EXPECT_EQ(e.GetHeaderFieldValue(before), "second");
    EXPECT_EQ(e.get_LastErrorXml(), "");
    e.AddHeaderField("X-NOTE", "");
    EXPECT_EQ(e.get_NumHeaderFields(), before);
    e.RemoveHeaderField("x-thing");
    EXPECT_EQ(e.GetHeaderField("X-Thing"), "");

    EXPECT_EQ(e.get_Header(), "Subject: Hi there");
    e.put_Subject("Next");
    EXPECT_EQ(e.get_Header(), "subject: Next");
}

TEST(ClsEmailTest, SmallPropertiesAreHeaderFields) {
    ClsEmail e;
    e.AddHeaderField("NVX-ReturnReceipt", "yes");
    EXPECT_FALSE(e.get_ReturnReceipt());
    e.put_ReturnReceipt(true);
    EXPECT_TRUE(e.get_ReturnReceipt());
    EXPECT_EQ(e.GetHeaderField("NVX-ReturnReceipt"), "YES");
    e.put_ReturnReceipt(false);
    EXPECT_EQ(e.GetHeaderField("NVX-ReturnReceipt"), "");

    e.put_FileDistList("/tmp/list.txt");
    EXPECT_EQ(e.get_FileDistList(), "/tmp/list.txt");
    e.put_Mailer("  Tool 2  ");
    EXPECT_EQ(e.get_Mailer(), "Tool 2");
    e.AddHeaderField("X-UIDL", "uid-7");
    EXPECT_EQ(e.get_Uidl(), "uid-7");
    e.put_BounceAddress("bounce@example.com");
    EXPECT_EQ(e.get_BounceAddress(), "bounce@example.com");
    EXPECT_EQ(e.get_LastErrorXml(), "");
    EXPECT_EQ(e.GetImpl(), &e);
    EXPECT_GT(e.get_Size(), 0);
}

TEST(ClsEmailTest, SenderSettersAndGetters) {
    ClsEmail e;
    EXPECT_EQ(e.get_From(), "");
    e.put_FromName("  Pending Name ");
    EXPECT_EQ(e.get_FromName(), "Pending Name");
    e.put_FromAddress("no-at-sign");
    EXPECT_EQ(e.get_FromAddress(), "");
    EXPECT_EQ(e.get_From(), "");
    e.put_FromAddress(" pn@example.com ");
    EXPECT_EQ(e.get_From(), "\"Pending Name\" <pn@example.com>");
    e.put_FromAddress("still-no-at");
    EXPECT_EQ(e.get_FromAddress(), "pn@example.com");
    e.put_From("J\xC3\xBCrgen <j@example.com>");
    EXPECT_EQ(e.get_FromName(), "J\xC3\xBCrgen");
    e.put_From("not an address");
    EXPECT_EQ(e.get_FromAddress(), "j@example.com");
    e.put_ReplyTo("Desk <desk@example.com>");
    EXPECT_NE(e.get_ReplyTo().find("<desk@example.com>"), std::string::npos);
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
        {"Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87", "iso-8859-2"},
        {"\xD0\x9F\xD1\x80\xD0\xB8", "iso-8859-5"},
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
    e.put_Charset("windows-1252");
    EXPECT_EQ(e.get_Charset(), "windows-1252");

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
    const std::string mime = e.GetMime();
    EXPECT_EQ(e.get_LastErrorXml(), "");
    EXPECT_NE(mime.find("\r\nsubject: Round trip\r\n"), std::string::npos) << mime;

    ClsEmail copy;
    ASSERT_TRUE(copy.SetFromMimeText(mime.c_str()));
    EXPECT_EQ(copy.get_Subject(), "Round trip");
    EXPECT_EQ(copy.get_Body(), "Body text");
    EXPECT_EQ(copy.GetMime(), mime);

    // Bodies may hold NUL bytes when the text is passed with its length.
    const std::string withNul("Subject: n\r\n\r\na\0b", 17);
    ASSERT_TRUE(copy.SetFromMimeText(std::string_view(withNul)));
    EXPECT_EQ(copy.get_Body(), std::string("a\0b", 3));
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
    const std::string log = e.get_LastErrorText();
    EXPECT_NE(log.find("Failed to write EML file.\r\n"), std::string::npos) << log;
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
