// The e-mail object's speed, in one run:
//  - building an Email2 from MIME text over the MIME parser's corpus (5,000 messages of
//    1-20 KB; 20 messages with 1-20 MB attachments), against the bare MIME parse of the same
//    text: the model should cost little on top of parsing;
//  - rendering 5,000 composed e-mails (text and HTML alternative, one or two attachments of
//    4-40 KB) against GMime 3 writing equivalent messages with g_mime_object_write_to_stream.
// A summary after the runs prints the medians and the two ratios, and how render time grows
// with the size of an attachment (4x the size should take about 4x the time).

#include "MedianReporter.h"
#include "MimeCorpus.h"
#include "common/LogBase.h"
#include "email/Email2.h"
#include "mime/MimeMessage2.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>

#ifdef NORVANE_HAVE_GMIME
#include <gmime/gmime.h>
#endif

using namespace norvane;

namespace {

using mime_corpus::Corpus;

using mime_corpus::largeCorpus;
using mime_corpus::smallCorpus;

void reportCorpus(benchmark::State& st, const Corpus& c) {
    norvane::bench::reportThroughput(st, c.totalBytes, c.messages.size());
}

void BM_Parse(benchmark::State& st, const Corpus& (*corpus)()) {
    const Corpus& c = corpus();
    LogNull log;
    for (auto _ : st) {
        for (const std::string& m : c.messages) {
            MimeMessage2 tree;
            tree.loadFromText(m, log);
            benchmark::DoNotOptimize(tree.partCount());
        }
    }
    reportCorpus(st, c);
}

void BM_FromMime(benchmark::State& st, const Corpus& (*corpus)()) {
    const Corpus& c = corpus();
    LogNull log;
    for (auto _ : st) {
        for (const std::string& m : c.messages) {
            auto e = Email2::fromMime(m, log);
            benchmark::DoNotOptimize(e->partCount());
        }
    }
    reportCorpus(st, c);
}

// ---- composed e-mails ----

// What one composed e-mail holds; both libraries build their message from it.
struct Shape {
    std::string fromName, from, toName, to, cc, subject, text, html;
    std::vector<std::pair<std::string, std::string>> files; // name, bytes
};

const char* const kWords[] = {"report",
                              "quarter",
                              "figures",
                              "caf\xC3\xA9",
                              "K\xC3\xB6ln",
                              "meeting",
                              "budget",
                              "na\xC3\xAFve",
                              "plan",
                              "r\xC3\xA9sum\xC3\xA9",
                              "team",
                              "deadline",
                              "update",
                              "stra\xC3\x9F"
                              "e"};

std::string words(std::mt19937_64& rng, size_t bytes) {
    std::string s;
    size_t col = 0;
    while (s.size() < bytes) {
        const std::string w = kWords[rng() % std::size(kWords)];
        s += w;
        col += w.size() + 1;
        if (col > 66) {
            s += "\r\n";
            col = 0;
        } else {
            s += ' ';
        }
    }
    return s;
}

std::vector<Shape> makeShapes(size_t count) {
    std::mt19937_64 rng(20240601);
    std::vector<Shape> out;
    for (size_t i = 0; i < count; ++i) {
        Shape s;
        s.fromName = "Ann Lee";
        s.from = "ann" + std::to_string(i) + "@example.com";
        s.toName = "Bob M\xC3\xBCller";
        s.to = "bob@example.org";
        s.cc = "team" + std::to_string(i % 7) + "@example.net";
        s.subject = "Quarterly " + words(rng, 30);
        std::erase(s.subject, '\r');
        std::erase(s.subject, '\n');
        s.text = words(rng, 1000 + rng() % 2000);
        s.html = "<html><body><p>" + words(rng, 1500 + rng() % 2500) + "</p></body></html>";
        const size_t files = 1 + rng() % 2;
        for (size_t f = 0; f < files; ++f) {
            std::string data(4096 + rng() % (36 * 1024), '\0');
            for (char& c : data)
                c = static_cast<char>(rng());
            s.files.emplace_back("file" + std::to_string(f) + ".bin", std::move(data));
        }
        out.push_back(std::move(s));
    }
    return out;
}

const std::vector<Shape>& shapes() {
    static const std::vector<Shape> s = makeShapes(5000);
    return s;
}

std::unique_ptr<Email2> composeNorvane(const Shape& s) {
    auto e = std::make_unique<Email2>();
    (void)e->setFrom(s.fromName + " <" + s.from + ">");
    (void)e->addTo(s.toName, s.to);
    (void)e->addCc("", s.cc);
    e->setHeaderField("subject", s.subject);
    e->setBody(s.text, false);
    e->addAlternative(Email2::makeHtmlAlternativePart(s.html, e->charset()));
    for (const auto& [name, data] : s.files)
        (void)e->addDataAttachment(name, DataBuffer(std::string_view(data)), "");
    return e;
}

const std::vector<std::unique_ptr<Email2>>& norvaneEmails() {
    static const std::vector<std::unique_ptr<Email2>> v = [] {
        std::vector<std::unique_ptr<Email2>> out;
        for (const Shape& s : shapes())
            out.push_back(composeNorvane(s));
        return out;
    }();
    return v;
}

void BM_RenderNorvane(benchmark::State& st) {
    const auto& emails = norvaneEmails();
    LogNull log;
    size_t bytes = 0;
    for (auto _ : st) {
        for (const auto& e : emails) {
            StringBuffer out;
            e->renderMime(out, "", log);
            bytes += out.getSize();
            benchmark::DoNotOptimize(out.getString());
        }
    }
    st.SetBytesProcessed(static_cast<int64_t>(bytes));
    st.counters["msgs/s"] = benchmark::Counter(static_cast<double>(st.iterations() * emails.size()),
                                               benchmark::Counter::kIsRate);
}

#ifdef NORVANE_HAVE_GMIME

GMimeObject* gmimeText(const char* subtype, const std::string& utf8) {
    GMimeTextPart* t = g_mime_text_part_new_with_subtype(subtype);
    g_mime_text_part_set_text(t, utf8.c_str());
    g_mime_part_set_content_encoding(GMIME_PART(t), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    return GMIME_OBJECT(t);
}

GMimeObject* gmimeFile(const std::string& name, const std::string& data) {
    GMimePart* p = g_mime_part_new_with_type("application", "octet-stream");
    g_mime_part_set_filename(p, name.c_str());
    GMimeStream* s = g_mime_stream_mem_new_with_buffer(data.data(), data.size());
    GMimeDataWrapper* w = g_mime_data_wrapper_new_with_stream(s, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(p, w);
    g_mime_part_set_content_encoding(p, GMIME_CONTENT_ENCODING_BASE64);
    g_object_unref(w);
    g_object_unref(s);
    return GMIME_OBJECT(p);
}

GMimeMessage* composeGMime(const Shape& s, size_t i) {
    GMimeMessage* m = g_mime_message_new(TRUE);
    g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_FROM, s.fromName.c_str(), s.from.c_str());
    g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_TO, s.toName.c_str(), s.to.c_str());
    g_mime_message_add_mailbox(m, GMIME_ADDRESS_TYPE_CC, "", s.cc.c_str());
    g_mime_message_set_subject(m, s.subject.c_str(), "iso-8859-1");
    GDateTime* now = g_date_time_new_now_utc();
    g_mime_message_set_date(m, now);
    g_date_time_unref(now);
    const std::string id = "GMIME-" + std::to_string(i) + "@example.com";
    g_mime_message_set_message_id(m, id.c_str());
    GMimeMultipart* alt = g_mime_multipart_new_with_subtype("alternative");
    GMimeObject* text = gmimeText("plain", s.text);
    GMimeObject* html = gmimeText("html", s.html);
    g_mime_multipart_add(alt, text);
    g_mime_multipart_add(alt, html);
    g_object_unref(text);
    g_object_unref(html);
    GMimeMultipart* mixed = g_mime_multipart_new_with_subtype("mixed");
    g_mime_multipart_add(mixed, GMIME_OBJECT(alt));
    g_object_unref(alt);
    for (const auto& [name, data] : s.files) {
        GMimeObject* f = gmimeFile(name, data);
        g_mime_multipart_add(mixed, f);
        g_object_unref(f);
    }
    g_mime_message_set_mime_part(m, GMIME_OBJECT(mixed));
    g_object_unref(mixed);
    return m;
}

const std::vector<GMimeMessage*>& gmimeEmails() {
    static const std::vector<GMimeMessage*> v = [] {
        std::vector<GMimeMessage*> out;
        size_t i = 0;
        for (const Shape& s : shapes())
            out.push_back(composeGMime(s, i++));
        return out;
    }();
    return v;
}

void BM_RenderGMime(benchmark::State& st) {
    const auto& emails = gmimeEmails();
    size_t bytes = 0;
    for (auto _ : st) {
        for (GMimeMessage* m : emails) {
            GMimeStream* out = g_mime_stream_mem_new();
            g_mime_object_write_to_stream(GMIME_OBJECT(m), nullptr, out);
            bytes += g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out))->len;
            g_object_unref(out);
        }
    }
    st.SetBytesProcessed(static_cast<int64_t>(bytes));
    st.counters["msgs/s"] = benchmark::Counter(static_cast<double>(st.iterations() * emails.size()),
                                               benchmark::Counter::kIsRate);
}

