// Real e-mail objects sent through an SMTP session: to the recording sink, through Exim and
// through Dovecot submission, and to a scripted peer that records the wire bytes. What arrives
// is compared byte for byte with the e-mail's own rendering, and parsed back.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "common/Platform.h"
#include "email/Email2.h"
#include "support/TestDirs.h"
#include "transport/Email2SmtpMail.h"
#include "transport/NorvaneSocket.h"
#include "transport/SmtpConnImpl.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

using namespace norvane;
using namespace norvane::test;

namespace {

std::string marker(const char* name) {
    return std::string("marker-") + name + "-" + platform::newUuidString();
}

// The text the e-mail puts on the wire, before framing.
std::string rendered(const Email2& email) {
    StringBuffer out;
    LogNull log;
    email.renderMime(out, "NVX-", log);
    return out.str();
}

std::unique_ptr<Email2> plainEmail(const std::string& subject) {
    auto e = std::make_unique<Email2>();
    EXPECT_TRUE(e->setFrom("Sender Name <sender@test.invalid>"));
    e->addTo("First To", "to1@test.invalid");
    e->addTo("", "to2@test.invalid");
    e->addCc("Copy", "cc1@test.invalid");
    e->addBcc("Hidden", "hidden@test.invalid");
    e->setHeaderField("Subject", subject);
    e->setHeaderField("NVX-Internal-Note", "never on the wire");
    e->setBody(".leading dot\r\n..two dots\r\n.\r\nmiddle\r\n.\r\nend", false);
    // Quoted-printable would write the leading dots as =2E; sent as they are, they must be
    // dot-stuffed on the wire and arrive unchanged.
    e->setTransferEncoding("7bit");
    return e;
}

bool send(SmtpConnImpl& s, Email2& email, Logger& log, SmtpSendCounts& counts) {
    Email2SmtpMail mail(email);
    DistributionList bad;
    return s.sendEmailToList(&mail, nullptr, "", log, nullptr, counts, bad, false, false);
}

void expectEnvelope(const std::string& envelope, const std::string& json) {
    EXPECT_NE(envelope.find(json), std::string::npos) << envelope;
}

std::string localName() {
    std::string host;
    LogNull quiet;
    (void)NorvaneSocket::getLocalHostName(host, quiet);
    return host;
}

} // namespace

TEST(Email2SendTest, PlainEmailArrivesAtTheSinkExactly) {
    const ServerEnv& env = serverEnv();
    std::string m = marker("email-plain");
    auto email = plainEmail(m);
    SmtpConnImpl s;
    Logger log;
    ASSERT_TRUE(s.connect("127.0.0.1", env.sinkPort, {}, {}, {}, {}, 5, 10000, log));
    SmtpSendCounts counts;
    ASSERT_TRUE(send(s, *email, log, counts)) << logText(log);
    EXPECT_EQ(counts.numSent, 4);
    auto got = waitForSpool(m, 1);
    ASSERT_EQ(got.size(), 1u);
    std::string text = rendered(*email);
    // The body's last line is left open: the CR LF in front of the end line closes it.
    EXPECT_EQ(got[0].data, text + "\r\n");
    EXPECT_EQ(got[0].data.find("NVX-"), std::string::npos);
    EXPECT_EQ(got[0].data.find("hidden@test.invalid"), std::string::npos);
    EXPECT_NE(got[0].data.find("\r\n.leading dot\r\n..two dots\r\n.\r\nmiddle\r\n"),
              std::string::npos);
    expectEnvelope(got[0].envelope, "\"mail_from\": \"sender@test.invalid\"");
    expectEnvelope(got[0].envelope, "\"rcpt_tos\": [\"to1@test.invalid\", \"to2@test.invalid\", "
                                    "\"cc1@test.invalid\", \"hidden@test.invalid\"]");
    EXPECT_NE(logText(log).find("Mail sent to 4 recipients"), std::string::npos);
}

TEST(Email2SendTest, WireBytesAreDotStuffedWithCrLf) {
    auto email = plainEmail("wire");
    email->clearRecipients(RecipientKind::Cc);
    email->clearRecipients(RecipientKind::Bcc);
    email->clearRecipients(RecipientKind::To);
    email->addTo("", "only@test.invalid");
    std::string text = rendered(*email);
    ScriptedServer srv(ScriptedServer::Script()
                           .send("220 wire.test ESMTP\r\n")
                           .line()
                           .send("250 wire.test\r\n")
                           .line()
                           .send("250 ok\r\n")
                           .line()
                           .send("250 ok\r\n")
                           .line()
                           .send("354 go\r\n")
                           .until("\r\n.\r\n")
                           .send("250 queued\r\n")
                           .line()
                           .send("221 bye\r\n"));
    {
        SmtpConnImpl s;
        Logger log;
        ASSERT_TRUE(s.connect("127.0.0.1", srv.port(), {}, {}, {}, {}, 5, 5000, log));
        SmtpSendCounts counts;
        ASSERT_TRUE(send(s, *email, log, counts)) << logText(log);
    }
    std::string stuffed = text;
    for (size_t pos = 0; (pos = stuffed.find("\n.", pos)) != std::string::npos; pos += 3)
        stuffed.insert(pos + 1, ".");
    EXPECT_EQ(srv.received(), "EHLO " + localName() +
                                  "\r\nMAIL FROM:<sender@test.invalid>\r\n"
                                  "RCPT TO:<only@test.invalid>\r\nDATA\r\n" +
                                  stuffed + "\r\n.\r\nQUIT\r\n");
    EXPECT_NE(stuffed.find("\r\n..leading dot\r\n...two dots\r\n..\r\nmiddle\r\n..\r\nend"),
              std::string::npos);
}

