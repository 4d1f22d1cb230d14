// MIME parse throughput of MimeMessage2 against GMime 3 on the same in-memory corpus: 5,000
// messages of 1-20 KB and 20 messages with 1-20 MB attachments, generated with a fixed seed.
// Both sides parse the message and decode every body (transfer encoding removed, text
// converted to UTF-8). After the runs a summary prints the medians, the ratio to GMime, the
// peak memory of parsing a message with a 20 MB attachment, and how the time of hostile inputs
// grows when they grow four times (about 4 means linear).

#include "MedianReporter.h"
#include "MimeCorpus.h"
#include "common/LogBase.h"
#include "mime/MimeMessage2.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>

#ifdef NORVANE_HAVE_GMIME
#include <gmime/gmime.h>
#endif

using namespace norvane;

// ---- heap accounting for the memory measurement (operator new only: our parser's heap) ----

// The replacement operators below allocate with malloc and free with free, as they must; GCC
// cannot see that they replace the global ones and warns at every inlined call.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> gTrack{false};
std::atomic<long long> gLive{0};
std::atomic<long long> gPeak{0};

void noteAlloc(void* p) {
    if (!p || !gTrack.load(std::memory_order_relaxed))
        return;
    const long long now = gLive += static_cast<long long>(malloc_usable_size(p));
    long long peak = gPeak.load(std::memory_order_relaxed);
    while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
    }
}
void noteFree(void* p) {
    if (p && gTrack.load(std::memory_order_relaxed))
        gLive -= static_cast<long long>(malloc_usable_size(p));
}
} // namespace

void* operator new(size_t n) {
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    noteAlloc(p);
    return p;
}
void operator delete(void* p) noexcept {
    noteFree(p);
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    noteFree(p);
    std::free(p);
}

namespace {

using mime_corpus::Corpus;

using mime_corpus::largeCorpus;
using mime_corpus::smallCorpus;

size_t bodyBytes(const MimeMessage2& m) {
    size_t n = m.body().getSize();
    for (int i = 0; i < m.partCount(); ++i)
        n += bodyBytes(*m.partAt(i));
    return n;
}

size_t parseNorvane(std::string_view text) {
    LogNull log;
    MimeMessage2 m;
    m.loadFromText(text, log);
    return bodyBytes(m);
}

void report(benchmark::State& st, const Corpus& c) {
    norvane::bench::reportThroughput(st, c.totalBytes, c.messages.size());
}

void BM_Norvane(benchmark::State& st, const Corpus& (*corpus)()) {
    const Corpus& c = corpus();
    for (auto _ : st) {
        size_t n = 0;
        for (const std::string& m : c.messages)
            n += parseNorvane(m);
        benchmark::DoNotOptimize(n);
    }
    report(st, c);
}

#ifdef NORVANE_HAVE_GMIME

void decodeGMimePart(GMimeObject*, GMimeObject* part, gpointer total) {
    if (!GMIME_IS_PART(part))
        return;
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    if (!content)
        return;
    GMimeStream* out = g_mime_stream_mem_new();
    GMimeStream* target = out;
    GMimeStream* filtered = nullptr;
    const char* cs = g_mime_object_get_content_type_parameter(part, "charset");
    GMimeContentType* ct = g_mime_object_get_content_type(part);
    if (cs && g_mime_content_type_is_type(ct, "text", "*")) {
        if (GMimeFilter* f = g_mime_filter_charset_new(cs, "utf-8")) {
            filtered = g_mime_stream_filter_new(out);
            g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered), f);
            g_object_unref(f);
            target = filtered;
        }
    }
    g_mime_data_wrapper_write_to_stream(content, target);
    if (filtered) {
        g_mime_stream_flush(filtered);
        g_object_unref(filtered);
    }
    *static_cast<size_t*>(total) += g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out))->len;
    g_object_unref(out);
}

size_t parseGMime(GByteArray* text) {
    GMimeStream* s = g_mime_stream_mem_new_with_byte_array(text);
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(s), FALSE);
    GMimeParser* parser = g_mime_parser_new_with_stream(s);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    size_t n = 0;
    if (msg) {
        g_mime_message_foreach(msg, decodeGMimePart, &n);
        g_object_unref(msg);
    }
    g_object_unref(parser);
    g_object_unref(s);
    return n;
}

// GMime reads from its own stream type; the arrays are built once, outside the timing.
std::vector<GByteArray*> asByteArrays(const Corpus& c) {
    std::vector<GByteArray*> out;
    for (const std::string& m : c.messages) {
        GByteArray* a = g_byte_array_sized_new(static_cast<guint>(m.size()));
        g_byte_array_append(a, reinterpret_cast<const guint8*>(m.data()),
                            static_cast<guint>(m.size()));
        out.push_back(a);
    }
    return out;
}

void BM_GMime(benchmark::State& st, const Corpus& (*corpus)()) {
    const Corpus& c = corpus();
    static std::map<const Corpus*, std::vector<GByteArray*>> arrays;
    auto& a = arrays[&c];
    if (a.empty())
        a = asByteArrays(c);
    for (auto _ : st) {
        size_t n = 0;
        for (GByteArray* m : a)
            n += parseGMime(m);
        benchmark::DoNotOptimize(n);
    }
    report(st, c);
}

#endif

// ---- summary ----

using norvane::bench::Median;
using norvane::bench::MedianReporter;

