#include "email/Email2.h"

#include "EmailTestSupport.h"

using namespace norvane;
using namespace norvane::test;

namespace {

std::string addresses(const Email2& e, RecipientKind kind) {
    std::string out;
    for (int i = 0; i < e.numRecipients(kind); ++i) {
        if (!out.empty())
            out += "|";
        e.recipient(kind, i)->renderDisplay(out);
    }
    return out;
}

} // namespace

class Email2AddressTest : public DeterministicEmailTest {};

TEST_F(Email2AddressTest, SetFromStoresTheNameAsOneUtf8EncodedWord) {
    Email2 e;
    ASSERT_TRUE(e.setFrom("Ann Lee <ann@example.com>"));
    ASSERT_NE(e.from(), nullptr);
    EXPECT_EQ(e.from()->getRawName(), "=?utf-8?Q?Ann_Lee?=");
    EXPECT_EQ(e.from()->getName(), "Ann Lee");
    EXPECT_EQ(e.from()->getAddress(), "ann@example.com");
    // The field holds the text; encoded words come back only when it is rendered.
    EXPECT_EQ(field(e, "From"), "\"Ann Lee\" <ann@example.com>");
    EXPECT_EQ(field(e, "return-path"), "ann@example.com");
    EXPECT_NE(render(e).find("\r\nFrom: \"Ann Lee\" <ann@example.com>\r\n"), std::string::npos);
}

TEST_F(Email2AddressTest, NonAsciiSenderRendersAsEncodedWordBeforeTheAddress) {
    Email2 e;
    ASSERT_TRUE(e.setFrom("=?iso-8859-1?Q?J=FCrgen_M=FCller?= <jm@example.com>"));
    EXPECT_EQ(e.from()->getName(), "J\xC3\xBCrgen M\xC3\xBCller");
    EXPECT_EQ(e.from()->getRawName(), "=?utf-8?Q?J=C3=BCrgen_M=C3=BCller?=");
    EXPECT_NE(render(e).find("\r\nFrom: =?utf-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm@example.com>\r\n"),
              std::string::npos)
        << render(e);
}

TEST_F(Email2AddressTest, SetFromKeepsAnExistingReturnPathAndRefusesGarbage) {
    Email2 e;
    e.setHeaderField("Return-Path", "bounce@example.com");
    ASSERT_TRUE(e.setFrom("a@example.com"));
    EXPECT_EQ(field(e, "return-path"), "bounce@example.com");
    EXPECT_EQ(field(e, "From"), "a@example.com");

    EXPECT_FALSE(e.setFrom("no address here"));
    EXPECT_EQ(e.from()->getAddress(), "a@example.com");
    EXPECT_EQ(field(e, "From"), "a@example.com");
}

TEST_F(Email2AddressTest, AddressesWithControlBytesOrBracketsAreRefused) {
    const char* bad[] = {"a@example.com\r\nRCPT TO:evil@evil.test", "a@example.com\n",
                         "a\x01@example.com", "a@example.com>", "a@exa(mple.com"};
    for (const char* address : bad) {
        SCOPED_TRACE(address);
        Email2 e;
        const int fields = e.header().fieldCount();
        EXPECT_FALSE(e.addRecipient(RecipientKind::To, "n", address));
        EXPECT_FALSE(e.addRecipient(RecipientKind::Bcc, "n", address));
        EXPECT_FALSE(e.setFrom(address));
        EXPECT_FALSE(e.setFromAddress(address));
        EXPECT_FALSE(e.setReplyTo(address));
        EXPECT_EQ(e.numRecipients(RecipientKind::To) + e.numRecipients(RecipientKind::Bcc), 0);
        EXPECT_EQ(e.from(), nullptr);
        EXPECT_EQ(e.header().fieldCount(), fields);
    }
    Email2 e;
    EXPECT_TRUE(e.addRecipient(RecipientKind::To, "n", " <a@example.com> "));
    EXPECT_TRUE(e.setFrom("Ann Lee <ann@example.com>"));
    // In a list only the bad entry goes; a list folded over lines stays readable.
    EXPECT_EQ(e.addMultiple(RecipientKind::Cc,
                            "b@example.com, a@example.com\r\nRCPT TO:evil@evil.test, c@x.org,\r\n"
                            " d@x.org"),
              3);
    EXPECT_EQ(e.addMultiple(RecipientKind::Cc, "e@example.com, a\x01@example.com"), 0);
    EXPECT_EQ(e.numRecipients(RecipientKind::Cc), 3);
}

