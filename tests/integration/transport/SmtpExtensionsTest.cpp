// The SMTP extensions the mail manager uses where a server offers them, and the per-recipient
// results of its sends. Exim offers SIZE, 8BITMIME, DSN and SMTPUTF8 (no enhanced codes);
// Dovecot's submission service offers ENHANCEDSTATUSCODES and a 1 MB SIZE, but neither DSN nor
// SMTPUTF8. What Exim relays reaches the recording sink, whose envelope shows the parameters.

#include "ServerEnv.h"

#include "facade/ClsEmail.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsMailMan.h"
#include "transport/SmtpConnImpl.h"

#include <gtest/gtest.h>

using namespace norvane;
using namespace norvane::test;

namespace {

bool has(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Exim on its port, or Dovecot's submission port with STARTTLS and a login.
void useServer(ClsMailMan& mm, bool dovecot) {
    const ServerEnv& env = serverEnv();
    mm.put_SmtpHost("127.0.0.1");
    mm.put_SmtpPort(dovecot ? env.submissionPort : env.eximCyrusPort);
    mm.put_ConnectTimeout(5);
    if (dovecot) {
        mm.put_SmtpUsername("erin");
        mm.put_SmtpPassword("erinpw");
    }
}

std::string mime(const std::string& subject, std::string_view body) {
    return "From: a@test.invalid\r\nSubject: " + subject +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: "
           "8bit\r\n\r\n" +
           std::string(body);
}

} // namespace

TEST(SmtpExtensionsTest, EveryRecipientOfASendHasTheServersAnswer) {
    TrustTestCa trust;
    const struct {
        bool dovecot;
        const char *okText, *okEnhanced, *badText, *badEnhanced;
    } cases[] = {
        {false, "Accepted", "", "<reject1@test.invalid>: Recipient address rejected: User unknown",
         ""},
        {true, "2.1.5 OK", "2.0.0", "5.1.1 <reject1@test.invalid>: Recipient address rejected",
         "5.0.0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dovecot);
        ClsMailMan mm;
        useServer(mm, c.dovecot);
        EXPECT_EQ(mm.get_NumRecipientResults(), 0);
        ClsEmailBundle bundle;
        for (auto to : {std::vector{"ok1@test.invalid", "reject1@test.invalid"},
                        std::vector{"ok2@test.invalid"}}) {
            ClsEmail e;
            e.put_Subject("results");
            e.put_From("a@test.invalid");
            for (const char* a : to)
                ASSERT_TRUE(e.AddTo("", a));
            ASSERT_TRUE(bundle.AddEmail(&e));
        }
        EXPECT_TRUE(mm.SendBundle(&bundle)) << mm.get_LastErrorText();
        ASSERT_EQ(mm.get_NumRecipientResults(), 3);
        const char* addresses[] = {"ok1@test.invalid", "reject1@test.invalid", "ok2@test.invalid"};
        for (int i = 0; i < 3; ++i) {
            const bool bad = i == 1;
            EXPECT_EQ(mm.GetRecipientResultAddress(i), addresses[i]);
            EXPECT_EQ(mm.GetRecipientResultCode(i), bad ? 550 : 250);
            EXPECT_EQ(mm.GetRecipientResultEnhancedCode(i), bad ? c.badEnhanced : c.okEnhanced);
            EXPECT_TRUE(has(mm.GetRecipientResultText(i), bad ? c.badText : c.okText))
                << mm.GetRecipientResultText(i);
        }
        EXPECT_EQ(mm.GetRecipientResultCode(3), 0);
        // The next call's results replace these.
        EXPECT_TRUE(mm.SendMime("a@test.invalid", "ok3@test.invalid", mime("r", "b\r\n").c_str()));
        EXPECT_EQ(mm.get_NumRecipientResults(), 1);
    }
}

// Parameters offered by Exim reach it and what it relays; Dovecot, which offers neither DSN
// nor SMTPUTF8, gets the DSN-less message and no international address at all.
TEST(SmtpExtensionsTest, ParametersGoOnlyToServersThatOfferThem) {
    TrustTestCa trust;
    for (bool dovecot : {false, true}) {
        SCOPED_TRACE(dovecot);
        ClsMailMan mm;
        useServer(mm, dovecot);
        // 8-bit text goes unchanged, marked BODY=8BITMIME (which Dovecot relays to the sink).
        std::string m = marker("8bit");
        const std::string body = "Gr\xC3\xBC\xC3\x9F"
                                 "e " +
                                 m + "\r\n";
        ASSERT_TRUE(mm.SendMime("a@test.invalid", "x@test.invalid", mime(m, body).c_str()))
            << mm.get_LastErrorText();
        auto got = waitForSpool(m, 1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(has(got[0].data, "\r\n\r\n" + body)) << got[0].data;
        if (dovecot) {
            EXPECT_TRUE(has(got[0].envelope, "BODY=8BITMIME")) << got[0].envelope;
        }

        // An address beyond ASCII: SMTPUTF8 at Exim; before MAIL FROM a refusal at Dovecot.
        m = marker("utf8");
        const std::string intl = "\xE7\x94\xA8\xE6\x88\xB7@\xE4\xBE\x8B\xE5\xAD\x90.test";
        EXPECT_EQ(mm.SendMime("a@test.invalid", intl.c_str(), mime(m, "b\r\n").c_str()), !dovecot);
        ASSERT_EQ(mm.get_NumRecipientResults(), 1);
        if (dovecot) {
            EXPECT_EQ(mm.GetRecipientResultCode(0), 0);
            EXPECT_TRUE(has(mm.GetRecipientResultText(0), "does not offer SMTPUTF8"));
        } else {
            got = waitForSpool(m, 1);
            ASSERT_EQ(got.size(), 1u);
            EXPECT_TRUE(has(got[0].envelope, "SMTPUTF8")) << got[0].envelope;
            EXPECT_TRUE(has(got[0].envelope, "\\u7528\\u6237@")) << got[0].envelope;
        }

        // DSN: Exim reports the delivery to the sender, quoting the envelope id, with the
        // headers only (RET=HDRS); Dovecot is not asked.
        m = marker("dsn");
        mm.put_DsnNotify("success, FAILURE");
        mm.put_DsnRet("hdrs");
        mm.put_DsnEnvid((m + "+id").c_str());
        mm.put_DsnNotify("NEVER,SUCCESS"); // refused, the earlier value stays
        EXPECT_EQ(mm.get_DsnNotify(), "SUCCESS,FAILURE");
        ASSERT_TRUE(mm.SendMime("dsn@test.invalid", "y@test.invalid", mime(m, "b\r\n").c_str()))
            << mm.get_LastErrorText();
        EXPECT_EQ(has(mm.get_LastErrorText(), "does not offer DSN"), dovecot);
        if (!dovecot) {
            got = waitForSpool("Original-Envelope-ID: " + m + "+2Bid", 1);
            ASSERT_EQ(got.size(), 1u);
            EXPECT_TRUE(has(got[0].data, "Action: delivered")) << got[0].data;
            EXPECT_TRUE(has(got[0].data, "Content-type: text/rfc822-headers"));
        }
    }
}

TEST(SmtpExtensionsTest, SizeIsDeclaredAndALargerMessageIsNeverOffered) {
    const ServerEnv& env = serverEnv();
    TrustTestCa trust;
    const std::string text = "Subject: s\r\n\r\n" + std::string(2 << 20, 'x') + "\r\n";
    {
        SmtpConnImpl exim;
        Logger log;
        ASSERT_TRUE(exim.connect("127.0.0.1", env.eximCyrusPort, {}, {}, {}, {}, 5, 10000, log));
        ASSERT_TRUE(exim.sendMime("a@test.invalid", "x@test.invalid", text, log)) << logText(log);
        EXPECT_TRUE(has(exim.transcript().str(),
                        "MAIL FROM:<a@test.invalid> SIZE=" + std::to_string(text.size()) + "\r\n"));
    }
    ClsMailMan mm;
    useServer(mm, true);
    EXPECT_FALSE(mm.SendMime("a@test.invalid", "x@test.invalid", text.c_str()));
    EXPECT_TRUE(has(mm.get_LastErrorText(), "larger than the server's SIZE limit (1048576 bytes)"))
        << mm.get_LastErrorText();
    ASSERT_EQ(mm.get_NumRecipientResults(), 1);
    EXPECT_EQ(mm.GetRecipientResultCode(0), 0);
}
