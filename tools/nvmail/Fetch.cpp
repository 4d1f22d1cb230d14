// nvmail fetch: a POP3 mailbox listed, or saved into a directory one .eml file per message,
// through the mail manager. A message is deleted on the server only once its file is on disk
// and reads back whole; a name already taken is never overwritten.

#include "Commands.h"
#include "Server.h"

#include "Posix.h"

#include "norvane/Email.h"
#include "norvane/EmailBundle.h"
#include "norvane/MailMan.h"
#include "norvane/StringArray.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

using norvane::Email;
using norvane::MailMan;
using norvane::StringArray;

namespace nvmail {

namespace {

constexpr int kPop3Port = 110;
constexpr int kPop3sPort = 995;
// How the received-mail log frames each message (norvane/MailMan.h).
constexpr std::string_view kReceivedBegin = "--BEGIN RECEIVED NORVANE EMAIL--\n";
constexpr std::string_view kReceivedEnd = "\n--END RECEIVED NORVANE EMAIL--\n";

int configure(const Parsed& p, MailMan& mailMan) {
    ServerSettings s;
    if (const int status = serverSettings(p, "POP", s); status != kOk)
        return status;
    if (s.user.empty() || (s.password.empty() && s.oauthToken.empty())) {
        error("fetch needs a user (--user or NVMAIL_POP_USER) and a password "
              "(NVMAIL_POP_PASSWORD or --password-file) or an access token "
              "(NVMAIL_POP_OAUTH_TOKEN or --oauth-token-file)");
        return kUsage;
    }
    const bool tls = p.has("--tls");
    if (tls && p.has("--stls")) {
        error("--tls and --stls exclude one another");
        return kUsage;
    }
    mailMan.put_MailHost(s.host.c_str());
    mailMan.put_MailPort(s.port != 0 ? s.port : tls ? kPop3sPort : kPop3Port);
    mailMan.put_PopSsl(tls);
    if (p.has("--stls"))
        mailMan.put_PopTls("starttls-required");
    mailMan.put_PopUsername(s.user.c_str());
    mailMan.put_PopPassword(s.password.c_str());
    mailMan.put_OAuth2AccessToken(s.oauthToken.c_str());
    // Signed and encrypted messages are saved as they arrived, not unwrapped.
    mailMan.put_AutoUnwrapSecurity(false);
    forgetPassword(s);
    return kOk;
}

std::vector<std::string> stringsOf(StringArray& array) {
    std::vector<std::string> out(static_cast<size_t>(array.get_Count()));
    for (int i = 0; i < array.get_Count(); ++i)
        out[static_cast<size_t>(i)] = array.GetString(i);
    return out;
}

// The file name of a UIDL: letters, digits, '-', '_' and '.' (not first) as they are, every
// other byte as %XX. Distinct UIDLs get distinct names, none hidden or leaving the directory.
std::string fileNameOf(std::string_view uidl) {
    std::string out;
    for (char c : uidl) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '_' || (c == '.' && !out.empty())) {
            out.push_back(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        }
    }
    return out + ".eml";
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The mail manager and, with --log, the activity log of every call made.
struct Session {
    const Parsed& p;
    MailMan mailMan;
    std::string log;

