#include "transport/MailQueue.h"

#include "common/FileAccess.h"
#include "common/Platform.h"
#include "common/StringBuffer.h"
#include "common/UniqueFd.h"
#include "security/CertificateStore.h"
#include "security/EasyCrypt.h"
#include "transport/SmtpConnImpl.h"
#include "transport/SmtpMail.h"
#include "transport/SmtpWire.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>

namespace norvane::mail_queue {

namespace {

constexpr std::string_view kSection = "[Software/Norvane Software, Inc./Outspool]";
constexpr uint32_t kSequenceWrap = 1000;

std::atomic<uint32_t> g_sequence{0};
std::function<uint32_t()> g_counterForTesting;

// The low 24 bits of a fast-running clock: names made within one second still differ.
uint32_t nameCounter() {
    if (g_counterForTesting)
        return g_counterForTesting() & 0xFFFFFFu;
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return static_cast<uint32_t>(ticks) & 0xFFFFFFu;
}

// The QueueDir value of the registry file at path; empty when it has none.
std::string registryQueueDir(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string_view l = sb::trimView(line);
        if (!l.empty() && l.front() == '[') {
            inSection = sb::equalsNoCase(l, kSection);
            continue;
        }
        const size_t eq = l.find('=');
        if (inSection && eq != std::string_view::npos &&
            sb::equalsNoCase(sb::trimView(l.substr(0, eq)), "QueueDir"))
            return std::string(sb::trimView(l.substr(eq + 1)));
    }
    return {};
}

std::string protect(std::string_view value, LogBase& log) {
    StringBuffer s(value);
    (void)EasyCrypt::protectString(kFieldPassword, s, log);
    return std::move(s.str());
}

bool makeDirectories(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i)
        if (i == dir.size() || dir[i] == '/') {
            const std::string part = dir.substr(0, i);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return false;
        }
    return true;
}

// A temporary file in dir holding text, flushed to disk; its path, or empty.
std::string writeTemporary(const std::string& dir, std::string_view text, LogBase& log) {
    std::string path = dir + "/.tmp-" + platform::newUuidString();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        log.logError(platform::systemErrorText(errno));
        return {};
    }
    if (!file::writeAll(fd.get(), text) || ::fsync(fd.get()) != 0) {
        log.logError(platform::systemErrorText(errno));
        ::unlink(path.c_str());
        return {};
    }
    return path;
}

bool isTransferField(std::string_view name) {
    for (std::string_view f :
         {"x-sendMime", "x-from", "x-recipients", "x-smtpPort", "x-smtpHost", "x-smtpUsername",
          "x-smtpPassword", "x-smtpDomain", "x-smtpAuthMethod", "x-nvBcc", "x-sendIndividual"})
        if (sb::equalsNoCase(name, f))
            return true;
    return false;
}

// What the runner needs of the message: its envelope.
class QueuedMail : public SmtpMail {
public:
    std::string from, subjectText;
    std::vector<std::string> to, cc, bcc;

    std::string headerField(std::string_view) const override { return {}; }
    std::string fromAddress() const override { return from; }
    std::string subject() const override { return subjectText; }
    std::vector<std::string> recipients(Kind kind) const override {
        return kind == Kind::To ? to : kind == Kind::Cc ? cc : bcc;
    }
    void clearRecipients(Kind kind) override { list(kind).clear(); }
    void addRecipient(Kind kind, std::string_view a) override { list(kind).emplace_back(a); }
    void setMessageId(std::string_view) override {}
    bool renderForSending(std::string&, LogBase&) override { return false; }

private:
    std::vector<std::string>& list(Kind kind) {
        return kind == Kind::To ? to : kind == Kind::Cc ? cc : bcc;
    }
};

