// The e-mail object's XML form and MIME objects: what is saved comes back as it was, and a
// failed load leaves both the e-mail and the log of the previous member in place.

#include "facade/ClsEmail.h"

#include "common/FileAccess.h"
#include "facade/ClsMime.h"
#include "support/TestDirs.h"

#include "FacadeTestSupport.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

namespace {

// An e-mail with a Bcc, which only the XML form carries, and a non-ASCII subject.
std::unique_ptr<ClsEmail> fullEmail() {
    auto e = std::make_unique<ClsEmail>();
    e->put_Subject("Quarterly r\xC3\xA9sum\xC3\xA9");
    EXPECT_TRUE(e->AddBcc("Hidden", "hidden@example.com"));
    e->put_Body("First line\r\nSecond line\r\n");
    return e;
}

} // namespace

TEST(ClsEmailXmlTest, SaveXmlAndLoadXmlRoundTrip) {
    test::TempDir dir;
    auto e = fullEmail();
    const std::string xml = e->GetXml();
    ASSERT_EQ(xml.rfind("<mime_message>", 0), 0u) << xml;

    const std::string path = dir.file("mail.xml");
    ASSERT_TRUE(e->SaveXml(("  " + path + "\t").c_str()));
    std::string expected = "<?xml version=\"1.0\" ?>\n" + xml;
    for (size_t p; (p = expected.find("\r\n")) != std::string::npos;)
        expected.erase(p, 1);
    EXPECT_EQ(test::readFile(path), expected);

    ClsEmail back;
    ASSERT_TRUE(back.LoadXml(path.c_str()));
    EXPECT_EQ(back.GetXml(), xml);
    EXPECT_EQ(back.GetBcc(0), "\"Hidden\" <hidden@example.com>");

    ClsEmail fromText;
    ASSERT_TRUE(fromText.SetFromXmlText(xml.c_str()));
    EXPECT_EQ(fromText.GetXml(), xml);
}

TEST(ClsEmailXmlTest, SaveXmlReportsMissingNameAndFailedWrite) {
    test::TempDir dir;
    ClsEmail e;
    for (const char* name : {static_cast<const char*>(nullptr), "", " \t\r\n"}) {
        EXPECT_FALSE(e.SaveXml(name));
        EXPECT_EQ(e.get_LastErrorXml(), xmlOf("SaveXml", err("The filename parameter is missing")));
    }
    EXPECT_FALSE(e.SaveXml(dir.file("no/such/dir/x.xml").c_str()));
    EXPECT_FALSE(file::fileExists(dir.file("no/such/dir/x.xml")));
}

TEST(ClsEmailXmlTest, FailedLoadsKeepTheEmailAndThePreviousLog) {
    test::TempDir dir;
    auto e = fullEmail();
    const std::string before = e->GetMime();
    const std::string log = e->get_LastErrorXml();
    ASSERT_EQ(log, xmlOf("GetMime", ""));

    ASSERT_TRUE(file::writeWholeFile(dir.file("junk.xml"), "<a><b>no message</b></a>", nullptr));
    for (const std::string& name : {dir.file("missing.xml"), dir.file("junk.xml"), std::string()}) {
        EXPECT_FALSE(e->LoadXml(name.c_str())) << name;
        EXPECT_EQ(e->get_LastErrorXml(), log);
    }
    EXPECT_FALSE(e->LoadXml(nullptr));
    for (const char* text : {static_cast<const char*>(nullptr), "", "plain words",
                             "<mime_message><header/></mime_message>"}) {
        EXPECT_FALSE(e->SetFromXmlText(text));
        EXPECT_EQ(e->get_LastErrorXml(), log);
    }
    EXPECT_EQ(e->GetMime(), before);
}

TEST(ClsEmailXmlTest, MimeObjectsCarryTheMimeText) {
    auto e = fullEmail();
    const std::string mime = e->GetMime();
    std::unique_ptr<ClsMime> obj = e->GetMimeObject();
    ASSERT_TRUE(obj);
    EXPECT_EQ(obj->GetMime(), mime);

    // Two objects, not one shared text.
    EXPECT_TRUE(obj->LoadMime("Subject: changed\r\n\r\nbody\r\n"));
    EXPECT_EQ(e->GetMime(), mime);
    ClsEmail other;
    EXPECT_TRUE(other.SetFromMimeObject(obj.get()));
    EXPECT_EQ(other.get_Subject(), "changed");
    EXPECT_FALSE(other.SetFromMimeObject(nullptr));
    EXPECT_EQ(other.get_Subject(), "changed");
}
