// nvmail show: what an .eml file holds, decoded for a person to read.
//
// Everything printed comes from the message, so control characters are replaced before they
// reach the terminal: a crafted subject cannot move the cursor or change the title.

#include "Commands.h"

#include "email/Email2.h"
#include "facade/ClsEmail.h"

#include <cstdio>
#include <functional>
#include <string_view>

using norvane::ClsEmail;
using norvane::Email2;

namespace nvmail {

namespace {

constexpr int kBodyLines = 30;

std::string addressList(int count, const std::function<std::string(int)>& entry) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (!out.empty())
            out += ", ";
        out += entry(i);
    }
    return out;
}

void printHeader(ClsEmail& e) {
    std::string from = e.get_From();
    if (from.empty())
        from = e.get_FromName();
    const std::pair<const char*, std::string> lines[] = {
        {"From", from},
        {"To", addressList(e.get_NumTo(), [&e](int i) { return e.GetTo(i); })},
        {"Cc", addressList(e.get_NumCC(), [&e](int i) { return e.GetCC(i); })},
        {"Subject", e.get_Subject()},
        {"Date", e.GetHeaderField("Date")},
    };
    for (const auto& [label, value] : lines)
        if (!value.empty())
            std::printf("%s: %s\n", label, oneLine(value).c_str());
}

void printNode(const Email2& n, int depth) {
    std::string line(static_cast<size_t>(2 + 2 * depth), ' ');
    line += n.contentType().empty() ? "(no type)" : n.contentType();
    if (n.charset().getCodePage() != 0 && !n.isMultipart())
        line += "; charset=" + n.charset().getName();
    if (!n.typeParam().empty())
        line += "; type=" + n.typeParam();
    if (n.partCount() == 0) {
        if (!n.transferEncoding().empty())
            line += ", " + n.transferEncoding();
        line += ", " + std::to_string(n.body().getSize()) + " bytes";
    }
    if (!n.disposition().empty())
        line += ", " + n.disposition();
    if (!n.filename().empty() || !n.name().empty())
        line += ", \"" + n.attachmentFilename() + "\"";
    if (!n.contentId().empty())
        line += ", id " + n.contentId();
    std::printf("%s\n", oneLine(line).c_str());
    for (int i = 0; i < n.partCount(); ++i)
        printNode(*n.partAt(i), depth + 1);
}

void printBody(const Email2& e) {
    const Email2* text = e.plainTextNode();
    const char* label = "Text body";
    if (!text || text->body().isEmpty()) {
        if (const Email2* html = e.htmlNode()) {
            text = html;
            label = "HTML body";
        }
    }
    if (!text)
        return;
    std::printf("\n%s\n", bold(std::string(label) + ":").c_str());
    const std::string body = printable(text->body().view());
    size_t pos = 0;
    for (int n = 0; pos < body.size(); ++n) {
        if (n == kBodyLines) {
            std::printf("  | ...\n");
            break;
        }
        size_t eol = body.find('\n', pos);
        if (eol == std::string::npos)
            eol = body.size();
        std::printf("  | %s\n", body.substr(pos, eol - pos).c_str());
        pos = eol + 1;
    }
}

void printItems(const char* title, const std::vector<Email2*>& items) {
    if (items.empty())
        return;
    std::printf("\n%s\n",
                bold(std::string(title) + " (" + std::to_string(items.size()) + "):").c_str());
    int i = 0;
    for (const Email2* a : items) {
        std::string line = std::to_string(++i) + ". " + a->attachmentFilename() + " (" +
                           (a->contentType().empty() ? "text/plain" : a->contentType()) + ", " +
                           std::to_string(a->body().getSize()) + " bytes)";
        if (!a->contentId().empty())
            line += " " + a->contentId();
        std::printf("  %s\n", oneLine(line).c_str());
    }
}

} // namespace

int show(const Parsed& p) {
    std::string mime;
    if (!readInput(p.operands[0], mime))
        return kFailed;
    ClsEmail email;
    (void)email.SetFromMimeText(std::string_view(mime));
    release(mime);
    // Taken now: the members called for the listing below each start a log of their own.
    const std::string loadLog = email.get_LastErrorText();
    const Email2& e = email.email2();
    printHeader(email);
    std::printf("\n%s\n", bold("Structure:").c_str());
    printNode(e, 0);
    printBody(e);
    printItems("Attachments", e.attachments());
    std::vector<Email2*> related;
    for (int i = 0; i < e.numRelatedItems(); ++i)
        related.push_back(e.relatedItem(i));
    printItems("Inline items", related);
    if (const int n = e.numAttachedMessages(); n > 0)
        std::printf("\n%s %d\n", bold("Attached messages:").c_str(), n);
    if (p.wantsLog())
        std::printf("\n%s\n%s", bold("Activity log:").c_str(), printable(loadLog).c_str());
    return kOk;
}

} // namespace nvmail
