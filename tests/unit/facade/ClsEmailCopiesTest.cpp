// Copies of an e-mail made through the public object: clones, replies, forwards and the
// substituted copy sent when replace patterns are set. Each copy is independent of its source.

#include "facade/ClsEmail.h"

#include "common/Logger.h"
#include "mime/Email2.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace norvane;
using namespace norvane::test;

namespace {

const char* const kSource = "From: \"Ann Example\" <ann@example.com>\r\n"
                            "To: \"Bob\" <bob@example.com>, carl@example.com\r\n"
                            "Cc: dee@example.com\r\n"
                            "Subject: Plans\r\n"
                            "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
                            "Message-ID: <orig@example.com>\r\n"
                            "X-UIDL: u1\r\n"
                            "Received: from relay.example.com\r\n"
                            "MIME-Version: 1.0\r\n"
                            "Content-Type: text/plain; charset=us-ascii\r\n"
                            "\r\n"
                            "Hello there.\r\n";

const char* const kQuote = "-----Original Message-----\n"
                           "From: \"Ann Example\" <ann@example.com>\n"
                           "Sent: Mon, 07 Dec 2026 10:00:00 +0000\n"
                           "To: \"Bob\" <bob@example.com>, carl@example.com\n"
                           "CC: dee@example.com\n"
                           "Subject: Plans\n\n";

std::unique_ptr<ClsEmail> source() {
    auto e = std::make_unique<ClsEmail>();
    EXPECT_TRUE(e->SetFromMimeText(kSource));
    EXPECT_TRUE(e->AddBcc("", "hidden@example.com"));
    return e;
}

} // namespace

TEST(ClsEmailCopiesTest, CloneIsAnIndependentCopyThatKeepsBcc) {
    auto e = source();
    std::unique_ptr<ClsEmail> c = e->Clone();
    ASSERT_TRUE(c);
    EXPECT_EQ(e->get_LastErrorXml(), xmlOf("Clone", ""));
    EXPECT_EQ(c->GetMime(), e->GetMime());
    EXPECT_EQ(c->GetBccAddr(0), "hidden@example.com");
    EXPECT_EQ(c->GetHeaderField("Message-ID"), "<orig@example.com>");

    c->put_Subject("Changed");
    c->ClearBcc();
    EXPECT_EQ(e->get_Subject(), "Plans");
    EXPECT_EQ(e->get_NumBcc(), 1);
    // Patterns belong to the object, not to the message it holds.
    EXPECT_TRUE(e->SetReplacePattern("a", "b"));
    EXPECT_EQ(e->Clone()->get_NumReplacePatterns(), 0);
}

TEST(ClsEmailCopiesTest, ReplyQuotesTheSourceAndAddressesItsSender) {
    auto e = source();
    std::unique_ptr<ClsEmail> r = e->CreateReply();
    ASSERT_TRUE(r);
    EXPECT_EQ(e->get_LastErrorXml(), xmlOf("CreateReply", ""));
    EXPECT_EQ(r->get_Subject(), "RE: Plans");
    EXPECT_EQ(r->get_Body(), std::string(kQuote) + "Hello there.\r\n");
    ASSERT_EQ(r->get_NumTo(), 1);
    EXPECT_EQ(r->GetTo(0), "\"Ann Example\" <ann@example.com>");
    EXPECT_EQ(r->get_NumCC() + r->get_NumBcc(), 0);
    const std::string id = r->GetHeaderField("Message-ID");
    EXPECT_FALSE(id.empty());
    EXPECT_NE(id, "<orig@example.com>");
    for (const char* gone : {"X-UIDL", "Received", "Reply-To"})
        EXPECT_EQ(r->GetHeaderField(gone), "") << gone;
    EXPECT_EQ(r->GetHeaderField("X-Priority"), "3 (Normal)");
    EXPECT_EQ(r->GetHeaderField("MIME-Version"), "1.0");

    // The source is untouched; a reply to the reply is prefixed again.
    EXPECT_EQ(e->get_Subject(), "Plans");
    EXPECT_EQ(e->get_Body(), "Hello there.\r\n");
    EXPECT_EQ(r->CreateReply()->get_Subject(), "RE: RE: Plans");
}

TEST(ClsEmailCopiesTest, ForwardHasNoRecipientsAndQuotesHtmlSource) {
    auto e = source();
    std::unique_ptr<ClsEmail> f = e->CreateForward();
    ASSERT_TRUE(f);
    EXPECT_EQ(e->get_LastErrorXml(), xmlOf("CreateForward", ""));
    EXPECT_EQ(f->get_Subject(), "FW: Plans");
    EXPECT_EQ(f->get_NumTo() + f->get_NumCC() + f->get_NumBcc(), 0);
    EXPECT_EQ(f->get_Body(), std::string(kQuote) + "Hello there.\r\n");

    ClsEmail html;
    ASSERT_TRUE(html.SetFromMimeText("From: ann@example.com\r\nSubject: News\r\n"
                                     "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
                                     "Content-Type: text/html\r\n\r\n"
                                     "<html><body>Hi</body></html>\r\n"));
    std::unique_ptr<ClsEmail> hf = html.CreateForward();
    ASSERT_TRUE(hf);
    const std::string quote = "-----Original Message-----\nFrom: ann@example.com\n"
                              "Sent: Mon, 07 Dec 2026 10:00:00 +0000\nSubject: News\n\n";
    EXPECT_EQ(hf->get_Body(), quote + "<html><body>Hi</body></html>\r\n");
    // Read as HTML, line ends come out as CR LF.
    EXPECT_EQ(hf->GetHtmlBody(), "-----Original Message-----\r\nFrom: ann@example.com\r\n"
                                 "Sent: Mon, 07 Dec 2026 10:00:00 +0000\r\nSubject: News\r\n\r\n"
                                 "<html><body>Hi</body></html>\r\n");
}

