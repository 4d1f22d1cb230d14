#include "ServerEnv.h"

#include "common/Platform.h"
#include "support/TestDirs.h"
#include "transport/NorvaneSocket.h"
#include "transport/SChannel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <pwd.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace norvane::test {

namespace {

ServerEnv loadEnv() {
    ServerEnv e;
    const char* path = std::getenv("NORVANE_TRANSPORT_ENV");
    if (!path) {
        ADD_FAILURE() << "NORVANE_TRANSPORT_ENV is not set: run through ctest (the fixture "
                         "starts the servers)";
        return e;
    }
    std::map<std::string, std::string> kv;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos)
            kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (kv.empty())
        ADD_FAILURE() << "cannot read the server env file " << path;
    auto num = [&](const char* k) { return kv.count(k) ? std::atoi(kv[k].c_str()) : 0; };
    e.stateDir = kv["STATE_DIR"];
    e.caFile = kv["CA_FILE"];
    e.serverCert = kv["SERVER_CERT"];
    e.serverKey = kv["SERVER_KEY"];
    e.wrongHostCert = kv["WRONGHOST_CERT"];
    e.wrongHostKey = kv["WRONGHOST_KEY"];
    e.cnOnlyCert = kv["CNONLY_CERT"];
    e.cnOnlyKey = kv["CNONLY_KEY"];
    e.pop3Port = num("POP3_PORT");
    e.pop3sPort = num("POP3S_PORT");
    e.submissionsPort = num("SUBMISSIONS_PORT");
    e.submissionPort = num("SUBMISSION_PORT");
    e.sinkPort = num("SINK_PORT");
    e.eximCyrusPort = num("EXIM_CYRUS_PORT");
    e.eximSpaPort = num("EXIM_SPA_PORT");
    e.spool = kv["SPOOL"];
    e.mailRoot = kv["MAIL_ROOT"];
    e.eximCyrusLog = kv["EXIM_CYRUS_LOG"];
    e.eximSpaLog = kv["EXIM_SPA_LOG"];
    e.dovecotLog = kv["DOVECOT_LOG"];
    e.oauthUser = kv["OAUTH_USER"];
    e.oauthToken = kv["OAUTH_TOKEN"];
    e.oauthBadToken = kv["OAUTH_BAD_TOKEN"];
    return e;
}

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

void chownToDovecot(const std::string& path) {
    if (passwd* pw = ::getpwnam("dovecot"))
        (void)::chown(path.c_str(), pw->pw_uid, pw->pw_gid);
}

} // namespace

const ServerEnv& serverEnv() {
    static const ServerEnv env = loadEnv();
    return env;
}

TrustTestCa::TrustTestCa() {
    SChannel::setDefaultCaFile(serverEnv().caFile);
}
TrustTestCa::~TrustTestCa() {
    SChannel::setDefaultCaFile("");
}

std::string marker(std::string_view name) {
    return "marker-" + std::string(name) + "-" + platform::newUuidString();
}

std::string localHostName() {
    std::string n;
    LogNull log;
    (void)NorvaneSocket::getLocalHostName(n, log);
    return n.empty() ? "localhost" : n;
}

std::string headerOf(const Email2& e, std::string_view name) {
    StringBuffer v;
    (void)e.getHeaderField(name, v);
    return v.str();
}

void clearMailbox(const std::string& user) {
    std::string md = serverEnv().mailRoot + "/" + user + "/Maildir";
    for (const char* sub : {"new", "cur", "tmp"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(md + "/" + sub, ec))
            fs::remove(e.path(), ec);
    }
}

void addMessage(const std::string& user, const std::string& uidl, std::string_view text) {
    std::string md = serverEnv().mailRoot + "/" + user + "/Maildir";
    std::string tmp = md + "/tmp/" + uidl;
    {
        std::ofstream out(tmp, std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    chownToDovecot(tmp);
    fs::rename(tmp, md + "/new/" + uidl);
}

size_t mailboxCount(const std::string& user) {
    std::string md = serverEnv().mailRoot + "/" + user + "/Maildir";
    size_t n = 0;
    std::error_code ec;
    for (const char* sub : {"new", "cur"})
        n += static_cast<size_t>(std::distance(fs::directory_iterator(md + "/" + sub, ec), {}));
    return n;
}

bool waitUntil(const std::function<bool()>& done, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool held = done();
    for (; !held && std::chrono::steady_clock::now() < deadline; held = done())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return held;
}

std::vector<SpoolMessage> waitForSpool(std::string_view marker, size_t count, int seconds) {
    std::vector<SpoolMessage> found;
    (void)waitUntil(
        [&] {
            found.clear();
            std::error_code ec;
            std::vector<fs::path> envelopes;
            for (const auto& e : fs::directory_iterator(serverEnv().spool, ec))
                if (e.path().extension() == ".json")
                    envelopes.push_back(e.path());
            std::sort(envelopes.begin(), envelopes.end());
            for (fs::path p : envelopes) {
                std::string envelope = readFile(p.string());
                std::string data = readFile(p.replace_extension(".eml").string());
                if (data.find(marker) != std::string::npos)
                    found.push_back({data, envelope});
            }
            return found.size() >= count;
        },
        seconds);
    return found;
}

bool waitForMailbox(const std::string& user, size_t count, int seconds) {
    return waitUntil([&] { return mailboxCount(user) >= count; }, seconds);
}

std::vector<std::string> logLines(const std::string& path, std::string_view text) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos)
            out.push_back(line);
    return out;
}