void printThroughput(const MedianReporter& rep) {
    std::printf("\n== Parse + decode throughput (medians) ==\n");
    for (const char* corpus : {"small", "large"}) {
        auto ours = rep.medians.find(std::string("Norvane/") + corpus);
        auto theirs = rep.medians.find(std::string("GMime/") + corpus);
        if (ours == rep.medians.end())
            continue;
        std::printf("%-6s  Norvane %8.1f MB/s %9.0f msgs/s", corpus, ours->second.mbPerSec,
                    ours->second.msgsPerSec);
        if (theirs != rep.medians.end() && theirs->second.mbPerSec > 0)
            std::printf("   GMime %8.1f MB/s %9.0f msgs/s   ratio %.2f", theirs->second.mbPerSec,
                        theirs->second.msgsPerSec, ours->second.mbPerSec / theirs->second.mbPerSec);
        std::printf("\n");
    }
}

// Both parsers must have read the same content for the comparison to mean anything.
void printDecodedTotals() {
    std::printf("\n== Decoded body bytes per corpus (the same work on both sides) ==\n");
    for (const auto& [name, corpus] : {std::pair{"small", &smallCorpus}, {"large", &largeCorpus}}) {
        size_t ours = 0;
        for (const std::string& m : corpus().messages)
            ours += parseNorvane(m);
        std::printf("%-6s  Norvane %zu", name, ours);
#ifdef NORVANE_HAVE_GMIME
        size_t theirs = 0;
        for (GByteArray* a : asByteArrays(corpus())) {
            theirs += parseGMime(a);
            g_byte_array_unref(a);
        }
        std::printf("   GMime %zu", theirs);
#endif
        std::printf("\n");
    }
}

void printPeakMemory() {
    std::printf("\n== Peak memory, message with a 20 MB base64 attachment ==\n");
    const std::string crlf = mime_corpus::Generator(7).withAttachment(20u * 1024 * 1024, 0);
    std::string lf = crlf;
    sb::replaceAll(lf, "\r\n", "\n"); // line ends that need repair: the parser copies the text
    for (const auto& [name, msg] : {std::pair{"CR LF", &crlf}, {"LF only", &lf}}) {
        gPeak = 0;
        gLive = 0;
        gTrack = true;
        {
            LogNull log;
            MimeMessage2 m;
            m.loadFromText(*msg, log);
            benchmark::DoNotOptimize(bodyBytes(m));
        }
        gTrack = false;
        const double size = static_cast<double>(msg->size());
        const double peak = static_cast<double>(gPeak.load());
        std::printf("%-8s message %.1f MB, parser heap peak %.1f MB (%.2fx), with the message "
                    "%.2fx\n",
                    name, size / 1e6, peak / 1e6, peak / size, (size + peak) / size);
    }
}

double medianSeconds(const std::string& text, int runs) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(parseNorvane(text));
        t.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

std::string hostile(const std::string& kind, size_t n) {
    std::string s;
    if (kind == "header lines") {
        for (size_t i = 0; i < n; ++i)
            s += "X-Line: value\r\n";
        s += "\r\nbody";
    } else if (kind == "one header line") {
        s = "Subject: " + std::string(n * 15, 'a') + "\r\n\r\nbody";
    } else if (kind == "empty parts") {
        s = "Content-Type: multipart/mixed; boundary=e\r\n\r\n";
        for (size_t i = 0; i < n; ++i)
            s += "--e\r\n";
    } else if (kind == "tiny parts") {
        s = "Content-Type: multipart/mixed; boundary=e\r\n\r\n";
        for (size_t i = 0; i < n; ++i)
            s += "--e\r\nX: y\r\n\r\nz\r\n";
    } else if (kind == "deep nesting") {
        for (size_t i = 0; i < n / 8; ++i)
            s += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) +
                 "x\"\r\n\r\n--b" + std::to_string(i) + "x\r\n";
    } else if (kind == "unclosed + bare CR") {
        s = "Content-Type: multipart/mixed; boundary=u\r\n\r\n--u\r\n";
        for (size_t i = 0; i < n; ++i)
            s.append("line\rwith\0cr\r\n", 15);
    }
    return s;
}

void printLinearity() {
    std::printf("\n== Hostile inputs: time at 4x the size / time at 1x (linear ~ 4) ==\n");
    for (const char* kind : {"header lines", "one header line", "empty parts", "tiny parts",
                             "deep nesting", "unclosed + bare CR"}) {
        const std::string small = hostile(kind, 50000);
        const std::string big = hostile(kind, 200000);
        const double a = medianSeconds(small, 5);
        const double b = medianSeconds(big, 5);
        std::printf("%-20s %6.2f MB: %8.2f ms   %6.2f MB: %8.2f ms   ratio %.2f\n", kind,
                    static_cast<double>(small.size()) / 1e6, a * 1e3,
                    static_cast<double>(big.size()) / 1e6, b * 1e3, b / a);
    }
}

} // namespace

int main(int argc, char** argv) {
#ifdef NORVANE_HAVE_GMIME
    g_mime_init();
#endif
    benchmark::Initialize(&argc, argv);
    const struct {
        const char* name;
        const Corpus& (*corpus)();
    } corpora[] = {{"small", smallCorpus}, {"large", largeCorpus}};
    for (const auto& c : corpora) {
        benchmark::RegisterBenchmark((std::string("Norvane/") + c.name).c_str(), BM_Norvane,
                                     c.corpus)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
#ifdef NORVANE_HAVE_GMIME
        benchmark::RegisterBenchmark((std::string("GMime/") + c.name).c_str(), BM_GMime, c.corpus)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
#endif
    }
    std::printf("corpus: %zu messages, %.1f MB; %zu large messages, %.1f MB\n",
                smallCorpus().messages.size(), static_cast<double>(smallCorpus().totalBytes) / 1e6,
                largeCorpus().messages.size(), static_cast<double>(largeCorpus().totalBytes) / 1e6);
    MedianReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    printThroughput(rep);
    printDecodedTotals();
    printPeakMemory();
    printLinearity();
    benchmark::Shutdown();
    return 0;
}
