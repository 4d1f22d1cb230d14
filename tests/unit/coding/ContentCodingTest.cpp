#include "charset/ContentCoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace norvane;

namespace {

std::string b64(std::string_view s) {
    std::string out;
    ContentCoding::base64Encode(s, out);
    return out;
}

std::string b64Lines(std::string_view s) {
    std::string out;
    ContentCoding::base64EncodeLines(s, out);
    return out;
}

// Strict decoding; "<fail>" when it reports failure.
std::string unb64Strict(std::string_view s) {
    DataBuffer out;
    if (!ContentCoding::base64DecodeStrict(s, out))
        return "<fail>";
    return out.toString();
}

std::string unb64(std::string_view s) {
    DataBuffer out;
    ContentCoding::base64Decode(s, out);
    return out.toString();
}

std::string qp(std::string_view s) {
    std::string out;
    ContentCoding::qpEncode(s, out);
    return out;
}

std::string unqp(std::string_view s) {
    DataBuffer out;
    ContentCoding::qpDecode(s, out);
    return out.toString();
}

std::string qText(std::string_view s) {
    std::string out;
    ContentCoding::qEncodeWordText(s, out);
    return out;
}

std::string unqText(std::string_view s) {
    DataBuffer out;
    ContentCoding::qDecodeWordText(s, out);
    return out.toString();
}

std::string wordsToBytes(std::string_view s) {
    std::string out;
    ContentCoding::decodeWordsToBytes(s, out);
    return out;
}

std::string randomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(rng() & 0xFF);
    return s;
}

// Lines of text split at CR LF; a final piece without CR LF is the last element.
std::vector<std::string> crlfLines(const std::string& s) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (true) {
        size_t e = s.find("\r\n", pos);
        if (e == std::string::npos) {
            lines.push_back(s.substr(pos));
            return lines;
        }
        lines.push_back(s.substr(pos, e - pos));
        pos = e + 2;
    }
}

} // namespace

TEST(ContentCodingTest, Base64EncodesGroupsAndPadding) {
    EXPECT_EQ(b64(""), "");
    EXPECT_EQ(b64("M"), "TQ==");
    EXPECT_EQ(b64("Ma"), "TWE=");
    EXPECT_EQ(b64("Man"), "TWFu");
    EXPECT_EQ(b64("Many hands make light work."), "TWFueSBoYW5kcyBtYWtlIGxpZ2h0IHdvcmsu");
    EXPECT_EQ(b64(std::string("\x00\xFF\xFE\x3F", 4)), "AP/+Pw==");
    EXPECT_EQ(ContentCoding::base64Encode(ContentCoding::bytesOf("abcdefg")), "YWJjZGVmZw==");
    std::string appended = "x:";
    ContentCoding::base64Encode(std::string_view("ab"), appended);
    EXPECT_EQ(appended, "x:YWI=");
}

TEST(ContentCodingTest, Base64LinesOf54BytesEndWithAnEmptyLine) {
    std::string data(54, 'a');
    std::string full = b64(data);
    ASSERT_EQ(full.size(), 72u);
    EXPECT_EQ(b64Lines(data), full + "\r\n\r\n");
    EXPECT_EQ(b64Lines(data + "b"), full + "\r\nYg==\r\n");
    EXPECT_EQ(b64Lines("Man"), "TWFu\r\n");
    EXPECT_EQ(b64Lines(""), "");
    std::string two(108, 'z');
    EXPECT_EQ(b64Lines(two), b64(two.substr(0, 54)) + "\r\n" + b64(two.substr(54)) + "\r\n\r\n");
}

TEST(ContentCodingTest, Base64StrictSkipsWhiteSpaceAndStopsAtPadding) {
    EXPECT_EQ(unb64Strict("TWFu"), "Man");
    EXPECT_EQ(unb64Strict(" TW\r\nF\tu "), "Man");
    EXPECT_EQ(unb64Strict("TWE="), "Ma");
    EXPECT_EQ(unb64Strict("TQ==trailing garbage!"), "M");
    EXPECT_EQ(unb64Strict(std::string("TWFu\0!!!!", 9)), "Man");
    // A trailing incomplete group gives only its complete bytes.
    EXPECT_EQ(unb64Strict("QUI"), "AB");
    EXPECT_EQ(unb64Strict("QQ"), "A");
    EXPECT_EQ(unb64Strict("Q"), "");
    EXPECT_EQ(unb64Strict(""), "");
}

