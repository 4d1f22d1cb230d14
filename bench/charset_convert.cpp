// Conversion speed of the engine against glibc iconv on the same 1 MB of mail-like text, and
// the cost of a table's first use (decompressing and indexing it).
//
//   build/bench/bench/bench_charset_convert --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
//
// Compare Engine/<case> with Iconv/<case>: the ratio is iconv's median over the engine's.
#include "charset/CodePageTable.h"
#include "charset/EncodingConvert.h"
#include "charset/generated/CodePageData.h"

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace norvane;

namespace {

constexpr size_t kTarget = 1 << 20;

// Mail-like text: header-ish ASCII lines mixed with prose in the script of the case.
const char* const kWestern[] = {
    "Bonjour \xC3\xA0 tous, voici le r\xC3\xA9sum\xC3\xA9 de la r\xC3\xA9union de lundi.\r\n",
    "Die Gr\xC3\xB6\xC3\x9F"
    "e der Datei betr\xC3\xA4gt 12 "
    "MB; bitte \xC3\xBC"
    "berpr\xC3\xBC"
    "fen.\r\n",
    "Subject: Re: Angebot f\xC3\xBCr das n\xC3\xA4"
    "chste Quartal \xE2\x80\x93 "
    "\xE2\x82\xAC 4.500\r\n",
    "El ni\xC3\xB1o comi\xC3\xB3 una manzana; \xC2\xBFqu\xC3\xA9 m\xC3\xA1s "
    "quer\xC3\xAD"
    "as?\r\n",
    "Thanks for the quick reply \xE2\x80\x94 see you on Thursday.\r\n",
};
const char* const kJapanese[] = {
    "\xE4\xBB\x8A\xE6\x97\xA5\xE3\x81\xAE\xE4\xBC\x9A\xE8\xAD\xB0\xE3\x81\xAF\xE5\x8D\x88"
    "\xE5\xBE\x8C\xE4\xB8\x89\xE6\x99\x82\xE3\x81\x8B\xE3\x82\x89\xE3\x81\xA7\xE3\x81\x99"
    "\xE3\x80\x82\r\n",
    "\xE8\xB3\x87\xE6\x96\x99\xE3\x82\x92\xE6\xB7\xBB\xE4\xBB\x98\xE3\x81\x97\xE3\x81\xBE"
    "\xE3\x81\x97\xE3\x81\x9F\xE3\x81\xAE\xE3\x81\xA7\xE3\x80\x81\xE3\x81\x94\xE7\xA2\xBA"
    "\xE8\xAA\x8D\xE3\x81\x8F\xE3\x81\xA0\xE3\x81\x95\xE3\x81\x84\xE3\x80\x82\r\n",
    "Subject: \xE6\x9D\xA5\xE9\x80\xB1\xE3\x81\xAE\xE4\xBA\x88\xE5\xAE\x9A "
    "(2024/05/20)\r\n",
    "\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB\xE3\x82\xB5\xE3\x83\xBC\xE3\x83\x90\xE3\x83\xBC"
    "\xE3\x81\xAE\xE8\xA8\xAD\xE5\xAE\x9A\xE3\x82\x92\xE5\xA4\x89\xE6\x9B\xB4\xE3\x81\x97"
    "\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F\xE3\x80\x82\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88"
    "\xE3\x81\xAF 587 \xE3\x81\xA7\xE3\x81\x99\xE3\x80\x82\r\n",
    "\xE3\x82\x88\xE3\x82\x8D\xE3\x81\x97\xE3\x81\x8F\xE3\x81\x8A\xE9\xA1\x98\xE3\x81\x84"
    "\xE3\x81\x84\xE3\x81\x9F\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x99\xE3\x80\x82\r\n",
};
const char* const kChinese[] = {
    "\xE6\x88\x91\xE4\xBB\xAC\xE4\xB8\x8B\xE5\x91\xA8\xE4\xB8\x89\xE5\x9C\xA8\xE5\x8C\x97"
    "\xE4\xBA\xAC\xE5\xBC\x80\xE4\xBC\x9A\xEF\xBC\x8C\xE8\xAF\xB7\xE5\x87\x86\xE6\x97\xB6"
    "\xE5\x8F\x82\xE5\x8A\xA0\xE3\x80\x82\r\n",
    "\xE9\x99\x84\xE4\xBB\xB6\xE6\x98\xAF\xE6\x9C\xAC\xE5\xAD\xA3\xE5\xBA\xA6\xE7\x9A\x84"
    "\xE9\x94\x80\xE5\x94\xAE\xE6\x8A\xA5\xE5\x91\x8A\xEF\xBC\x8C\xE5\x85\xB1 12 "
    "\xE9\xA1\xB5\xE3\x80\x82\r\n",
    "Subject: \xE5\x85\xB3\xE4\xBA\x8E\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8\xE7\xBB\xB4"
    "\xE6\x8A\xA4\xE7\x9A\x84\xE9\x80\x9A\xE7\x9F\xA5\r\n",
    "\xE5\xA6\x82\xE6\x9C\x89\xE9\x97\xAE\xE9\xA2\x98\xE8\xAF\xB7\xE9\x9A\x8F\xE6\x97\xB6"
    "\xE8\x81\x94\xE7\xB3\xBB\xE6\x88\x91\xE3\x80\x82\xE8\xB0\xA2\xE8\xB0\xA2\xEF\xBC\x81"
    "\r\n",
};

template <size_t N>
std::string build(const char* const (&lines)[N]) {
    std::string s;
    size_t i = 0;
    while (s.size() < kTarget) {
        s += lines[i % N];
        // Vary the order a little so that the text is not one short period.
        i += 1 + (s.size() / 97) % 3;
    }
    return s;
}

std::string engine(int from, int to, const std::string& in) {
    EncodingConvert ec;
    std::string out;
    if (!ec.convert(from, to, in, out))
        std::abort(); // the texts are chosen to convert losslessly
    return out;
}

struct Case {
    const char* name;
    int from, to;
    const char *iconvFrom, *iconvTo;
    std::string input;
};

const Case& getCase(int i) {
    static const Case cases[] = {
        {"utf8_to_windows1252", 65001, 1252, "UTF-8", "CP1252", build(kWestern)},
        {"utf8_to_shiftjis", 65001, 932, "UTF-8", "CP932", build(kJapanese)},
        {"shiftjis_to_utf8", 932, 65001, "CP932", "UTF-8", engine(65001, 932, build(kJapanese))},
        {"gb2312_to_utf8", 936, 65001, "CP936", "UTF-8", engine(65001, 936, build(kChinese))},
        {"utf8_to_iso2022jp", 65001, 50220, "UTF-8", "ISO-2022-JP", build(kJapanese)},
    };
    return cases[i];
}

void Engine(benchmark::State& state) {
    const Case& c = getCase(static_cast<int>(state.range(0)));
    state.SetLabel(c.name);
    EncodingConvert ec;
    std::string out;
    (void)ec.convert(c.from, c.to, c.input, out); // the table's first use is measured below
    for (auto _ : state) {
        out.clear();
        benchmark::DoNotOptimize(ec.convert(c.from, c.to, c.input, out));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.input.size()));
}