TEST(Email2SendTest, EndLineFollowsTheTextWithoutAnAddedEmptyLine) {
    Email2 multipart;
    multipart.setBody("Text part.\r\n", false);
    (void)multipart.addDataAttachment("a.bin", DataBuffer(std::string("\x01\x02\x03")), "");
    std::string parts = rendered(multipart);
    std::string big = "Subject: big\r\n\r\n"; // more than goes out in one write with its end
    while (big.size() < 70000)
        big += std::string(70, 'b') + "\r\n";
    // The message is what comes before the "." line: the text itself, plus the CR LF that
    // ends a last line the text left open.
    struct Case {
        std::string text, wire;
    };
    const Case cases[] = {
        {"Subject: a\r\n\r\nends its line\r\n", "Subject: a\r\n\r\nends its line\r\n.\r\n"},
        {"Subject: b\r\n\r\nleft open", "Subject: b\r\n\r\nleft open\r\n.\r\n"},
        {"", ".\r\n"},
        {parts, parts + ".\r\n"},
        {big, big + ".\r\n"},
    };
    const std::vector<std::string> rcpt = {"only@test.invalid"};
    for (bool pipelined : {false, true}) {
        SCOPED_TRACE(pipelined ? "pipelined" : "one command at a time");
        ScriptedServer::Script script;
        script.send("220 wire.test ESMTP\r\n")
            .line()
            .send(pipelined ? "250-wire.test\r\n250 PIPELINING\r\n" : "250 wire.test\r\n");
        std::string expected = "EHLO " + localName() + "\r\n";
        for (const Case& c : cases) {
            if (pipelined)
                script.until("DATA\r\n").send("250 ok\r\n250 ok\r\n354 go\r\n");
            else
                script.line()
                    .send("250 ok\r\n")
                    .line()
                    .send("250 ok\r\n")
                    .line()
                    .send("354 go\r\n");
            // Stuffing leaves no other line of a lone "."; a wrong ending is reported below.
            script.until(c.text.empty() ? ".\r\n" : "\r\n.\r\n").send("250 queued\r\n");
            expected +=
                "MAIL FROM:<s@test.invalid>\r\nRCPT TO:<only@test.invalid>\r\nDATA\r\n" + c.wire;
        }
        ScriptedServer srv(script.line().send("221 bye\r\n"));
        {
            SmtpConnImpl s;
            Logger log;
            ASSERT_TRUE(s.connect("127.0.0.1", srv.port(), {}, {}, {}, {}, 5, 5000, log));
            EXPECT_EQ(s.serverPipelines(), pipelined);
            for (const Case& c : cases)
                EXPECT_TRUE(s.sendMimeTo("s@test.invalid", rcpt, c.text, log)) << logText(log);
        }
        expected += "QUIT\r\n";
        std::string got = srv.received();
        EXPECT_TRUE(got == expected) << got.size() << " bytes, not " << expected.size();
    }
}

