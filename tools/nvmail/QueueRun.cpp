// nvmail queue-run: sends the e-mails queued as files in a directory, each with the SMTP
// settings it carries, and files them under sent/ or failed/.
//
// One runner per directory: an exclusive lock on DIR/.lock, held for the whole run, keeps a
// second runner (from cron, systemd or by hand) from sending the same file. Only complete
// files are taken: queueing writes under a hidden name and links the finished file as
// e_*.eml. A file moves to sent/ as soon as the server's reply says it has taken the message,
// before the session ends. A runner killed at any moment loses nothing; only a message in
// flight at the kill (taken by the server, its reply not yet read) goes out again on the
// next run, as with any SMTP client.

#include "Commands.h"

#include "norvane/MailMan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

namespace nvmail {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onStop(int) {
    g_stop = 1;
}

// The complete queue files in dir, oldest name first.
std::vector<std::string> queueFiles(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view n = e->d_name;
        if (n.starts_with("e_") && n.ends_with(".eml"))
            names.emplace_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool moveInto(const std::string& dir, const std::string& sub, const std::string& name) {
    const std::string target = dir + "/" + sub;
    if (::mkdir(target.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return ::rename((dir + "/" + name).c_str(), (target + "/" + name).c_str()) == 0;
}

bool writeText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

struct Tally {
    int sent = 0, retry = 0, failed = 0;
};

void runOnce(const std::string& dir, bool verbose, Tally& tally) {
    for (const std::string& name : queueFiles(dir)) {
        if (g_stop)
            return;
        norvane::MailMan mm;
        const int r = mm.SendQueueFile((dir + "/" + name).c_str(), (dir + "/sent").c_str());
        const std::string log = mm.get_LastErrorText();
        if (r > 0) {
            ++tally.sent;
            std::printf("sent %s\n", name.c_str());
        } else if (r == -2) {
            // Left in place it would go out again: stop rather than send it twice.
            error("sent " + name + " but cannot move it to sent/; stopping");
            g_stop = 1;
            ++tally.failed;
        } else if (r < 0 && moveInto(dir, "failed", name)) {
            ++tally.failed;
            (void)writeText(dir + "/failed/" + name + ".log", log);
            error("cannot send " + name + "; moved to failed/ (see failed/" + name + ".log)");
        } else {
            ++tally.retry;
            error("not sent now, kept for the next run: " + name);
        }
        if (verbose)
            std::fprintf(stderr, "%s", log.c_str());
        std::fflush(stdout);
    }
}

} // namespace

int queueRun(const Parsed& p) {
    const std::string dir = p.operands[0];
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error("not a directory: " + dir);
        return kFailed;
    }
    const int lockFd = ::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0 || ::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        error("another runner holds " + dir + "/.lock");
        if (lockFd >= 0)
            ::close(lockFd);
        return kFailed;
    }
    int interval = 0;
    if (p.has("--watch")) {
        interval = std::atoi(p.value("--watch").c_str());
        if (interval <= 0) {
            error("--watch needs a number of seconds above 0");
            ::close(lockFd);
            return kUsage;
        }
    }
    std::signal(SIGTERM, onStop);
    std::signal(SIGINT, onStop);
    Tally tally;
    do {
        runOnce(dir, p.wantsLog(), tally);
        for (int waited = 0; interval > 0 && waited < interval * 10 && !g_stop; ++waited)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (interval > 0 && !g_stop);
    ::close(lockFd);
    std::printf("%d sent, %d kept for later, %d failed\n", tally.sent, tally.retry, tally.failed);
    return tally.retry == 0 && tally.failed == 0 ? kOk : kFailed;
}

} // namespace nvmail
