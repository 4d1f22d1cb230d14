#include "common/Logger.h"
#include "email/ReplacePatterns.h"
#include "mime/MimeMessage2.h"
#include "support/LogText.h"
#include "unit/email/EmailTestSupport.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

namespace {

class Email2CopiesTest : public test::DeterministicEmailTest {
protected:
    static std::unique_ptr<Email2> cloneOf(const Email2& e) {
        LogNull log;
        auto c = e.clone(log);
        EXPECT_NE(c, nullptr);
        return c;
    }
    static ExtPtrArray<StringPair>
    pairs(std::initializer_list<std::pair<const char*, const char*>> l) {
        ExtPtrArray<StringPair> out;
        for (const auto& [p, r] : l)
            out.appendObject(std::make_unique<StringPair>(p, r));
        return out;
    }
    // A plain message from Ann to Bob and Carl, copied to Dan, with a Bcc and delivery fields.
    static std::unique_ptr<Email2> received() {
        const std::string mime = "Received: from relay by mx; Tue, 5 Mar 2024 14:00:00 +0000\r\n"
                                 "X-UIDL: 17\r\n"
                                 "Status: RO\r\n"
                                 "From: Ann Lee <ann@example.com>\r\n"
                                 "Reply-To: desk@example.com\r\n"
                                 "To: bob@example.com, \"Carl\" <carl@example.com>\r\n"
                                 "Cc: dan@example.com\r\n"
                                 "Subject: Budget\r\n"
                                 "Date: Mon, 04 Mar 2024 09:00:00 +0100\r\n"
                                 "Message-ID: <orig@example.com>\r\n"
                                 "MIME-Version: 1.0\r\n"
                                 "Content-Type: text/plain; charset=us-ascii\r\n"
                                 "\r\n"
                                 "Figures attached.\r\n";
        LogNull log;
        return Email2::fromMime(mime, log);
    }
};

// Records what unwrapping would have found, and how often it was asked.
class FakeCert : public CopyableObject {
public:
    explicit FakeCert(std::string s) : subject(std::move(s)) {}
    std::unique_ptr<NorvaneObject> copyObject() const override {
        return std::make_unique<FakeCert>(subject + " (copy)");
    }
    std::string subject;
};

class FakeUnwrapper : public SecurityUnwrapper {
public:
    void unwrap(MimeMessage2&, bool, SecurityOutcome& out, LogBase&) override {
        ++calls;
        out.secured = true;
        out.numSigned = 1;
        out.signaturesValid = false;
        out.signerCerts.appendObject(std::make_unique<FakeCert>("signer"));
        out.signerCerts.appendObject(std::make_unique<NorvaneObject>());
        out.decryptCerts.appendObject(std::make_unique<FakeCert>("decrypter"));
    }
    int calls = 0;
};

} // namespace

TEST_F(Email2CopiesTest, CloneIsTheSameMessageAndIndependent) {
    // A clone goes through the MIME text, whose round trip Email2FromMimeTest covers.
    Email2 e;
    e.setBody("Plain caf\xC3\xA9", false);
    (void)e.addDataAttachment("photo.png", DataBuffer(std::string(300, '\x07')), "");
    auto c = cloneOf(e);
    ASSERT_NE(c, nullptr);
    const std::string before = render(e);
    EXPECT_EQ(render(*c), before);
    c->setHeaderField("Subject", "changed");
    c->dropAllAttachments();
    EXPECT_EQ(render(e), before);
}

