// The e-mail object's bodies: plain text and HTML in every shape of e-mail, alternatives,
// bodies in other charsets, text files and encoded words.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

namespace {

const std::string kAlternative = "Content-Type: multipart/alternative; boundary=a\r\n\r\n"
                                 "--a\r\nContent-Type: text/plain\r\n\r\nplain\nline\r\n"
                                 "--a\r\nContent-Type: text/html\r\n\r\n<b>html</b>\r\n--a--\r\n";

} // namespace

TEST(ClsEmailTest, PlainAndHtmlBodiesOfEveryShape) {
    struct Case {
        std::string mime;
        const char* plain;
        const char* html;
        bool hasPlain, hasHtml, report;
        int alternatives;
    };
    const Case cases[] = {
        {"Content-Type: text/plain\r\n\r\nonly\nplain", "only\r\nplain", "", true, false, false, 0},
        {"Content-Type: text/html\r\n\r\n<i>h</i>", "", "<i>h</i>", false, true, false, 0},
        {kAlternative, "plain\r\nline", "<b>html</b>", true, true, false, 2},
        {"Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n"
         "<img src=\"cid:x\">\r\n--r\r\nContent-Type: image/png\r\nContent-ID: <x>\r\n\r\npng\r\n"
         "--r--\r\n",
         "", "<img src=\"cid:x\">", false, true, false, 0},
        {"Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\n"
         "mixed text\r\n--m\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; "
         "filename=a.pdf\r\n\r\npdf\r\n--m--\r\n",
         "mixed text", "", true, false, false, 0},
        {"Content-Type: multipart/report; report-type=delivery-status; "
         "boundary=\"=_d\"\r\n\r\n--=_d\r\n"
         "Content-Type: text/plain\r\n\r\nnot delivered\r\n--=_d\r\nContent-Type: "
         "message/delivery-status\r\n\r\nAction: failed\r\n--=_d--\r\n",
         "not delivered", "", true, false, true, 0},
    };
    for (const auto& c : cases) {
        auto e = fromMime(c.mime);
        EXPECT_EQ(e->GetPlainTextBody(), c.plain) << c.mime;
        EXPECT_EQ(e->get_LastErrorXml(), "");
        EXPECT_EQ(e->GetHtmlBody(), c.html) << c.mime;
        EXPECT_EQ(e->HasPlainTextBody(), c.hasPlain) << c.mime;
        EXPECT_EQ(e->HasHtmlBody(), c.hasHtml) << c.mime;
        EXPECT_EQ(e->IsMultipartReport(), c.report) << c.mime;
        EXPECT_EQ(e->get_NumAlternatives(), c.alternatives) << c.mime;
    }
}

TEST(ClsEmailTest, AlternativesByIndex) {
    auto e = fromMime(kAlternative);
    EXPECT_EQ(e->GetAlternativeContentType(1), "text/html");
    EXPECT_EQ(e->GetAlternativeBody(0), "plain\r\nline");
    EXPECT_EQ(e->GetAlternativeBody(2), "");
    EXPECT_EQ(e->GetAlternativeContentType(-1), "");
}

TEST(ClsEmailTest, BuildingAlternativesFromPlainAndHtml) {
    ClsEmail e;
    e.put_Body("plain first");
    ASSERT_TRUE(e.AddHtmlAlternativeBody("<p>html</p>"));
    ASSERT_TRUE(e.AddPlainTextAlternativeBody("plain second"));
    EXPECT_EQ(e.get_NumAlternatives(), 2);
    EXPECT_EQ(e.GetPlainTextBody(), "plain second");
    EXPECT_NE(e.GetHtmlBody().find("<p>html</p>"), std::string::npos);

    // HTML the e-mail's charset cannot hold keeps its text in a charset of its own.
    ClsEmail latin;
    latin.put_Charset("iso-8859-1");
    latin.put_Body("plain");
    ASSERT_TRUE(latin.AddHtmlAlternativeBody("<p>\xD0\x9F\xD1\x80\xD0\xB8</p>"));
    EXPECT_EQ(latin.get_Charset(), "iso-8859-1");
    auto sent = fromMime(latin.GetMime());
    EXPECT_NE(sent->GetHtmlBody().find("<p>\xD0\x9F\xD1\x80\xD0\xB8</p>"), std::string::npos);

    ClsEmail h;
    EXPECT_FALSE(h.SetHtmlBody(nullptr));
    ASSERT_TRUE(h.SetHtmlBody("<p>\xD0\x9F\xD1\x80\xD0\xB8</p>"));
    EXPECT_EQ(h.get_Charset(), "utf-8");
}