TEST(Email2SendTest, AttachmentAndLongNonAsciiSubjectThroughExim) {
    const ServerEnv& env = serverEnv();
    std::string m = marker("email-attach");
    std::string subject = m + " Grüße aus Köln — Ærø, Ђорђе, 東京の夏 " + std::string(3, ' ') +
                          "und noch ein sehr langer Betreff, der gefaltet werden muss: äöüß";
    auto email = plainEmail(subject);
    email->setBody("Body with an attachment.\r\n", false);
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes.push_back(static_cast<char>((i * 7) & 0xFF));
    DataBuffer data(bytes);
    (void)email->addDataAttachment("daten äö.bin", std::move(data), "");
    SmtpConnImpl s;
    Logger log;
    ASSERT_TRUE(s.connect("127.0.0.1", env.eximCyrusPort, "carol", "s3cret pass!", {}, "PLAIN", 5,
                          10000, log))
        << logText(log);
    SmtpSendCounts counts;
    ASSERT_TRUE(send(s, *email, log, counts)) << logText(log);
    std::string text = rendered(*email);
    // The subject is folded into encoded words, so the marker cannot be found as it is; the
    // Message-ID is just as unique.
    EXPECT_EQ(text.find(m), std::string::npos);
    StringBuffer id;
    ASSERT_TRUE(email->getHeaderField("Message-ID", id));
    auto got = waitForSpool(id.str(), 1);
    ASSERT_EQ(got.size(), 1u);
    // Exim puts its trace fields in front, drops the Return-Path field (only the final
    // delivery may write one, RFC 5321 section 4.4) and leaves the rest alone.
    size_t rp = text.find("\r\nreturn-path: sender@test.invalid\r\n");
    ASSERT_NE(rp, std::string::npos);
    std::string expected = text.substr(0, rp) + text.substr(text.find("\r\n", rp + 2));
    EXPECT_TRUE(got[0].data.ends_with(expected)) << got[0].data;
    EXPECT_EQ(got[0].data.find("hidden@test.invalid"), std::string::npos);
    expectEnvelope(got[0].envelope, "\"hidden@test.invalid\"");
    for (size_t pos = 0, end; (end = got[0].data.find("\r\n", pos)) != std::string::npos;
         pos = end + 2) {
        EXPECT_LE(end - pos, 998u);
        if (end == pos)
            break; // the header ends here
        for (size_t i = pos; i < end; ++i)
            ASSERT_LT(static_cast<unsigned char>(got[0].data[i]), 0x80u) << "8-bit header byte";
    }
    LogNull quiet;
    auto back = Email2::fromMime(got[0].data, quiet);
    StringBuffer backSubject;
    ASSERT_TRUE(back->getHeaderField("Subject", backSubject));
    EXPECT_EQ(backSubject.str(), subject);
    ASSERT_EQ(back->numAttachments(), 1);
    EXPECT_EQ(back->attachmentAt(0)->body().view(), bytes);
    EXPECT_EQ(back->attachmentAt(0)->attachmentFilename(), "daten äö.bin");
}

TEST(Email2SendTest, DovecotSubmissionRelaysTheRenderedText) {
    const ServerEnv& env = serverEnv();
    std::string m = marker("email-dovecot");
    auto email = plainEmail(m);
    SmtpConnImpl s;
    Logger log;
    ASSERT_TRUE(s.connect("127.0.0.1", env.submissionPort, "dave", "davepw", {}, {}, 5, 10000, log))
        << logText(log);
    SmtpSendCounts counts;
    ASSERT_TRUE(send(s, *email, log, counts)) << logText(log);
    auto got = waitForSpool(m, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].data.ends_with(rendered(*email) + "\r\n")) << got[0].data;
    expectEnvelope(got[0].envelope, "\"hidden@test.invalid\"");
    EXPECT_EQ(got[0].data.find("NVX-"), std::string::npos);
}

TEST(Email2SendTest, DistributionListRewritesTheEmailPerAddress) {
    const ServerEnv& env = serverEnv();
    TempDir dir;
    std::string listPath = dir.file("list.txt");
    { std::ofstream(listPath) << "a@test.invalid\nb@test.invalid\n"; }
    std::string m = marker("email-list");
    auto email = plainEmail(m);
    email->setHeaderField("NVX-FileDistList", listPath);
    SmtpConnImpl s;
    Logger log;
    ASSERT_TRUE(s.connect("127.0.0.1", env.sinkPort, {}, {}, {}, {}, 5, 10000, log));
    Email2SmtpMail mail(*email);
    SmtpSendCounts counts;
    DistributionList bad;
    ASSERT_TRUE(s.sendEmailToList(&mail, nullptr, "", log, nullptr, counts, bad, true, false))
        << logText(log);
    EXPECT_EQ(counts.numSent, 2);
    auto got = waitForSpool(m, 2);
    ASSERT_EQ(got.size(), 2u);
    std::set<std::string> ids;
    for (const auto& g : got) {
        EXPECT_EQ(g.data.find("to1@test.invalid"), std::string::npos);
        EXPECT_EQ(g.data.find("cc1@test.invalid"), std::string::npos);
        bool toA = g.data.find("\r\nTo: a@test.invalid\r\n") != std::string::npos;
        bool toB = g.data.find("\r\nTo: b@test.invalid\r\n") != std::string::npos;
        EXPECT_NE(toA, toB) << g.data;
        expectEnvelope(g.envelope, toA ? "[\"a@test.invalid\"]" : "[\"b@test.invalid\"]");
        size_t id = g.data.find("Message-ID: <NORVANE-MID-");
        ASSERT_NE(id, std::string::npos);
        ids.insert(g.data.substr(id, g.data.find("\r\n", id) - id));
    }
    EXPECT_EQ(ids.size(), 2u);
    EXPECT_EQ(email->numRecipients(RecipientKind::To), 0);
}
