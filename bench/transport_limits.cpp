// The receive limits of the POP3 session against slow and hostile servers (run by
// bench/transport_limits.sh, which starts the servers and prints the figures):
//   - one 20 MB message fetched from Dovecot through a loopback proxy that passes 100 KB/s:
//     a slow but working link must never trip the minimum transfer rate;
//   - a LIST of 2,000,000 entries from a scripted peer, refused at the cap: peak memory of the
//     process (run on its own, so that nothing else raised the peak).

#include "common/Logger.h"
#include "transport/PopSessions.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace norvane;

namespace {

int port(const char* key) {
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
    return std::atoi(kv[key].c_str());
}

double peakRssMb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void Pop3Fetch20MBAt100KBps(benchmark::State& state) {
    for (auto _ : state) {
        Logger log;
        // The session's default read time-out (30 s), as an application would have it.
        auto pop = popConnect("127.0.0.1", "erin", "erinpw", port("SLOW_PROXY_PORT"), 0, 5, log);
        std::vector<int> numbers;
        std::vector<long> sizes;
        if (!pop || !pop->list(numbers, sizes, log) || numbers.empty()) {
            state.SkipWithError("login or LIST failed");
            return;
        }
        std::string raw;
        if (!pop->retr(raw, numbers.back(), log, nullptr)) {
            StringBuffer text;
            log.getLastErrorText(text);
            state.SkipWithError(("RETR failed: " + text.str()).c_str());
            return;
        }
        state.counters["message_mb"] = static_cast<double>(raw.size()) / (1 << 20);
    }
    state.counters["peak_rss_mb"] = peakRssMb();
}
BENCHMARK(Pop3Fetch20MBAt100KBps)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void Pop3List2MRefused(benchmark::State& state) {
    double before = peakRssMb();
    for (auto _ : state) {
        Logger log;
        auto pop = popConnect("127.0.0.1", "u", "p", port("LIST_PORT"), 30, 5, log);
        std::vector<int> numbers;
        std::vector<long> sizes;
        if (!pop || pop->list(numbers, sizes, log)) {
            state.SkipWithError("the listing was not refused");
            return;
        }
        state.counters["entries_kept"] = static_cast<double>(numbers.size());
    }
    state.counters["peak_rss_mb"] = peakRssMb();
    state.counters["rss_before_mb"] = before;
}
BENCHMARK(Pop3List2MRefused)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