TEST_F(Email2CopiesTest, CloneCarriesWhatTheMimeTextDoesNot) {
    FakeUnwrapper unwrapper;
    LogNull log;
    FromMimeOptions options;
    options.unwrapper = &unwrapper;
    auto e = Email2::fromMime("From: a@example.com\r\nSubject: s\r\n\r\nbody\r\n", log, options);
    ASSERT_EQ(unwrapper.calls, 1);
    (void)e->addBcc("Hidden", "hidden@example.com");
    (void)e->addBcc("", "other@example.com");
    e->setSendSigned(true);
    e->setSendEncrypted(true);
    e->setSigningCert("signing");
    e->setEncryptCert("encrypting");
    e->setCspSpec("csp");

    auto c = cloneOf(*e);
    EXPECT_EQ(unwrapper.calls, 1) << "a clone is never unwrapped again";
    ASSERT_EQ(c->numRecipients(RecipientKind::Bcc), 2);
    EXPECT_EQ(c->recipient(RecipientKind::Bcc, 0)->getAddress(), "hidden@example.com");
    EXPECT_EQ(c->recipient(RecipientKind::Bcc, 1)->getAddress(), "other@example.com");
    EXPECT_NE(c->recipient(RecipientKind::Bcc, 0), e->recipient(RecipientKind::Bcc, 0));
    EXPECT_TRUE(c->sendSigned());
    EXPECT_TRUE(c->sendEncrypted());
    EXPECT_EQ(c->signingCert(), "signing");
    EXPECT_EQ(c->encryptCert(), "encrypting");
    EXPECT_EQ(c->cspSpec(), "csp");
    const SecurityOutcome& s = c->security();
    EXPECT_TRUE(s.secured);
    EXPECT_EQ(s.numSigned, 1);
    // Certificates are copies, not shared; an object that cannot be copied is left out.
    ASSERT_EQ(s.signerCerts.getSize(), 1u);
    EXPECT_EQ(static_cast<FakeCert*>(s.signerCerts.elementAt(0))->subject, "signer (copy)");
    ASSERT_EQ(s.decryptCerts.getSize(), 1u);
    EXPECT_EQ(static_cast<FakeCert*>(s.decryptCerts.elementAt(0))->subject, "decrypter (copy)");
}

TEST_F(Email2CopiesTest, ReplyQuotesTheOriginalAndAnswersOnlyTheSender) {
    auto source = received();
    auto r = cloneOf(*source);
    r->makeReply();

    EXPECT_EQ(field(*r, "Subject"), "RE: Budget");
    ASSERT_EQ(r->numRecipients(RecipientKind::To), 1);
    EXPECT_EQ(r->recipient(RecipientKind::To, 0)->getAddress(), "ann@example.com");
    EXPECT_EQ(r->recipient(RecipientKind::To, 0)->getName(), "Ann Lee");
    EXPECT_EQ(r->numRecipients(RecipientKind::Cc), 0);
    EXPECT_EQ(r->numRecipients(RecipientKind::Bcc), 0);
    EXPECT_EQ(r->getBody().toString(), "-----Original Message-----\n"
                                       "From: \"Ann Lee\" <ann@example.com>\n"
                                       "Sent: Mon, 04 Mar 2024 09:00:00 +0100\n"
                                       "To: bob@example.com, \"Carl\" <carl@example.com>\n"
                                       "CC: dan@example.com\n"
                                       "Subject: Budget\n"
                                       "\n"
                                       "Figures attached.\r\n");
    for (const char* gone : {"Received", "X-UIDL", "Status", "From", "Reply-To", "Cc"})
        EXPECT_FALSE(r->header().hasField(gone)) << gone;
    // The sender stays in the model although its field is gone.
    ASSERT_NE(r->from(), nullptr);
    EXPECT_EQ(r->from()->getAddress(), "ann@example.com");
    EXPECT_EQ(field(*r, "Date"), kFixedDate);
    EXPECT_EQ(field(*r, "X-Priority"), "3 (Normal)");
    EXPECT_EQ(field(*r, "X-Mailer"), Email2::defaultMailer());
    EXPECT_EQ(field(*r, "MIME-Version"), "1.0");
    EXPECT_NE(field(*r, "Message-ID"), "<orig@example.com>");
    EXPECT_TRUE(field(*r, "Message-ID").starts_with("<NORVANE-MID-"));
    // The last fields are written in this order.
    const auto names = fieldNames(*r);
    ASSERT_GE(names.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(names.end() - 4, names.end()),
              (std::vector<std::string>{"Date", "Message-ID", "X-Mailer", "X-Priority"}));
    // The source is untouched.
    EXPECT_EQ(field(*source, "Subject"), "Budget");
    EXPECT_EQ(source->getBody().toString(), "Figures attached.\r\n");
}