// Unfolded, trimmed value of the first field called name in the header text.
std::string headerValue(std::string_view header, std::string_view name) {
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find("\r\n", pos);
        while (end != std::string_view::npos && end + 2 < header.size() &&
               (header[end + 2] == ' ' || header[end + 2] == '\t'))
            end = header.find("\r\n", end + 2);
        if (end == std::string_view::npos)
            end = header.size();
        std::string_view field = header.substr(pos, end - pos);
        const size_t colon = field.find(':');
        if (colon != std::string_view::npos &&
            sb::equalsNoCase(sb::trimView(field.substr(0, colon)), name)) {
            std::string v;
            for (char c : field.substr(colon + 1))
                if (c != '\r' && c != '\n')
                    v.push_back(c);
            return std::string(sb::trimView(v));
        }
        pos = end + 2;
    }
    return {};
}

} // namespace

std::string defaultDirectory() {
    for (const std::string& root : {CertificateStore::machineRoot(), CertificateStore::userRoot()})
        if (std::string dir = registryQueueDir(root + "/registry.ini"); !dir.empty())
            return dir;
    return CertificateStore::userRoot() + "/queue";
}

Fields transferFields(const MailManCore& settings, std::string_view bcc,
                      const std::pair<std::string, std::string>* mime, LogBase& log) {
    Fields f;
    if (mime) {
        f.emplace_back("x-sendMime", "yes");
        f.emplace_back("x-from", mime->first);
        f.emplace_back("x-recipients", mime->second);
    }
    const SmtpSettings& s = settings.smtp;
    f.emplace_back("x-smtpPort", protect(std::to_string(s.port), log));
    f.emplace_back("x-smtpHost", protect(s.host, log));
    f.emplace_back("x-smtpUsername", protect(s.username, log));
    f.emplace_back("x-smtpPassword", protect(s.password, log));
    f.emplace_back("x-smtpDomain", protect(s.loginDomain, log));
    f.emplace_back("x-smtpAuthMethod", protect(s.authMethod, log));
    if (!bcc.empty())
        f.emplace_back("x-nvBcc", protect(bcc, log));
    f.emplace_back("x-sendIndividual", settings.sendIndividual ? "yes" : "no");
    return f;
}

void setNameSourceForTesting(std::function<uint32_t()> counter, uint32_t nextSequence) {
    g_counterForTesting = std::move(counter);
    g_sequence = nextSequence;
}

std::string fileName(const SystemTime& d, uint32_t counter, uint32_t sequence) {
    char name[64];
    std::snprintf(name, sizeof name, "e_%04d%02d%02d_%02d%02d%02d_%06x%03x.eml", d.year, d.month,
                  d.day, d.hour, d.minute, d.second, counter & 0xFFFFFFu, sequence % 0x1000u);
    return name;
}

bool writeFile(std::string_view dirArg, const SystemTime& date, std::string_view text,
               std::string& path, LogBase& log) {
    path.clear();
    std::string dir(sb::trimView(dirArg));
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir.empty() || !makeDirectories(dir)) {
        log.logError("Queue directory cannot be created");
        log.logData("directory", dir);
        return false;
    }
    const std::string tmp = writeTemporary(dir, text, log);
    if (tmp.empty())
        return false;
    const uint32_t counter = nameCounter();
    // The name is claimed by a link, which fails rather than replace a file that exists.
    bool linked = false;
    for (uint32_t tries = 0; tries < kSequenceWrap && !linked; ++tries) {
        const uint32_t seq = g_sequence.fetch_add(1) % kSequenceWrap;
        const std::string candidate = dir + "/" + fileName(date, counter, seq);
        if (::link(tmp.c_str(), candidate.c_str()) == 0) {
            path = candidate;
            linked = true;
        } else if (errno != EEXIST) {
            log.logError(platform::systemErrorText(errno));
            break;
        }
    }
    ::unlink(tmp.c_str());
    if (linked) {
        UniqueFd d(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (d)
            (void)::fsync(d.get());
    }
    return linked;
}

