// Queue files and the queue runner: names, fields and protection as a runner reads them, no
// file lost or overwritten when two processes queue at once, and queued mail reaching the
// sink exactly once through `nvmail queue-run`, also after the runner was killed.

#include "ServerEnv.h"

#include "facade/ClsEmail.h"
#include "facade/ClsMailMan.h"
#include "support/RunCommand.h"
#include "transport/MailQueue.h"
#include "transport/SaslBase64.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <regex>

using namespace norvane;
using namespace norvane::test;

namespace {

const std::string kNvmail = std::string(NORVANE_BINARY_DIR) + "/tools/nvmail";

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && e->d_type == DT_REG)
                out.emplace_back(e->d_name);
        ::closedir(d);
    }
    return out;
}

std::unique_ptr<ClsEmail> queuedEmail(const std::string& subject, bool withBcc) {
    auto e = std::make_unique<ClsEmail>();
    e->put_Subject(subject.c_str());
    e->put_From("q@test.invalid");
    EXPECT_TRUE(e->AddTo("", "to@test.invalid"));
    if (withBcc) {
        EXPECT_TRUE(e->AddBcc("", "b1@test.invalid"));
        EXPECT_TRUE(e->AddBcc("", "b2@test.invalid"));
    }
    e->put_Body("queued\r\n");
    return e;
}

bool has(std::string_view text, std::string_view part) {
    return text.find(part) != text.npos;
}