TEST_F(Email2CopiesTest, ForwardOfHtmlOnlyPrependsTheQuoteToTheHtmlAndHasNoRecipients) {
    Email2 e;
    (void)e.setFrom("ann@example.com");
    (void)e.addTo("Bob", "bob@example.com");
    (void)e.addBcc("", "hidden@example.com");
    e.setHeaderField("subject", "Look");
    e.setHtmlBody("<p>Hi</p>");
    const std::string html = e.getBody().toString();
    auto f = cloneOf(e);
    f->makeForward();
    EXPECT_EQ(field(*f, "Subject"), "FW: Look");
    EXPECT_EQ(f->numRecipients(RecipientKind::To), 0);
    EXPECT_EQ(f->numRecipients(RecipientKind::Cc), 0);
    EXPECT_EQ(f->numRecipients(RecipientKind::Bcc), 0);
    EXPECT_FALSE(f->header().hasField("To"));
    EXPECT_EQ(
        f->getBody().toString(),
        "-----Original Message-----\nFrom: ann@example.com\nSent: " + std::string(kFixedDate) +
            "\nTo: \"Bob\" <bob@example.com>\nSubject: Look\n\n" + html);
    EXPECT_TRUE(sb::equalsNoCase(f->contentType(), "text/html"));
}

TEST_F(Email2CopiesTest, ReplyToAnAlternativeQuotesIntoThePlainTextOnly) {
    Email2 e;
    (void)e.setFrom("ann@example.com");
    e.setHeaderField("subject", "Alt");
    e.setBody("plain body", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<b>html body</b>", e.charset()));
    (void)e.addDataAttachment("a.bin", DataBuffer(std::string_view("xyz")), "");
    auto r = cloneOf(e);
    r->makeReply();
    ASSERT_NE(r->plainTextNode(), nullptr);
    EXPECT_TRUE(r->plainTextNode()->body().toString().starts_with("-----Original Message-----\n"));
    EXPECT_TRUE(r->plainTextNode()->body().toString().ends_with("\n\nplain body"));
    ASSERT_NE(r->htmlNode(), nullptr);
    EXPECT_EQ(r->htmlNode()->body(), e.htmlNode()->body());
    EXPECT_EQ(r->attachmentAt(0)->body().toString(), "xyz");
}

TEST_F(Email2CopiesTest, ReplyWithoutSenderHasNoRecipient) {
    Email2 e;
    e.setFromName("Nobody");
    e.setHeaderField("subject", "s");
    e.setBody("b", false);
    e.makeReply();
    EXPECT_EQ(e.numRecipients(RecipientKind::To), 0);
    EXPECT_TRUE(e.getBody().toString().starts_with("-----Original Message-----\nFrom: \nSent: "));
}

TEST_F(Email2CopiesTest, ReplacementsReachSubjectBodiesAndAddressesOfACopyOnly) {
    Email2 e;
    (void)e.setFrom("Desk {TEAM} <desk@example.com>");
    (void)e.addTo("Dear {NAME}", "{USER}@example.com");
    (void)e.addTo("", "plain@example.com");
    (void)e.addCc("{NAME} boss", "boss@example.com");
    (void)e.addBcc("{NAME}", "audit@example.com");
    e.setHeaderField("subject", "Hello {NAME}, {NAME}!");
    e.setBody("Dear {NAME},\r\nyour id is {USER}.\r\n", false);
    e.addAlternative(Email2::makeHtmlAlternativePart("<p>Dear {NAME}</p>", e.charset()));
    (void)e.addDataAttachment("data.bin", DataBuffer(std::string_view("{NAME} stays")), "");
    const std::string before = render(e);

    LogNull log;
    auto c =
        e.withReplacements(pairs({{"{NAME}", "Jo"}, {"{USER}", "jo"}, {"{TEAM}", "Sales"}}), log);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(render(e), before);
    EXPECT_EQ(field(*c, "Subject"), "Hello Jo, Jo!");
    EXPECT_EQ(c->plainTextNode()->body().toString(), "Dear Jo,\r\nyour id is jo.\r\n");
    EXPECT_NE(c->htmlNode()->body().toString().find("<p>Dear Jo</p>"), std::string::npos);
    EXPECT_EQ(c->attachmentAt(0)->body().toString(), "{NAME} stays");
    EXPECT_EQ(c->recipient(RecipientKind::To, 0)->getName(), "Dear Jo");
    EXPECT_EQ(c->recipient(RecipientKind::To, 0)->getAddress(), "jo@example.com");
    EXPECT_EQ(field(*c, "To"), "\"Dear Jo\" <jo@example.com>,plain@example.com");
    EXPECT_EQ(field(*c, "Cc"), "\"Jo boss\" <boss@example.com>");
    ASSERT_EQ(c->numRecipients(RecipientKind::Bcc), 1);
    EXPECT_EQ(c->recipient(RecipientKind::Bcc, 0)->getName(), "Jo");
    ASSERT_NE(c->from(), nullptr);
    EXPECT_EQ(c->from()->getName(), "Desk Sales");
    EXPECT_EQ(field(*c, "From"), "\"Desk Sales\" <desk@example.com>");
}

TEST_F(Email2CopiesTest, ToIsRewrittenEvenWhenNothingInItChanged) {
    auto e = received();
    LogNull log;
    auto c = e->withReplacements(pairs({{"Budget", "Plan"}}), log);
    EXPECT_EQ(field(*c, "Subject"), "Plan");
    // A changed subject moves behind the fields that followed it; To and Cc, always rewritten,
    // end the header.
    const auto names = fieldNames(*c);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()),
              (std::vector<std::string>{"Subject", "To", "Cc"}));
    // Entries are joined by a folded comma; the header keeps the value unfolded.
    EXPECT_EQ(field(*e, "To"), "bob@example.com, \"Carl\" <carl@example.com>");
    EXPECT_EQ(field(*c, "To"), "bob@example.com,\"Carl\" <carl@example.com>");
    EXPECT_NE(render(*c).find("To: bob@example.com,\"Carl\" <carl@example.com>\r\n"),
              std::string::npos);
}

