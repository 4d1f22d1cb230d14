#include "mime/MimeHeader.h"

#include "charset/Charset.h"
#include "common/Platform.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

namespace {

std::string valueOf(const MimeHeader& h, std::string_view name) {
    StringBuffer out;
    EXPECT_TRUE(h.getField(name, out)) << name;
    return out.str();
}

std::string rendered(const MimeHeader& h, const Charset& cs = Charset(),
                     std::string_view exclude = "") {
    StringBuffer out;
    h.render(out, exclude, cs);
    return out.str();
}

class MimeHeaderTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setAnsiCodePage(65001); }
};

} // namespace

// ---- parsing ----

TEST_F(MimeHeaderTest, UnfoldingRemovesOnlyTheLineBreak) {
    MimeHeader h;
    h.loadFromText(
        "Subject: report for\r\n the board\r\nX-Two: a\r\n  b\r\nX-Tab: a\r\n\tb\r\n"
        "Content-Type: multipart/mixed; boundary=\"simple\r\n boundary\";\r\n\tname=x\r\n"
        "\r\nbody");
    EXPECT_EQ(valueOf(h, "subject"), "report for the board");
    EXPECT_EQ(valueOf(h, "X-Two"), "a  b");
    EXPECT_EQ(valueOf(h, "x-tab"), "a\tb");
    // In a structured field the blank a writer adds after a ';' or ',' fold is dropped.
    EXPECT_EQ(valueOf(h, "content-type"), "multipart/mixed; boundary=\"simple boundary\";name=x");
    EXPECT_EQ(h.fieldCount(), 4);
}

TEST_F(MimeHeaderTest, RenderedFieldsParseBackExactly) {
    const std::string words = "Status report for the board: figures; plans, and the budget for "
                              "next year with a long tail of words to fold";
    const std::pair<const char*, std::string> cases[] = {
        {"Subject", words + " " + words},
        {"Subject", "a;b;c;d;e;f;g;h;i;j;k;l;m;n;o;p;q;r;s;t;u;v;w;x;y;z;a;b;c;d;e;f;g;h"},
        {"X-Note", words + "\t tab"},
        {"Content-Type", "multipart/mixed;boundary=\"x y\";name=\"file name.txt\""},
        {"To", "Ann Lee <ann@example.com>, Bob Stone <bob@example.com>, Carol <carol@example.com>"},
    };
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(value);
        MimeHeader h;
        h.setField(name, value);
        const std::string wire = rendered(h);
        MimeHeader back;
        back.loadFromText(wire + "\r\n\r\n");
        EXPECT_EQ(valueOf(back, name), value) << wire;
    }
}

TEST_F(MimeHeaderTest, LastContentTypeWinsAndReceivedFieldsAreKept) {
    MimeHeader h;
    h.loadFromText("Content-Type: text/plain\r\nReceived: one\r\nX-A: 1\r\n"
                   "Content-Type: text/html\r\nReceived: two\r\n");
    ASSERT_EQ(h.fieldCount(), 4);
    StringBuffer names;
    for (int i = 0; i < h.fieldCount(); ++i) {
        h.fieldName(i, names);
        names.append("|");
    }
    EXPECT_EQ(names.str(), "Received|X-A|Content-Type|Received|");
    EXPECT_EQ(valueOf(h, "content-type"), "text/html");
    StringBuffer second;
    h.fieldValue(3, second);
    EXPECT_EQ(second.str(), "two");
}

TEST_F(MimeHeaderTest, EmptyContentTypeDeletesTheField) {
    MimeHeader h;
    h.loadFromText("Content-Type: text/plain\r\nX-A: 1\r\nContent-Type:\r\n");
    EXPECT_FALSE(h.hasField("Content-Type"));
    EXPECT_EQ(h.fieldCount(), 1);
}

