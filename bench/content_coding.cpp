// Transfer encodings on 16 MB: base64 against OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock and
// memcpy (the physical limit), quoted-printable over European text.
//
// Run: build/bench/bench/bench_content_coding --benchmark_repetitions=5
//          --benchmark_report_aggregates_only=true
#include "charset/ContentCoding.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using norvane::ContentCoding;
using norvane::DataBuffer;

namespace {

constexpr size_t kSize = 16 * 1024 * 1024;

const std::vector<uint8_t>& randomData() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(kSize);
        std::mt19937_64 rng(2024);
        for (size_t i = 0; i < d.size(); i += 8) {
            uint64_t v = rng();
            std::memcpy(d.data() + i, &v, 8);
        }
        return d;
    }();
    return data;
}

const std::string& base64Flat() {
    static const std::string text = ContentCoding::base64Encode(randomData());
    return text;
}

const std::string& base64Lines() {
    static const std::string text = [] {
        std::string t;
        ContentCoding::base64EncodeLines(randomData(), t);
        return t;
    }();
    return text;
}

// Running text of business mail in German, French, Spanish, Italian, Polish, Czech and English
// (UTF-8), sentences in random order, wrapped at 76 characters with CR LF.
const std::string& europeanText() {
    static const std::string text = [] {
        static const char* const kSentences[] = {
            "Sehr geehrte Damen und Herren, vielen Dank für Ihre Nachricht vom Dienstag.",
            "Die Unterlagen für die Besprechung am Donnerstag liegen im gemeinsamen Ordner.",
            "Bitte prüfen Sie die Größe der Anhänge, bevor Sie die E-Mail weiterleiten.",
            "Mit freundlichen Grüßen aus München, Ihr Team der Geschäftsführung.",
            "Nous vous remercions de votre réponse rapide concernant le projet.",
            "La réunion prévue vendredi est reportée à la semaine prochaine.",
            "Veuillez trouver ci-joint le rapport trimestriel et les états financiers.",
            "Je reste à votre disposition pour toute question complémentaire.",
            "Le mandamos el presupuesto revisado para el año próximo.",
            "Por favor, confirme su asistencia a la reunión del miércoles.",
            "La información adjunta es confidencial y está destinada al destinatario.",
            "Vi inviamo in allegato il verbale della riunione di lunedì.",
            "La consegna è prevista entro la fine del mese, salvo imprevisti.",
            "Dziękujemy za przesłanie dokumentów, odpowiemy w ciągu tygodnia.",
            "Spotkanie zarządu odbędzie się w środę o godzinie dziesiątej.",
            "Děkujeme za Vaši objednávku, zboží bude odesláno zítra ráno.",
            "Příloha obsahuje fakturu a dodací list k Vaší zásilce.",
            "Thank you for your message; the report is attached as requested.",
            "Please let me know if the meeting time on Friday works for you.",
            "The server will be down for maintenance between 22:00 and 23:00."};
        std::mt19937 rng(7);
        std::string t;
        t.reserve(kSize + 256);
        size_t col = 0;
        while (t.size() < kSize) {
            std::string_view sentence = kSentences[rng() % std::size(kSentences)];
            while (!sentence.empty()) {
                size_t sp = sentence.find(' ');
                std::string_view word = sentence.substr(0, sp);
                sentence.remove_prefix(sp == std::string_view::npos ? sentence.size() : sp + 1);
                if (col + word.size() + 1 > 76) {
                    t.append(rng() % 6 == 0 ? "\r\n\r\n" : "\r\n");
                    col = 0;
                } else if (col > 0) {
                    t.push_back(' ');
                    ++col;
                }
                t.append(word);
                col += word.size();
            }
        }
        t.resize(kSize);
        return t;
    }();
    return text;
}

const std::string& qpText() {
    static const std::string text = [] {
        std::string t;
        ContentCoding::qpEncode(europeanText(), t);
        return t;
    }();
    return text;
}

void setBytes(benchmark::State& state, size_t n) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void BM_Memcpy(benchmark::State& state) {
    const auto& in = randomData();
    std::vector<uint8_t> out(in.size());
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    setBytes(state, in.size());
}

void BM_Base64Encode_Ours(benchmark::State& state) {
    const auto& in = randomData();
    std::string out;
    for (auto _ : state) {
        out.clear();
        ContentCoding::base64Encode(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, in.size());
}

void BM_Base64EncodeLines_Ours(benchmark::State& state) {
    const auto& in = randomData();
    std::string out;
    for (auto _ : state) {
        out.clear();
        ContentCoding::base64EncodeLines(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, in.size());
}

void BM_Base64Encode_OpenSSL(benchmark::State& state) {
    const auto& in = randomData();
    std::vector<unsigned char> out(in.size() / 3 * 4 + 8);
    for (auto _ : state) {
        int n = EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    setBytes(state, in.size());
}

void BM_Base64Decode_Ours(benchmark::State& state) {
    const auto& text = base64Flat();
    DataBuffer out;
    for (auto _ : state) {
        out.clear();
        bool ok = ContentCoding::base64DecodeStrict(text, out);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.getData());
    }
    setBytes(state, text.size());
}

void BM_Base64DecodeLines_Ours(benchmark::State& state) {
    const auto& text = base64Lines();
    DataBuffer out;
    for (auto _ : state) {
        out.clear();
        bool ok = ContentCoding::base64DecodeStrict(text, out);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.getData());
    }
    setBytes(state, text.size());
}

void BM_Base64Decode_OpenSSL(benchmark::State& state) {
    // EVP_DecodeBlock takes no line breaks, so both decoders read the unbroken text.
    const auto& text = base64Flat();
    std::vector<unsigned char> out(text.size() / 4 * 3 + 8);
    for (auto _ : state) {
        int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    setBytes(state, text.size());
}

void BM_QpEncode_Ours(benchmark::State& state) {
    const auto& in = europeanText();
    std::string out;
    for (auto _ : state) {
        out.clear();
        ContentCoding::qpEncode(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    setBytes(state, in.size());
}

void BM_QpDecode_Ours(benchmark::State& state) {
    const auto& text = qpText();
    DataBuffer out;
    for (auto _ : state) {
        out.clear();
        ContentCoding::qpDecode(text, out);
        benchmark::DoNotOptimize(out.getData());
    }
    setBytes(state, text.size());
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Encode_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64EncodeLines_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Encode_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64DecodeLines_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Base64Decode_OpenSSL)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QpEncode_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QpDecode_Ours)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