TEST_F(Email2AddressTest, HeaderFieldNamesAreChecked) {
    const char* bad[] = {"X-A: 1\r\nBcc", "X A", "X:A", "X\x01", "", "X-\xC3\xA9"};
    for (const char* name : bad) {
        SCOPED_TRACE(name);
        Email2 e;
        const int fields = e.header().fieldCount();
        EXPECT_FALSE(e.setHeaderField(name, "v"));
        EXPECT_EQ(e.header().fieldCount(), fields);
    }
    Email2 e;
    EXPECT_TRUE(e.setHeaderField(" X-Ok ", "v"));
    EXPECT_EQ(field(e, "X-Ok"), "v");
}

TEST_F(Email2AddressTest, NameBeforeAddressWaitsForTheAddress) {
    Email2 e;
    e.setFromName("Bob");
    EXPECT_EQ(e.pendingFromName(), "Bob");
    EXPECT_EQ(e.from(), nullptr);
    EXPECT_FALSE(e.header().hasField("From"));

    e.setFromAddress("not-an-address");
    EXPECT_EQ(e.from(), nullptr);

    e.setFromAddress("bob@example.com");
    ASSERT_NE(e.from(), nullptr);
    EXPECT_EQ(e.pendingFromName(), "");
    EXPECT_EQ(field(e, "From"), "\"Bob\" <bob@example.com>");
    EXPECT_EQ(field(e, "return-path"), "bob@example.com");

    e.setFromName("Robert");
    EXPECT_EQ(field(e, "From"), "\"Robert\" <bob@example.com>");
    EXPECT_FALSE(e.setFromAddress("<rob @example.com>")); // never glued together
    EXPECT_TRUE(e.setFromAddress("<rob@example.com>"));
    EXPECT_EQ(field(e, "From"), "\"Robert\" <rob@example.com>");
}

TEST_F(Email2AddressTest, ReplyToIsReencodedAndUnparsableTextIsIgnored) {
    Email2 e;
    EXPECT_TRUE(e.setReplyTo("Desk <desk@example.com>"));
    EXPECT_EQ(field(e, "Reply-To"), "\"Desk\" <desk@example.com>");
    EXPECT_FALSE(e.setReplyTo("nobody"));
    EXPECT_EQ(field(e, "Reply-To"), "\"Desk\" <desk@example.com>");
}

TEST_F(Email2AddressTest, AddRecipientsRewritesToAndCcButNeverBcc) {
    Email2 e;
    EXPECT_FALSE(e.addTo("Nobody", ""));
    EXPECT_TRUE(e.addTo("Ann", "ann@example.com"));
    EXPECT_TRUE(e.addTo("", "bob@example.com"));
    EXPECT_TRUE(e.addCc("Carl \"C\"", "carl@example.com"));
    EXPECT_TRUE(e.addBcc("Dora", "dora@example.com"));
    EXPECT_EQ(field(e, "To"), "\"Ann\" <ann@example.com>, bob@example.com");
    EXPECT_EQ(field(e, "Cc"), "\"Carl \\\"C\\\"\" <carl@example.com>");
    EXPECT_FALSE(e.header().hasField("Bcc"));
    EXPECT_EQ(e.numRecipients(RecipientKind::Bcc), 1);
    EXPECT_EQ(render(e).find("dora"), std::string::npos);
    EXPECT_EQ(e.recipient(RecipientKind::To, 2), nullptr);
    EXPECT_EQ(e.recipient(RecipientKind::To, -1), nullptr);
}

TEST_F(Email2AddressTest, AddMultipleSkipsDuplicatesAndUnparsablePieces) {
    Email2 e;
    EXPECT_EQ(e.addMultiple(RecipientKind::To,
                            "a@example.com, \"Lee, Ann\" <ann@example.com>, junk, A@EXAMPLE.COM"),
              3);
    EXPECT_EQ(addresses(e, RecipientKind::To), "a@example.com|\"Lee, Ann\" <ann@example.com>");
    EXPECT_EQ(field(e, "To"), "a@example.com, \"Lee, Ann\" <ann@example.com>");
    EXPECT_EQ(e.addMultiple(RecipientKind::To, "ann@EXAMPLE.com"), 1);
    EXPECT_EQ(e.numRecipients(RecipientKind::To), 2);
    EXPECT_EQ(e.addMultiple(RecipientKind::Cc, "nothing useful"), 0);
}

TEST_F(Email2AddressTest, AddMultipleDecodesEncodedWordsFirst) {
    Email2 e;
    EXPECT_EQ(e.addMultiple(RecipientKind::Cc, "=?utf-8?q?J=C3=BCrgen?= <j@example.com>"), 1);
    ASSERT_EQ(e.numRecipients(RecipientKind::Cc), 1);
    EXPECT_EQ(e.recipient(RecipientKind::Cc, 0)->getName(), "J\xC3\xBCrgen");
    EXPECT_EQ(field(e, "Cc"), "\"J\xC3\xBCrgen\" <j@example.com>");
}
