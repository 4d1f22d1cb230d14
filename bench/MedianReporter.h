#pragma once
// Console reporter that also keeps each benchmark's median throughput, so that a program can
// print its comparison table (ours against the peer libraries) after the runs.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace norvane::bench {

struct Median {
    double mbPerSec = 0;
    double msgsPerSec = 0;
};

class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.aggregate_name != "median")
                continue;
            Median& m = medians[r.run_name.function_name];
            if (auto it = r.counters.find("bytes_per_second"); it != r.counters.end())
                m.mbPerSec = it->second.value / 1e6;
            if (auto it = r.counters.find("msgs/s"); it != r.counters.end())
                m.msgsPerSec = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The median of a benchmark by its function name; zeros when it did not run.
    [[nodiscard]] Median get(const std::string& name) const {
        auto it = medians.find(name);
        return it == medians.end() ? Median{} : it->second;
    }

    std::map<std::string, Median> medians;
};

// Bytes and messages per second of one pass over `messages` messages of `bytes` bytes in all.
inline void reportThroughput(benchmark::State& st, size_t bytes, size_t messages) {
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(bytes));
    st.counters["msgs/s"] = benchmark::Counter(static_cast<double>(st.iterations() * messages),
                                               benchmark::Counter::kIsRate);
}

} // namespace norvane::bench
