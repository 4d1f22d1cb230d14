// MIME parse throughput of MimeMessage2 against GMime 3 and mimetic on the same in-memory
// corpora: 5,000 messages of 1-20 KB and 20 messages with 1-20 MB attachments, generated with a
// fixed seed, each once with CR LF and once with LF line ends (as mail sits in mbox files and
// Maildir folders). Every library parses the message, visits every entity, reads every header
// value and decodes every leaf body (transfer encoding removed, text converted to UTF-8).
// Rendering the trees parsed from LF text back to MIME is measured too. After the runs a
// summary prints the medians with the ratio to the best peer, the peak memory of parsing the
// large set, and how the time of hostile inputs grows when they grow four times (about 4 means
// linear).

#include "MedianReporter.h"
#include "MimeCorpus.h"
#include "common/LogBase.h"
#include "mime/MimeMessage2.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <iconv.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#ifdef NORVANE_HAVE_GMIME
#include <gmime/gmime.h>
#endif
#ifdef NORVANE_HAVE_MIMETIC
#include <mimetic/mimetic.h>
#endif

using namespace norvane;

namespace {

using mime_corpus::Corpus;

struct CorpusRef {
    const char* name;
    const Corpus& (*get)();
};
const CorpusRef kCorpora[] = {{"small", mime_corpus::smallCorpus},
                              {"large", mime_corpus::largeCorpus},
                              {"small-lf", mime_corpus::smallLfCorpus},
                              {"large-lf", mime_corpus::largeLfCorpus}};

// ---- one adapter per library: parse + decode everything, and render a parsed tree ----

struct Library {
    const char* name;
    // Parses, visits every entity and header value, decodes every leaf; returns the decoded
    // body bytes.
    std::function<size_t(const std::string&)> parseDecode;
    // Parses the corpus outside the timing; render() then writes every tree back to MIME text.
    std::function<void(const Corpus&)> load;
    std::function<size_t()> render;
    std::function<void()> unload;
};

size_t visitNorvane(const MimeMessage2& m) {
    size_t n = m.body().getSize();
    // Header values are held decoded since the parse.
    for (int i = 0; i < m.header().fieldCount(); ++i)
        benchmark::DoNotOptimize(m.header().fieldAt(i)->value().data());
    for (int i = 0; i < m.partCount(); ++i)
        n += visitNorvane(*m.partAt(i));
    return n;
}

size_t parseNorvane(const std::string& text) {
    LogNull log;
    MimeMessage2 m;
    m.loadFromText(text, log);
    return visitNorvane(m);
}

Library norvaneLibrary() {
    auto trees = std::make_shared<std::vector<std::unique_ptr<MimeMessage2>>>();
    return {"Norvane", parseNorvane,
            [trees](const Corpus& c) {
                LogNull log;
                for (const std::string& m : c.messages) {
                    trees->push_back(std::make_unique<MimeMessage2>());
                    trees->back()->loadFromText(m, log);
                }
            },
            [trees] {
                size_t n = 0;
                for (const auto& t : *trees) {
                    StringBuffer out;
                    t->render(out);
                    n += out.getSize();
                }
                return n;
            },
            [trees] { trees->clear(); }};
}

#ifdef NORVANE_HAVE_GMIME

void decodeGMimePart(GMimeObject*, GMimeObject* part, gpointer total) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(part);
    for (int i = 0; i < g_mime_header_list_get_count(headers); ++i)
        benchmark::DoNotOptimize(
            g_mime_header_get_value(g_mime_header_list_get_header_at(headers, i)));
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

// GMime reads from its own stream type; a memory stream over the caller's bytes copies nothing.
// The message reads its bodies from the stream later, so `view` must outlive it.
GMimeMessage* parseGMimeMessage(const std::string& text, GByteArray& view) {
    view.data = reinterpret_cast<guint8*>(const_cast<char*>(text.data()));
    view.len = static_cast<guint>(text.size());
    GMimeStream* s = g_mime_stream_mem_new_with_byte_array(&view);
    g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(s), FALSE);
    GMimeParser* parser = g_mime_parser_new_with_stream(s);
    GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(s);
    return msg;
}

size_t parseGMime(const std::string& text) {
    size_t n = 0;
    GByteArray view;
    if (GMimeMessage* msg = parseGMimeMessage(text, view)) {
        decodeGMimePart(nullptr, GMIME_OBJECT(msg), &n);
        g_mime_message_foreach(msg, decodeGMimePart, &n);
        g_object_unref(msg);
    }
    return n;
}

