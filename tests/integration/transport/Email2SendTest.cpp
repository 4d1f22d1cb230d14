// Real e-mail objects sent through an SMTP session, to the recording sink and through Exim: what
// arrives is compared byte for byte with the e-mail's own rendering, and parsed back. How text
// is framed on the wire is checked against a scripted peer that records the bytes.

#include "ServerEnv.h"

#include "common/Logger.h"
#include "email/Email2.h"
#include "transport/Email2SmtpMail.h"
#include "transport/SmtpConnImpl.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

namespace {

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

TEST(Email2SendTest, WireTextIsDotStuffedAndEndsWithoutAnAddedEmptyLine) {
    Email2 multipart;
    multipart.setBody("Text part.\r\n", false);
    (void)multipart.addDataAttachment("a.bin", DataBuffer(std::string("\x01\x02\x03")), "");
    std::string parts = rendered(multipart);
    std::string big = "Subject: big\r\n\r\n"; // more than goes out in one write with its end
    while (big.size() < 70000)
        big += std::string(70, 'b') + "\r\n";
    // The message is what comes before the "." line: the text with its dot-led lines stuffed
    // and CR LF line ends, plus the CR LF that ends a last line the text left open.
    struct Case {
        std::string text, wire;
    };
    const Case cases[] = {
        {"Subject: a\r\n\r\nends its line\r\n", "Subject: a\r\n\r\nends its line\r\n.\r\n"},
        {"Subject: b\r\n\r\nleft open", "Subject: b\r\n\r\nleft open\r\n.\r\n"},
        {".lead\r\n..two\r\n.\r\nend\n.", "..lead\r\n...two\r\n..\r\nend\r\n..\r\n.\r\n"},
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
        std::string expected = "EHLO " + localHostName() + "\r\n";
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