TEST(ClsEmailTest, MultiByteBodiesConvertBothWays) {
    const std::string latin1 = "caf\xE9";
    ClsEmail e;
    ASSERT_TRUE(e.SetMbPlainTextBody("iso-8859-1", bytesOf(latin1)));
    EXPECT_EQ(e.get_Body(), "caf\xC3\xA9");
    EXPECT_EQ(e.GetMbPlainTextBody("iso-8859-1").toString(), latin1);
    EXPECT_EQ(e.GetMbPlainTextBody("utf-8").toString(), "caf\xC3\xA9");
    EXPECT_EQ(e.GetMbPlainTextBody("no-such-charset").toString(), "caf\xC3\xA9");
    EXPECT_TRUE(e.GetMbHtmlBody("utf-8").isEmpty());

    ASSERT_TRUE(e.SetMbHtmlBody("windows-1252", bytesOf("<p>\x80 5</p>")));
    EXPECT_NE(e.GetHtmlBody().find("<p>\xE2\x82\xAC 5</p>"), std::string::npos);
    EXPECT_NE(e.GetMbHtmlBody("windows-1252").view().find("<p>\x80 5</p>"), std::string::npos);
    ASSERT_TRUE(e.SetMbPlainTextBody("utf-8", bytesOf("new plain")));
    EXPECT_EQ(e.GetPlainTextBody(), "new plain");

    auto html = fromMime("Content-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\n"
                         "Content-Type: text/html\r\n\r\n<b>x</b>\r\n--a--\r\n");
    EXPECT_TRUE(html->GetMbPlainTextBody("utf-8").isEmpty());
    auto plainAlt = fromMime("Content-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\n"
                             "Content-Type: text/plain\r\n\r\nx\r\n--a--\r\n");
    EXPECT_TRUE(plainAlt->GetMbHtmlBody("").isEmpty());
}

TEST(ClsEmailTest, LoadTextFileToUnicodeLeavesTheLogAlone) {
    test::TempDir dir;
    const std::string utf16 = std::string("\xFF\xFE"
                                          "h\0i\0\xE9\0",
                                          8);
    ASSERT_TRUE(file::writeWholeFile(dir.file("u16.txt"), std::string_view(utf16), nullptr));
    ASSERT_TRUE(file::writeWholeFile(dir.file("l1.txt"), std::string_view("caf\xE9"), nullptr));
    ClsEmail e;
    (void)e.GetHeaderField("");
    const std::string log = e.get_LastErrorXml();
    EXPECT_EQ(e.LoadTextFileToUnicode(dir.file("u16.txt").c_str(), "utf-16"), "hi\xC3\xA9");
    EXPECT_EQ(e.LoadTextFileToUnicode(dir.file("l1.txt").c_str(), "iso-8859-1"), "caf\xC3\xA9");
    EXPECT_EQ(e.LoadTextFileToUnicode(dir.file("none.txt").c_str(), "utf-8"), "");
    EXPECT_EQ(e.LoadTextFileToUnicode(dir.path().c_str(), "utf-8"), "");
    EXPECT_EQ(e.get_LastErrorXml(), log);
}

TEST(ClsEmailTest, EncodedWordsAreExact) {
    // Bytes are taken as they are, less a UTF-8 byte-order mark; strings are UTF-8 converted to
    // the charset first. These members record nothing.
    ClsEmail e;
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(e.QEncodeBytes(bytesOf(bom + "ab"), "utf-8"), "=?utf-8?Q?ab?=");
    EXPECT_EQ(e.BEncodeBytes(bytesOf(bom + "abc"), "UTF-8"), "=?UTF-8?B?YWJj?=");
    EXPECT_EQ(e.QEncodeString("caf\xC3\xA9", "iso-8859-1"), "=?iso-8859-1?Q?caf=E9?=");
    EXPECT_EQ(e.BEncodeString("\xC3\xA9", "iso-8859-1"), "=?iso-8859-1?B?6Q==?=");
    EXPECT_EQ(e.get_LastErrorXml(), "");
    EXPECT_EQ(e.QEncodeString(nullptr, "utf-8"), "");
}

TEST(ClsEmailTest, MultiByteHeaderField) {
    ClsEmail e;
    e.AddHeaderField("X-Word", "caf\xC3\xA9");
    EXPECT_EQ(e.GetMbHeaderField(" X-Word ", "iso-8859-1").toString(), "caf\xE9");
    EXPECT_EQ(e.GetMbHeaderField("X-Word", nullptr).toString(), "caf\xC3\xA9");
    EXPECT_EQ(e.GetMbHeaderField("X-Word", "").toString(), "caf\xC3\xA9");
    EXPECT_TRUE(e.GetMbHeaderField("  ", "utf-8").isEmpty());
    EXPECT_TRUE(e.GetMbHeaderField("X-None", "utf-8").isEmpty());
}