TEST(ClsEmailCopiesTest, ReplacePatternMembersAndTheirMessages) {
    ClsEmail e;
    EXPECT_FALSE(e.SetReplacePattern("", "x"));
    EXPECT_EQ(e.get_LastErrorXml(), xmlOf("SetReplacePattern", err("Pattern is empty")));
    EXPECT_FALSE(e.SetReplacePattern(nullptr, "x"));
    EXPECT_EQ(e.get_NumReplacePatterns(), 0);

    EXPECT_TRUE(e.SetReplacePattern("NAME", "Zoe"));
    EXPECT_EQ(e.get_LastErrorXml(),
              xmlOf("SetReplacePattern", data("pattern", "NAME") + data("replace_string", "Zoe")));
    EXPECT_TRUE(e.SetReplacePattern("CITY", "Oslo"));
    EXPECT_TRUE(e.SetReplacePattern("NAME", "Max")); // moves to the end
    EXPECT_TRUE(e.SetReplacePattern("name", nullptr));
    EXPECT_EQ(e.get_NumReplacePatterns(), 3);

    const std::pair<const char*, const char*> order[] = {
        {"CITY", "Oslo"}, {"NAME", "Max"}, {"name", ""}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(e.GetReplacePattern(i), order[i].first);
        EXPECT_EQ(e.get_LastErrorXml(), xmlOf("GetReplacePattern", ""));
        EXPECT_EQ(e.GetReplaceString(i), order[i].second);
        EXPECT_EQ(e.GetReplaceString2(order[i].first), order[i].second);
    }

    struct Miss {
        std::function<std::string()> call;
        std::string log;
    };
    const Miss misses[] = {
        {[&] { return e.GetReplacePattern(3); },
         xmlOf("GetReplacePattern", err("No pattern at the specified index") + data("index", "3"))},
        {[&] { return e.GetReplacePattern(-1); },
         xmlOf("GetReplacePattern",
               err("No pattern at the specified index") + data("index", "-1"))},
        {[&] { return e.GetReplaceString(5); },
         xmlOf("GetReplaceString", err("No replace string found at index 5"))},
        {[&] { return e.GetReplaceString2(""); },
         xmlOf("GetReplaceString2", err("Pattern is empty"))},
        {[&] { return e.GetReplaceString2("Name"); },
         xmlOf("GetReplaceString2", err("Pattern not found") + data("pattern", "Name"))},
    };
    for (const Miss& m : misses) {
        EXPECT_EQ(m.call(), "");
        EXPECT_EQ(e.get_LastErrorXml(), m.log);
    }
}

TEST(ClsEmailCopiesTest, CopyForSendingAppliesPatternsToTheCopyOnly) {
    ClsEmail e;
    ASSERT_TRUE(e.SetFromMimeText("From: NAME Sender <s@example.com>\r\n"
                                  "To: \"NAME Smith\" <n@example.com>, carl@example.com\r\n"
                                  "Subject: Hello NAME\r\n"
                                  "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
                                  "Content-Type: text/plain\r\n\r\n"
                                  "Dear NAME, meet you in CITY.\r\n"));
    const std::string before = e.GetMime();
    ASSERT_TRUE(e.SetReplacePattern("NAME", "Zoe"));
    ASSERT_TRUE(e.SetReplacePattern("CITY", "Oslo"));

    Logger log;
    std::unique_ptr<Email2> copy = e.copyForSending(log);
    ASSERT_TRUE(copy);
    StringBuffer text;
    log.getLastErrorText(text);
    EXPECT_EQ(text.str(), "Replacing [NAME] with [Zoe]\r\nReplacing [CITY] with [Oslo]\r\n");

    ClsEmail sent(std::move(copy));
    EXPECT_EQ(sent.get_Subject(), "Hello Zoe");
    EXPECT_EQ(sent.get_Body(), "Dear Zoe, meet you in Oslo.\r\n");
    EXPECT_EQ(sent.GetTo(0), "\"Zoe Smith\" <n@example.com>");
    EXPECT_EQ(sent.get_FromName(), "Zoe Sender");
    // The list is written again, joined by a folded comma that the header keeps unfolded.
    EXPECT_NE(sent.GetMime().find("\r\nTo: \"Zoe Smith\" <n@example.com>,carl@example.com\r\n"),
              std::string::npos)
        << sent.GetMime();

    EXPECT_EQ(e.GetMime(), before);
    EXPECT_EQ(e.get_NumReplacePatterns(), 2);
}

TEST(ClsEmailCopiesTest, CopyForSendingWithoutPatternsIsIdentical) {
    auto e = source();
    const std::string mime = e->GetMime();
    Logger log;
    std::unique_ptr<Email2> copy = e->copyForSending(log);
    ASSERT_TRUE(copy);
    EXPECT_EQ(log.entryCount(), 0u);
    ClsEmail sent(std::move(copy));
    EXPECT_EQ(sent.GetMime(), mime);
    EXPECT_EQ(sent.GetBccAddr(0), "hidden@example.com");
}