    void note() {
        if (p.wantsLog())
            log += mailMan.get_LastErrorText();
    }
};

bool syncDir(const std::string& dir) {
    UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && ::fsync(fd.get()) == 0;
}

enum class Saved { Yes, Exists, Failed };

// Writes text as path, which must not exist: a temporary file in dir, written whole and flushed
// to disk, takes the name by link() (which never replaces a file), and is then read back.
Saved saveNew(const std::string& dir, const std::string& path, std::string_view text) {
    std::string temp = dir + "/.nvmail-fetch-XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    int err = fd ? 0 : errno;
    if (fd) {
        if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0)
            err = errno != 0 ? errno : EIO;
        if (::close(fd.release()) != 0 && err == 0)
            err = errno;
        if (err == 0 && ::link(temp.c_str(), path.c_str()) != 0)
            err = errno;
        (void)::unlink(temp.c_str());
    }
    if (err == EEXIST)
        return Saved::Exists;
    if (err == 0 && !syncDir(dir))
        err = errno;
    if (err != 0) {
        error("cannot write " + path + ": " + systemErrorText(err));
        return Saved::Failed;
    }
    std::string back;
    if (readInput(path, back, true) && back == text)
        return Saved::Yes;
    error("cannot write " + path + ": the file does not read back as written");
    (void)::unlink(path.c_str());
    return Saved::Failed;
}

// Fetches one message into text, byte for byte as the server sent it. The e-mail object's MIME
// text would be a new rendering (header fields refolded, X-UIDL added, preamble and epilogue
// replaced), so the text is taken from the mail manager's received-mail log, kept in a
// temporary file of dir for this one message.
bool fetchText(Session& s, const std::string& dir, const std::string& uidl, std::string& text) {
    std::string logPath = dir + "/.nvmail-received-XXXXXX";
    UniqueFd fd(::mkostemp(logPath.data(), O_CLOEXEC));
    if (!fd) {
        error("cannot write in " + dir + ": " + systemErrorText(errno));
        return false;
    }
    s.mailMan.put_LogMailReceivedFilename(logPath.c_str());
    const bool fetched = s.mailMan.FetchEmail(uidl.c_str()) != nullptr;
    s.note();
    s.mailMan.put_LogMailReceivedFilename("");
    const bool read = fetched && readInput(logPath, text);
    (void)::unlink(logPath.c_str());
    if (!fetched)
        error("cannot fetch message " + oneLine(uidl) + " (--log shows why)");
    if (!read)
        return false;
    if (!text.starts_with(kReceivedBegin) || !text.ends_with(kReceivedEnd)) {
        error("cannot fetch message " + oneLine(uidl) + ": its text was not recorded whole");
        return false;
    }
    text.erase(text.size() - kReceivedEnd.size());
    text.erase(0, kReceivedBegin.size());
    return true;
}

// Fetches one message and saves it; true when its file was written and verified.
bool fetchOne(Session& s, const std::string& dir, const std::string& uidl) {
    std::string text;
    if (!fetchText(s, dir, uidl, text))
        return false;
    const std::string path = dir + "/" + fileNameOf(uidl);
    const Saved saved = saveNew(dir, path, text);
    if (saved == Saved::Exists)
        error(path + " exists: message " + oneLine(uidl) + " not saved");
    if (saved != Saved::Yes)
        return false;
    std::printf("%s\n", oneLine(path).c_str());
    std::fflush(stdout);
    return true;
}

int fetchInto(Session& s) {
    const std::string dir = s.p.value("--dir");
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        error("cannot create " + dir + ": " + systemErrorText(errno));
        return kFailed;
    }
    std::unique_ptr<StringArray> uidls = s.mailMan.GetUidls();
    s.note();
    if (!uidls) {
        error("cannot list the mailbox (--log shows why)");
        return kFailed;
    }
    int status = kOk;
    std::vector<std::string> wanted;
    for (const std::string& uidl : stringsOf(*uidls)) {
        const std::string path = dir + "/" + fileNameOf(uidl);
        if (!exists(path)) {
            wanted.push_back(uidl);
        } else if (!s.p.has("--new")) {
            error(path + " exists: message " + oneLine(uidl) + " not fetched");
            status = kFailed;
        }
    }
    const bool progress = ::isatty(STDERR_FILENO) == 1 && wanted.size() > 1;
    StringArray saved;
    for (size_t i = 0; i < wanted.size(); ++i) {
        if (progress)
            std::fprintf(stderr, "\rfetched %zu/%zu ", i, wanted.size());
        if (fetchOne(s, dir, wanted[i]))
            (void)saved.Append(wanted[i].c_str());
        else
            status = kFailed;
    }
    if (progress)
        std::fprintf(stderr, "\rfetched %zu/%zu\n", wanted.size(), wanted.size());
    if (s.p.has("--delete") && saved.get_Count() > 0) {
        const bool deleted = s.mailMan.DeleteMultiple(&saved);
        s.note();
        if (!deleted) {
            error("cannot delete the saved messages on the server (--log shows why)");
            status = kFailed;
        }
    }
    return status;
}

int list(Session& s) {
    std::unique_ptr<StringArray> uidls = s.mailMan.GetUidls();
    s.note();
    std::unique_ptr<norvane::EmailBundle> headers;
    if (uidls) {
        headers = s.mailMan.GetAllHeaders(0);
        s.note();
    }
    if (!headers) {
        error("cannot list the mailbox (--log shows why)");
        return kFailed;
    }
    std::map<std::string, std::string> described; // UIDL -> "From<TAB>Subject"
    for (int i = 0; i < headers->get_MessageCount(); ++i)
        if (std::unique_ptr<Email> e = headers->GetEmail(i))
            described[e->get_Uidl()] = oneLine(e->get_From()) + "\t" + oneLine(e->get_Subject());
    const std::vector<std::string> ids = stringsOf(*uidls);
    for (size_t i = 0; i < ids.size(); ++i)
        std::printf("%zu\t%s\t%s\n", i + 1, oneLine(ids[i]).c_str(), described[ids[i]].c_str());
    return kOk;
}

} // namespace

int fetchMail(const Parsed& p) {
    const bool listing = p.has("--list");
    if (listing == p.has("--dir") || (listing && (p.has("--new") || p.has("--delete")))) {
        error("fetch needs either --list or --dir DIR (--new and --delete go with --dir)");
        return kUsage;
    }
    Session s{p, {}, {}};
    int status = configure(p, s.mailMan);
    if (status == kOk)
        status = listing ? list(s) : fetchInto(s);
    std::fprintf(stderr, "%s", s.log.c_str());
    return status;
}

} // namespace nvmail
