// E-mail -> XML -> e-mail, for each shape of the e-mail interop matrix: the e-mail read back
// renders to the same MIME text, and Python's email package and XML parser agree that nothing
// changed (same tree, header values and leaf bytes; well-formed XML with one <mime_message> per
// entity). A bundle of 1,000 e-mails comes back in its order.

#include "mime/EmailXml.h"

#include "common/FileAccess.h"
#include "mime/MailBundle.h"
#include "support/TestDirs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace norvane;

namespace {

const std::string kScript =
    std::string(NORVANE_SOURCE_DIR) + "/tests/interop/xml/compare_roundtrip.py";
const std::string kNvmail = std::string(NORVANE_BINARY_DIR) + "/tools/nvmail";
const std::string kSample = std::string(NORVANE_SOURCE_DIR) + "/tools/nvmail/sample";

Charset charsetNamed(std::string_view name) {
    Charset cs;
    cs.setByName(name);
    return cs;
}

std::string subjectOf(const Email2& e) {
    StringBuffer s;
    (void)e.getHeaderField("Subject", s);
    return s.str();
}

bool isAddressField(std::string_view name) {
    for (const char* f : {"from", "to", "cc", "reply-to", "sender", "return-path", "x-rcpt-to"})
        if (sb::equalsNoCase(name, f))
            return true;
    return false;
}

std::string addressesOf(std::string_view value) {
    ExtPtrArray<Rfc822Address> list;
    (void)Rfc822Address::parseAddressList(value, list);
    std::string out;
    for (const auto& a : list)
        out += a->getName() + " <" + a->getAddress() + ">\n";
    return out;
}

// A "type; name=value" field without the blanks and quotes that do not change its meaning.
std::string paramsOf(std::string_view value) {
    std::string out(value);
    std::erase_if(out, [](char c) { return c == ' ' || c == '\t' || c == '"'; });
    return out;
}

// Field names compare without regard to case (the XML form lower-cases them), values as stored
// (encoded words decoded), Content-Type and Content-Disposition up to quoting, address fields as
// their addresses and decoded names, bodies byte for byte.
void expectSameTree(const MimeMessage2& a, const MimeMessage2& b, const std::string& path) {
    SCOPED_TRACE(path);
    const MimeHeader& ha = a.header();
    const MimeHeader& hb = b.header();
    ASSERT_EQ(ha.fieldCount(), hb.fieldCount());
    for (int i = 0; i < ha.fieldCount(); ++i) {
        const MimeField* fa = ha.fieldAt(i);
        const MimeField* fb = hb.fieldAt(i);
        EXPECT_TRUE(sb::equalsNoCase(fa->name(), fb->name())) << fa->name() << " " << fb->name();
        if (isAddressField(fa->name()))
            EXPECT_EQ(addressesOf(fa->value()), addressesOf(fb->value())) << fa->name();
        else if (fa->nameIs("content-type") || fa->nameIs("content-disposition"))
            EXPECT_EQ(paramsOf(fa->value()), paramsOf(fb->value())) << fa->name();
        else
            EXPECT_EQ(fa->value(), fb->value()) << fa->name();
    }
    EXPECT_EQ(a.body().view(), b.body().view());
    ASSERT_EQ(a.partCount(), b.partCount());
    for (int i = 0; i < a.partCount(); ++i)
        expectSameTree(*a.partAt(i), *b.partAt(i), path + "/" + std::to_string(i));
}

// The shapes of the e-mail interop matrix, built the same way.
std::vector<std::pair<std::string, std::unique_ptr<Email2>>> matrix() {
    std::vector<std::pair<std::string, std::unique_ptr<Email2>>> out;
    auto add = [&out](const std::string& name) -> Email2& {
        out.emplace_back(name, std::make_unique<Email2>());
        return *out.back().second;
    };
    {
        Email2& e = add("01_plain");
        EXPECT_TRUE(e.setFrom("Ann Lee <ann@example.com>"));
        EXPECT_TRUE(e.addTo("", "bob@example.com"));
        e.setHeaderField("subject", "Plain text");
        e.setBody("Hello Bob,\r\nthis is plain text.\r\n", false);
    }
    {
        Email2& e = add("02_html");
        e.setHeaderField("subject", "HTML only");
        e.setHtmlBody("<p>Hello <b>HTML</b></p>");
    }
    {
        Email2& e = add("03_alternative");
        e.setBody("Plain version", false);
        e.addAlternative(Email2::makeHtmlAlternativePart("<i>HTML version</i>", e.charset()));
    }
    {
        Email2& e = add("04_inline_images");
        e.setHeaderField("subject", "Two pictures");
        const std::string png = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR-fake", 20);
        const std::string gif = std::string("GIF89a\x01\0\x01\0\0\0\0;", 14);
        auto p1 = Email2::makeRelatedPart("one.png", DataBuffer(std::string_view(png)));
        auto p2 = Email2::makeRelatedPart("two.gif", DataBuffer(std::string_view(gif)));
        const std::string c1 = p1->contentId(), c2 = p2->contentId();
        e.setHtmlBody("<img src=\"cid:" + c1.substr(1, c1.size() - 2) +
                      "\"><img src=\"cid:" + c2.substr(1, c2.size() - 2) + "\">");
        e.addRelated(std::move(p1));
        e.addRelated(std::move(p2));
    }
    {
        Email2& e = add("05_three_attachments");
        e.setHeaderField("subject", "Three attachments");
        e.setBody("See the three files.", false);
        const std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n1 0 obj\n<<>>\nendobj\n";
        std::string png(2000, '\0');
        for (size_t i = 0; i < png.size(); ++i)
            png[i] = static_cast<char>(i * 7);
        const std::string txt = "line one\r\nline two caf\xC3\xA9\r\n=not an escape\r\n";
        (void)e.addDataAttachment("report.pdf", DataBuffer(std::string_view(pdf)), "");
        (void)e.addDataAttachment("photo.png", DataBuffer(std::string_view(png)), "");
        (void)e.addDataAttachment("notes.txt", DataBuffer(std::string_view(txt)), "");
    }
    {
        Email2& e = add("07_cjk_body");
        e.setHeaderField("subject", "\xE4\xBD\xA0\xE5\xA5\xBD");
        e.setBody("\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C\xE3\x80\x82\r\n"
                  "\xE6\x98\xA5\xE7\x9C\xA0\xE4\xB8\x8D\xE8\xA7\x89\xE6\x99\x93\r\n",
                  false);
    }
    {
        Email2& e = add("08_recipients");
        EXPECT_TRUE(e.setFrom("\"Sender, The\" <sender@example.com>"));
        EXPECT_EQ(
            e.addMultiple(RecipientKind::To,
                          "a@example.com, \"Lee, Ann\" <ann@example.com>, Bo <bo@example.com>"),
            3);
        EXPECT_TRUE(e.addCc("Carl", "carl@example.com"));
        EXPECT_TRUE(e.addCc("", "cleo@example.com"));
        EXPECT_TRUE(e.addBcc("Hidden", "hidden@example.com"));
        EXPECT_TRUE(e.setReplyTo("Desk <desk@example.com>"));
        e.setHeaderField("subject", "Every recipient kind");
        e.setBody("x", false);
    }
    const std::pair<const char*, const char*> charsets[] = {
        {"iso-8859-1", "Gr\xC3\xBC\xC3\x9F"
                       "e aus K\xC3\xB6ln"},
        {"iso-8859-2",
         "Za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84"},
        {"windows-1251",
         "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80"},
        {"iso-8859-7", "\xCE\x93\xCE\xB5\xCE\xB9\xCE\xB1 \xCF\x83\xCE\xBF\xCF\x85"},
        {"shift_jis", "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"},
    };
    int n = 0;
    for (const auto& [cs, word] : charsets) {
        Email2& e = add("06_charset_" + std::to_string(++n));
        const std::string w = word;
        e.setCharset(charsetNamed(cs));
        EXPECT_TRUE(e.setFrom(w + " <from@example.com>"));
        EXPECT_TRUE(e.addTo(w, "to@example.com"));
        e.setHeaderField("subject", "Re: " + w + " (" + cs + ")");
        e.setBody(w + "\r\n" + w + "\r\n", false);
        (void)e.addDataAttachment(w + ".txt", DataBuffer(std::string_view("payload")), "");
    }
    return out;
}

class EmailXmlInteropTest : public ::testing::Test {
protected:
    void check() {
        const std::string cmd = "python3 " + kScript + " " + dir_.path() + " 2>&1";
        FILE* pipe = ::popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
            output.append(buf, n);
        EXPECT_EQ(::pclose(pipe), 0) << output;
        EXPECT_NE(output.find("checked"), std::string::npos) << output;
    }

