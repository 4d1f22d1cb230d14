// Memory of sending one large e-mail over SMTP: an e-mail with a text body and a 37.5 MB
// binary attachment (about 50 MB rendered) is sent to the fast SMTP sink (bench/sink/smtp_sink,
// started here from the same build directory and stopped by its PID). The summary prints the
// peak resident memory above what the process held with the e-mail built, for rendering alone
// and for the whole send, as a multiple of the rendered size. Each figure comes from a process
// of its own whose high-water mark was reset first.

#include "common/LogBase.h"
#include "email/Email2.h"
#include "transport/Email2SmtpMail.h"
#include "transport/SmtpConnImpl.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>

using namespace norvane;

namespace {

long statusKb(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kb = -1;
    const size_t len = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, len) == 0)
            kb = std::atol(line + len + 1);
    std::fclose(f);
    return kb;
}

// Peak resident bytes of work() above the resident size before it, in a child process.
double peakAbove(const std::function<bool()>& work) {
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        malloc_trim(0);
        const int clear = open("/proc/self/clear_refs", O_WRONLY);
        if (clear >= 0) {
            (void)!write(clear, "5", 1);
            close(clear);
        }
        const long before = statusKb("VmRSS:");
        const bool ok = work();
        const double bytes = ok ? static_cast<double>(statusKb("VmHWM:") - before) * 1024.0 : -1;
        (void)!write(fds[1], &bytes, sizeof bytes);
        _exit(0);
    }
    double bytes = -1;
    (void)!read(fds[0], &bytes, sizeof bytes);
    close(fds[0]);
    close(fds[1]);
    waitpid(pid, nullptr, 0);
    return bytes;
}

// Starts the sink next to this program; its port, or 0.
int startSink(const char* self, pid_t& pid) {
    std::string dir(self);
    dir = dir.substr(0, dir.rfind('/') + 1);
    const std::string sink = dir + "smtp_sink";
    int fds[2];
    if (pipe(fds) != 0)
        return 0;
    pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(sink.c_str(), sink.c_str(), "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char buf[64] = {};
    const ssize_t n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    return n > 5 && std::strncmp(buf, "PORT ", 5) == 0 ? std::atoi(buf + 5) : 0;
}

} // namespace

int main(int, char** argv) {
    pid_t sinkPid = 0;
    const int port = startSink(argv[0], sinkPid);
    if (port == 0) {
        std::fprintf(stderr, "smtp_send_memory: could not start smtp_sink\n");
        return 1;
    }
    Email2 email;
    (void)email.setFrom("bench@test.invalid");
    (void)email.addTo("Sink", "sink@test.invalid");
    email.setHeaderField("Subject", "large");
    email.setBody("The archive is attached.\r\n", false);
    std::string data(37'500'000, '\0');
    std::mt19937_64 rng(7);
    for (size_t i = 0; i + 8 <= data.size(); i += 8) {
        const uint64_t v = rng();
        std::memcpy(&data[i], &v, 8);
    }
    (void)email.addDataAttachment("archive.bin", DataBuffer(std::string_view(data)),
                                  "application/octet-stream");
    data.clear();
    data.shrink_to_fit();
    size_t rendered = 0;
    {
        LogNull log;
        StringBuffer out;
        email.renderMime(out, "NVX-", log);
        rendered = out.getSize();
    }
    const double render = peakAbove([&] {
        LogNull log;
        StringBuffer out;
        email.renderMime(out, "NVX-", log);
        benchmark::DoNotOptimize(out.getSize());
        return true;
    });
    const double send = peakAbove([&] {
        LogNull log;
        SmtpConnImpl s;
        if (!s.connect("127.0.0.1", port, {}, {}, {}, {}, 5, 30000, log))
            return false;
        Email2SmtpMail mail(email);
        DistributionList bad;
        SmtpSendCounts counts;
        return s.sendEmail(mail, nullptr, {}, log, nullptr, counts, bad);
    });
    kill(sinkPid, SIGTERM);
    waitpid(sinkPid, nullptr, 0);
    const double r = static_cast<double>(rendered);
    std::printf("rendered size %.1f MB\n", r / 1e6);
    std::printf("render alone: peak above the built e-mail %.1f MB (%.2fx the rendered size)\n",
                render / 1e6, render / r);
    std::printf("SMTP send:    peak above the built e-mail %.1f MB (%.2fx the rendered size)%s\n",
                send / 1e6, send / r, send < 0 ? "  SEND FAILED" : "");
    return 0;
}
