// Hostile inputs for every decoder and parser of the transfer-encoding layer, at lengths from
// 16 KB to 1 MB, with a complexity fit: each must come out as N (linear), never N^2.
//
// Run: build/bench/bench/bench_coding_linearity
//
// Large results are fresh page mappings, whose first touch is costly on some virtual machines;
// to see the algorithm alone, keep freed memory in the process:
//   GLIBC_TUNABLES=glibc.malloc.mmap_threshold=4294967295:glibc.malloc.trim_threshold=4294967295
#include "charset/ContentCoding.h"
#include "charset/DateParser.h"
#include "charset/Uu.h"
#include "mime/Rfc822Address.h"
#include "mime/StringParse.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace norvane;

namespace {

std::string repeat(std::string_view unit, size_t n) {
    std::string s;
    s.reserve(n + unit.size());
    while (s.size() < n)
        s.append(unit);
    s.resize(n);
    return s;
}

using Target = void (*)(const std::string&);

void qp(const std::string& s) {
    DataBuffer out;
    ContentCoding::qpDecode(s, out);
    benchmark::DoNotOptimize(out.getData());
}

void base64(const std::string& s) {
    DataBuffer out;
    benchmark::DoNotOptimize(ContentCoding::base64DecodeStrict(s, out));
}

void words(const std::string& s) {
    std::string text = s;
    ContentCoding::decodeWordsToUtf8(text);
    benchmark::DoNotOptimize(text.data());
}

void qText(const std::string& s) {
    DataBuffer out;
    ContentCoding::qDecodeWordText(s, out);
    benchmark::DoNotOptimize(out.getData());
}

void uu(const std::string& s) {
    Uu decoder;
    DataBuffer out;
    benchmark::DoNotOptimize(decoder.uuDecode("begin 644 x\n" + s, out));
}

void date(const std::string& s) {
    SystemTime t;
    benchmark::DoNotOptimize(DateParser::parseDate(s, t));
}

void addresses(const std::string& s) {
    ExtPtrArray<Rfc822Address> list;
    benchmark::DoNotOptimize(Rfc822Address::parseAddressList(s, list));
}

void address(const std::string& s) {
    benchmark::DoNotOptimize(Rfc822Address::parseAddress(s));
}

void split(const std::string& s) {
    benchmark::DoNotOptimize(StringParse::splitForWords(s, 40).size());
}

void BM_Hostile(benchmark::State& state, std::string_view unit, Target target) {
    const std::string text = repeat(unit, static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        target(text);
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Distinct addresses: duplicate detection must not compare each with all before it.
void BM_DistinctAddresses(benchmark::State& state) {
    std::string text;
    for (int i = 0; text.size() < static_cast<size_t>(state.range(0)); ++i)
        text += "User " + std::to_string(i) + " <u" + std::to_string(i) + "@example.com>, ";
    for (auto _ : state)
        addresses(text);
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_DistinctAddresses)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 20)
    ->Complexity(benchmark::oAuto)
    ->Unit(benchmark::kMicrosecond);

#define HOSTILE(name, unit, target)                                                                \
    BENCHMARK_CAPTURE(BM_Hostile, name, std::string_view(unit), &target)                           \
        ->RangeMultiplier(4)                                                                       \
        ->Range(1 << 14, 1 << 20)                                                                  \
        ->Complexity(benchmark::oAuto)                                                             \
        ->Unit(benchmark::kMicrosecond)

HOSTILE(qp_escapes_before_blanks, "= \t", qp);
HOSTILE(qp_lone_equals, "=", qp);
HOSTILE(qp_blanks_then_escape, "         =41", qp);
HOSTILE(qp_soft_breaks, "=\r\n", qp);
HOSTILE(base64_blanks, " Q\r\n", base64);
HOSTILE(words_openers, "=?", words);
HOSTILE(words_unclosed, "=?a?Q?", words);
HOSTILE(words_many, "=?utf-8?Q?x?= ", words);
HOSTILE(words_no_letter_mark, "=?a?Qx", words);
HOSTILE(words_charsets, "=?iso-8859-1?B?QUJD?= =?koi8-r?Q?=E9?=", words);
HOSTILE(qtext_equals, "=4=", qText);
HOSTILE(uu_long_counts, "M\n", uu);
HOSTILE(date_comments, "(", date);
HOSTILE(date_tokens, "1 ", date);
HOSTILE(list_commas, ",", addresses);
HOSTILE(list_quotes, "\"", addresses);
HOSTILE(list_distinct, "a@b.c,", addresses);
HOSTILE(list_escapes, "\\", addresses);
HOSTILE(address_at_signs, "@", address);
HOSTILE(address_brackets, "<a ", address);
HOSTILE(split_words, "a ", split);

} // namespace

BENCHMARK_MAIN();
