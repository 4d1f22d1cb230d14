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
//   - one 20 MB message fetched over POP3 and over POP3 with TLS (MB/s, peak memory).

#include "common/Logger.h"
#include "email/Email2.h"
#include "transport/Email2SmtpMail.h"
#include "transport/PopSessions.h"
#include "transport/SChannel.h"
#include "transport/SmtpConnImpl.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
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

} // namespace

BENCHMARK(SmtpSend1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SmtpSend1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(SmtpSendEmail1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3Fetch1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3Fetch1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3RetrMany1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3RetrMany1000Fast)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3Fetch20MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(Pop3TlsFetch20MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK_MAIN();
