#include "mime/Rfc822Address.h"

#include "common/Platform.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {

std::string raw(const Rfc822Address& a) {
    std::string out;
    a.renderRaw(out);
    return out;
}

// "name|address" of every entry of a list.
std::string listText(const ExtPtrArray<Rfc822Address>& list) {
    std::string out;
    for (const auto& a : list)
        out += (out.empty() ? "" : ";") + a->getRawName() + "|" + a->getAddress();
    return out;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

TEST(Rfc822AddressTest, ParsesNameAndAddressForms) {
    const std::pair<std::string, std::string> cases[] = {
        {"  \"Smith, John\" <john@x.com>\t", "Smith, John|john@x.com"},
        {"John Smith <john@x.com>", "John Smith|john@x.com"},
        {"'John' <j@x.com>", "John|j@x.com"},
        {"<j@x.com>", "|j@x.com"},
        {"j@x.com (Johnny)", "Johnny|j@x.com"}, // the old form's comment names the mailbox
        {"\"j@x.com\" <j@x.com>", "|j@x.com"},
        // Text after the closing quote of the name is left out.
        {"\"A\" B <ab@x.com>", "A|ab@x.com"},
        // Backslash-quote pairs are deleted.
        {"\"Bob \\\"B\\\" Smith\" <bob@x.com>", "Bob B Smith|bob@x.com"},
        // 8-bit names, raw UTF-8 or Latin-1, are stored as one UTF-8 word; encoded ones stay.
        {"J\xC3\xBCrgen M\xC3\xBCller <j@x.de>", "=?utf-8?Q?J=C3=BCrgen_M=C3=BCller?=|j@x.de"},
        {"J\xFCrgen <j@x.de>", "=?utf-8?Q?J=C3=BCrgen?=|j@x.de"},
        {"=?iso-8859-1?Q?J=FCrgen?= \xC3\xBC <j@x.de>",
         "=?iso-8859-1?Q?J=FCrgen?= \xC3\xBC|j@x.de"},
        {"\"=?8bit?Q?Zo=C3=AB?=\" <z@x.com>", "=?utf-8?Q?Zo=C3=AB?=|z@x.com"},
        // No at sign, or a placeholder: no address.
        {"", "<none>"},
        {"John Smith <john>", "<none>"},
        {"undisclosed-recipients:;", "<none>"},
        {"Undisclosed Recipients <u@x.com>", "<none>"},
    };
    for (const auto& [text, expected] : cases) {
        auto a = Rfc822Address::parseAddress(text);
        EXPECT_EQ(a ? a->getRawName() + "|" + a->getAddress() : "<none>", expected) << text;
        if (a) {
            EXPECT_TRUE(a->isValid());
            EXPECT_EQ(a->hasName(), !a->getRawName().empty());
        }
    }
    auto a = Rfc822Address::parseAddress("\"Bob \\\"B\\\" Smith\" <bob@x.com>");
    EXPECT_EQ(a->getFullText(), "\"Bob B Smith\" <bob@x.com>");
    EXPECT_EQ(Rfc822Address::parseAddress("J\xFCrgen <j@x.de>")->getName(), "J\xC3\xBCrgen");
}

TEST(Rfc822AddressTest, ListsSplitOutsideQuotesAndSkipEmptyEntries) {
    ExtPtrArray<Rfc822Address> list;
    EXPECT_EQ(Rfc822Address::parseAddressList(
                  "\"Smith, John\" <john@x.com>,, b@y.com,\r\n\t\"C\\,D\" <c@z.com>", list),
              3);
    EXPECT_EQ(listText(list), "Smith, John|john@x.com;|b@y.com;C\\,D|c@z.com");
}

TEST(Rfc822AddressTest, ListsDropPlaceholdersAndDuplicates) {
    ExtPtrArray<Rfc822Address> list;
    EXPECT_EQ(Rfc822Address::parseAddressList("undisclosed-recipients:;", list), 0);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(Rfc822Address::parseAddressList("A <A@x.com>, a@X.com, nobody", list), 2);
    EXPECT_EQ(listText(list), "A|A@x.com");
    // Addresses already in the list are not added again.
    EXPECT_EQ(Rfc822Address::parseAddressList("B <b@x.com>, a@x.COM", list), 2);
    EXPECT_EQ(listText(list), "A|A@x.com;B|b@x.com");
}

TEST(Rfc822AddressTest, EightBitWordsInBuiltNamesDecodeToRawBytes) {
    Rfc822Address built("=?8bit?Q?Zo=C3=AB?=", "z@x.com");
    EXPECT_EQ(built.getRawName(), "Zo\xC3\xAB");
}

TEST(Rfc822AddressTest, BuiltFromParts) {
    Rfc822Address a(" Jane ", "Jane Doe < jane @x.com >");
    EXPECT_TRUE(a.isValid());
    EXPECT_EQ(a.getRawName(), "Jane");
    EXPECT_EQ(a.getAddress(), "jane@x.com");
    EXPECT_EQ(a.getFullText(), "\" Jane \" <Jane Doe < jane @x.com >>");
    Rfc822Address bare("", "x@y.com");
    EXPECT_EQ(raw(bare), "x@y.com");
}

TEST(Rfc822AddressTest, RendersHeaderAndDisplayForms) {
    Rfc822Address a("John Smith", "john@x.com");
    EXPECT_EQ(raw(a), "\"John Smith\" <john@x.com>");
    Rfc822Address quoted("Bob \"The Builder\" \\o/", "bob@x.com");
    EXPECT_EQ(raw(quoted), "\"Bob \\\"The Builder\\\" \\\\o/\" <bob@x.com>");
    auto enc = Rfc822Address::parseAddress("Zo\xC3\xAB <z@x.com>");
    std::string display;
    enc->renderDisplay(display);
    EXPECT_EQ(display, "\"Zo\xC3\xAB\" <z@x.com>");
    EXPECT_EQ(raw(*enc), "\"=?utf-8?Q?Zo=C3=AB?=\" <z@x.com>");
}

TEST(Rfc822AddressTest, LineBreaksNeverReachAHeaderOrSmtpCommand) {
    Rfc822Address a("Evil\r\nBcc: victim@x.com", "a@b.com\r\nRCPT TO:<c@d.com>");
    EXPECT_FALSE(hasLineBreak(raw(a)));
    EXPECT_FALSE(hasLineBreak(a.getAddress()));
    EXPECT_FALSE(hasLineBreak(a.getFullText()));
    EXPECT_EQ(a.getAddress().find(' '), std::string::npos);

    auto p = Rfc822Address::parseAddress("Name\r\nX-Injected: 1 <a@b.com\r\n.\r\nQUIT>");
    ASSERT_TRUE(p);
    EXPECT_FALSE(hasLineBreak(raw(*p)));
    EXPECT_FALSE(hasLineBreak(p->getFullText()));

    ExtPtrArray<Rfc822Address> list;
    Rfc822Address::parseAddressList("x@y.com\r\nBcc: z@w.com", list);
    for (const auto& e : list)
        EXPECT_FALSE(hasLineBreak(raw(*e)));

    Rfc822Address b("n", "a@b.com");
    b.setName("n\r\nX: y");
    b.setAddress("<a@b.com\nDATA\x7F\x01>");
    EXPECT_EQ(b.getRawName(), "nX: y");
    EXPECT_EQ(b.getAddress(), "a@b.comDATA");
    EXPECT_TRUE(b.replaceText("DATA", "\r\nRSET\r\n"));
    EXPECT_FALSE(hasLineBreak(raw(b)));
    EXPECT_FALSE(hasLineBreak(b.getFullText()));
}

TEST(Rfc822AddressTest, ReplaceTextReachesNameAndAddress) {
    Rfc822Address a("Dear NAME", "NAME@x.com");
    EXPECT_TRUE(a.replaceText("NAME", "joe"));
    EXPECT_EQ(a.getRawName(), "Dear joe");
    EXPECT_EQ(a.getAddress(), "joe@x.com");
    EXPECT_EQ(a.getFullText(), "\"Dear joe\" <joe@x.com>");
    EXPECT_FALSE(a.replaceText("absent", "x"));
    EXPECT_FALSE(a.replaceText("", "x"));
}

TEST(Rfc822AddressTest, XmlElement) {
    std::string out;
    Rfc822Address("A & B", "ab@x.com").toXml(out);
    EXPECT_EQ(out, "<address>\n\t<addr>ab@x.com</addr>\n\t<name>A &amp; B</name>\n</address>");
    out.clear();
    Rfc822Address("", "").toXml(out);
    EXPECT_EQ(out, "<address>\n\t<addr/>\n\t<name/>\n</address>");
    out.clear();
    Rfc822Address("Zo\xC3\xAB <3", "z@x.com").toXml(out);
    EXPECT_EQ(out, "<address>\n\t<addr>z@x.com</addr>\n\t<name>=?8bit?Q?Zo=C3=AB_&lt;3?=</name>\n"
                   "</address>");
}

TEST(Rfc822AddressTest, RawNamesInTheAnsiCodePageAreConvertedToUtf8) {
    platform::setAnsiCodePage(1251);
    auto a = Rfc822Address::parseAddress("\xC8\xE2\xE0\xED <ivan@x.ru>");
    platform::setAnsiCodePage(65001);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->getRawName(), "=?utf-8?Q?=D0=98=D0=B2=D0=B0=D0=BD?=");
    EXPECT_EQ(a->getName(), "Иван");
    // Encoded names in other charsets are decoded to UTF-8 for display.
    auto b = Rfc822Address::parseAddress("=?windows-1251?B?z/Do4uXy?= <p@x.ru>");
    EXPECT_EQ(b->getName(), "Привет");
    std::string display;
    b->renderDisplay(display);
    EXPECT_EQ(display, "\"Привет\" <p@x.ru>");
}
