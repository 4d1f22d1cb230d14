// nvmail mbox: lists the messages of a Unix mailbox file, or saves one of them as an .eml.
//
// The file is loaded through the public mail manager, so the listing shows what a program using
// the library gets: the last message of the file has index 0. Everything printed comes from the
// messages, so control characters are replaced before they reach the terminal.

#include "Commands.h"

#include "Posix.h"

#include "norvane/Email.h"
#include "norvane/EmailBundle.h"
#include "norvane/MailMan.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cstdio>

using norvane::Email;
using norvane::EmailBundle;

namespace nvmail {

namespace {

// One field of a tab-separated line: control characters (tabs and line ends included) become
// spaces or '?'.
std::string field(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\t' || c == '\r' || c == '\n')
            out.push_back(' ');
        else if (u < 0x20 || u == 0x7F)
            out.push_back('?');
        else
            out.push_back(c);
    }
    return out;
}

// The loader gives an empty bundle for a file it cannot read; say why instead.
bool readable(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    int err = 0;
    if (!fd || ::fstat(fd.get(), &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    if (err != 0)
        error("cannot read " + path + ": " + systemErrorText(err));
    return err == 0;
}

void list(EmailBundle& bundle) {
    std::printf("%s\n", bold("index\tdate\tfrom\tsubject\tsize").c_str());
    for (int i = 0; i < bundle.get_MessageCount(); ++i) {
        const std::unique_ptr<Email> copy = bundle.GetEmail(i);
        if (!copy)
            continue;
        Email& e = *copy;
        std::printf("%d\t%s\t%s\t%s\t%ld\n", i, field(e.GetHeaderField("Date")).c_str(),
                    field(e.get_From()).c_str(), field(e.get_Subject()).c_str(), e.get_Size());
    }
}

int extractOne(EmailBundle& bundle, std::string_view number, const std::string& dir) {
    int index = -1;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), index);
    if (ec != std::errc() || end != number.data() + number.size() || index < 0 ||
        index >= bundle.get_MessageCount()) {
        error("no message " + std::string(number) + " (the file holds " +
              std::to_string(bundle.get_MessageCount()) + ")");
        return kFailed;
    }
    const std::unique_ptr<Email> e = bundle.GetEmail(index);
    std::string saved;
    if (!e ||
        !saveIntoDirectory(dir, "message-" + std::to_string(index) + ".eml", e->GetMime(), saved))
        return kFailed;
    std::printf("saved %s\n", saved.c_str());
    return kOk;
}

} // namespace

int mbox(const Parsed& p) {
    const bool extracting = p.has("--extract");
    if (extracting != (p.operands.size() == 2)) {
        error(extracting ? "--extract needs the directory to save into"
                         : "a directory is given only with --extract");
        return kUsage;
    }
    const std::string& path = p.operands[0];
    if (!readable(path))
        return kFailed;
    norvane::MailMan mailMan;
    std::unique_ptr<EmailBundle> bundle = mailMan.LoadMbx(path.c_str());
    const std::string loadLog = mailMan.get_LastErrorText();
    const int status = extracting ? extractOne(*bundle, p.value("--extract"), p.operands[1])
                                  : (list(*bundle), kOk);
    if (p.wantsLog())
        std::fprintf(stderr, "%s", loadLog.c_str());
    return status;
}

Command mboxCommand() {
    return {"mbox",
            "FILE [DIR]",
            "Lists the messages of a mailbox file, or saves one into DIR as an .eml.\n"
            "Each line: index, date, from, subject, size; the last message of the file comes\n"
            "first, and --extract N takes the index of that listing.",
            {{"--extract", "", "N", "save message N (an index of the listing) into DIR"}},
            1,
            2,
            mbox};
}

} // namespace nvmail
