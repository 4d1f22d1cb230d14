// Transport throughput against the real test servers (started by bench/transport.sh, which
// also runs Python's smtplib and poplib on the same work and prints the ratios):
//   - 1,000 small messages sent in one SMTP session to the recording sink (which does not
//     offer PIPELINING: one command at a time), and to the fast sink (bench/sink/smtp_sink.cpp,
//     which does: the envelope of each message goes in one write), where the server's own
//     cost is close to nothing;
//   - 1,000 e-mail objects rendered and sent in one session to the fast sink;
//   - 1,000 messages fetched in one POP3 session from Dovecot, and from the fast POP3 server
//     (bench/sink/pop3_server.cpp): one retr after another, and all in one retrMany, which
//     pipelines the RETR commands (both servers list PIPELINING);
//   - one 20 MB message fetched over POP3 and over POP3 with TLS (MB/s, peak memory);
//   - through the public mail manager: small e-mails built and sent one SendEmail call at a time
//     through Exim, 1,000 with the session kept between calls and 100 with one per call;
//   - 50 SMTP sessions to Dovecot's submission port in the clear and with STARTTLS (what TLS
//     adds to setting up a session);
//   - through the public mail manager: 1,000 small e-mails built and sent as one bundle (one
//     session) to the recording sink and to the fast sink, and 1,000 messages taken from Dovecot by
//     TransferMail (fetched, parsed, deleted, QUIT), the mailbox refilled before each repetition.
//     These report the process's own CPU time around the call (counter client_cpu_s).

#include "common/Logger.h"
#include "email/Email2.h"
#include "facade/ClsEmail.h"
#include "facade/ClsEmailBundle.h"
#include "facade/ClsMailMan.h"
#include "transport/Email2SmtpMail.h"
#include "transport/PopSessions.h"
#include "transport/SChannel.h"
#include "transport/SmtpConnImpl.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace norvane;

