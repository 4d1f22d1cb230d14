// The public bundle: what it adds to the internal bundle (copies in and out, removal by UIDL
// or Message-ID, files, UIDL lists, the member each sort key belongs to). Sorting and the XML
// form themselves are tested with the internal bundle.

#include "facade/ClsEmailBundle.h"

#include "common/FileAccess.h"
#include "email/Email2.h"
#include "facade/ClsStringArray.h"
#include "store/MailBundle.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace norvane;
using namespace norvane::test;

namespace {

using Strings = std::vector<std::string>;

struct Shape {
    std::string subject;
    std::string from = "";
    std::string to = "";
    std::string date = "Mon, 07 Dec 2026 10:00:00 +0000";
    std::string uidl = "";
    std::string messageId = "";
};

std::unique_ptr<ClsEmail> makeEmail(const Shape& s) {
    std::string mime;
    if (!s.from.empty())
        mime += "From: " + s.from + "\r\n";
    if (!s.to.empty())
        mime += "To: " + s.to + "\r\n";
    mime += "Subject: " + s.subject + "\r\nDate: " + s.date + "\r\n";
    if (!s.uidl.empty())
        mime += "X-UIDL: " + s.uidl + "\r\n";
    if (!s.messageId.empty())
        mime += "Message-ID: " + s.messageId + "\r\n";
    mime += "Content-Type: text/plain\r\n\r\nBody of " + s.subject + "\r\n";
    auto e = std::make_unique<ClsEmail>();
    EXPECT_TRUE(e->SetFromMimeText(mime.c_str()));
    return e;
}

void add(ClsEmailBundle& b, const Shape& s) {
    auto e = makeEmail(s);
    ASSERT_TRUE(b.AddEmail(e.get()));
}

Strings subjects(const ClsEmailBundle& b) {
    Strings out;
    for (int i = 0; i < b.get_MessageCount(); ++i)
        out.push_back(b.GetEmail(i)->get_Subject());
    return out;
}

Strings strings(const ClsStringArray& a) {
    Strings out;
    for (int i = 0; i < a.count(); ++i) {
        std::string s;
        EXPECT_TRUE(a.get(i, s));
        out.push_back(s);
    }
    return out;
}

} // namespace

TEST(ClsEmailBundleTest, AddEmailStoresAnIndependentCopy) {
    ClsEmailBundle b;
    EXPECT_EQ(b.GetImpl(), &b);
    EXPECT_FALSE(b.AddEmail(nullptr));
    EXPECT_EQ(b.get_LastErrorXml(), xmlOf("AddEmail", err("No Email was provided")));

    auto e = makeEmail({.subject = "Original"});
    e->AddBcc("", "hidden@example.com");
    ASSERT_TRUE(b.AddEmail(e.get()));
    e->put_Subject("Changed after adding");
    EXPECT_EQ(subjects(b), Strings{"Original"});

    std::unique_ptr<ClsEmail> got = b.GetEmail(0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->GetBccAddr(0), "hidden@example.com");
    got->put_Subject("Changed the copy");
    EXPECT_EQ(subjects(b), Strings{"Original"});
    EXPECT_EQ(b.GetEmail(1), nullptr);
    EXPECT_EQ(b.GetEmail(-1), nullptr);
}

TEST(ClsEmailBundleTest, RemoveEmailMatchesUidlThenMessageId) {
    ClsEmailBundle b;
    add(b, {.subject = "A", .uidl = "u1", .messageId = "<a@x>"});
    add(b, {.subject = "B", .uidl = "U1", .messageId = "<b@x>"});
    add(b, {.subject = "C", .uidl = "u1", .messageId = "<c@x>"});
    add(b, {.subject = "D", .messageId = "<d@x>"});
    add(b, {.subject = "E"});

    EXPECT_FALSE(b.RemoveEmail(nullptr));
    EXPECT_EQ(b.get_LastErrorXml(), xmlOf("RemoveEmail", err("No Email was provided")));

    struct Case {
        Shape probe;
        bool removed;
        Strings left;
    };
    const Case cases[] = {
        // Neither field: nothing to match on.
        {{.subject = "E"}, false, {"A", "B", "C", "D", "E"}},
        // UIDL compares case-sensitively; the first match goes.
        {{.subject = "x", .uidl = "u1", .messageId = "<c@x>"}, true, {"B", "C", "D", "E"}},
        {{.subject = "x", .uidl = "U1"}, true, {"C", "D", "E"}},
        // An unmatched UIDL falls back to the Message-ID.
        {{.subject = "x", .uidl = "zz", .messageId = "<d@x>"}, true, {"C", "E"}},
        {{.subject = "x", .uidl = "zz"}, false, {"C", "E"}},
        {{.subject = "x", .messageId = "<D@x>"}, false, {"C", "E"}},
        {{.subject = "x", .messageId = "<c@x>"}, true, {"E"}},
    };
    for (const Case& c : cases) {
        auto probe = makeEmail(c.probe);
        probe->RemoveHeaderField("Message-ID");
        if (!c.probe.messageId.empty())
            probe->AddHeaderField("Message-ID", c.probe.messageId.c_str());
        EXPECT_EQ(b.RemoveEmail(probe.get()), c.removed) << c.probe.uidl << c.probe.messageId;
        EXPECT_EQ(subjects(b), c.left);
    }
}

TEST(ClsEmailBundleTest, RemoveEmailByIndexChecksTheIndex) {
    ClsEmailBundle b;
    for (const char* s : {"A", "B", "C"})
        add(b, {.subject = s});
    for (int bad : {3, -1}) {
        EXPECT_FALSE(b.RemoveEmailByIndex(bad));
        EXPECT_NE(b.get_LastErrorXml().find("<error>"), std::string::npos);
    }
    EXPECT_TRUE(b.RemoveEmailByIndex(1));
    EXPECT_EQ(subjects(b), (Strings{"A", "C"}));
}

