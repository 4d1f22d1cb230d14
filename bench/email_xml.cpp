// The XML form's speed on a bundle of 1,000 composed e-mails (plain text and HTML
// alternative, one attachment of 4-40 KB, To and Cc): writing the bundle XML and reading it
// back into a bundle, reported as e-mails per second. For scale the same e-mails are rendered
// to MIME text and built from it: writing XML renders each e-mail and parses the result, so it
// should cost about a render plus a parse; reading parses the XML and then builds as fromMime
// does. A summary prints the medians and the ratios.

#include "common/LogBase.h"
#include "store/EmailXml.h"
#include "store/MailBundle.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>

using namespace norvane;

namespace {

constexpr int kEmails = 1000;

std::string words(std::mt19937_64& rng, size_t n) {
    static const char* const kWords[] = {"mail",        "report", "quarter", "numbers", "meeting",
                                         "caf\xC3\xA9", "team",   "budget",  "review",  "plan"};
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kWords[rng() % 10];
        s += (i % 12 == 11) ? "\r\n" : " ";
    }
    return s;
}

const MailBundle& bundle() {
    static MailBundle b;
    static const bool filled = [] {
        MailBundle* out = &b;
        std::mt19937_64 rng(20240611);
        for (int i = 0; i < kEmails; ++i) {
            auto e = std::make_unique<Email2>();
            (void)e->setFrom("Ann Lee <ann" + std::to_string(i) + "@example.com>");
            (void)e->addTo("Bob M\xC3\xBCller", "bob@example.org");
            (void)e->addCc("", "team" + std::to_string(i % 7) + "@example.net");
            e->setHeaderField("subject", "Quarterly report " + std::to_string(i));
            e->setBody(words(rng, 300 + rng() % 600), false);
            e->addAlternative(Email2::makeHtmlAlternativePart(
                "<html><body><p>" + words(rng, 400 + rng() % 800) + "</p></body></html>",
                e->charset()));
            std::string data(4096 + rng() % (36 * 1024), '\0');
            for (char& c : data)
                c = static_cast<char>(rng());
            (void)e->addDataAttachment("file.bin", DataBuffer(std::string_view(data)), "");
            out->add(std::move(e));
        }
        return true;
    }();
    (void)filled;
    return b;
}

const std::string& bundleXml() {
    static const std::string xml = [] {
        std::string out;
        LogNull log;
        bundle().toXml(out, log);
        return out;
    }();
    return xml;
}

const std::vector<std::string>& mimeTexts() {
    static const std::vector<std::string> v = [] {
        std::vector<std::string> out;
        LogNull log;
        for (int i = 0; i < bundle().count(); ++i) {
            StringBuffer m;
            bundle().get(i)->renderMime(m, "", log);
            out.push_back(m.str());
        }
        return out;
    }();
    return v;
}

void report(benchmark::State& st, size_t bytes) {
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(bytes));
    st.counters["emails/s"] = benchmark::Counter(static_cast<double>(st.iterations() * kEmails),
                                                 benchmark::Counter::kIsRate);
}

void BM_XmlWrite(benchmark::State& st) {
    LogNull log;
    // One output buffer for every run and repetition: a fresh 40 MB string would measure how
    // fast the kernel hands out zeroed pages, which dwarfs the writing on this machine.
    static std::string out;
    out.reserve(bundleXml().size());
    for (auto _ : st) {
        out.clear();
        bundle().toXml(out, log);
        benchmark::DoNotOptimize(out.data());
    }
    report(st, bundleXml().size());
}

void BM_XmlRead(benchmark::State& st) {
    LogNull log;
    for (auto _ : st) {
        MailBundle b;
        if (!b.loadXml(bundleXml(), log) || b.count() != kEmails)
            st.SkipWithError("bundle did not load");
        benchmark::DoNotOptimize(b.count());
    }
    report(st, bundleXml().size());
}

size_t mimeBytes() {
    size_t n = 0;
    for (const std::string& m : mimeTexts())
        n += m.size();
    return n;
}

void BM_MimeRender(benchmark::State& st) {
    LogNull log;
    StringBuffer out;
    for (auto _ : st) {
        for (int i = 0; i < bundle().count(); ++i) {
            out.clear();
            bundle().get(i)->renderMime(out, "", log);
            benchmark::DoNotOptimize(out.getString());
        }
    }
    report(st, mimeBytes());
}

void BM_MimeRead(benchmark::State& st) {
    LogNull log;
    for (auto _ : st) {
        for (const std::string& m : mimeTexts()) {
            auto e = Email2::fromMime(m, log);
            benchmark::DoNotOptimize(e->partCount());
        }
    }
    report(st, mimeBytes());
}

class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.aggregate_name == "median")
                if (auto it = r.counters.find("emails/s"); it != r.counters.end())
                    medians[r.run_name.function_name] = it->second.value;
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

void printSummary(const MedianReporter& rep) {
    auto get = [&rep](const char* name) {
        auto it = rep.medians.find(name);
        return it == rep.medians.end() ? 0.0 : it->second;
    };
    const double write = get("Xml/Write"), read = get("Xml/Read");
    const double render = get("Mime/Render"), build = get("Mime/FromMime");
    std::printf("\n== Bundle of %d e-mails, %.1f MB of XML (medians) ==\n", kEmails,
                static_cast<double>(bundleXml().size()) / 1e6);
    std::printf("  XML write        %9.0f e-mails/s\n", write);
    std::printf("  XML read         %9.0f e-mails/s\n", read);
    std::printf("  MIME render      %9.0f e-mails/s\n", render);
    std::printf("  MIME fromMime    %9.0f e-mails/s\n", build);
    if (render > 0 && build > 0)
        std::printf("  XML write / render %.2f   XML read / fromMime %.2f\n", write / render,
                    read / build);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::pair<const char*, void (*)(benchmark::State&)> benches[] = {
        {"Xml/Write", BM_XmlWrite},
        {"Xml/Read", BM_XmlRead},
        {"Mime/Render", BM_MimeRender},
        {"Mime/FromMime", BM_MimeRead}};
    for (const auto& [name, fn] : benches)
        benchmark::RegisterBenchmark(name, fn)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    // Composed and rendered outside the timing.
    (void)bundleXml();
    (void)mimeTexts();
    MedianReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    printSummary(rep);
    benchmark::Shutdown();
    return 0;
}