TEST(ContentCodingTest, Base64StrictRejectsEveryByteOutsideTheAlphabet) {
    for (int c = 1; c < 256; ++c) {
        char ch = static_cast<char>(c);
        bool alphabet = std::isalnum(c) && c < 128;
        if (alphabet || ch == '+' || ch == '/' || ch == '=' || ch == ' ' || ch == '\t' ||
            ch == '\r' || ch == '\n')
            continue;
        std::string text = "QUJD" + std::string(1, ch) + "QUJD";
        DataBuffer out(std::string_view("kept"));
        EXPECT_FALSE(ContentCoding::base64DecodeStrict(text, out)) << "byte " << c;
        EXPECT_EQ(out.toString(), "kept") << "byte " << c;
    }
}

TEST(ContentCodingTest, Base64LenientSkipsForeignBytes) {
    // RFC 2045 6.8: characters outside the alphabet are ignored; the data around them decodes.
    EXPECT_EQ(unb64("TW\x80"
                    "Fu"),
              "Man");
    EXPECT_EQ(unb64("T-W.F!u"), "Man");
    EXPECT_EQ(unb64("Q\x80=="), "");
    EXPECT_EQ(unb64("TW Fu"), "Man");
    DataBuffer out(std::string_view("x"));
    ContentCoding::base64Decode("YWI=", out);
    EXPECT_EQ(out.toString(), "xab");
}

TEST(ContentCodingTest, Base64RoundTripsEveryLengthUpTo300) {
    std::mt19937 rng(42);
    for (size_t n = 0; n <= 300; ++n) {
        std::string data = randomBytes(rng, n);
        std::string flat = b64(data);
        EXPECT_EQ(flat.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(unb64Strict(flat), data) << n;
        EXPECT_EQ(unb64(flat), data) << n;
        std::string lined = b64Lines(data);
        EXPECT_EQ(unb64Strict(lined), data) << n;
        if (n == 0)
            continue;
        std::vector<std::string> lines = crlfLines(lined);
        ASSERT_EQ(lines.back(), "") << n;
        for (size_t i = 0; i + 2 < lines.size(); ++i)
            EXPECT_EQ(lines[i].size(), 72u) << n;
        EXPECT_LE(lines[lines.size() - 2].size(), 72u);
    }
}

TEST(ContentCodingTest, Base64DecodesWhiteSpaceAtAnyPosition) {
    // White space in odd places moves the decoder between its fast and slow paths.
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::string data = randomBytes(rng, rng() % 200);
        std::string text = b64(data);
        std::string spaced;
        for (char c : text) {
            if (rng() % 5 == 0)
                spaced.append(rng() % 2 ? "\r\n" : " ");
            spaced.push_back(c);
        }
        EXPECT_EQ(unb64Strict(spaced), data);
    }
}

TEST(ContentCodingTest, QuotedPrintableEscapesLineStarts) {
    EXPECT_EQ(qp("From here"), "=46rom here");
    EXPECT_EQ(qp("a\r\nFrom b"), "a\r\n=46rom b");
    EXPECT_EQ(qp("Frog"), "Frog");
    EXPECT_EQ(qp(".\r\n.x"), "=2E\r\n=2Ex");
    EXPECT_EQ(qp("a.b"), "a.b");
}

TEST(ContentCodingTest, QuotedPrintableEscapesTrailingBlanksAndSpecialBytes) {
    EXPECT_EQ(qp("a b \r\nc"), "a b=20\r\nc");
    EXPECT_EQ(qp("end\t"), "end=09");
    EXPECT_EQ(qp("a \nb"), "a =0Ab");
    EXPECT_EQ(qp("x=1\ry"), "x=3D1=0Dy");
    EXPECT_EQ(qp("caf\xC3\xA9\x7F"), "caf=C3=A9=7F");
    EXPECT_EQ(qp(""), "");
}

