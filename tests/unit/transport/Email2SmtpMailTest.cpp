#include "transport/Email2SmtpMail.h"

#include "common/LogBase.h"
#include "common/StringBuffer.h"

#include <gtest/gtest.h>

using namespace norvane;

namespace {

std::unique_ptr<Email2> sample() {
    auto e = std::make_unique<Email2>();
    EXPECT_TRUE(e->setFrom("\"Ann Example\" <ann@test.invalid>"));
    e->addTo("Bob", "bob@test.invalid");
    e->addTo("", "carl@test.invalid");
    e->addCc("Dora", "dora@test.invalid");
    e->addBcc("Eve", "eve@test.invalid");
    e->setHeaderField("Subject", "Gr\xc3\xbc\xc3\x9f"
                                 "e");
    e->setHeaderField("NVX-FileDistList", "/nowhere/list.txt");
    e->setHeaderField("nvx-lower", "also internal");
    return e;
}

} // namespace

TEST(Email2SmtpMailTest, EnvelopeComesFromTheEmailLists) {
    auto e = sample();
    Email2SmtpMail mail(*e);
    EXPECT_EQ(mail.fromAddress(), "ann@test.invalid");
    EXPECT_EQ(mail.headerField("return-path"), "ann@test.invalid");
    EXPECT_EQ(mail.headerField("NVX-FileDistList"), "/nowhere/list.txt");
    EXPECT_EQ(mail.headerField("X-Absent"), "");
    EXPECT_EQ(mail.subject(), "Gr\xc3\xbc\xc3\x9f"
                              "e");
    using K = SmtpMail::Kind;
    EXPECT_EQ(mail.recipients(K::To),
              (std::vector<std::string>{"bob@test.invalid", "carl@test.invalid"}));
    EXPECT_EQ(mail.recipients(K::Cc), std::vector<std::string>{"dora@test.invalid"});
    EXPECT_EQ(mail.recipients(K::Bcc), std::vector<std::string>{"eve@test.invalid"});
}

TEST(Email2SmtpMailTest, RecipientChangesReachTheEmailAndItsHeader) {
    auto e = sample();
    Email2SmtpMail mail(*e);
    using K = SmtpMail::Kind;
    mail.clearRecipients(K::To);
    mail.clearRecipients(K::Cc);
    mail.addRecipient(K::To, "list-member@test.invalid");
    mail.clearRecipients(K::Bcc);
    mail.addRecipient(K::Bcc, "hidden@test.invalid");
    EXPECT_EQ(e->numRecipients(RecipientKind::To), 1);
    EXPECT_EQ(e->numRecipients(RecipientKind::Cc), 0);
    // Each copy of a list mailing sets its own: the last one replaces the earlier ones.
    mail.setMessageId("<NORVANE-MID-first@host>");
    mail.setMessageId("<NORVANE-MID-fixed@host>");
    std::string text;
    LogNull log;
    ASSERT_TRUE(mail.renderForSending(text, log));
    EXPECT_NE(text.find("\r\nTo: list-member@test.invalid\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Cc:"), std::string::npos);
    EXPECT_EQ(text.find("hidden@"), std::string::npos);
    EXPECT_NE(text.find("\r\nMessage-ID: <NORVANE-MID-fixed@host>\r\n"), std::string::npos);
    EXPECT_EQ(text.find("first@"), std::string::npos);
    EXPECT_EQ(mail.recipients(K::Bcc), std::vector<std::string>{"hidden@test.invalid"});
}

TEST(Email2SmtpMailTest, RenderingLeavesOutOnlyInternalFields) {
    auto e = sample();
    Email2SmtpMail mail(*e);
    std::string text;
    LogNull log;
    ASSERT_TRUE(mail.renderForSending(text, log));
    StringBuffer all;
    e->renderMime(all, "", log);
    EXPECT_NE(all.str().find("NVX-FileDistList"), std::string::npos);
    EXPECT_EQ(text.find("NVX-"), std::string::npos);
    EXPECT_EQ(text.find("nvx-"), std::string::npos);
    // Apart from the two internal fields the text is the e-mail's full rendering.
    std::string expected = all.str();
    for (const char* name : {"NVX-FileDistList: ", "nvx-lower: "}) {
        size_t pos = expected.find(name);
        ASSERT_NE(pos, std::string::npos);
        expected.erase(pos, expected.find("\r\n", pos) + 2 - pos);
    }
    EXPECT_EQ(text, expected);
}