void Iconv(benchmark::State& state) {
    const Case& c = getCase(static_cast<int>(state.range(0)));
    state.SetLabel(c.name);
    iconv_t cd = iconv_open(c.iconvTo, c.iconvFrom);
    std::string out(c.input.size() * 4, '\0');
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(c.input.data());
        size_t inLeft = c.input.size();
        char* w = out.data();
        size_t outLeft = out.size();
        if (iconv(cd, &in, &inLeft, &w, &outLeft) == static_cast<size_t>(-1))
            state.SkipWithError("iconv failed");
        iconv(cd, nullptr, nullptr, &w, &outLeft);
        benchmark::DoNotOptimize(w);
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.input.size()));
}

std::string tableText(int cp) {
    for (size_t i = 0; i < kCodePageBlobCount; ++i) {
        if (kCodePageBlobs[i].codePage != cp)
            continue;
        std::string text;
        for (const char* const* p = kCodePageBlobs[i].pieces; *p; ++p)
            text += *p;
        return text;
    }
    return {};
}

// What a table's first use costs: joining, base64, bzip2 and both indexes.
void FirstUse(benchmark::State& state) {
    int cp = static_cast<int>(state.range(0));
    state.SetLabel("code page " + std::to_string(cp));
    for (auto _ : state) {
        std::string text = tableText(cp);
        std::string error;
        auto t = CodePageTable::load(text, error);
        if (!t)
            state.SkipWithError("table does not load");
        benchmark::DoNotOptimize(t);
    }
}

} // namespace

BENCHMARK(Engine)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(Iconv)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(FirstUse)
    ->Arg(932)
    ->Arg(936)
    ->Arg(949)
    ->Arg(950)
    ->Arg(1361)
    ->Arg(51932)
    ->Arg(1252)
    ->Arg(37)
    ->Arg(28605)
    ->Arg(10004)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