TEST(ContentCodingTest, QuotedPrintableNeverWritesASignExtendedEscape) {
    EXPECT_EQ(qp("\xFF"
                 "FFFFE9"),
              "=FF=46FFFE9");
    EXPECT_EQ(qp("\xFF"
                 "ffffffff"),
              "=FF=66fffffff");
    EXPECT_EQ(qp("F\xFF"
                 "F"),
              "F=FF=46");
    EXPECT_EQ(unqp(qp("\xFF"
                      "FFFFE9")),
              "\xFF"
              "FFFFE9");
}

TEST(ContentCodingTest, QuotedPrintableBreaksLongLinesAt72) {
    std::string a100(100, 'a');
    EXPECT_EQ(qp(a100), std::string(72, 'a') + "=\r\n" + std::string(28, 'a'));
    // No soft break when a hard break or the end follows.
    EXPECT_EQ(qp(std::string(72, 'a')), std::string(72, 'a'));
    EXPECT_EQ(qp(std::string(72, 'a') + "\r\nb"), std::string(72, 'a') + "\r\nb");
    // An escape that passes column 72 finishes the line.
    std::string s = std::string(71, 'a') + "\xE9" + "b";
    EXPECT_EQ(qp(s), std::string(71, 'a') + "=E9=\r\nb");
    // A '.' after a soft break is a line start too.
    EXPECT_EQ(qp(std::string(72, 'a') + ".x"), std::string(72, 'a') + "=\r\n=2Ex");
}

TEST(ContentCodingTest, QuotedPrintableDecodesEscapesAndSoftBreaks) {
    EXPECT_EQ(unqp(std::string_view()), ""); // no data pointer at all
    EXPECT_EQ(unqp("=41=\r\nB"), "AB");
    EXPECT_EQ(unqp("=41=\nB"), "AB");
    EXPECT_EQ(unqp("=FFFFFFE9"), "\xE9");
    EXPECT_EQ(unqp("=ffffffe9x"), "\xE9x");
    EXPECT_EQ(unqp("=e9"), "\xE9");
    // An '=' that starts no escape stays as written (HTML labelled quoted-printable).
    EXPECT_EQ(unqp("=G1"), "=G1");
    EXPECT_EQ(unqp("a=b =ZZ"), "a=b =ZZ");
    EXPECT_EQ(unqp("x=\"y\" =3D=4"), "x=\"y\" ==4");
    EXPECT_EQ(unqp("a=  \r\nb"), "ab");
    EXPECT_EQ(unqp("a\nb\r\nc"), "a\r\nb\r\nc");
    EXPECT_EQ(unqp("trail \t \r\nx  "), "trail\r\nx");
    EXPECT_EQ(unqp("ab\0cd"), "ab");
    EXPECT_EQ(unqp(std::string("ab\0cd", 5)), "ab");
}

TEST(ContentCodingTest, QuotedPrintableKeepsTruncatedEscapes) {
    EXPECT_EQ(unqp("x=4"), "x=4");
    EXPECT_EQ(unqp("x=4\r\ny"), "x=4\r\ny");
    EXPECT_EQ(unqp("x=\r"), "x");
    EXPECT_EQ(unqp("="), "");
    EXPECT_EQ(unqp("=\r\n"), "");
    EXPECT_EQ(unqp("=FFFFFF"), "\xFF"
                               "FFFF");
}

TEST(ContentCodingTest, QuotedPrintableAppendsAndTrimsOnlyItsOwnOutput) {
    DataBuffer out(std::string_view("kept  "));
    ContentCoding::qpDecode("  \r\nx", out);
    EXPECT_EQ(out.toString(), "kept  \r\nx");
    std::string enc = "prefix ";
    ContentCoding::qpEncode(std::string_view("a "), enc);
    EXPECT_EQ(enc, "prefix a=20");
}