#endif

// ---- summary ----

using norvane::bench::Median;
using norvane::bench::MedianReporter;

void printLine(const char* label, const Median& m) {
    std::printf("  %-22s %9.0f msgs/s %8.1f MB/s\n", label, m.msgsPerSec, m.mbPerSec);
}

void printSummary(const MedianReporter& rep) {
    auto get = [&rep](const std::string& name) { return rep.get(name); };
    std::printf("\n== Building from MIME (medians) ==\n");
    for (const char* corpus : {"small", "large"}) {
        const Median parse = get(std::string("Parse/") + corpus);
        const Median build = get(std::string("FromMime/") + corpus);
        printLine((std::string("parse ") + corpus).c_str(), parse);
        printLine((std::string("fromMime ") + corpus).c_str(), build);
        if (parse.msgsPerSec > 0)
            std::printf("  fromMime / parse speed %.2f (model cost on top of parsing %.0f%%)\n",
                        build.msgsPerSec / parse.msgsPerSec,
                        (parse.msgsPerSec / build.msgsPerSec - 1) * 100);
    }
    std::printf("\n== Rendering 5,000 composed e-mails (medians) ==\n");
    const Median ours = get("Render/Norvane");
    const Median gmime = get("Render/GMime");
    printLine("Norvane renderMime", ours);
    if (gmime.msgsPerSec > 0) {
        printLine("GMime write_to_stream", gmime);
        std::printf("  ratio Norvane / GMime %.2f\n", ours.msgsPerSec / gmime.msgsPerSec);
    }
}