bool parse(std::string_view fileText, QueuedMessage& out, LogBase& log) {
    out = {};
    const size_t headerEnd = fileText.find("\r\n\r\n");
    if (headerEnd == std::string_view::npos) {
        log.logError("Queue file has no header");
        return false;
    }
    const std::string_view header = fileText.substr(0, headerEnd + 2);
    std::string kept;
    size_t pos = 0;
    bool dropping = false;
    while (pos < header.size()) {
        size_t end = header.find("\r\n", pos);
        end = end == std::string_view::npos ? header.size() : end + 2;
        std::string_view line = header.substr(pos, end - pos);
        if (line[0] != ' ' && line[0] != '\t') {
            const size_t colon = line.find(':');
            dropping = colon != std::string_view::npos &&
                       isTransferField(sb::trimView(line.substr(0, colon)));
        }
        if (!dropping)
            kept.append(line);
        pos = end;
    }
    bool ok = true;
    auto unprotect = [&](std::string_view name) {
        StringBuffer s(headerValue(header, name));
        ok = EasyCrypt::unprotectString(kFieldPassword, s, log) && ok;
        return std::move(s.str());
    };
    out.smtp.port = std::atoi(unprotect("x-smtpPort").c_str());
    out.smtp.host = unprotect("x-smtpHost");
    out.smtp.username = unprotect("x-smtpUsername");
    out.smtp.password = unprotect("x-smtpPassword");
    out.smtp.loginDomain = unprotect("x-smtpDomain");
    out.smtp.authMethod = unprotect("x-smtpAuthMethod");
    out.bcc = unprotect("x-nvBcc");
    out.sendIndividual = !sb::equalsNoCase(headerValue(header, "x-sendIndividual"), "no");
    out.sendMime = sb::equalsNoCase(headerValue(header, "x-sendMime"), "yes");
    out.from = headerValue(header, "x-from");
    out.recipients = headerValue(header, "x-recipients");
    out.text = kept;
    out.text.append(fileText.substr(headerEnd + 2));
    if (!ok || out.smtp.host.empty() || out.smtp.port <= 0) {
        log.logError("Queue file carries no usable SMTP settings");
        return false;
    }
    return true;
}

SendResult send(const QueuedMessage& m, uint32_t connectTimeoutSec, LogBase& log,
                const std::function<void()>& accepted) {
    QueuedMail mail;
    const size_t headerEnd = m.text.find("\r\n\r\n");
    const std::string_view header = std::string_view(m.text).substr(0, headerEnd + 2);
    const std::vector<std::string> sender =
        smtp::bareAddresses(m.sendMime ? m.from : headerValue(header, "From"));
    if (m.sendMime) {
        mail.to = smtp::bareAddresses(m.recipients);
    } else {
        mail.to = smtp::bareAddresses(headerValue(header, "To"));
        mail.cc = smtp::bareAddresses(headerValue(header, "Cc"));
        mail.bcc = smtp::bareAddresses(m.bcc);
    }
    if (sender.empty() || (mail.to.empty() && mail.cc.empty() && mail.bcc.empty())) {
        log.logError("Queued message has no sender or no recipient");
        return SendResult::Failed;
    }
    mail.from = sender.front();
    mail.subjectText = headerValue(header, "Subject");
    // The mail manager's own connect, so that the file's server gets the same TLS policy.
    MailManCore settings;
    settings.smtp = m.smtp;
    settings.pop.connectTimeoutSec = connectTimeoutSec;
    SmtpConnImpl conn;
    if (!settings.connectSmtp(conn, log))
        return SendResult::RetryLater;
    SmtpSendCounts counts;
    DistributionList bad;
    const bool ok = conn.sendEmail(mail, &m.text, "", log, nullptr, counts, bad);
    if (!ok && (counts.fatal || counts.numSent == 0))
        return counts.fatal ? SendResult::RetryLater : SendResult::Failed;
    if (accepted)
        accepted();
    return SendResult::Sent;
}

} // namespace norvane::mail_queue