TEST(ContentCodingTest, QuotedPrintableHandlesTextLargerThanItsBuffers) {
    // Long lines of blanks, of escapes and of plain text, past the internal block size.
    std::string blanks = "a" + std::string(100000, ' ') + "\r\nb" + std::string(70000, '\t');
    EXPECT_EQ(unqp(blanks), "a\r\nb");
    std::string escapes;
    for (int i = 0; i < 30000; ++i)
        escapes += "=41";
    EXPECT_EQ(unqp(escapes + "=\r\n"), std::string(30000, 'A'));
    std::string plain(50000, 'p');
    EXPECT_EQ(unqp(plain + "=20  \n" + plain), plain + " \r\n" + plain);
    std::string mixed;
    for (int i = 0; i < 40000; ++i)
        mixed += static_cast<char>(i % 7 == 0 ? '\xE9' : i % 11 == 0 ? ' ' : 'a' + i % 26);
    EXPECT_EQ(unqp(qp(mixed)), mixed);
    EXPECT_EQ(unqp(qp(blanks)), blanks);
}

TEST(ContentCodingTest, QuotedPrintableKeepsRaw8BitBytes) {
    // Senders that label raw UTF-8 as quoted-printable are common; the bytes stay intact.
    EXPECT_EQ(unqp("caf\xC3\xA9 =C3=A9"), "caf\xC3\xA9 \xC3\xA9");
    EXPECT_EQ(unqp("\xBD\x8A"), "\xBD\x8A");
}

TEST(ContentCodingTest, QuotedPrintableRoundTripsEveryLengthUpTo300) {
    std::mt19937 rng(1234);
    const std::string alphabet = "ab .F\r\n\t=\xE9";
    for (size_t n = 0; n <= 300; ++n) {
        for (int kind = 0; kind < 2; ++kind) {
            // Random bytes, and text made of the bytes that matter to the encoder.
            std::string data = kind == 0 ? randomBytes(rng, n) : std::string(n, ' ');
            if (kind == 1)
                for (char& c : data)
                    c = alphabet[rng() % alphabet.size()];
            std::string enc = qp(data);
            EXPECT_EQ(unqp(enc), data) << n << " kind " << kind;
            for (const std::string& line : crlfLines(enc)) {
                EXPECT_LE(line.size(), 76u);
                if (!line.empty()) {
                    EXPECT_TRUE(line.back() != ' ' && line.back() != '\t');
                }
                for (char c : line)
                    EXPECT_TRUE(c == '\t' || (c >= 0x20 && c < 0x7F)) << int(c);
                EXPECT_NE(line, ".");
                EXPECT_FALSE(line.starts_with("From "));
            }
        }
    }
}

TEST(ContentCodingTest, QTextNeverHoldsSpaceQuestionMarkOrUnderscore) {
    EXPECT_EQ(qText("a b?_=\x01\xE9~"), "a_b=3F=5F=3D=01=E9~");
    // Address specials never appear bare, so an encoded display name cannot split a list.
    EXPECT_EQ(qText("M\xFCller, \"H.\" <x@y>;(a):[b]\\"),
              "M=FCller=2C_=22H=2E=22_=3Cx=40y=3E;=28a=29=3A=5Bb=5D=5C");
    std::string all;
    for (int c = 0; c < 256; ++c)
        all.push_back(static_cast<char>(c));
    std::string enc = qText(all);
    EXPECT_EQ(enc.find(' '), std::string::npos);
    EXPECT_EQ(enc.find('?'), std::string::npos);
    EXPECT_EQ(unqText(enc), all);
    // The only '_' is the space's.
    EXPECT_EQ(enc.find('_'), enc.rfind('_'));
    EXPECT_EQ(enc.substr(enc.find('_') - 3, 9), "=1F_!=22#");
}

TEST(ContentCodingTest, QTextDecodingDropsForeignBytesAndKeepsBadEscapes) {
    EXPECT_EQ(unqText("Gr=FC=DFe_x"), "Gr\xFC\xDF"
                                      "e x");
    EXPECT_EQ(unqText("=e9"), "\xE9"); // lower-case digits are common in real mail
    EXPECT_EQ(unqText("a?b c\td"), "abcd");
    EXPECT_EQ(unqText("\x85\xA0\xE9"), "\xA0\xE9");
    EXPECT_EQ(unqText("x=4"), "x=4");
    EXPECT_EQ(unqText("x="), "x=");
    EXPECT_EQ(unqText("=3D=3"), "==3");
}