std::string percentDecoded(std::string_view form) {
    std::string out;
    for (size_t i = 0; i < form.size(); ++i)
        if (form[i] == '%' && i + 2 < form.size()) {
            out.push_back(
                static_cast<char>(std::stoi(std::string(form.substr(i + 1, 2)), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(form[i] == '+' ? ' ' : form[i]);
        }
    return out;
}

void sendTo(ClsMailMan& mm, int port) {
    mm.put_SmtpHost("127.0.0.1");
    mm.put_SmtpPort(port);
}

} // namespace

TEST(MailQueueTest, FilesCarryProtectedSettingsAndArePrivate) {
    TempDir dir;
    ClsMailMan mm;
    sendTo(mm, 2525);
    mm.put_SmtpUsername("queue user");
    mm.put_SmtpPassword("p@ss word");
    mm.put_SmtpLoginDomain("DOM");
    mm.put_SmtpAuthMethod("LOGIN");
    for (bool withBcc : {false, true}) {
        SCOPED_TRACE(withBcc);
        auto email = queuedEmail("fields", withBcc);
        ASSERT_TRUE(mm.SendQ2(email.get(), (dir.path() + (withBcc ? "/" : "")).c_str()))
            << mm.get_LastErrorText();
        const std::string path = mm.get_LastSendQFilename();
        EXPECT_TRUE(std::regex_match(
            path, std::regex(dir.path() + "/e_20[0-9]{6}_[0-9]{6}_[0-9a-f]{9}\\.eml")))
            << path;
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const std::string text = readFile(path);
        EXPECT_EQ(text.find("p@ss word"), std::string::npos);
        EXPECT_EQ(text.find("x-nvBcc") != std::string::npos, withBcc);
        const std::regex order("x-smtpPort:.*x-smtpHost:.*x-smtpUsername:.*x-smtpPassword:.*"
                               "x-smtpDomain:.*x-smtpAuthMethod:.*x-sendIndividual: yes\r \r",
                               std::regex::extended);
        std::string oneLine = text;
        std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
        EXPECT_TRUE(std::regex_search(oneLine, order)) << text;
        EXPECT_GT(text.find("x-nvBcc"), text.find("x-smtpAuthMethod"));
        mail_queue::QueuedMessage q;
        Logger log;
        ASSERT_TRUE(mail_queue::parse(text, q, log)) << logText(log);
        EXPECT_EQ(q.smtp.password, "p@ss word");
        EXPECT_EQ(q.smtp.username, "queue user");
        EXPECT_EQ(q.smtp.port, 2525);
        EXPECT_EQ(q.bcc, withBcc ? "b1@test.invalid,b2@test.invalid" : "");
        EXPECT_EQ(q.text.find("x-smtp"), std::string::npos);
    }
    EXPECT_FALSE(mm.SendQ2(nullptr, dir.path().c_str()));
    EXPECT_EQ(mm.get_LastSendQFilename(), "");

    // The name is the e-mail's date, the counter and the sequence, which wraps after 999.
    mail_queue::setNameSourceForTesting([] { return 0x1abcdef0u; }, 998);
    auto dated = queuedEmail("named", false);
    dated->AddHeaderField("Date", "Tue, 01 Dec 2026 10:15:30 +0000");
    for (const char* sequence : {"3e6", "3e7", "000"}) {
        ASSERT_TRUE(mm.SendQ2(dated.get(), dir.path().c_str()));
        EXPECT_EQ(mm.get_LastSendQFilename(),
                  dir.file(std::string("e_20261201_101530_bcdef0") + sequence + ".eml"));
    }
    mail_queue::setNameSourceForTesting({}, 0);
}

TEST(MailQueueTest, TwoProcessesQueueingAtOnceLoseNothing) {
    TempDir dir;
    constexpr int kEach = 1000;
    auto queueMany = [&](const char* who) {
        ClsMailMan mm;
        sendTo(mm, 25);
        auto email = queuedEmail(who, false);
        int ok = 0;
        for (int i = 0; i < kEach; ++i)
            ok += mm.SendQ2(email.get(), dir.path().c_str());
        return ok;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(queueMany("child") == kEach ? 0 : 1);
    EXPECT_EQ(queueMany("parent"), kEach);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto files = filesIn(dir.path());
    ASSERT_EQ(files.size(), 2u * kEach);
    std::map<std::string, int> subjects;
    for (const std::string& f : files)
        ++subjects[readFile(dir.file(f)).find(": child\r\n") != std::string::npos ? "c" : "p"];
    EXPECT_EQ(subjects["c"], kEach);
    EXPECT_EQ(subjects["p"], kEach);
}

TEST(MailQueueTest, RunnerSendsEachFileOnceAlsoAfterBeingKilled) {
    TempDir dir;
    ClsMailMan mm;
    sendTo(mm, serverEnv().sinkPort);
    const std::string m = marker("queue-run");
    constexpr int kCount = 300;
    for (int i = 0; i < kCount; ++i) {
        auto email = queuedEmail(m + " " + std::to_string(i), false);
        ASSERT_TRUE(mm.SendQ2(email.get(), dir.path().c_str()));
    }
    // A runner killed part-way, then a full run.
    const pid_t runner = ::fork();
    ASSERT_GE(runner, 0);
    if (runner == 0) {
        std::freopen("/dev/null", "w", stdout);
        ::execl(kNvmail.c_str(), "nvmail", "queue-run", dir.path().c_str(), nullptr);
        ::_exit(127);
    }
    ASSERT_TRUE(waitUntil([&] { return filesIn(dir.file("sent")).size() >= kCount / 3; }, 30));
    ::kill(runner, SIGKILL);
    ::waitpid(runner, nullptr, 0);
    EXPECT_LT(filesIn(dir.file("sent")).size(), size_t{kCount});
    EXPECT_EQ(runCommand(kNvmail + " queue-run " + shellQuote(dir.path()) + " >/dev/null 2>&1"), 0);
    EXPECT_EQ(filesIn(dir.file("sent")).size(), size_t{kCount});
    const auto got = waitForSpool(m, kCount);
    std::map<std::string, int> perMessageId;
    for (const auto& g : got) {
        const size_t at = g.data.find("Message-ID: ");
        ++perMessageId[g.data.substr(at, g.data.find("\r\n", at) - at)];
    }
    // Every message arrived, and at most the one in flight at the kill arrived twice: the
    // server may have taken it while its reply was still on the way (no SMTP client can tell).
    EXPECT_EQ(perMessageId.size(), size_t{kCount});
    int repeated = 0;
    for (const auto& [id, n] : perMessageId)
        repeated += n - 1;
    EXPECT_LE(repeated, 1);
}

TEST(MailQueueTest, UnsendableFileGoesToFailedWithItsLog) {
    TempDir dir;
    ClsMailMan mm;
    sendTo(mm, serverEnv().eximCyrusPort);
    auto email = queuedEmail("refused", false);
    email->ClearTo();
    ASSERT_TRUE(email->AddTo("", "reject-all@test.invalid"));
    ASSERT_TRUE(mm.SendQ2(email.get(), dir.path().c_str()));
    const std::string name = mm.get_LastSendQFilename().substr(dir.path().size() + 1);
    EXPECT_NE(runCommand(kNvmail + " queue-run " + shellQuote(dir.path()) + " 2>/dev/null"), 0);
    EXPECT_TRUE(filesIn(dir.path()).empty());
    const std::string log = readFile(dir.file("failed/" + name + ".log"));
    EXPECT_NE(log.find("reject-all@test.invalid"), std::string::npos) << log;
}

TEST(MailQueueTest, SendCgiPostsTheFormAndTrustsOnlyAnExactSuccess) {
    using Script = ScriptedServer::Script;
    const ServerEnv& env = serverEnv();
    const auto answer = [](const std::string& reply) {
        return Script().until("\r\n\r\n").until("\r\n").send(reply).close();
    };
    const struct {
        bool tls;
        std::string reply;
        bool ok;
        const char* logged;
    } cases[] = {
        {false, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n<success/>", true, ""},
        {true,
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
         "chunked\r\n\r\n4\r\n<suc\r\n6\r\ncess/>\r\n0\r\n\r\n",
         true, ""},
        {false, "HTTP/1.1 200 OK\r\n\r\n<success/>\r\n", false,
         "Failed to send email from remote server"},
        {false, "HTTP/1.1 500 Oops\r\nContent-Length: 10\r\n\r\n<success/>", false,
         "HTTP/1.1 500 Oops"},
        {false, "HTTP/1.1 302 Found\r\nLocation: http://elsewhere.invalid/\r\n\r\n", false,
         "HTTP/1.1 302 Found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        TrustTestCa trust;
        ScriptedServer srv(answer(c.reply), "127.0.0.1", c.tls ? env.serverCert : "",
                           c.tls ? env.serverKey : "");
        ClsMailMan mm;
        sendTo(mm, 2525);
        mm.put_SmtpPassword("relay secret");
        auto email = queuedEmail("cgi", true);
        const std::string url = std::string(c.tls ? "https" : "http") +
                                "://u:p%w@localhost:" + std::to_string(srv.port()) + "/relay?x=1";
        EXPECT_EQ(mm.SendCGI(url.c_str(), email.get()), c.ok) << mm.get_LastErrorText();
        EXPECT_TRUE(has(mm.get_LastErrorText(), c.logged));
        EXPECT_FALSE(has(mm.get_LastErrorText(), "p%w"));
        const std::string req = srv.received();
        const size_t bodyAt = req.find("\r\n\r\n") + 4;
        EXPECT_EQ(req.substr(0, bodyAt),
                  "POST /relay?x=1 HTTP/1.1\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; "
                  "Windows NT 5.1)\r\nConnection: Keep-Alive\r\nHost: localhost\r\n"
                  "Authorization: Basic dTpwJXc=\r\ncontent-type: "
                  "application/x-www-form-urlencoded\r\ncontent-length: " +
                      std::to_string(req.size() - bodyAt) + "\r\n\r\n");
        ASSERT_TRUE(req.substr(bodyAt).starts_with("email="));
        const auto mime =
            sasl::base64Decode(percentDecoded(req.substr(bodyAt + 6, req.size() - bodyAt - 8)));
        ASSERT_TRUE(mime.has_value());
        const std::string text(mime->begin(), mime->end());
        mail_queue::QueuedMessage q;
        Logger log;
        ASSERT_TRUE(mail_queue::parse(text, q, log));
        EXPECT_EQ(q.smtp.password, "relay secret");
        EXPECT_EQ(q.bcc, "b1@test.invalid,b2@test.invalid");
    }
}
