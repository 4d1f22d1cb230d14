// nvmail show: what an .eml file holds, decoded for a person to read.
//
// Everything printed comes from the message, so control characters are replaced before they
// reach the terminal: a crafted subject cannot move the cursor or change the title.

#include "Commands.h"

#include "norvane/Email.h"

#include <cstdio>
#include <functional>
#include <string_view>

using norvane::Email;

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

void printHeader(Email& e) {
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

void printStructure(Email& e) {
    const std::string tree = e.GetMimeStructure();
    size_t pos = 0;
    for (size_t eol; (eol = tree.find('\n', pos)) != std::string::npos; pos = eol + 1)
        std::printf("  %s\n", oneLine(std::string_view(tree).substr(pos, eol - pos)).c_str());
}

// The plain-text body, or the HTML body when there is no text.
void printBody(Email& e) {
    std::string text;
    const char* label = "Text body";
    const bool haveText = e.HasPlainTextBody();
    if (haveText)
        text = e.GetPlainTextBody();
    if (text.empty() && e.HasHtmlBody()) {
        text = e.GetHtmlBody();
        label = "HTML body";
    } else if (!haveText) {
        return;
    }
    std::printf("\n%s\n", bold(std::string(label) + ":").c_str());
    const std::string body = printable(text);
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

struct Item {
    std::string name, type;
    size_t size = 0;
    std::string contentId;
};

void printItems(const char* title, const std::vector<Item>& items) {
    if (items.empty())
        return;
    std::printf("\n%s\n",
                bold(std::string(title) + " (" + std::to_string(items.size()) + "):").c_str());
    int i = 0;
    for (const Item& a : items) {
        std::string line = std::to_string(++i) + ". " + a.name + " (" +
                           (a.type.empty() ? "text/plain" : a.type) + ", " +
                           std::to_string(a.size) + " bytes)";
        if (!a.contentId.empty())
            line += " " + a.contentId;
        std::printf("  %s\n", oneLine(line).c_str());
    }
}

void printAttachmentsAndInlineItems(Email& e) {
    std::vector<Item> items;
    for (int i = 0; i < e.get_NumAttachments(); ++i)
        items.push_back({e.GetAttachmentFilename(i), e.GetAttachmentContentType(i),
                         static_cast<size_t>(e.GetAttachmentSize(i)), e.GetAttachmentContentID(i)});
    printItems("Attachments", items);
    items.clear();
    for (int i = 0; i < e.get_NumRelatedItems(); ++i)
        items.push_back({e.GetRelatedFilename(i), e.GetRelatedContentType(i),
                         e.GetRelatedData(i).size(), e.GetRelatedContentID(i)});
    printItems("Inline items", items);
}

} // namespace

int show(const Parsed& p) {
    std::vector<uint8_t> mime;
    if (!readInput(p.operands[0], mime))
        return kFailed;
    Email email;
    (void)email.SetFromMimeBytes(mime);
    release(mime);
    // Taken now: the members called for the listing below each start a log of their own.
    const std::string loadLog = email.get_LastErrorText();
    printHeader(email);
    std::printf("\n%s\n", bold("Structure:").c_str());
    printStructure(email);
    printBody(email);
    printAttachmentsAndInlineItems(email);
    if (const int n = email.get_NumAttachedMessages(); n > 0)
        std::printf("\n%s %d\n", bold("Attached messages:").c_str(), n);
    if (p.wantsLog())
        std::printf("\n%s\n%s", bold("Activity log:").c_str(), printable(loadLog).c_str());
    return kOk;
}

} // namespace nvmail