TEST(ContentCodingTest, SingleEncodedWords) {
    std::string out;
    ContentCoding::encodeWordQ("Gr\xFC\xDF"
                               "e",
                               "iso-8859-1", out);
    EXPECT_EQ(out, "=?iso-8859-1?Q?Gr=FC=DFe?=");
    out.clear();
    ContentCoding::encodeWordB("Gr\xFC\xDF"
                               "e",
                               "iso-8859-1", out);
    EXPECT_EQ(out, "=?iso-8859-1?B?R3L832U=?=");
    out.clear();
    ContentCoding::encodeWordQ("", "utf-8", out);
    ContentCoding::encodeWordB("x", "", out);
    EXPECT_EQ(out, "");
}

TEST(ContentCodingTest, HeaderTextPicksBForAsianCharsetsAndKeepsEncodedText) {
    std::string out;
    ContentCoding::encodeHeaderText("\x82\xA0", "Shift_JIS", out);
    EXPECT_EQ(out, "=?Shift_JIS?B?gqA=?=");
    out.clear();
    ContentCoding::encodeHeaderText("J\xC3\xBCrgen", "utf-8", out);
    EXPECT_EQ(out, "=?utf-8?Q?J=C3=BCrgen?=");
    out.clear();
    ContentCoding::encodeHeaderText("=?utf-8?b?SsO8cmdlbg==?= \xC3\xBC", "utf-8", out);
    EXPECT_EQ(out, "=?utf-8?b?SsO8cmdlbg==?= \xC3\xBC");
    out.clear();
    // Only the first 100 bytes are looked at.
    std::string late = std::string(100, 'x') + "?Q?\xFF";
    ContentCoding::encodeHeaderText(late, "windows-1254", out);
    EXPECT_EQ(out, "=?windows-1254?B?" + b64(late) + "?=");
}

TEST(ContentCodingTest, WordsDecodeToBytesWithTextBetweenThem) {
    EXPECT_EQ(wordsToBytes("=?iso-8859-1?Q?Gr=FC=DFe?="), "Gr\xFC\xDF"
                                                          "e");
    EXPECT_EQ(wordsToBytes("Re: =?utf-8?b?SsO8cmdlbg==?= says hi"), "Re: J\xC3\xBCrgen says hi");
    EXPECT_EQ(wordsToBytes("=?utf-8?B?"
                           "?="),
              "");
    EXPECT_EQ(wordsToBytes("a =?utf-8?Q?"
                           "?= b"),
              "a  b");
    EXPECT_EQ(wordsToBytes("no words at all"), "no words at all");
    EXPECT_EQ(wordsToBytes(""), "");
}

TEST(ContentCodingTest, WhiteSpaceBetweenAdjacentWordsIsDropped) {
    EXPECT_EQ(wordsToBytes("=?utf-8?Q?Gr=C3=BC?= =?utf-8?Q?=C3=9Fe?="), "Gr\xC3\xBC\xC3\x9F"
                                                                        "e");
    EXPECT_EQ(wordsToBytes("=?utf-8?Q?a?=\r\n\t=?utf-8?Q?b?=  x =?utf-8?Q?c?="), "ab  x c");
    EXPECT_EQ(wordsToBytes("=?utf-8?Q?a?= - =?utf-8?Q?b?="), "a - b");
}

TEST(ContentCodingTest, MalformedWordsEndTheText) {
    EXPECT_EQ(wordsToBytes("Re: =?broken"), "Re: ");
    EXPECT_EQ(wordsToBytes("x =?utf-8?Q"), "x ");
    EXPECT_EQ(wordsToBytes("x =?utf-8?Q?"), "x ");
    EXPECT_EQ(wordsToBytes("x =?utf-8?Q?abc"), "x ");
    EXPECT_EQ(wordsToBytes("=?a?Q?ok?= then =?b?Q?cut"), "ok then ");
    // "=?" that does not start a word is ordinary text.
    EXPECT_EQ(wordsToBytes("a=?x?Qy?z"), "a=?x?Qy?z");
    EXPECT_EQ(wordsToBytes("=?=?utf-8?Q?x?="), "=?x");
}