TEST_F(MimeHeaderTest, HeaderEndsAtTheFirstLineThatIsNoField) {
    const struct {
        const char* text;
        size_t fields;
        const char* body; // what follows the header
    } cases[] = {
        {"It's\"q\": w\r\nOld-Style : v\r\nBad Name: v\r\nX: 1\r\n", 2, "Bad Name: v\r\nX: 1\r\n"},
        {"A: x\r\nno colon here\r\nB: 1\r\n", 1, "no colon here\r\nB: 1\r\n"},
        {"A: x\r\nB\x01: y\r\n", 1, "B\x01: y\r\n"},
        {"A: x\r\n \t \r\nB: body\r\n", 1, "B: body\r\n"},
        {"A: x\nB: 1\r2\r\nC: 3\n\nD: not header", 3, "D: not header"},
        {"AAECAw==\r\n", 0, "AAECAw==\r\n"},
        {" folded: first\r\n", 0, " folded: first\r\n"},
        {"From sender@example.com Mon Jan  1 00:00:00 2024\r\nA: 1\r\n\r\nx", 1, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        MimeHeader h;
        const std::string_view text = c.text;
        const size_t bodyAt = h.loadFromText(text);
        EXPECT_EQ(h.fieldCount(), static_cast<int>(c.fields));
        EXPECT_EQ(text.substr(bodyAt), c.body);
    }
    MimeHeader h;
    (void)h.loadFromText("It's\"q\": w\r\nOld-Style : v\r\nA: 1\r2\r\n");
    EXPECT_EQ(h.fieldAt(0)->name(), "It's\"q\"");
    EXPECT_EQ(h.fieldAt(1)->name(), "Old-Style");
    EXPECT_EQ(valueOf(h, "A"), "1 2"); // a lone CR cannot end a line on the wire
    EXPECT_EQ(h.fieldAt(3), nullptr);
    EXPECT_EQ(h.fieldAt(-1), nullptr);
}

TEST_F(MimeHeaderTest, FieldLimitCountsFieldsNotLines) {
    std::string text = "To: a@example.com";
    for (int i = 0; i < 3000; ++i)
        text += ",\r\n r" + std::to_string(i) + "@example.com";
    text += "\r\nSubject: s\r\nDate: d\r\nContent-Type: text/html\r\n\r\n";
    MimeHeader h;
    (void)h.loadFromText(text);
    EXPECT_EQ(valueOf(h, "Subject"), "s");
    EXPECT_EQ(valueOf(h, "Date"), "d");
    EXPECT_EQ(valueOf(h, "Content-Type"), "text/html");
    std::string many;
    for (size_t i = 0; i < MimeHeader::kMaxFields + 5; ++i)
        many += "X: 1\r\n";
    const std::string text2 = many + "\r\nbody";
    // Fields past the limit are dropped; the body is still found after them.
    EXPECT_EQ(std::string_view(text2).substr(h.loadFromText(text2)), "body");
    EXPECT_EQ(h.fieldCount(), static_cast<int>(MimeHeader::kMaxFields));
}

TEST_F(MimeHeaderTest, EncodedWordsAreReadInTheirOwnCharset) {
    const std::pair<const char*, const char*> cases[] = {
        {"=?utf-8?q?caf=c3=a9?=", "caf\xC3\xA9"},
        {"=?UTF-8?b?Y2Fmw6k=?=", "caf\xC3\xA9"},
        {"=?iso-8859-1?q?Fr\xF6sche?=", "Fr\xC3\xB6sche"},
        {"=?utf-8?Q?caf\xC3\xA9?= raw", "caf\xC3\xA9 raw"},
        {"=?utf-8?q?a?=\r\n =?utf-8?q?b?= c", "ab c"},
    };
    for (const auto& [wire, text] : cases) {
        SCOPED_TRACE(wire);
        MimeHeader h;
        (void)h.loadFromText(std::string("Subject: ") + wire + "\r\n\r\n");
        EXPECT_EQ(valueOf(h, "Subject"), text);
    }
}

TEST_F(MimeHeaderTest, HeaderCharsetComesFromTheFirstEncodedWordOrTheRawBytes) {
    // Raw 8-bit text that is not UTF-8 is read as ISO-8859-1, so no byte is lost; a raw line
    // in another charset than the first encoded word's keeps its bytes too.
    const struct {
        const char* text;
        int codePage;
        const char* field; // null: only the code page is checked
        const char* value;
    } cases[] = {
        {"Subject: =?windows-1252?q?caf=E9?=\r\nX: =?utf-8?B?YQ==?=\r\n", 1252, "X", "a"},
        {"Subject: =?KOI8-R?B?8NLJ18XU?=\r\n", 20866, nullptr, nullptr},
        {"Subject: =?x-nonsense?Q?a?=\r\n", 0, nullptr, nullptr},
        {"Subject: Gr\xC3\xBC\xC3\x9F"
         "e\r\n",
         65001, "Subject",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"Subject: Gr\xFC\xDF"
         "e\r\n",
         28591, "Subject",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"Subject: plain\r\n", 0, "Subject", "plain"},
        {"Subject: =?utf-8?Q?a?=\r\nX-Raw: caf\xE9\r\n", 65001, "X-Raw", "caf\xC3\xA9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        MimeHeader h;
        h.loadFromText(c.text);
        EXPECT_EQ(h.headerCodePage(), c.codePage);
        if (c.field) {
            EXPECT_EQ(valueOf(h, c.field), c.value);
        }
    }
}

// ---- editing ----

TEST_F(MimeHeaderTest, SetFieldMovesFieldToEndAndEmptyValueDeletes) {
    MimeHeader h;
    h.loadFromText("A: 1\r\nB: 2\r\na: 3\r\nC: 4\r\n");
    h.setField("A", "5");
    ASSERT_EQ(h.fieldCount(), 3);
    EXPECT_EQ(h.fieldAt(2)->name(), "A");
    EXPECT_EQ(h.fieldAt(2)->value(), "5");
    h.setField("b", " \t\r\n");
    EXPECT_FALSE(h.hasField("B"));
    EXPECT_EQ(h.fieldCount(), 2);
    h.removeField("c");
    EXPECT_EQ(h.fieldCount(), 1);
}

TEST_F(MimeHeaderTest, SetFieldStoresValueWithoutFolds) {
    MimeHeader h;
    h.setField("Content-Type", "multipart/mixed;\r\n\tboundary=\"abc\";\r\n name=\"x\"");
    EXPECT_EQ(valueOf(h, "Content-Type"), "multipart/mixed;boundary=\"abc\";name=\"x\"");
    EXPECT_EQ(rendered(h), "Content-Type: multipart/mixed;\r\n\tboundary=\"abc\";name=\"x\"");
}

TEST_F(MimeHeaderTest, LineBreaksLeftInAValueCannotStartANewField) {
    MimeHeader h;
    h.setField("Subject", "hello\r\nBcc: victim@example.com\rX\nY");
    EXPECT_EQ(valueOf(h, "Subject"), "hello Bcc: victim@example.com X Y");
    EXPECT_EQ(rendered(h), "Subject: hello Bcc: victim@example.com X Y");
    // Nor can a field name: one with a colon, blank or control byte is refused.
    for (const char* name : {"X-A: 1\r\nBcc", "X A", "X\x7F", "\xC3\xA9"}) {
        EXPECT_FALSE(h.setField(name, "v")) << name;
        EXPECT_EQ(h.fieldCount(), 1);
    }
    // NUL never reaches the wire, and text that looks like an encoded word is encoded so
    // that it reads back as written.
    MimeHeader lookalike;
    lookalike.setField("Subject", std::string("=?utf-8?Q?x?= a\0b", 17), false);
    EXPECT_EQ(rendered(lookalike), "Subject: =?utf-8?Q?=3D=3Futf-8=3FQ=3Fx=3F=3D_a_b?=");
    MimeHeader back;
    (void)back.loadFromText(rendered(lookalike) + "\r\n\r\n");
    EXPECT_EQ(valueOf(back, "Subject"), "=?utf-8?Q?x?= a b");
}

TEST_F(MimeHeaderTest, CopyAndMerge) {
    MimeHeader src;
    src.loadFromText("Subject: caf\xE9\r\nX-A: 1\r\nX-A: 2\r\n");
    MimeHeader copy;
    copy.setField("Old", "gone");
    copy.copyFrom(src);
    EXPECT_EQ(copy.fieldCount(), 3);
    EXPECT_EQ(copy.headerCodePage(), 0);
    EXPECT_FALSE(copy.hasField("Old"));

    MimeHeader merged;
    merged.setField("X-A", "0");
    merged.setField("Keep", "k");
    merged.mergeFrom(src);
    // Merging sets each field, so the duplicates collapse to the last value.
    ASSERT_EQ(merged.fieldCount(), 3);
    EXPECT_EQ(merged.fieldAt(0)->name(), "Keep");
    EXPECT_EQ(merged.fieldAt(2)->value(), "2");
}

// ---- rendering ----

TEST_F(MimeHeaderTest, SingleFieldsRenderExactly) {
    const std::string jp = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE4\xBB\xB6\xE5\x90"
                           "\x8D\xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82\xE9\x95\xB7\xE3\x81\x84";
    struct Case {
        const char* name;
        std::string value;
        const char* charset; // "" for none
        const char* wire;
    };
    const Case cases[] = {
        // Unstructured text is never split at its ';'.
        {"Subject",
         "Gr\xC3\xBC\xC3\x9F"
         "e; x=1",
         "iso-8859-1", "Subject: =?iso-8859-1?Q?Gr=FC=DFe;_x=3D1?="},
        // A multi-byte charset requotes even 7-bit values; a single-byte one only folds them.
        {"Content-Type", "text/plain; charset=shift_jis", "shift_jis",
         "Content-Type: text/plain; charset=\"shift_jis\""},
        {"Content-Type", "text/plain; charset=shift_jis", "iso-8859-1",
         "Content-Type: text/plain;\r\n\t charset=shift_jis"},
        // Short of column 20 there is no fold, and a ';' inside quotes never folds.
        {"X", "a;b=\"c;d;e;f;g;h;i;j;k;l;m;n;o\"", "", "X: a;b=\"c;d;e;f;g;h;i;j;k;l;m;n;o\""},
        // Edges around the first semicolon.
        {"Content-Disposition", "; x=1", "utf-8", "Content-Disposition: ; x=\"1\""},
        {"Content-Disposition", "a; x=1", "utf-8", "Content-Disposition: a; x=\"1\""},
        {"Content-Disposition", "text/plain;", "utf-8", "Content-Disposition: text/plain;"},
        {"Content-Disposition", "a; flag; y = \" q \" ;z=", "utf-8",
         "Content-Disposition: a; flag; y =\" q \";z=\"\""},
        // ISO-2022 text is 7-bit but holds ESC sequences, which may not stand in a header.
        {"Subject", jp, "iso-2022-jp",
         "Subject: =?iso-2022-jp?B?GyRCRnxLXDhsJE43b0w+JEckOSEjRDkkJBsoQg==?="},
        {"Content-Location", "http://example.com/caf\xC3\xA9; x=1", "utf-8",
         "Content-Location: http://example.com/caf\xC3\xA9; x=1"},
        // Header text is never written in a charset that is not ASCII-compatible.
        {"From", "Ann <ann@example.com>", "utf-16", "From: Ann <ann@example.com>"},
        {"Subject", "caf\xC3\xA9", "utf-7", "Subject: =?utf-8?B?Y2Fmw6k=?="},
        // The euro sign has no ISO-8859-1 code: UTF-8 words instead.
        {"Subject", "\xE2\x82\xAC 5", "iso-8859-1", "Subject: =?utf-8?Q?=E2=82=AC_5?="},
        {"Subject", "caf\xC3\xA9", "", "Subject: =?utf-8?Q?caf=C3=A9?="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        MimeHeader h;
        h.setField(c.name, c.value);
        EXPECT_EQ(rendered(h, *c.charset ? charsetNamed(c.charset) : Charset()), c.wire);
    }
}

TEST_F(MimeHeaderTest, AddressesStayReadableBesideEncodedNames) {
    MimeHeader h;
    h.setField("To",
               "\"J\xC3\xB6rg M\xC3\xBCller\" <joerg@example.com>, \"Bob\" <bob@example.com>");
    EXPECT_EQ(rendered(h, charsetNamed("iso-8859-1")),
              "To: =?iso-8859-1?Q?J=F6rg_M=FCller?= <joerg@example.com>, \"Bob\" "
              "<bob@example.com>");
    EXPECT_EQ(rendered(h, charsetNamed("utf-8")),
              "To: =?utf-8?B?SsO2cmcgTcO8bGxlcg==?= <joerg@example.com>, \"Bob\" "
              "<bob@example.com>");
}

TEST_F(MimeHeaderTest, LongEightBitSubjectBecomesSeveralWordsAndParsesBack) {
    MimeHeader h;
    const std::string subject = "\xC3\x9C"
                                "berm\xC3\xA4\xC3\x9Fig lange Betreffzeile f\xC3\xBCr den Test";
    h.setField("Subject", subject);
    const std::string wire = rendered(h, charsetNamed("iso-8859-1"));
    EXPECT_EQ(wire, "Subject: =?iso-8859-1?Q?=DCberm=E4=DFig_lange_B?=\r\n"
                    "\t=?iso-8859-1?Q?etreffzeile_f=FCr_d?=\r\n"
                    "\t=?iso-8859-1?Q?en_Test?=");
    MimeHeader back;
    back.loadFromText(wire);
    EXPECT_EQ(valueOf(back, "Subject"), subject);
}

TEST_F(MimeHeaderTest, ParsedCharsetIsUsedWhenTheCallerGivesNoneAndItIsAsciiCompatible) {
    MimeHeader h;
    h.loadFromText("Subject: caf\xE9\r\n");
    EXPECT_EQ(rendered(h), "Subject: =?iso-8859-1?Q?caf=E9?=");
    EXPECT_EQ(rendered(h, charsetNamed("utf-8")), "Subject: =?utf-8?B?Y2Fmw6k=?=");
    MimeHeader wide;
    (void)wide.loadFromText(
        "From: Ann <ann@example.com>\r\nSubject: =?utf-16be?B?AGMAYQBmAOk=?=\r\n");
    EXPECT_EQ(rendered(wide), "From: Ann <ann@example.com>\r\nSubject: =?utf-8?B?Y2Fmw6k=?=");
}

TEST_F(MimeHeaderTest, WholeHeaderRendersByteForByte) {
    MimeHeader h;
    h.setField("Date", "Sat, 21 Aug 2004 14:05:09 -0500");
    h.setField("Message-ID", "<0a1b2c3d.4e5f@example.com>");
    h.setField("From", "\"Gr\xC3\xBC\xC3\x9F"
                       "e\" <sender@example.com>");
    h.setField("To", "\"Alice\" <alice@example.com>, \"Bob\" <bob@example.com>, \"Carol\" "
                     "<carol@example.com>");
    h.setField("Subject", "Caf\xC3\xA9 menu");
    h.setField("NVX-Internal", "not sent");
    h.setField("MIME-Version", "1.0");
    h.setField("Content-Type",
               "multipart/mixed;\r\n\tboundary=\"----=_NextPart_000_0001_01C4A2B3.12345678\"");
    EXPECT_EQ(rendered(h, charsetNamed("iso-8859-1"), "nvx-"),
              "Date: Sat, 21 Aug 2004 14:05:09 -0500\r\n"
              "Message-ID: <0a1b2c3d.4e5f@example.com>\r\n"
              "From: =?iso-8859-1?Q?Gr=FC=DFe?= <sender@example.com>\r\n"
              "To: \"Alice\" <alice@example.com>,\r\n\t \"Bob\" <bob@example.com>,\r\n\t "
              "\"Carol\" <carol@example.com>\r\n"
              "Subject: =?iso-8859-1?Q?Caf=E9_menu?=\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed;\r\n"
              "\tboundary=\"----=_NextPart_000_0001_01C4A2B3.12345678\"");
    EXPECT_EQ(rendered(MimeHeader()), "");
}

TEST_F(MimeHeaderTest, RenderedHeaderParsesBackToTheSameValues) {
    MimeHeader h;
    h.setField("Subject", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE4\xBB\xB6\xE5\x90"
                          "\x8D\xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82\xE9\x95\xB7\xE3\x81\x84");
    h.setField("Content-Type", "text/plain; charset=shift_jis; name=\"a b.txt\"");
    for (const char* cs : {"shift_jis", "utf-8", "iso-2022-jp", "euc-jp"}) {
        MimeHeader back;
        back.loadFromText(rendered(h, charsetNamed(cs)));
        EXPECT_EQ(valueOf(back, "Subject"), valueOf(h, "Subject")) << cs;
        EXPECT_EQ(valueOf(back, "Content-Type"),
                  "text/plain; charset=\"shift_jis\"; name=\"a b.txt\"")
            << cs;
    }
}