bool waitForLog(const std::string& path, std::string_view text, int seconds) {
    return waitUntil([&] { return readFile(path).find(text) != std::string::npos; }, seconds);
}

ScriptedServer::Script& ScriptedServer::Script::connection() {
    conns_.emplace_back();
    return *this;
}
ScriptedServer::Script& ScriptedServer::Script::step(std::string action) {
    if (conns_.empty())
        connection();
    conns_.back().push_back("[" + action + "]");
    return *this;
}
ScriptedServer::Script& ScriptedServer::Script::send(std::string_view text) {
    return step("\"send\"," + jsonString(text));
}
ScriptedServer::Script& ScriptedServer::Script::flood(std::string_view text, int count) {
    return step("\"flood\"," + jsonString(text) + "," + std::to_string(count));
}
ScriptedServer::Script& ScriptedServer::Script::seq(std::string_view text, int count) {
    return step("\"seq\"," + jsonString(text) + "," + std::to_string(count));
}
ScriptedServer::Script& ScriptedServer::Script::drip(std::string_view text, double seconds) {
    return step("\"drip\"," + jsonString(text) + "," + std::to_string(seconds));
}
ScriptedServer::Script& ScriptedServer::Script::line(int n) {
    for (int i = 0; i < n; ++i)
        step("\"line\"");
    return *this;
}
ScriptedServer::Script& ScriptedServer::Script::until(std::string_view text) {
    return step("\"until\"," + jsonString(text));
}
ScriptedServer::Script& ScriptedServer::Script::sleep(double seconds) {
    return step("\"sleep\"," + std::to_string(seconds));
}
ScriptedServer::Script& ScriptedServer::Script::drain() {
    return step("\"drain\"");
}
ScriptedServer::Script& ScriptedServer::Script::close() {
    return step("\"close\"");
}
ScriptedServer::Script& ScriptedServer::Script::startTls() {
    return step("\"starttls\"");
}
ScriptedServer::Script& ScriptedServer::Script::popLogin(std::string_view stat) {
    return send("+OK ready\r\n").line().send("+OK\r\n").line().send("+OK\r\n").line().send(stat);
}
std::string ScriptedServer::Script::json() const {
    std::string out = "[";
    for (size_t c = 0; c < conns_.size(); ++c) {
        out += c ? ",[" : "[";
        for (size_t s = 0; s < conns_[c].size(); ++s)
            out += (s ? "," : "") + conns_[c][s];
        out += "]";
    }
    return out + "]";
}

ScriptedServer::ScriptedServer(const Script& script, std::string host, std::string cert,
                               std::string key, std::string tlsMax) {
    char tmpl[] = "/tmp/norvane-scripted.XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    { std::ofstream(dir_ + "/script.json") << script.json(); }
    int out[2];
    if (::pipe(out) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    std::string scriptPath = std::string(NORVANE_SOURCE_DIR) + "/tests/servers/scripted.py";
    std::vector<std::string> args = {
        "/usr/bin/python3", scriptPath,         "--script", dir_ + "/script.json",
        "--received",       dir_ + "/received", "--host",   host};
    if (!cert.empty()) {
        args.insert(args.end(), {"--cert", cert, "--key", key});
        if (!tlsMax.empty())
            args.insert(args.end(), {"--tls-max", tlsMax});
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        line.push_back(c);
    ::close(out[0]);
    if (line.rfind("PORT ", 0) == 0)
        port_ = std::atoi(line.c_str() + 5);
    else
        ADD_FAILURE() << "scripted server did not start: " << line;
}

std::string ScriptedServer::received(int seconds) {
    // The peer ends after its script; one still running after the wait is stopped.
    (void)waitUntil(
        [&] {
            if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_)
                pid_ = -1;
            return pid_ <= 0;
        },
        seconds);
    stop();
    return readFile(dir_ + "/received");
}

void ScriptedServer::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

ScriptedServer::~ScriptedServer() {
    stop();
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string TestMail::headerField(std::string_view name) const {
    std::string n(name);
    for (char& ch : n)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (n == "return-path")
        return returnPath;
    if (n == "nvx-filedistlist")
        return distListFile;
    if (n == "message-id")
        return messageId;
    return {};
}

std::vector<std::string>& TestMail::list(Kind kind) {
    return kind == Kind::To ? to : kind == Kind::Cc ? cc : bcc;
}
std::vector<std::string> TestMail::recipients(Kind kind) const {
    return kind == Kind::To ? to : kind == Kind::Cc ? cc : bcc;
}
void TestMail::clearRecipients(Kind kind) {
    list(kind).clear();
}
void TestMail::addRecipient(Kind kind, std::string_view address) {
    list(kind).emplace_back(address);
}

bool TestMail::renderForSending(std::string& out, LogBase&) {
    ++renderCount;
    out = "From: " + from + "\r\n";
    auto join = [](const std::vector<std::string>& v) {
        std::string s;
        for (const auto& a : v)
            s += (s.empty() ? "" : ", ") + a;
        return s;
    };
    if (!to.empty())
        out += "To: " + join(to) + "\r\n";
    if (!cc.empty())
        out += "Cc: " + join(cc) + "\r\n";
    out += "Subject: " + subjectText + "\r\n";
    if (!messageId.empty())
        out += "Message-ID: " + messageId + "\r\n";
    out += "\r\n" + body;
    return true;
}

} // namespace norvane::test
