#include "mime/Rfc822Address.h"

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
    auto a = Rfc822Address::parseAddress("  \"Smith, John\" <john@x.com>\t");
    ASSERT_TRUE(a);
    EXPECT_TRUE(a->isValid());
    EXPECT_EQ(a->getRawName(), "Smith, John");
    EXPECT_EQ(a->getAddress(), "john@x.com");
    EXPECT_EQ(a->getFullText(), "\"Smith, John\" <john@x.com>");

    a = Rfc822Address::parseAddress("John Smith <john@x.com>");
    EXPECT_EQ(a->getRawName(), "John Smith");
    a = Rfc822Address::parseAddress("'John' <j@x.com>");
    EXPECT_EQ(a->getRawName(), "John");
    a = Rfc822Address::parseAddress("<j@x.com>");
    EXPECT_FALSE(a->hasName());
    EXPECT_EQ(a->getAddress(), "j@x.com");
    a = Rfc822Address::parseAddress("j@x.com (Johnny)");
    EXPECT_FALSE(a->hasName());
    EXPECT_EQ(a->getAddress(), "j@x.com");
    a = Rfc822Address::parseAddress("\"j@x.com\" <j@x.com>");
    EXPECT_FALSE(a->hasName());
    // Text after the closing quote of the name is left out.
    a = Rfc822Address::parseAddress("\"A\" B <ab@x.com>");
    EXPECT_EQ(a->getRawName(), "A");
}

TEST(Rfc822AddressTest, EntriesWithoutAnAtSignOrPlaceholdersAreInvalid) {
    EXPECT_FALSE(Rfc822Address::parseAddress(""));
    EXPECT_FALSE(Rfc822Address::parseAddress("John Smith <john>"));
    EXPECT_FALSE(Rfc822Address::parseAddress("undisclosed-recipients:;"));
    EXPECT_FALSE(Rfc822Address::parseAddress("Undisclosed Recipients <u@x.com>"));
}

TEST(Rfc822AddressTest, BackslashQuotePairsAreDeleted) {
    auto a = Rfc822Address::parseAddress("\"Bob \\\"B\\\" Smith\" <bob@x.com>");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->getFullText(), "\"Bob B Smith\" <bob@x.com>");
    EXPECT_EQ(a->getRawName(), "Bob B Smith");
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

TEST(Rfc822AddressTest, EightBitNamesAreStoredAsOneUtf8Word) {
    auto a = Rfc822Address::parseAddress("J\xC3\xBCrgen M\xC3\xBCller <j@x.de>");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->getRawName(), "=?utf-8?Q?J=C3=BCrgen_M=C3=BCller?=");
    EXPECT_EQ(a->getName(), "J\xC3\xBCrgen M\xC3\xBCller");
    // Raw Latin-1 is taken for what it is and stored as UTF-8.
    a = Rfc822Address::parseAddress("J\xFCrgen <j@x.de>");
    EXPECT_EQ(a->getRawName(), "=?utf-8?Q?J=C3=BCrgen?=");
    EXPECT_EQ(a->getName(), "J\xC3\xBCrgen");
    // A name that is already encoded stays as it is.
    a = Rfc822Address::parseAddress("=?iso-8859-1?Q?J=FCrgen?= \xC3\xBC <j@x.de>");
    EXPECT_EQ(a->getRawName(), "=?iso-8859-1?Q?J=FCrgen?= \xC3\xBC");
}

TEST(Rfc822AddressTest, EightBitWordsInNamesDecodeToRawBytes) {
    auto a = Rfc822Address::parseAddress("\"=?8bit?Q?Zo=C3=AB?=\" <z@x.com>");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->getRawName(), "=?utf-8?Q?Zo=C3=AB?=");
    Rfc822Address built("=?8bit?Q?Zo=C3=AB?=", "z@x.com");
    EXPECT_EQ(built.getRawName(), "Zo\xC3\xAB");
}

TEST(Rfc822AddressTest, BuiltFromParts) {
    Rfc822Address a(" Jane ", "Jane Doe < jane @x.com >");
    EXPECT_TRUE(a.isValid());
    EXPECT_EQ(a.getRawName(), "Jane");
    EXPECT_EQ(a.getAddress(), "jane@x.com");
    EXPECT_EQ(a.getFullText(), "\" Jane \" <Jane Doe < jane @x.com >>");
    Rfc822Address same("x@y.com", "x@y.com");
    EXPECT_FALSE(same.hasName());
    EXPECT_EQ(same.getFullText(), "\"x@y.com\" <x@y.com>");
    Rfc822Address bare("", "x@y.com");
    EXPECT_EQ(bare.getFullText(), "x@y.com");
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

TEST(Rfc822AddressTest, ReplaceTextCloneAndCopy) {
    Rfc822Address a("Dear NAME", "NAME@x.com");
    EXPECT_TRUE(a.replaceText("NAME", "joe"));
    EXPECT_EQ(a.getRawName(), "Dear joe");
    EXPECT_EQ(a.getAddress(), "joe@x.com");
    EXPECT_EQ(a.getFullText(), "\"Dear joe\" <joe@x.com>");
    EXPECT_FALSE(a.replaceText("absent", "x"));
    EXPECT_FALSE(a.replaceText("", "x"));
    auto c = a.clone();
    EXPECT_EQ(raw(*c), raw(a));
    EXPECT_EQ(c->getFullText(), a.getFullText());
    Rfc822Address d;
    EXPECT_FALSE(d.isValid());
    d.copyFrom(a);
    EXPECT_TRUE(d.isValid());
    EXPECT_EQ(raw(d), raw(a));
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
