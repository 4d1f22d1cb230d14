// The error class a failing call leaves, read through the installed C++ classes, for the
// failures a program handles differently: a bad argument, a missing file (through the e-mail
// and through the mail manager), no server, a refused login, an untrusted server, a refused
// recipient. A call that succeeds clears it.

#include "ServerEnv.h"

#include "norvane/Email.h"
#include "norvane/MailMan.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace norvane;
using namespace norvane::test;

TEST(PublicApiErrorTest, EachFailureLeavesItsClassAndSuccessClearsIt) {
    const ServerEnv& env = serverEnv();
    auto smtp = [](MailMan& mm, int port, const char* user, const char* password) {
        mm.put_SmtpHost("127.0.0.1");
        mm.put_SmtpPort(port);
        mm.put_SmtpUsername(user);
        mm.put_SmtpPassword(password);
        mm.put_ConnectTimeout(5);
    };
    auto send = [](MailMan& mm, const char* to) {
        Email e;
        e.put_From("ann@test.invalid");
        EXPECT_TRUE(e.AddTo("", to));
        e.put_Subject("error classes");
        return mm.SendEmail(&e);
    };
    const struct {
        const char* what;
        bool trustCa;
        std::function<bool(MailMan&)> call;
        ErrorCode expected;
    } cases[] = {
        {"null e-mail", true, [](MailMan& mm) { return mm.SendEmail(nullptr); },
         ErrorCode::BadArgument},
        {"no server", true,
         [&](MailMan& mm) {
             smtp(mm, 1, "", "");
             return send(mm, "bob@test.invalid");
         },
         ErrorCode::Network},
        {"wrong password", true,
         [&](MailMan& mm) {
             smtp(mm, env.eximCyrusPort, "carol", "not her password");
             return send(mm, "bob@test.invalid");
         },
         ErrorCode::Authentication},
        {"untrusted server", false,
         [&](MailMan& mm) {
             mm.put_MailHost("127.0.0.1");
             mm.put_MailPort(env.pop3sPort);
             mm.put_PopSsl(true);
             mm.put_PopUsername("alice");
             mm.put_PopPassword("alicepw");
             return mm.CheckMail() >= 0;
         },
         ErrorCode::Tls},
        {"refused recipient", true,
         [&](MailMan& mm) {
             smtp(mm, env.eximCyrusPort, "carol", "s3cret pass!");
             return send(mm, "reject1@test.invalid");
         },
         ErrorCode::RecipientRefused},
        {"sent", true,
         [&](MailMan& mm) {
             smtp(mm, env.sinkPort, "", "");
             return send(mm, "bob@test.invalid");
         },
         ErrorCode::None},
    };
    MailMan mm;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<TrustTestCa> trust;
        if (c.trustCa)
            trust.emplace();
        EXPECT_EQ(c.call(mm), c.expected == ErrorCode::None);
        EXPECT_EQ(errorCodeName(mm.get_LastErrorCode()), errorCodeName(c.expected))
            << mm.get_LastErrorText();
    }

    Email email;
    EXPECT_FALSE(email.LoadEml("/nonexistent/message.eml"));
    EXPECT_EQ(email.get_LastErrorCode(), ErrorCode::NotFound);
    EXPECT_EQ(mm.LoadEml("/nonexistent/message.eml"), nullptr);
    EXPECT_EQ(mm.get_LastErrorCode(), ErrorCode::NotFound);
    EXPECT_TRUE(email.SetFromMimeText("Subject: x\r\n\r\nbody\r\n"));
    EXPECT_EQ(email.get_LastErrorCode(), ErrorCode::None);
}
