// Copies of an e-mail made through the public object and its replace-pattern members: what the
// object adds to the e-mail's own copies (independence, patterns kept by the object, argument
// checks). The copies themselves are tested with the e-mail object.

#include "facade/ClsEmail.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace norvane;
using namespace norvane::test;

TEST(ClsEmailCopiesTest, CloneIsAnIndependentCopyThatKeepsBcc) {
    ClsEmail e;
    ASSERT_TRUE(e.SetFromMimeText("From: ann@example.com\r\nSubject: Plans\r\n"
                                  "Message-ID: <orig@example.com>\r\n\r\nHello there.\r\n"));
    ASSERT_TRUE(e.AddBcc("", "hidden@example.com"));
    std::unique_ptr<ClsEmail> c = e.Clone();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->GetMime(), e.GetMime());
    EXPECT_EQ(c->GetBccAddr(0), "hidden@example.com");

    c->put_Subject("Changed");
    c->ClearBcc();
    EXPECT_EQ(e.get_Subject(), "Plans");
    EXPECT_EQ(e.get_NumBcc(), 1);
    // Patterns belong to the object, not to the message it holds.
    EXPECT_TRUE(e.SetReplacePattern("a", "b"));
    EXPECT_EQ(e.Clone()->get_NumReplacePatterns(), 0);
    EXPECT_EQ(e.CreateReply()->get_Subject(), "RE: Plans");
    EXPECT_EQ(e.CreateForward()->get_NumBcc(), 0);
    EXPECT_EQ(e.get_Subject(), "Plans");
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
    EXPECT_TRUE(e.SetReplacePattern("name", nullptr));
    EXPECT_EQ(e.get_NumReplacePatterns(), 2);
    EXPECT_EQ(e.GetReplacePattern(1), "name");
    EXPECT_EQ(e.GetReplaceString(0), "Zoe");
    EXPECT_EQ(e.GetReplaceString2("name"), "");

    const std::function<std::string()> misses[] = {
        [&] { return e.GetReplacePattern(3); }, [&] { return e.GetReplacePattern(-1); },
        [&] { return e.GetReplaceString(5); }, [&] { return e.GetReplaceString2(""); },
        [&] { return e.GetReplaceString2("Name"); }};
    for (const auto& miss : misses) {
        EXPECT_EQ(miss(), "");
        EXPECT_NE(e.get_LastErrorXml().find("<error>"), std::string::npos);
    }
}