namespace {

std::map<std::string, std::string> env() {
    static std::map<std::string, std::string> kv = [] {
        std::map<std::string, std::string> m;
        const char* path = std::getenv("NORVANE_TRANSPORT_ENV");
        std::ifstream in(path ? path : "");
        std::string line;
        while (std::getline(in, line))
            if (auto eq = line.find('='); eq != std::string::npos)
                m[line.substr(0, eq)] = line.substr(eq + 1);
        return m;
    }();
    return kv;
}

int port(const char* key) {
    return std::atoi(env()[key].c_str());
}

const std::string kSmall = "From: bench@test.invalid\r\nTo: sink@test.invalid\r\n"
                           "Subject: bench\r\n\r\n" +
                           std::string(20, 'x') + "\r\nA small message body line.\r\n";

void sendSmall(benchmark::State& state, const char* portKey) {
    for (auto _ : state) {
        SmtpConnImpl s;
        LogNull log;
        if (!s.connect("127.0.0.1", port(portKey), {}, {}, {}, {}, 5, 30000, log)) {
            state.SkipWithError("connect failed");
            return;
        }
        for (int i = 0; i < 1000; ++i)
            if (!s.sendMimeTo("bench@test.invalid", std::vector<std::string>{"sink@test.invalid"},
                              kSmall, log)) {
                state.SkipWithError("send failed");
                return;
            }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

// To the recording sink (Python, writes every message to disk) and to the fast sink.
void SmtpSend1000(benchmark::State& state) {
    sendSmall(state, "SINK_PORT");
}
void SmtpSend1000Fast(benchmark::State& state) {
    sendSmall(state, "FAST_SINK_PORT");
}

// Real e-mail objects, rendered for every transaction as the mail manager sends them.
void SmtpSendEmail1000Fast(benchmark::State& state) {
    Email2 email;
    (void)email.setFrom("Bench Sender <bench@test.invalid>");
    email.addTo("Sink", "sink@test.invalid");
    email.setHeaderField("Subject", "bench");
    email.setBody(std::string(20, 'x') + "\r\nA small message body line.\r\n", false);
    Email2SmtpMail mail(email);
    for (auto _ : state) {
        SmtpConnImpl s;
        LogNull log;
        if (!s.connect("127.0.0.1", port("FAST_SINK_PORT"), {}, {}, {}, {}, 5, 30000, log)) {
            state.SkipWithError("connect failed");
            return;
        }
        DistributionList bad;
        for (int i = 0; i < 1000; ++i) {
            SmtpSendCounts counts;
            if (!s.sendEmail(mail, nullptr, {}, log, nullptr, counts, bad)) {
                state.SkipWithError("send failed");
                return;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

void fetchSmall(benchmark::State& state, const char* portKey) {
    for (auto _ : state) {
        Logger log;
        auto pop = popConnect("127.0.0.1", "bench", "benchpw", port(portKey), 30, 5, log);
        if (!pop) {
            state.SkipWithError("login failed");
            return;
        }
        std::string raw;
        for (int i = 1; i <= 1000; ++i)
            if (!pop->retr(raw, i, log, nullptr)) {
                state.SkipWithError("RETR failed");
                return;
            }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

void fetchSmallPipelined(benchmark::State& state, const char* portKey) {
    std::vector<int> numbers;
    for (int i = 1; i <= 1000; ++i)
        numbers.push_back(i);
    for (auto _ : state) {
        Logger log;
        auto pop = popConnect("127.0.0.1", "bench", "benchpw", port(portKey), 30, 5, log);
        if (!pop) {
            state.SkipWithError("login failed");
            return;
        }
        std::vector<std::string> raw;
        if (!pop->retrMany(numbers, raw, log, nullptr)) {
            state.SkipWithError("RETR failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

// From Dovecot, and from the fast server (bench/sink/pop3_server.cpp).
void Pop3Fetch1000(benchmark::State& state) {
    fetchSmall(state, "POP3_PORT");
}
void Pop3Fetch1000Fast(benchmark::State& state) {
    fetchSmall(state, "FAST_POP3_PORT");
}

void Pop3RetrMany1000(benchmark::State& state) {
    fetchSmallPipelined(state, "POP3_PORT");
}
void Pop3RetrMany1000Fast(benchmark::State& state) {
    fetchSmallPipelined(state, "FAST_POP3_PORT");
}

void fetchBig(benchmark::State& state, bool tls) {
    size_t bytes = 0;
    for (auto _ : state) {
        Logger log;
        std::unique_ptr<PopConnImpl> pop;
        if (tls)
            pop = popTlsConnect("localhost", "erin", "erinpw", port("POP3S_PORT"), 60, 5, log);
        else
            pop = popConnect("127.0.0.1", "erin", "erinpw", port("POP3_PORT"), 60, 5, log);
        std::string raw;
        if (!pop || !pop->retr(raw, 1, log, nullptr)) {
            state.SkipWithError("fetch failed");
            return;
        }
        // What the e-mail is built from: the text unstuffed, in the same storage.
        PopConnImpl::toMessageText(raw);
        bytes += raw.size();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak_rss_mb"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void Pop3Fetch20MB(benchmark::State& state) {
    fetchBig(state, false);
}
void Pop3TlsFetch20MB(benchmark::State& state) {
    SChannel::setDefaultCaFile(env()["CA_FILE"]);
    fetchBig(state, true);
}

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return sec(ru.ru_utime) + sec(ru.ru_stime);
}

// Wall and CPU seconds of one call, added to the benchmark's manual time and counter.
template <class F>
bool measured(benchmark::State& state, double& cpuTotal, F&& call) {
    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    const bool ok = call();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count());
    cpuTotal += cpuSeconds() - cpu0;
    return ok;
}

// The e-mails are built in the timed call, as Python builds its message objects.
void sendBundle(benchmark::State& state, const char* portKey) {
    double cpu = 0;
    for (auto _ : state) {
        const bool ok = measured(state, cpu, [portKey] {
            ClsEmailBundle bundle;
            for (int i = 0; i < 1000; ++i) {
                ClsEmail email;
                email.put_From("Bench Sender <bench@test.invalid>");
                (void)email.AddTo("Sink", "sink@test.invalid");
                email.put_Subject(("bench " + std::to_string(i)).c_str());
                email.put_Body("A small message body line.\r\nAnd a second one.\r\n");
                (void)bundle.AddEmail(&email);
            }
            ClsMailMan man;
            man.put_SmtpHost("127.0.0.1");
            man.put_SmtpPort(port(portKey));
            return man.SendBundle(&bundle);
        });
        if (!ok) {
            state.SkipWithError("SendBundle failed");
            return;
        }
    }
    state.counters["client_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

// To the recording sink, and to the fast sink, where the server's own cost is close to nothing.
void SendBundle(benchmark::State& state) {
    sendBundle(state, "SINK_PORT");
}
void SendBundleFast(benchmark::State& state) {
    sendBundle(state, "FAST_SINK_PORT");
}

// The same 1,000 messages bench/transport.sh puts there, owned by Dovecot's user.
void refillBenchMailbox() {
    namespace fs = std::filesystem;
    const std::string md = env()["MAIL_ROOT"] + "/bench/Maildir";
    std::error_code ec;
    for (const char* sub : {"new", "cur", "tmp"})
        for (const auto& e : fs::directory_iterator(md + "/" + sub, ec))
            fs::remove(e.path(), ec);
    const passwd* pw = ::getpwnam("dovecot");
    std::string lines;
    for (int i = 0; i < 20; ++i)
        lines += "A small message line.\r\n";
    for (int i = 0; i < 1000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%06d.m", i);
        const std::string path = md + "/new/" + name;
        std::ofstream(path, std::ios::binary)
            << "From: a@test.invalid\r\nSubject: m " << i << "\r\n\r\n"
            << lines;
        if (pw)
            (void)::chown(path.c_str(), pw->pw_uid, pw->pw_gid);
    }
}

void TransferMail(benchmark::State& state) {
    double cpu = 0;
    for (auto _ : state) {
        refillBenchMailbox();
        const bool ok = measured(state, cpu, [] {
            ClsMailMan man;
            man.put_MailHost("127.0.0.1");
            man.put_MailPort(port("POP3_PORT"));
            man.put_PopUsername("bench");
            man.put_PopPassword("benchpw");
            auto bundle = man.TransferMail();
            return bundle && bundle->get_MessageCount() == 1000;
        });
        if (!ok) {
            state.SkipWithError("TransferMail failed");
            return;
        }
    }
    refillBenchMailbox(); // later works read the mailbox as transport.sh filled it
    state.counters["client_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

// E-mails built and sent one SendEmail call at a time through Exim: 1,000 with the session kept
// between calls (the default), and 100 with one session per call (Exim takes about 0.2 s to
// accept and end a connection here, so 1,000 would take minutes).
void sendEmails(benchmark::State& state, int keepAliveSeconds, int count) {
    double cpu = 0;
    for (auto _ : state) {
        const bool ok = measured(state, cpu, [keepAliveSeconds, count] {
            ClsMailMan man;
            man.put_SmtpHost("127.0.0.1");
            man.put_SmtpPort(port("EXIM_CYRUS_PORT"));
            man.put_SmtpKeepAliveSeconds(keepAliveSeconds);
            for (int i = 0; i < count; ++i) {
                ClsEmail email;
                email.put_From("Bench Sender <bench@test.invalid>");
                (void)email.AddTo("Sink", "sink@test.invalid");
                email.put_Subject(("bench " + std::to_string(i)).c_str());
                email.put_Body("A small message body line.\r\nAnd a second one.\r\n");
                if (!man.SendEmail(&email))
                    return false;
            }
            return true;
        });
        if (!ok) {
            state.SkipWithError("SendEmail failed");
            return;
        }
    }
    state.counters["client_cpu_s"] = cpu / static_cast<double>(state.iterations());
}

void SendEmail1000Exim(benchmark::State& state) {
    sendEmails(state, 60, 1000);
}
void SendEmail100EximNoReuse(benchmark::State& state) {
    sendEmails(state, 0, 100);
}

// 50 SMTP sessions to Dovecot's submission port (greeting, EHLO, QUIT), in the clear and with
// STARTTLS and the second EHLO: the difference is what TLS adds to a session.
void smtpSessions(benchmark::State& state, TlsMode mode) {
    SChannel::setDefaultCaFile(env()["CA_FILE"]);
    for (auto _ : state) {
        for (int i = 0; i < 50; ++i) {
            SmtpConnImpl s;
            s.setTlsMode(mode);
            LogNull log;
            if (!s.connect("127.0.0.1", port("SUBMISSION_PORT"), {}, {}, {}, {}, 5, 30000, log) ||
                s.encrypted() != (mode != TlsMode::None)) {
                state.SkipWithError("connect failed");
                return;
            }
        }
    }
}

void SmtpSessions50(benchmark::State& state) {
    smtpSessions(state, TlsMode::None);
}
void SmtpStartTlsSessions50(benchmark::State& state) {
    smtpSessions(state, TlsMode::StartTlsRequired);
}

} // namespace

BENCHMARK(SendEmail1000Exim)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(SendEmail100EximNoReuse)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(SmtpSessions50)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SmtpStartTlsSessions50)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SmtpSend1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SmtpSend1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SmtpSendEmail1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3Fetch1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3Fetch1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3RetrMany1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3RetrMany1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3Fetch20MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3TlsFetch20MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SendBundle)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(SendBundleFast)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(TransferMail)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);

BENCHMARK_MAIN();
