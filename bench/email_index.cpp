// Reading the items of an e-mail by index, the way a program walks them (count, then item 0 to
// n-1): attachments, related items and alternatives of e-mails with 100,000 of each, as after
// unzipping a large archive into an e-mail. Each loop is timed until it ends or ten seconds
// pass; the summary prints the time per call and the whole loop (projected from the calls
// made when it was cut short), and the same at a tenth of the count: a loop that is linear in
// the count takes ten times as long at ten times the count.

#include "common/LogBase.h"
#include "email/Email2.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

using namespace norvane;

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<Email2> withAttachments(int n) {
    auto e = std::make_unique<Email2>();
    e->setBody("See the files.\r\n", false);
    for (int i = 0; i < n; ++i)
        (void)e->addDataAttachment("file" + std::to_string(i) + ".txt",
                                   DataBuffer(std::string_view("data")), "text/plain");
    return e;
}

std::unique_ptr<Email2> withRelated(int n) {
    auto e = std::make_unique<Email2>();
    e->setBody("<html><body>images</body></html>", true);
    std::string cid;
    for (int i = 0; i < n; ++i)
        e->addRelatedData("image" + std::to_string(i) + ".png", DataBuffer(std::string_view("png")),
                          cid);
    return e;
}

std::unique_ptr<Email2> withAlternatives(int n) {
    auto e = std::make_unique<Email2>();
    e->setBody("text", false);
    Email2* alternative = e->makeAlternative();
    for (int i = 1; i < n; ++i)
        alternative->addPart(Email2::makePlainAlternativePart("text " + std::to_string(i)));
    return e;
}

struct Loop {
    const char* name;
    std::unique_ptr<Email2> (*make)(int);
    int (*count)(const Email2&);
    size_t (*read)(const Email2&, int);
};

const Loop kLoops[] = {
    {"attachments (filename, size)", withAttachments,
     [](const Email2& e) { return e.numAttachments(); },
     [](const Email2& e, int i) {
         const Email2* a = e.attachmentAt(i);
         return a->attachmentFilename().size() + e.attachmentAt(i)->body().getSize();
     }},
    {"related items (filename, size)", withRelated,
     [](const Email2& e) { return e.numRelatedItems(); },
     [](const Email2& e, int i) {
         const Email2* r = e.relatedItem(i);
         return r->attachmentFilename().size() + e.relatedItem(i)->body().getSize();
     }},
    {"alternatives (type, body)", withAlternatives,
     [](const Email2& e) { return e.numAlternatives(); },
     [](const Email2& e, int i) {
         LogNull log;
         std::string type;
         DataBuffer body;
         (void)e.getAlternativeContentType(i, type, log);
         (void)e.getAlternativeBody(i, body, log);
         return type.size() + body.getSize();
     }},
};

void run(const Loop& l, int n) {
    const auto e = l.make(n);
    const auto start = Clock::now();
    const auto limit = start + std::chrono::seconds(10);
    const int count = l.count(*e);
    int done = 0;
    size_t bytes = 0;
    for (; done < count && Clock::now() < limit; ++done)
        bytes += l.read(*e, done);
    benchmark::DoNotOptimize(bytes);
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    const double perCall = done > 0 ? s / done : 0;
    std::printf("%-32s %7d items: %9.3f us per item, loop %9.3f s%s\n", l.name, count,
                perCall * 1e6, perCall * count, done < count ? " (projected)" : "");
}

} // namespace

int main() {
    for (const Loop& l : kLoops) {
        run(l, 10000);
        run(l, 100000);
    }
    return 0;
}
