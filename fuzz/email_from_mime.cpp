// Building an e-mail from any byte string, then using it the way programs do: render it, read
// its bodies, alternatives, attachments and attached messages, add to it and drop from it, and
// build it again from its own rendering. None of it may crash, leak or hit undefined behaviour.

#include "common/LogBase.h"
#include "email/Email2.h"

#include <cstdint>
#include <string_view>

using namespace norvane;

namespace {

void readEverything(const Email2& e, LogBase& log) {
    (void)e.getBody();
    (void)e.plainTextNode();
    (void)e.htmlNode();
    for (int i = 0; i <= e.numAlternatives(); ++i) {
        DataBuffer body;
        std::string type;
        (void)e.getAlternativeBody(i, body, log);
        (void)e.getAlternativeContentType(i, type, log);
    }
    for (Email2* a : e.attachments())
        (void)a->attachmentFilename();
    for (int i = 0; i < e.numRelatedItems(); ++i)
        (void)e.relatedItem(i)->attachmentFilename();
    if (e.numAttachedMessages() > 0)
        (void)e.getAttachedMessage(0, log);
    (void)e.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LogNull log;
    FromMimeOptions options;
    options.limits.maxDepth = 20;
    options.limits.maxParts = 500;
    auto e = Email2::fromMime(text, log, options);
    readEverything(*e, log);
    StringBuffer first;
    e->renderMime(first, "NVX-", log);

    e->normalizeTransferEncodings();
    e->resolveCharset();
    e->setBody(text.substr(0, 64), false);
    std::string cid;
    e->addRelatedData("i.png", DataBuffer(text.substr(0, 16)), cid);
    (void)e->addDataAttachment("a.bin", DataBuffer(text.substr(0, 16)), "");
    e->addAlternative(Email2::makeHtmlAlternativePart("<p>x</p>", e->charset()));
    readEverything(*e, log);
    (void)e->removeAttachment(0);
    e->dropRelatedItem(0);
    e->dropAllAttachments();

    StringBuffer second;
    e->renderMime(second, "", log);
    auto again = Email2::fromMime(second.view(), log, options);
    readEverything(*again, log);
    return 0;
}
