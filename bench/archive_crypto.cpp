// Throughput of the attachment archive engine and of password-based encryption, each next to
// the bare library call it is built on, so that the overhead of our layer shows as a ratio.
#include "archive/ZipHandle.h"
#include "archive/ZlibCodec.h"
#include "common/LogBase.h"
#include "common/OpenSslPtr.h"
#include "security/EasyCrypt.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

using namespace norvane;

namespace {

constexpr size_t kMiB = 1 << 20;

// Mail-like text: words from a small vocabulary in lines of about 70 characters.
std::string textData(size_t n, unsigned seed) {
    static const char* words[] = {"the",     "message", "attached", "report", "please",
                                  "find",    "invoice", "meeting",  "2024",   "regards",
                                  "project", "update",  "server",   "<br>",   "data"};
    std::mt19937 gen(seed);
    std::string s;
    s.reserve(n + 80);
    size_t line = 0;
    while (s.size() < n) {
        const char* w = words[gen() % std::size(words)];
        s += w;
        line += std::char_traits<char>::length(w) + 1;
        s += line > 70 ? "\r\n" : " ";
        if (line > 70)
            line = 0;
    }
    s.resize(n);
    return s;
}

std::string randomData(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}

std::span<const uint8_t> bytesOf(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Four attachments of 1 MiB: three text-like, one incompressible (an image, say).
const std::vector<std::string>& attachments() {
    static const std::vector<std::string> files = {textData(kMiB, 1), textData(kMiB, 2),
                                                   textData(kMiB, 3), randomData(kMiB, 4)};
    return files;
}

int64_t totalBytes() {
    int64_t n = 0;
    for (const auto& f : attachments())
        n += static_cast<int64_t>(f.size());
    return n;
}

DataBuffer writeArchive() {
    LogNull log;
    auto zip = ZipHandle::create();
    int i = 0;
    for (const auto& f : attachments()) {
        auto e = zip->appendData("file" + std::to_string(i++) + ".txt", bytesOf(f), log);
        (void)e->setCompressionMethod(8);
        (void)e->setCompressionLevel(6);
    }
    DataBuffer out;
    if (!zip->writeToMemory(out, log))
        std::abort();
    return out;
}

void BM_ZipWrite(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(writeArchive());
    state.SetBytesProcessed(state.iterations() * totalBytes());
}
BENCHMARK(BM_ZipWrite)->Unit(benchmark::kMillisecond);

// The same four buffers deflated by zlib alone (raw stream, level 6, plus CRC-32).
void BM_ZlibDeflateBaseline(benchmark::State& state) {
    for (auto _ : state) {
        for (const auto& f : attachments()) {
            z_stream zs{};
            deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
            std::vector<uint8_t> out(deflateBound(&zs, f.size()));
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(f.data()));
            zs.avail_in = static_cast<uInt>(f.size());
            zs.next_out = out.data();
            zs.avail_out = static_cast<uInt>(out.size());
            deflate(&zs, Z_FINISH);
            deflateEnd(&zs);
            benchmark::DoNotOptimize(
                crc32(0, reinterpret_cast<const Bytef*>(f.data()), static_cast<uInt>(f.size())));
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * totalBytes());
}
BENCHMARK(BM_ZlibDeflateBaseline)->Unit(benchmark::kMillisecond);

void BM_ZipRead(benchmark::State& state) {
    DataBuffer archive = writeArchive();
    LogNull log;
    for (auto _ : state) {
        auto zip = ZipHandle::create();
        if (!zip->openFromMemory(archive.span(), log))
            std::abort();
        for (int i = 0; i < zip->numEntries(); ++i) {
            DataBuffer out;
            if (!zip->getEntryByIndex(i)->inflate(out, log))
                std::abort();
            benchmark::DoNotOptimize(out.getData());
        }
    }
    state.SetBytesProcessed(state.iterations() * totalBytes());
}
BENCHMARK(BM_ZipRead)->Unit(benchmark::kMillisecond);

void BM_ZlibInflateBaseline(benchmark::State& state) {
    LogNull log;
    std::vector<std::vector<uint8_t>> packed;
    for (const auto& f : attachments()) {
        packed.emplace_back();
        (void)zlibcodec::deflateRaw(bytesOf(f), 6, packed.back(), log);
    }
    for (auto _ : state) {
        for (size_t i = 0; i < packed.size(); ++i) {
            std::vector<uint8_t> out(attachments()[i].size());
            z_stream zs{};
            inflateInit2(&zs, -MAX_WBITS);
            zs.next_in = packed[i].data();
            zs.avail_in = static_cast<uInt>(packed[i].size());
            zs.next_out = out.data();
            zs.avail_out = static_cast<uInt>(out.size());
            inflate(&zs, Z_FINISH);
            inflateEnd(&zs);
            benchmark::DoNotOptimize(crc32(0, out.data(), static_cast<uInt>(out.size())));
        }
    }
    state.SetBytesProcessed(state.iterations() * totalBytes());
}
BENCHMARK(BM_ZlibInflateBaseline)->Unit(benchmark::kMillisecond);

void BM_EncryptBuffer(benchmark::State& state) {
    int algorithm = static_cast<int>(state.range(0));
    int bits = static_cast<int>(state.range(1));
    const std::string data = randomData(4 * kMiB, 9);
    LogNull log;
    for (auto _ : state) {
        DataBuffer out;
        if (!EasyCrypt::encryptBuffer(algorithm, bits, "benchmark password", bytesOf(data), out,
                                      log))
            std::abort();
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_EncryptBuffer)
    ->ArgNames({"alg", "bits"})
    ->Args({1, 128})
    ->Args({1, 256})
    ->Args({2, 256})
    ->Args({3, 128})
    ->Unit(benchmark::kMillisecond);

void BM_DecryptBufferAes128(benchmark::State& state) {
    const std::string data = randomData(4 * kMiB, 9);
    LogNull log;
    DataBuffer enc;
    if (!EasyCrypt::encryptBuffer(1, 128, "benchmark password", bytesOf(data), enc, log))
        std::abort();
    for (auto _ : state) {
        DataBuffer out;
        if (!EasyCrypt::decryptBuffer(1, 128, "benchmark password", enc.span(), out, log))
            std::abort();
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_DecryptBufferAes128)->Unit(benchmark::kMillisecond);

// AES-128-CBC through EVP alone, into a preallocated buffer.
void BM_EvpAes128CbcBaseline(benchmark::State& state) {
    const std::string data = randomData(4 * kMiB, 9);
    std::vector<uint8_t> out(data.size() + 16);
    const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const uint8_t iv[16] = {};
    for (auto _ : state) {
        EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key, iv);
        int n = 0, m = 0;
        EVP_EncryptUpdate(ctx.get(), out.data(), &n, reinterpret_cast<const uint8_t*>(data.data()),
                          static_cast<int>(data.size()));
        EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &m);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_EvpAes128CbcBaseline)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