Library gmimeLibrary() {
    auto trees = std::make_shared<std::vector<GMimeMessage*>>();
    auto views = std::make_shared<std::vector<GByteArray>>();
    return {"GMime", parseGMime,
            [trees, views](const Corpus& c) {
                views->resize(c.messages.size());
                for (size_t i = 0; i < c.messages.size(); ++i)
                    trees->push_back(parseGMimeMessage(c.messages[i], (*views)[i]));
            },
            [trees] {
                size_t n = 0;
                for (GMimeMessage* m : *trees) {
                    GMimeStream* out = g_mime_stream_mem_new();
                    g_mime_object_write_to_stream(GMIME_OBJECT(m), nullptr, out);
                    n += g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out))->len;
                    g_object_unref(out);
                }
                return n;
            },
            [trees, views] {
                for (GMimeMessage* m : *trees)
                    if (m)
                        g_object_unref(m);
                trees->clear();
                views->clear();
            }};
}

#endif

#ifdef NORVANE_HAVE_MIMETIC

// mimetic has no charset conversion: text bodies go through iconv, as GMime's filter does.
void toUtf8(const std::string& charset, std::string& text) {
    if (charset.empty() || strcasecmp(charset.c_str(), "utf-8") == 0)
        return;
    iconv_t cd = iconv_open("UTF-8", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return;
    std::string out(text.size() * 2 + 16, '\0');
    char* in = text.data();
    size_t inLeft = text.size();
    char* o = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0 && iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
        ++in;
        --inLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    text.swap(out);
}

size_t visitMimetic(mimetic::MimeEntity& e) {
    for (const mimetic::Field& f : e.header())
        benchmark::DoNotOptimize(f.value());
    mimetic::MimeEntityList& parts = e.body().parts();
    if (!parts.empty()) {
        size_t n = 0;
        for (mimetic::MimeEntity* p : parts)
            n += visitMimetic(*p);
        return n;
    }
    const mimetic::Body& b = e.body();
    const std::string& cte = e.header().contentTransferEncoding().mechanism();
    std::string out;
    if (strcasecmp(cte.c_str(), "base64") == 0) {
        mimetic::Base64::Decoder d;
        mimetic::decode(b.begin(), b.end(), d, std::back_inserter(out));
    } else if (strcasecmp(cte.c_str(), "quoted-printable") == 0) {
        mimetic::QP::Decoder d;
        mimetic::decode(b.begin(), b.end(), d, std::back_inserter(out));
    } else {
        out = b;
    }
    const mimetic::ContentType& ct = e.header().contentType();
    if (strcasecmp(ct.type().c_str(), "text") == 0)
        toUtf8(ct.param("charset"), out);
    return out.size();
}

size_t parseMimetic(const std::string& text) {
    mimetic::MimeEntity e(text.data(), text.data() + text.size());
    return visitMimetic(e);
}

Library mimeticLibrary() {
    auto trees = std::make_shared<std::vector<std::unique_ptr<mimetic::MimeEntity>>>();
    return {"mimetic", parseMimetic,
            [trees](const Corpus& c) {
                for (const std::string& m : c.messages)
                    trees->push_back(
                        std::make_unique<mimetic::MimeEntity>(m.data(), m.data() + m.size()));
            },
            [trees] {
                size_t n = 0;
                for (const auto& t : *trees) {
                    std::ostringstream out;
                    out << *t;
                    n += out.view().size();
                }
                return n;
            },
            [trees] { trees->clear(); }};
}

#endif

std::vector<Library> libraries() {
    std::vector<Library> l{norvaneLibrary()};
#ifdef NORVANE_HAVE_GMIME
    l.push_back(gmimeLibrary());
#endif
#ifdef NORVANE_HAVE_MIMETIC
    l.push_back(mimeticLibrary());
#endif
    return l;
}

void BM_Parse(benchmark::State& st, const Library* lib, const CorpusRef* c) {
    const Corpus& corpus = c->get();
    for (auto _ : st) {
        size_t n = 0;
        for (const std::string& m : corpus.messages)
            n += lib->parseDecode(m);
        benchmark::DoNotOptimize(n);
    }
    norvane::bench::reportThroughput(st, corpus.totalBytes, corpus.messages.size());
}

// Throughput in bytes of the parsed text, so that it compares with the parse rows.
void BM_Render(benchmark::State& st, const Library* lib, const CorpusRef* c) {
    const Corpus& corpus = c->get();
    lib->load(corpus);
    for (auto _ : st)
        benchmark::DoNotOptimize(lib->render());
    lib->unload();
    norvane::bench::reportThroughput(st, corpus.totalBytes, corpus.messages.size());
}

// ---- summary ----

using norvane::bench::MedianReporter;

void printRow(const MedianReporter& rep, const std::vector<Library>& libs, const std::string& row,
              const char* label) {
    std::printf("%-28s", label);
    double ours = 0, best = 0;
    for (const Library& l : libs) {
        const double v = rep.get(std::string(l.name) + "/" + row).mbPerSec;
        std::printf(" %9.1f", v);
        if (&l == &libs.front())
            ours = v;
        else
            best = std::max(best, v);
    }
    if (best > 0)
        std::printf("   %5.2fx", ours / best);
    std::printf("\n");
}

void printThroughput(const MedianReporter& rep, const std::vector<Library>& libs) {
    std::printf("\n== MB/s of input (medians) ==\n%-28s", "");
    for (const Library& l : libs)
        std::printf(" %9s", l.name);
    std::printf("   ours/best peer\n");
    for (const auto& [row, label] : {std::pair{"parse/small", "parse small, CRLF"},
                                     {"parse/large", "parse large, CRLF"},
                                     {"parse/small-lf", "parse small, LF"},
                                     {"parse/large-lf", "parse large, LF"},
                                     {"render/small-lf", "render small (parsed from LF)"},
                                     {"render/large-lf", "render large (parsed from LF)"}})
        printRow(rep, libs, row, label);
    const double small = rep.get("Norvane/parse/small").mbPerSec;
    const double large = rep.get("Norvane/parse/large").mbPerSec;
    if (small > 0 && large > 0)
        std::printf("Norvane LF / CRLF speed: small %.2f, large %.2f\n",
                    rep.get("Norvane/parse/small-lf").mbPerSec / small,
                    rep.get("Norvane/parse/large-lf").mbPerSec / large);
}

// All libraries must have read the same content for the comparison to mean anything.
void printDecodedTotals(const std::vector<Library>& libs) {
    std::printf("\n== Decoded body bytes per corpus ==\n");
    for (const CorpusRef& c : kCorpora) {
        std::printf("%-9s", c.name);
        for (const Library& l : libs) {
            size_t n = 0;
            for (const std::string& m : c.get().messages)
                n += l.parseDecode(m);
            std::printf("  %s %zu", l.name, n);
        }
        std::printf("\n");
    }
}

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

// Peak resident memory of parse + decode of every message of the corpus, one message at a time,
// above what the process held before (the loaded corpus). Measured in a child process, whose
// high-water mark is reset first, so that no library sees another's freed heap.
double peakAboveMb(const Library& lib, const Corpus& c) {
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
        for (const std::string& m : c.messages)
            benchmark::DoNotOptimize(lib.parseDecode(m));
        const double mb = static_cast<double>(statusKb("VmHWM:") - before) / 1024.0;
        (void)!write(fds[1], &mb, sizeof mb);
        _exit(0);
    }
    double mb = -1;
    (void)!read(fds[0], &mb, sizeof mb);
    close(fds[0]);
    close(fds[1]);
    waitpid(pid, nullptr, 0);
    return mb;
}

