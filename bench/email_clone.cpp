// Copies of e-mails per second: Email2::clone (render, rebuild, copy the rest) for each shape
// the interop matrix sends (plain, HTML, alternative, inline images, three attachments, CJK
// text, every recipient kind), and withReplacements with three patterns on the same shapes.

#include "common/LogBase.h"
#include "email/Email2.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

using namespace norvane;

namespace {

struct Shape {
    const char* name;
    std::unique_ptr<Email2> email;
};

std::vector<Shape> makeShapes() {
    std::vector<Shape> v;
    auto plain = std::make_unique<Email2>();
    (void)plain->setFrom("Ann Lee <ann@example.com>");
    (void)plain->addTo("", "bob@example.com");
    plain->setHeaderField("subject", "Plain text {NAME}");
    plain->setBody("Hello {NAME},\r\nthis is plain text.\r\n", false);
    v.push_back({"plain", std::move(plain)});

    auto html = std::make_unique<Email2>();
    html->setHtmlBody("<p>Hello <b>{NAME}</b> caf\xC3\xA9</p>");
    v.push_back({"html", std::move(html)});

    auto alt = std::make_unique<Email2>();
    alt->setBody("Plain version", false);
    alt->addAlternative(Email2::makeHtmlAlternativePart("<i>HTML version</i>", alt->charset()));
    v.push_back({"alternative", std::move(alt)});

    auto related = std::make_unique<Email2>();
    std::string png(4000, '\0');
    for (size_t i = 0; i < png.size(); ++i)
        png[i] = static_cast<char>(i * 13);
    auto p1 = Email2::makeRelatedPart("one.png", DataBuffer(std::string_view(png)));
    const std::string cid = p1->contentId();
    related->setHtmlBody("<img src=\"cid:" + cid.substr(1, cid.size() - 2) + "\">");
    related->addRelated(std::move(p1));
    v.push_back({"inline_images", std::move(related)});

    auto mixed = std::make_unique<Email2>();
    mixed->setHeaderField("subject", "Three attachments");
    mixed->setBody("See the three files.", false);
    std::string bin(20000, '\0');
    for (size_t i = 0; i < bin.size(); ++i)
        bin[i] = static_cast<char>(i * 7);
    (void)mixed->addDataAttachment("report.pdf", DataBuffer(std::string_view(bin.substr(0, 8000))),
                                   "");
    (void)mixed->addDataAttachment("photo.png", DataBuffer(std::string_view(bin)), "");
    (void)mixed->addDataAttachment("notes.txt", DataBuffer(std::string_view("a\r\nb caf\xC3\xA9")),
                                   "");
    v.push_back({"three_attachments", std::move(mixed)});

    auto cjk = std::make_unique<Email2>();
    cjk->setHeaderField("subject", "\xE4\xBD\xA0\xE5\xA5\xBD");
    cjk->setBody("\xE4\xBD\xA0\xE5\xA5\xBD\xEF\xBC\x8C\xE4\xB8\x96\xE7\x95\x8C\r\n", false);
    v.push_back({"cjk_body", std::move(cjk)});

    auto recipients = std::make_unique<Email2>();
    (void)recipients->setFrom("\"Sender, The\" <sender@example.com>");
    (void)recipients->addMultiple(RecipientKind::To,
                                  "a@example.com, \"Lee, Ann\" <ann@example.com>, Bo <bo@e.com>");
    (void)recipients->addCc("Carl", "carl@example.com");
    (void)recipients->addBcc("Hidden", "hidden@example.com");
    (void)recipients->setReplyTo("Desk <desk@example.com>");
    recipients->setBody("x", false);
    v.push_back({"recipients", std::move(recipients)});
    return v;
}

const std::vector<Shape>& shapes() {
    static const std::vector<Shape> v = makeShapes();
    return v;
}

void BM_Clone(benchmark::State& st) {
    const Email2& e = *shapes()[static_cast<size_t>(st.range(0))].email;
    LogNull log;
    for (auto _ : st) {
        auto c = e.clone(log);
        benchmark::DoNotOptimize(c.get());
    }
    st.SetLabel(shapes()[static_cast<size_t>(st.range(0))].name);
    st.counters["clones/s"] =
        benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_WithReplacements(benchmark::State& st) {
    const Email2& e = *shapes()[static_cast<size_t>(st.range(0))].email;
    ExtPtrArray<StringPair> pairs;
    pairs.appendObject(std::make_unique<StringPair>("{NAME}", "Jo"));
    pairs.appendObject(std::make_unique<StringPair>("Hello", "Hi"));
    pairs.appendObject(std::make_unique<StringPair>("example.com", "example.org"));
    LogNull log;
    for (auto _ : st) {
        auto c = e.withReplacements(pairs, log);
        benchmark::DoNotOptimize(c.get());
    }
    st.SetLabel(shapes()[static_cast<size_t>(st.range(0))].name);
    st.counters["copies/s"] =
        benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_Clone)->DenseRange(0, 6);
BENCHMARK(BM_WithReplacements)->DenseRange(0, 6);

BENCHMARK_MAIN();