TEST_F(Email2CopiesTest, ReplacingScansLeftToRightInPairOrder) {
    Email2 e;
    e.setBody("aaaa a A", false);
    LogNull log;
    auto c = e.withReplacements(pairs({{"aa", "X"}}), log);
    EXPECT_EQ(c->getBody().toString(), "XX a A");
    // Later pairs see what earlier ones produced.
    auto chained = e.withReplacements(pairs({{"aaaa", "b"}, {"b", "c"}}), log);
    EXPECT_EQ(chained->getBody().toString(), "c a A");
    // No pairs: the same content.
    auto same = e.withReplacements(pairs({}), log);
    EXPECT_EQ(render(*same), render(e));
}

TEST(ReplacePatternsTest, OnePairPerPatternInSetOrder) {
    ExtPtrArray<StringPair> list;
    EXPECT_FALSE(replace_patterns::setPattern(list, "", "x"));
    EXPECT_TRUE(replace_patterns::setPattern(list, "{A}", "1"));
    EXPECT_TRUE(replace_patterns::setPattern(list, "{B}", "2"));
    EXPECT_TRUE(replace_patterns::setPattern(list, "{A}", "3"));
    ASSERT_EQ(list.getSize(), 2u);
    EXPECT_EQ(list.elementAt(0)->name, "{B}");
    EXPECT_EQ(list.elementAt(1)->name, "{A}");
    EXPECT_EQ(list.elementAt(1)->value, "3");
    ASSERT_NE(replace_patterns::findPattern(list, "{A}"), nullptr);
    EXPECT_EQ(replace_patterns::findPattern(list, "{A}")->value, "3");
    EXPECT_EQ(replace_patterns::findPattern(list, "{a}"), nullptr);
}

TEST(ReplacePatternsTest, CopyForSendingLogsEachPairUnderSendEmail) {
    ExtPtrArray<StringPair> list;
    (void)replace_patterns::setPattern(list, "{A}", "one");
    (void)replace_patterns::setPattern(list, "{B}", "two");
    Email2 e;
    e.setBody("{A}{B}", false);
    Logger log;
    auto c = replace_patterns::copyForSending(e, list, log);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->getBody().toString(), "onetwo");
    const std::string x = logXml(log);
    const size_t first = x.find("<info keyword=\"SendEmail\">Replacing [{A}] with [one]</info>");
    const size_t second = x.find("<info keyword=\"SendEmail\">Replacing [{B}] with [two]</info>");
    EXPECT_NE(first, std::string::npos) << x;
    EXPECT_NE(second, std::string::npos) << x;
    EXPECT_LT(first, second);
}