    void roundTrip(const std::string& name, const Email2& e) {
        SCOPED_TRACE(name);
        LogNull log;
        StringBuffer orig;
        e.renderMime(orig, "", log);
        std::string xml;
        EmailXml::emailToXml(e, xml, log);
        auto back = EmailXml::emailFromXml(xml, log);
        ASSERT_TRUE(back);
        StringBuffer again;
        back->renderMime(again, "", log);
        MimeMessage2 treeA, treeB;
        treeA.loadFromText(orig.view(), log);
        treeB.loadFromText(again.view(), log);
        expectSameTree(treeA, treeB, "top");
        ASSERT_EQ(back->numRecipients(RecipientKind::Bcc), e.numRecipients(RecipientKind::Bcc));
        for (int i = 0; i < e.numRecipients(RecipientKind::Bcc); ++i) {
            std::string a, b;
            e.recipient(RecipientKind::Bcc, i)->renderRaw(a);
            back->recipient(RecipientKind::Bcc, i)->renderRaw(b);
            EXPECT_EQ(a, b);
        }
        ASSERT_TRUE(file::writeWholeFile(dir_.file(name + ".orig.eml"), orig.view(), nullptr));
        ASSERT_TRUE(file::writeWholeFile(dir_.file(name + ".xml"), xml, nullptr));
        ASSERT_TRUE(file::writeWholeFile(dir_.file(name + ".back.eml"), again.view(), nullptr));
    }

