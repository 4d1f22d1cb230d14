// What the public mail manager adds over the sessions: its settings reaching the servers, the
// preparation of each e-mail (replace patterns, receipt request, fresh Message-ID, no "NVX-"
// lines), bundles and distribution lists, the bad-address list, its own messages, and the
// conversion of fetched mail into public objects. The sink, Exim and Dovecot.

#include "ServerEnv.h"

#include "facade/ClsEmail.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsMailMan.h"
#include "facade/ClsStringArray.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace norvane;
using namespace norvane::test;

namespace {

void useSink(ClsMailMan& mm) {
    mm.put_SmtpHost("127.0.0.1");
    mm.put_SmtpPort(serverEnv().sinkPort);
    mm.put_ConnectTimeout(5);
}

std::unique_ptr<ClsEmail> newEmail(const std::string& subject, const char* from,
                                   std::initializer_list<const char*> to) {
    auto e = std::make_unique<ClsEmail>();
    e->put_Subject(subject.c_str());
    if (from)
        e->put_From(from);
    for (const char* a : to)
        EXPECT_TRUE(e->AddTo("", a));
    e->put_Body("Hello [NAME].\r\n");
    return e;
}

std::vector<std::string> badAddresses(const ClsMailMan& mm) {
    ClsStringArray a;
    mm.GetBadEmailAddresses(&a);
    std::vector<std::string> out(static_cast<size_t>(a.count()));
    for (int i = 0; i < a.count(); ++i)
        (void)a.get(i, out[static_cast<size_t>(i)]);
    return out;
}

bool has(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(ClsMailManTest, SendEmailPreparesACopyAndLeavesTheCallersEmailAlone) {
    ClsMailMan mm;
    useSink(mm);
    TempDir dir;
    const std::string sentLog = dir.path() + "/sent.log";
    mm.put_LogMailSentFilename(sentLog.c_str());
    const std::string m = marker("mm-send");
    auto email = newEmail(m, "Ann <ann@test.invalid>", {"bob@test.invalid"});
    email->put_ReturnReceipt(true);
    EXPECT_TRUE(email->SetReplacePattern("[NAME]", "Bob"));
    const std::string ownId = email->GetHeaderField("Message-ID");
    for (bool autoId : {true, false}) {
        SCOPED_TRACE(autoId);
        mm.put_AutoGenMessageId(autoId);
        ASSERT_TRUE(mm.SendEmail(email.get())) << mm.get_LastErrorText();
        auto got = waitForSpool(m, autoId ? 1 : 2);
        ASSERT_EQ(got.size(), autoId ? 1u : 2u);
        const std::string& data = got.back().data;
        EXPECT_TRUE(has(data, "Disposition-Notification-To: <ann@test.invalid>\r\n")) << data;
        EXPECT_FALSE(has(data, "NVX-"));
        EXPECT_TRUE(has(data, "Hello Bob."));
        EXPECT_EQ(has(data, "Message-ID: " + ownId + "\r\n"), !autoId);
    }
    EXPECT_EQ(email->GetHeaderField("Message-ID"), ownId);
    EXPECT_TRUE(has(email->get_Body(), "[NAME]"));
    const std::string logged = fileText(sentLog);
    EXPECT_TRUE(has(logged, "Hello Bob.")) << logged;
}

TEST(ClsMailManTest, BundleGoesOnWhenAnEmailFailsAndCollectsRefusedRecipients) {
    const ServerEnv& env = serverEnv();
    ClsMailMan mm;
    mm.put_SmtpHost("127.0.0.1");
    mm.put_SmtpPort(env.eximCyrusPort);
    mm.put_SmtpUsername("carol");
    mm.put_SmtpPassword("s3cret pass!");
    const std::string m = marker("mm-bundle");
    ClsEmailBundle bundle;
    auto first = newEmail(m + " 1", "a@test.invalid", {"x@test.invalid"});
    auto noFrom = newEmail(m + " 2", nullptr, {"y@test.invalid"});
    auto partial = newEmail(m + " 3", "a@test.invalid", {"z@test.invalid", "reject1@test.invalid"});
    for (auto* e : {first.get(), noFrom.get(), partial.get()})
        ASSERT_TRUE(bundle.AddEmail(e));
    EXPECT_FALSE(mm.SendBundle(&bundle));
    const std::string log = mm.get_LastErrorText();
    EXPECT_TRUE(has(log, "Partial send failure.")) << log;
    EXPECT_TRUE(has(log, "Send failed."));
    EXPECT_FALSE(has(log, "s3cret pass!"));
    auto got = waitForSpool(m, 2);
    ASSERT_EQ(got.size(), 2u);
    for (const auto& g : got)
        EXPECT_FALSE(has(g.data, m + " 2"));
    EXPECT_EQ(badAddresses(mm), std::vector<std::string>{"reject1@test.invalid"});

    // A partial delivery alone fails neither the bundle nor the list of earlier refusals.
    ClsEmailBundle onlyPartial;
    ASSERT_TRUE(onlyPartial.AddEmail(partial.get()));
    EXPECT_TRUE(mm.SendBundle(&onlyPartial)) << mm.get_LastErrorText();
    EXPECT_EQ(badAddresses(mm).size(), 1u);
    mm.ClearBadEmailAddresses();
    EXPECT_TRUE(badAddresses(mm).empty());
}

TEST(ClsMailManTest, AuthenticatesWithTheMethodItIsGivenAndNeverLogsThePassword) {
    const ServerEnv& env = serverEnv();
    TrustTestCa trust; // Dovecot submission offers STARTTLS, which the default takes
    const struct {
        int port;
        const char *user, *password, *method, *domain;
        std::string serverLog, logged;
    } cases[] = {
        {env.eximCyrusPort, "carol", "s3cret pass!", "CRAM-MD5", "", env.eximCyrusLog,
         "A=cram_md5:carol"},
        {env.eximCyrusPort, "alice", "alicepw", "NTLM", "TESTDOM", env.eximCyrusLog,
         "A=ntlm:alice"},
        {env.submissionPort, "dave", "davepw", "PLAIN", "", env.dovecotLog,
         "user=<dave>, method=PLAIN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        ClsMailMan mm;
        mm.put_SmtpHost("127.0.0.1");
        mm.put_SmtpPort(c.port);
        mm.put_SmtpUsername(c.user);
        mm.put_SmtpPassword(c.password);
        mm.put_SmtpAuthMethod(c.method);
        mm.put_SmtpLoginDomain(c.domain);
        auto email = newEmail(marker("mm-auth"), "a@test.invalid", {"x@test.invalid"});
        EXPECT_TRUE(mm.SendEmail(email.get())) << mm.get_LastErrorText();
        EXPECT_TRUE(waitForLog(c.serverLog, c.logged));
        EXPECT_TRUE(mm.VerifySmtpLogin());
        EXPECT_FALSE(has(mm.get_LastErrorXml(), c.password));
        mm.put_SmtpPassword("wrong");
        EXPECT_FALSE(mm.SendEmail(email.get()));
        EXPECT_TRUE(has(mm.get_LastErrorText(), "Failed to connect to SMTP server."));
    }
}

TEST(ClsMailManTest, DistributionListsQuickSendAndReadyMime) {
    ClsMailMan mm;
    useSink(mm);
    const std::string m = marker("mm-list");
    auto email = newEmail(m, "a@test.invalid", {"ignored@test.invalid"});
    ClsStringArray list;
    for (const char* a : {"one@test.invalid", "ONE@test.invalid", "no-at-sign", "two@test.invalid"})
        list.append(a);
    for (bool individual : {true, false}) {
        SCOPED_TRACE(individual);
        mm.put_SendIndividual(individual);
        EXPECT_TRUE(mm.SendToDistributionList(email.get(), &list)) << mm.get_LastErrorText();
    }
    auto got = waitForSpool(m, 3);
    ASSERT_EQ(got.size(), 3u);
    int bccBatch = 0;
    for (const auto& g : got) {
        EXPECT_FALSE(has(g.envelope, "ignored@test.invalid"));
        bccBatch += has(g.envelope, "[\"one@test.invalid\", \"two@test.invalid\"]");
    }
    EXPECT_EQ(bccBatch, 1);
    ClsStringArray empty;
    EXPECT_FALSE(mm.SendToDistributionList(email.get(), &empty));
    EXPECT_TRUE(has(mm.get_LastErrorText(), "Distribution list is empty."));

    // QuickSend talks to the server it names on its own port, whatever SmtpPort says.
    mm.put_SmtpPort(1);
    mm.mailMan().quickSendPort = serverEnv().sinkPort;
    const std::string q = marker("mm-quick");
    EXPECT_TRUE(mm.QuickSend("q@test.invalid", "r@test.invalid, s@test.invalid", q.c_str(),
                             "quick body", "127.0.0.1"))
        << mm.get_LastErrorText();
    auto quick = waitForSpool(q, 1);
    ASSERT_EQ(quick.size(), 1u);
    EXPECT_TRUE(has(quick[0].data, "quick body"));
    EXPECT_TRUE(has(quick[0].envelope, "[\"r@test.invalid\", \"s@test.invalid\"]"));

    useSink(mm);
    const std::string r = marker("mm-mime");
    const std::string mime =
        "From: q@test.invalid\r\nSubject: " + r + "\r\nNVX-Kept: yes\r\n\r\nready\r\n";
    EXPECT_TRUE(mm.SendMime("q@test.invalid", "t@test.invalid", mime.c_str()));
    auto ready = waitForSpool(r, 1);
    ASSERT_EQ(ready.size(), 1u);
    EXPECT_EQ(ready[0].data, mime);
}

TEST(ClsMailManTest, MembersRefuseMissingArgumentsBeforeConnecting) {
    ClsMailMan mm;
    mm.put_MailHost("127.0.0.1");
    mm.put_MailPort(1);
    mm.put_ConnectTimeout(2);
    ClsEmail neverFetched;
    const struct {
        const char* message;
        std::function<bool()> call;
    } cases[] = {
        {"Email parameter is NULL in SendEmail", [&] { return mm.SendEmail(nullptr); }},
        {"Bundle parameter is NULL in SendBundle", [&] { return mm.SendBundle(nullptr); }},
        {"NULL parameter(s)", [&] { return mm.SendToDistributionList(&neverFetched, nullptr); }},
        {"Cannot delete, message matching UIDL not found on server.",
         [&] { return mm.DeleteEmail(&neverFetched); }},
        {"UIDL parameter is empty", [&] { return mm.DeleteByUidl(""); }},
        {"Bundle input parameter is NULL", [&] { return mm.DeleteBundle(nullptr); }},
        {"UIDL array input parameter is NULL", [&] { return mm.DeleteMultiple(nullptr); }},
        {"UIDL array input parameter is NULL",
         [&] { return mm.FetchMultiple(nullptr) != nullptr; }},
        {"UIDL parameter is empty.", [&] { return mm.FetchEmail(nullptr) != nullptr; }},
        {"This email does not have a UIDL",
         [&] { return mm.GetFullEmail(&neverFetched) != nullptr; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_FALSE(c.call());
        const std::string log = mm.get_LastErrorText();
        EXPECT_TRUE(has(log, c.message)) << log;
        EXPECT_FALSE(has(log, "onnect")) << log;
    }
    EXPECT_EQ(mm.CheckMail(), -1);
    ASSERT_NE(mm.LoadMime(""), nullptr);
    EXPECT_EQ(mm.LoadMime(nullptr), nullptr);
}

TEST(ClsMailManTest, ReceivedMailBecomesPublicObjectsWithTheirUidls) {
    const ServerEnv& env = serverEnv();
    clearMailbox("dave");
    for (const char* uidl : {"1700000000.a", "1700000000.b"})
        addMessage("dave", uidl,
                   std::string("From: a@test.invalid\r\nSubject: ") + uidl +
                       "\r\n\r\nbody line 1\r\nbody line 2\r\n");
    TrustTestCa trust; // Dovecot's POP3 port offers STLS, which the default takes
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls);
        ClsMailMan mm;
        mm.put_MailHost("127.0.0.1");
        mm.put_MailPort(tls ? env.pop3sPort : env.pop3Port);
        mm.put_PopSsl(tls);
        mm.put_PopUsername("dave");
        mm.put_PopPassword("davepw");
        EXPECT_TRUE(mm.VerifyPopLogin()) << mm.get_LastErrorText();
        EXPECT_FALSE(has(mm.get_LastErrorText(), "davepw"));
        EXPECT_EQ(mm.CheckMail(), 2);
        auto uidls = mm.GetUidls();
        ASSERT_NE(uidls, nullptr);
        ASSERT_EQ(uidls->count(), 2);
        auto headers = mm.GetAllHeaders(1);
        ASSERT_NE(headers, nullptr);
        ASSERT_EQ(headers->get_MessageCount(), 2);
        auto full = mm.GetFullEmail(headers->emailAt(1));
        ASSERT_NE(full, nullptr) << mm.get_LastErrorText();
        EXPECT_EQ(full->get_Uidl(), headers->emailAt(1)->get_Uidl());
        EXPECT_TRUE(has(full->get_Body(), "body line 2"));
        auto fetched = mm.FetchMultiple(uidls.get());
        ASSERT_NE(fetched, nullptr);
        EXPECT_EQ(fetched->get_MessageCount(), 2);
    }
    ClsMailMan mm;
    mm.put_MailHost("127.0.0.1");
    mm.put_MailPort(env.pop3Port);
    mm.put_PopUsername("dave");
    mm.put_PopPassword("davepw");
    auto copied = mm.CopyMail();
    ASSERT_NE(copied, nullptr);
    ASSERT_EQ(copied->get_MessageCount(), 2);
    auto one = copied->GetEmail(0);
    ASSERT_TRUE(copied->RemoveEmailByIndex(0));
    EXPECT_TRUE(mm.DeleteBundle(copied.get())) << mm.get_LastErrorText();
    auto left = mm.GetUidls();
    ASSERT_NE(left, nullptr);
    std::string u;
    ASSERT_TRUE(left->count() == 1 && left->get(0, u));
    EXPECT_EQ(u, one->get_Uidl());
    EXPECT_TRUE(mm.DeleteEmail(one.get()));
    EXPECT_EQ(mm.CheckMail(), 0);
}

TEST(ClsMailManTest, ServerThatLeavesAfterTheRecipientFailsTheSend) {
    ScriptedServer srv(ScriptedServer::Script()
                           .send("220 fault.test ESMTP\r\n")
                           .line()
                           .send("250 fault.test\r\n")
                           .line()
                           .send("250 ok\r\n")
                           .line()
                           .send("250 ok\r\n")
                           .close());
    ClsMailMan mm;
    mm.put_SmtpHost("127.0.0.1");
    mm.put_SmtpPort(srv.port());
    auto email = newEmail("cut", "a@test.invalid", {"b@test.invalid"});
    EXPECT_FALSE(mm.SendEmail(email.get()));
    const std::string log = mm.get_LastErrorText();
    EXPECT_TRUE(has(log, "Send failed.")) << log;
    EXPECT_FALSE(has(log, "Partial"));
}
