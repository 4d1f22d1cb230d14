// S/MIME: sign and render, and unwrap and verify, an e-mail of 100 KB and of 10 MB, each next
// to OpenSSL's own CMS S/MIME functions doing the same work in-process (sign the content and
// write multipart/signed; read multipart/signed and verify against the same trust anchors), so
// that the overhead of our layer (rendering, certificate stores, trust report) shows as a ratio.
#include "common/LogBase.h"
#include "common/OpenSslPtr.h"
#include "email/Email2.h"
#include "security/SmimeUnwrapper.h"
#include "security/SmimeWrap.h"

#include <benchmark/benchmark.h>
#include <openssl/pem.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

using namespace norvane;

namespace {

namespace fs = std::filesystem;

const fs::path kPki = fs::path(NORVANE_SOURCE_DIR) / "tests/data/smime";

// Configuration roots with alice's key (unencrypted PEM) and the test CAs.
void setUpStores() {
    static const bool done = [] {
        const fs::path root =
            fs::temp_directory_path() / ("nv_bench_smime_" + std::to_string(::getpid()));
        for (const char* d : {"MY", "Root", "CA"})
            fs::create_directories(root / d);
        const auto over = fs::copy_options::overwrite_existing;
        fs::copy_file(kPki / "alice-rsa.pem", root / "MY/alice-rsa.pem", over);
        fs::copy_file(kPki / "alice-rsa.key", root / "MY/alice-rsa.key", over);
        fs::copy_file(kPki / "ca-root.pem", root / "Root/ca-root.pem", over);
        fs::copy_file(kPki / "ca-inter.pem", root / "CA/ca-inter.pem", over);
        ::setenv("NORVANE_USER_DIR", root.c_str(), 1);
        ::setenv("NORVANE_MACHINE_DIR", root.c_str(), 1);
        return true;
    }();
    (void)done;
}

std::string textData(size_t n) {
    static const char* words[] = {"the",     "message", "attached", "report",  "please", "find",
                                  "invoice", "meeting", "regards",  "project", "update"};
    std::mt19937 gen(7);
    std::string s;
    size_t line = 0;
    while (s.size() < n) {
        const char* w = words[gen() % std::size(words)];
        s += w;
        line += std::char_traits<char>::length(w) + 1;
        s += line > 70 ? "\r\n" : " ";
        if (line > 70)
            line = 0;
    }
    return s;
}

std::unique_ptr<Email2> message(size_t n) {
    auto e = std::make_unique<Email2>();
    (void)e->setFrom("Alice <alice@example.com>");
    (void)e->addTo("Bob", "bob@example.com");
    e->setHeaderField("Subject", "bench");
    e->setBody(textData(n), false);
    e->setSendSigned(true);
    return e;
}

X509Ptr readCert(const char* name) {
    BioPtr b(BIO_new_file((kPki / name).c_str(), "r"));
    return X509Ptr(PEM_read_bio_X509(b.get(), nullptr, nullptr, nullptr));
}

std::string signedMime(size_t n) {
    setUpStores();
    LogNull log;
    StringBuffer out;
    SmimeWrap::createSecureEmail(*message(n), log)->renderMime(out, "", log);
    return out.str();
}

void BM_OursSignRender(benchmark::State& state) {
    setUpStores();
    auto e = message(static_cast<size_t>(state.range(0)));
    LogNull log;
    for (auto _ : state) {
        StringBuffer out;
        auto secure = SmimeWrap::createSecureEmail(*e, log);
        secure->renderMime(out, "", log);
        benchmark::DoNotOptimize(out.getSize());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpensslSignRender(benchmark::State& state) {
    LogNull log;
    StringBuffer content;
    message(static_cast<size_t>(state.range(0)))->renderMime(content, "", log);
    X509Ptr cert = readCert("alice-rsa.pem");
    X509Ptr inter = readCert("ca-inter.pem");
    BioPtr kb(BIO_new_file((kPki / "alice-rsa.key").c_str(), "r"));
    EvpPkeyPtr key(PEM_read_bio_PrivateKey(kb.get(), nullptr, nullptr, nullptr));
    X509StackPtr chain(sk_X509_new_null());
    X509_up_ref(inter.get());
    sk_X509_push(chain.get(), inter.get());
    for (auto _ : state) {
        BioPtr in(BIO_new_mem_buf(content.view().data(), static_cast<int>(content.getSize())));
        CmsPtr cms(CMS_sign(cert.get(), key.get(), chain.get(), in.get(),
                            CMS_DETACHED | CMS_BINARY | CMS_STREAM));
        BioPtr out(BIO_new(BIO_s_mem()));
        SMIME_write_CMS(out.get(), cms.get(), in.get(), CMS_DETACHED | CMS_BINARY | CMS_STREAM);
        benchmark::DoNotOptimize(BIO_pending(out.get()));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OursUnwrapVerify(benchmark::State& state) {
    const std::string mime = signedMime(static_cast<size_t>(state.range(0)));
    LogNull log;
    SmimeUnwrapper unwrapper;
    FromMimeOptions options;
    options.unwrapper = &unwrapper;
    for (auto _ : state) {
        auto e = Email2::fromMime(mime, log, options);
        if (!e->security().signaturesValid || e->security().numSigned != 1)
            state.SkipWithError("signature did not verify");
        benchmark::DoNotOptimize(e->getBody().getSize());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_OpensslUnwrapVerify(benchmark::State& state) {
    const std::string mime = signedMime(static_cast<size_t>(state.range(0)));
    X509StorePtr store(X509_STORE_new());
    X509_STORE_add_cert(store.get(), readCert("ca-root.pem").get());
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_SMIME_SIGN);
    for (auto _ : state) {
        BioPtr in(BIO_new_mem_buf(mime.data(), static_cast<int>(mime.size())));
        BIO* dcont = nullptr;
        CmsPtr cms(SMIME_read_CMS(in.get(), &dcont));
        BioPtr content(dcont);
        BioPtr out(BIO_new(BIO_s_mem()));
        if (!cms ||
            CMS_verify(cms.get(), nullptr, store.get(), content.get(), out.get(), CMS_BINARY) != 1)
            state.SkipWithError("signature did not verify");
        benchmark::DoNotOptimize(BIO_pending(out.get()));
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

constexpr int64_t kSmall = 100 * 1024;
constexpr int64_t kLarge = 10 * 1024 * 1024;

BENCHMARK(BM_OursSignRender)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslSignRender)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursUnwrapVerify)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpensslUnwrapVerify)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