    test::TempDir dir_;
};

} // namespace

TEST_F(EmailXmlInteropTest, EveryMatrixShapeSurvivesTheXmlForm) {
    for (const auto& [name, e] : matrix())
        roundTrip(name, *e);
    check();
}

TEST_F(EmailXmlInteropTest, ComposedEmailSurvivesTheXmlFormThroughNvmail) {
    const std::string eml = dir_.file("compose.eml");
    const std::string cmd =
        kNvmail +
        " compose --from 'Norvane Demo <demo@example.com>' --to 'Ann Lee <ann@example.com>'" +
        " --cc 'J\xC3\xBCrgen M\xC3\xBCller <jm@example.com>' --subject 'Report \xE2\x80\x94 "
        "caf\xC3\xA9' --text " +
        kSample + "/message.txt --html " + kSample + "/message.html --inline " + kSample +
        "/logo.png --attach " + kSample + "/report.pdf -o " + eml;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::string xml = dir_.file("compose.xml");
    const std::string back = dir_.file("compose.back.eml");
    ASSERT_EQ(std::system((kNvmail + " to-xml " + eml + " " + xml).c_str()), 0);
    ASSERT_EQ(std::system((kNvmail + " from-xml " + xml + " " + back).c_str()), 0);
    std::string text;
    ASSERT_TRUE(file::readWholeFile(xml, text, nullptr));
    EXPECT_EQ(text.rfind(std::string(EmailXml::kDeclaration) + "<mime_message>\n", 0), 0u);
    ASSERT_EQ(std::rename(eml.c_str(), dir_.file("09_compose.orig.eml").c_str()), 0);
    ASSERT_EQ(std::rename(xml.c_str(), dir_.file("09_compose.xml").c_str()), 0);
    ASSERT_EQ(std::rename(back.c_str(), dir_.file("09_compose.back.eml").c_str()), 0);
    check();
}

TEST_F(EmailXmlInteropTest, BundleOfAThousandEmailsKeepsItsOrder) {
    MailBundle bundle;
    std::string subjects;
    for (int i = 0; i < 1000; ++i) {
        auto e = std::make_unique<Email2>();
        const std::string s = "Message " + std::to_string(i);
        e->setHeaderField("Subject", s);
        EXPECT_TRUE(e->addTo("", "to" + std::to_string(i) + "@example.com"));
        e->setBody("Body of " + s + "\r\n", false);
        if (i % 10 == 0)
            (void)e->addDataAttachment("f.bin", DataBuffer(std::string_view(s)), "");
        bundle.add(std::move(e));
        // The document lists them from the last to the first.
        subjects.insert(0, s + "\n");
    }
    LogNull log;
    std::string xml;
    bundle.toXml(xml, log);
    ASSERT_TRUE(file::writeWholeFile(dir_.file("thousand.bundle.xml"), xml, nullptr));
    ASSERT_TRUE(file::writeWholeFile(dir_.file("thousand.subjects"), subjects, nullptr));

    MailBundle loaded;
    ASSERT_TRUE(loaded.loadXml(xml, log));
    ASSERT_EQ(loaded.count(), 1000);
    std::vector<std::unique_ptr<Email2>> received;
    loaded.transferAll(
        [&received](std::unique_ptr<Email2> e) { received.push_back(std::move(e)); });
    ASSERT_EQ(received.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(subjectOf(*received[i]), "Message " + std::to_string(i));
        EXPECT_EQ(received[i]->partCount(), i % 10 == 0 ? 2 : 0);
    }
    check();
}