void printPeakMemory(const std::vector<Library>& libs) {
    std::printf("\n== Peak memory above the loaded corpus, parse + decode of the large set ==\n");
    for (const Library& l : libs)
        std::printf("%-8s LF %6.1f MB   CRLF %6.1f MB\n", l.name,
                    peakAboveMb(l, mime_corpus::largeLfCorpus()),
                    peakAboveMb(l, mime_corpus::largeCorpus()));
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
    } else if (kind == "tiny parts, LF") {
        s = "Content-Type: multipart/mixed; boundary=e\n\n";
        for (size_t i = 0; i < n; ++i)
            s += "--e\nX: y\n\nz\n";
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
                             "tiny parts, LF", "deep nesting", "unclosed + bare CR"}) {
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
    // --runs-only leaves out the figures after the runs (for profiling the runs alone).
    bool runsOnly = false;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--runs-only") == 0) {
            runsOnly = true;
            argv[i--] = argv[--argc];
        }
    benchmark::Initialize(&argc, argv);
    static const std::vector<Library> libs = libraries();
    for (const CorpusRef& c : kCorpora)
        for (const Library& l : libs)
            benchmark::RegisterBenchmark((std::string(l.name) + "/parse/" + c.name).c_str(),
                                         BM_Parse, &l, &c)
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true);
    for (const CorpusRef& c : {kCorpora[2], kCorpora[3]})
        for (const Library& l : libs)
            benchmark::RegisterBenchmark((std::string(l.name) + "/render/" + c.name).c_str(),
                                         BM_Render, &l, &c)
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true);
    for (const CorpusRef& c : kCorpora)
        std::printf("corpus %-9s %5zu messages, %7.1f MB\n", c.name, c.get().messages.size(),
                    static_cast<double>(c.get().totalBytes) / 1e6);
    MedianReporter rep;
    if (runsOnly) {
        benchmark::RunSpecifiedBenchmarks(&rep);
        benchmark::Shutdown();
        return 0;
    }
    // Memory first, while the heap holds the corpora only.
    printPeakMemory(libs);
    benchmark::RunSpecifiedBenchmarks(&rep);
    printThroughput(rep, libs);
    printDecodedTotals(libs);
    printLinearity();
    benchmark::Shutdown();
    return 0;
}