double renderSeconds(size_t attachmentBytes) {
    std::string data(attachmentBytes, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 2654435761u) >> 11);
    Email2 e;
    e.setBody("big", false);
    (void)e.addDataAttachment("big.bin", DataBuffer(std::string_view(data)), "");
    LogNull log;
    std::vector<double> t;
    // One output buffer for every run: a fresh one would measure how fast the kernel hands out
    // zeroed pages, which dwarfs the encoding on a busy machine.
    StringBuffer out;
    for (int i = 0; i < 5; ++i) {
        out.clear();
        const auto start = std::chrono::steady_clock::now();
        e.renderMime(out, "", log);
        benchmark::DoNotOptimize(out.getString());
        t.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void printRenderLinearity() {
    std::printf(
        "\n== Rendering one attachment: time at 4x the size / time at 1x (linear ~ 4) ==\n");
    const double a = renderSeconds(12u * 1024 * 1024);
    const double b = renderSeconds(48u * 1024 * 1024);
    std::printf("  12 MB: %.1f ms   48 MB: %.1f ms   ratio %.2f\n", a * 1e3, b * 1e3, b / a);
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
        benchmark::RegisterBenchmark((std::string("Parse/") + c.name).c_str(), BM_Parse, c.corpus)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark((std::string("FromMime/") + c.name).c_str(), BM_FromMime,
                                     c.corpus)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    benchmark::RegisterBenchmark("Render/Norvane", BM_RenderNorvane)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
#ifdef NORVANE_HAVE_GMIME
    benchmark::RegisterBenchmark("Render/GMime", BM_RenderGMime)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
#endif
    std::printf("corpus: %zu messages, %.1f MB; %zu large messages, %.1f MB\n",
                smallCorpus().messages.size(), static_cast<double>(smallCorpus().totalBytes) / 1e6,
                largeCorpus().messages.size(), static_cast<double>(largeCorpus().totalBytes) / 1e6);
    // Composed outside the timing.
    (void)norvaneEmails();
#ifdef NORVANE_HAVE_GMIME
    (void)gmimeEmails();
#endif
    MedianReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    printSummary(rep);
    printRenderLinearity();
    benchmark::Shutdown();
    return 0;
}