TEST(ClsEmailBundleTest, SaveXmlAndLoadKeepTheOrder) {
    test::TempDir dir;
    ClsEmailBundle b;
    for (const char* s : {"First", "Second", "Third"})
        add(b, {.subject = s, .from = "ann@example.com", .uidl = std::string("u-") + s});
    const std::string xml = b.GetXml();
    const std::string path = dir.file("bundle.xml");
    ASSERT_TRUE(b.SaveXml(path.c_str()));
    const std::string saved = test::readFile(path);
    EXPECT_EQ(saved, "<?xml version=\"1.0\" ?>\n" + xml);

    ClsEmailBundle fromText;
    ASSERT_TRUE(fromText.LoadXmlString(saved.c_str()));
    EXPECT_EQ(subjects(fromText), (Strings{"First", "Second", "Third"}));
    EXPECT_EQ(fromText.GetXml(), xml);

    // A load appends after the e-mails already there.
    ClsEmailBundle fromFile;
    add(fromFile, {.subject = "Existing"});
    ASSERT_TRUE(fromFile.LoadXml(path.c_str()));
    EXPECT_EQ(subjects(fromFile), (Strings{"Existing", "First", "Second", "Third"}));
    EXPECT_EQ(fromFile.GetEmail(3)->get_Uidl(), "u-Third");
}

TEST(ClsEmailBundleTest, FailedLoadsAndSavesKeepTheBundle) {
    test::TempDir dir;
    ClsEmailBundle b;
    add(b, {.subject = "Kept"});
    EXPECT_FALSE(b.LoadXml(dir.file("missing.xml").c_str()));
    EXPECT_NE(b.get_LastErrorXml().find("<LoadXml>"), std::string::npos);
    for (const char* bad : {static_cast<const char*>(nullptr), "", "no xml at all"}) {
        EXPECT_FALSE(b.LoadXmlString(bad));
        EXPECT_NE(b.get_LastErrorXml().find("<LoadXmlString>"), std::string::npos);
    }
    EXPECT_EQ(subjects(b), Strings{"Kept"});

    const std::string bad = dir.file("no/dir/b.xml");
    EXPECT_FALSE(b.SaveXml(bad.c_str()));
    EXPECT_NE(b.get_LastErrorXml().find("<SaveXmlBundle>"), std::string::npos);
    EXPECT_FALSE(b.SaveXml(nullptr));
}

TEST(ClsEmailBundleTest, GetUidlsKeepsDuplicatesAndSkipsEmptyOnes) {
    ClsEmailBundle b;
    add(b, {.subject = "1", .uidl = "same"});
    add(b, {.subject = "2"});
    add(b, {.subject = "3", .uidl = "same"});
    add(b, {.subject = "4", .uidl = "other"});
    std::unique_ptr<ClsStringArray> uidls = b.GetUidls();
    ASSERT_TRUE(uidls);
    EXPECT_EQ(strings(*uidls), (Strings{"same", "same", "other"}));
    EXPECT_EQ(ClsEmailBundle().GetUidls()->count(), 0);
}

TEST(ClsEmailBundleTest, EachSortMemberSortsByItsOwnKey) {
    // Each key orders the three e-mails differently; the sorts themselves are the internal
    // bundle's.
    ClsEmailBundle b;
    for (const auto& [subject, from, to, day] : {std::tuple{"b", "cy", "a", "Tue, 08"},
                                                 {"c", "amy", "c", "Mon, 07"},
                                                 {"a", "bo", "b", "Wed, 09"}})
        add(b, {.subject = subject,
                .from = std::string(from) + "@example.com",
                .to = std::string(to) + "@example.com",
                .date = std::string(day) + " Dec 2026 10:00:00 +0000"});
    struct Case {
        void (ClsEmailBundle::*sort)(bool);
        bool ascending;
        Strings order; // by From address
    };
    const Case cases[] = {
        {&ClsEmailBundle::SortBySubject, true, {"bo", "cy", "amy"}},
        {&ClsEmailBundle::SortBySender, true, {"amy", "bo", "cy"}},
        {&ClsEmailBundle::SortByRecipient, true, {"cy", "bo", "amy"}},
        {&ClsEmailBundle::SortByDate, true, {"amy", "cy", "bo"}},
        {&ClsEmailBundle::SortByDate, false, {"bo", "cy", "amy"}},
    };
    for (const Case& c : cases) {
        (b.*c.sort)(c.ascending);
        Strings got;
        for (int i = 0; i < b.get_MessageCount(); ++i) {
            const std::string a = b.emailAt(i)->get_FromAddress();
            got.push_back(a.substr(0, a.find('@')));
        }
        EXPECT_EQ(got, c.order) << c.ascending;
    }
}

TEST(ClsEmailBundleTest, PeersAddWithoutCopying) {
    ClsEmailBundle b;
    (void)b.GetXml();
    EXPECT_FALSE(b.injectEmail(nullptr));
    EXPECT_EQ(b.get_LastErrorXml(), "");
    auto e = makeEmail({.subject = "Injected"});
    ClsEmail* raw = e.get();
    EXPECT_TRUE(b.injectEmail(std::move(e)));
    EXPECT_EQ(b.emailAt(0), raw);
    EXPECT_EQ(b.emailAt(1), nullptr);

    MailBundle built;
    for (const char* s : {"m1", "m2"}) {
        auto m = std::make_unique<Email2>();
        m->setHeaderField("subject", s);
        built.add(std::move(m));
    }
    b.transferFrom(built);
    EXPECT_EQ(built.count(), 0);
    EXPECT_EQ(subjects(b), (Strings{"Injected", "m2", "m1"}));
}
