// One e-mail through the public objects end to end: built as ClsEmail, sent by ClsMailMan to
// Exim with authentication, delivered by Exim into a maildir, fetched back by ClsMailMan from
// Dovecot over POP3 and POP3 over TLS, and compared with what was sent.

#include "ServerEnv.h"

#include "email/HtmlHelp.h"
#include "facade/ClsEmail.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsMailMan.h"
#include "mime/MimeMessage2.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace norvane;
using namespace norvane::test;

namespace {

// The content types of the MIME tree, children in parentheses.
std::string structureOf(const MimeMessage2& m) {
    std::string s = m.contentType();
    if (m.partCount() == 0)
        return s;
    s += "(";
    for (int i = 0; i < m.partCount(); ++i)
        s += (i ? "," : "") + structureOf(*m.partAt(i));
    return s + ")";
}

std::string structureOf(std::string_view mime) {
    MimeMessage2 m;
    LogNull log;
    m.loadFromText(mime, log);
    return structureOf(m);
}

// The one file Exim delivered into the user's maildir (before Dovecot moves it).
std::string deliveredFile(const std::string& user) {
    for (const auto& e :
         std::filesystem::directory_iterator(serverEnv().mailRoot + "/" + user + "/Maildir/new"))
        return readFile(e.path().string());
    return {};
}

std::string bytesOf(const DataBuffer& d) {
    return d.toString();
}

// The HTML travels in a legacy charset when its text fits one, its META declaration rewritten
// to name that charset, and the received text is given back in UTF-8 with the declaration as it
// travelled: the text is compared without it.
std::string withoutMetaCharset(std::string html) {
    HtmlHelp::removeMetaCharset(html);
    return html;
}

} // namespace

TEST(RoundTripTest, EmailComesBackFromDovecotAsSent) {
    clearMailbox("frank");
    ClsEmail sent;
    sent.put_Subject("Rundreise: Grüße aus Köln — 東京 ✓");
    sent.put_From("Sender Süß <sender@test.invalid>");
    ASSERT_TRUE(sent.AddTo("Frank", "frank@pop.test.invalid"));
    ASSERT_TRUE(sent.AddCC("Erin", "erin@test.invalid"));
    std::string image = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < 300; ++i)
        image.push_back(static_cast<char>(i * 7));
    const std::string cid = sent.AddRelatedData(
        {reinterpret_cast<const uint8_t*>(image.data()), image.size()}, "pixel.png");
    ASSERT_FALSE(cid.empty());
    sent.put_Body("Plain text, ä ö ü.\r\n.a line starting with a dot\r\n");
    ASSERT_TRUE(sent.AddHtmlAlternativeBody(
        ("<html><body><p>HTML, ä ö ü</p><img src=\"cid:" + cid + "\"></body></html>").c_str()));
    std::string binary;
    for (int i = 0; i < 1024; ++i)
        binary.push_back(static_cast<char>(i % 256));
    ASSERT_FALSE(
        sent.AddDataAttachment({reinterpret_cast<const uint8_t*>(binary.data()), binary.size()},
                               "blob.bin")
            .empty());
    ASSERT_TRUE(sent.AddStringAttachment("Übersicht-東京.txt", "line one\r\nline two\r\n"));
    sent.put_ReturnReceipt(true);

    ClsMailMan man;
    man.put_SmtpHost("127.0.0.1");
    man.put_SmtpPort(serverEnv().eximCyrusPort);
    man.put_SmtpUsername("alice");
    man.put_SmtpPassword("alicepw");
    ASSERT_TRUE(man.SendEmail(&sent)) << man.get_LastErrorText();
    ASSERT_TRUE(waitForMailbox("frank", 1));

    const std::string raw = deliveredFile("frank");
    EXPECT_NE(raw.find("with esmtpa"), std::string::npos) << raw.substr(0, 400); // authenticated
    EXPECT_NE(raw.find("\nDisposition-Notification-To: <sender@test.invalid>\n"),
              std::string::npos);
    EXPECT_EQ(raw.find("\nNVX-"), std::string::npos);

    TrustTestCa trust;
    const struct {
        int port;
        bool tls;
    } servers[] = {{serverEnv().pop3Port, false}, {serverEnv().pop3sPort, true}};
    for (const auto& s : servers) {
        SCOPED_TRACE(s.tls ? "POP3 over TLS" : "POP3");
        man.put_MailHost("127.0.0.1");
        man.put_MailPort(s.port);
        man.put_PopSsl(s.tls);
        man.put_PopUsername("frank");
        man.put_PopPassword("frankpw");
        auto bundle = man.CopyMail();
        ASSERT_TRUE(bundle) << man.get_LastErrorText();
        ASSERT_EQ(bundle->get_MessageCount(), 1);
        auto got = bundle->GetEmail(0);
        EXPECT_EQ(got->get_Subject(), sent.get_Subject());
        EXPECT_EQ(got->get_From(), sent.get_From());
        ASSERT_EQ(got->get_NumTo(), 1);
        EXPECT_EQ(got->GetTo(0), sent.GetTo(0));
        ASSERT_EQ(got->get_NumCC(), 1);
        EXPECT_EQ(got->GetCC(0), sent.GetCC(0));
        EXPECT_EQ(got->GetPlainTextBody(), sent.GetPlainTextBody());
        EXPECT_EQ(withoutMetaCharset(got->GetHtmlBody()), withoutMetaCharset(sent.GetHtmlBody()));
        ASSERT_EQ(got->get_NumRelatedItems(), 1);
        EXPECT_EQ(got->GetRelatedFilename(0), "pixel.png");
        EXPECT_EQ(got->GetRelatedContentID(0), sent.GetRelatedContentID(0));
        EXPECT_EQ(bytesOf(got->GetRelatedData(0)), image);
        ASSERT_EQ(got->get_NumAttachments(), 2);
        EXPECT_EQ(got->GetAttachmentFilename(0), "blob.bin");
        EXPECT_EQ(bytesOf(got->GetAttachmentData(0)), binary);
        EXPECT_EQ(got->GetAttachmentFilename(1), "Übersicht-東京.txt");
        EXPECT_EQ(bytesOf(got->GetAttachmentData(1)), bytesOf(sent.GetAttachmentData(1)));
        EXPECT_EQ(got->GetHeaderField("Disposition-Notification-To"), "<sender@test.invalid>");
        EXPECT_EQ(structureOf(got->GetMime()), structureOf(sent.GetMime()));
    }
    EXPECT_EQ(mailboxCount("frank"), 1u); // copies: nothing deleted
}
