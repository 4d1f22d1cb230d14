// nvmail compose: an e-mail from the command line; send builds its e-mail here too.

#include "Commands.h"

#include "charset/EncodingConvert.h"
#include "charset/UnicodeInfo.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "email/Email2.h"
#include "facade/ClsEmail.h"
#include "mime/Rfc822Address.h"

#include <algorithm>

#include <cstdio>
#include <map>
#include <string_view>

using norvane::Charset;
using norvane::DataBuffer;
using norvane::Email2;
using norvane::RecipientKind;

namespace nvmail {

namespace {

constexpr int kUtf8 = 65001;
constexpr int kUtf16Le = 1200;

bool convertsTo(std::string_view utf8, int cp) {
    if (cp == kUtf8)
        return true;
    std::string out;
    norvane::EncodingConvert conv;
    return conv.convert(kUtf8, cp, utf8, out);
}

// Gives the e-mail a charset for text it has none for: the single-script charset that holds
// every character, else UTF-8.
void chooseCharset(Email2& e, std::string_view utf8) {
    if (e.charset().getCodePage() != 0 || utf8.empty())
        return;
    std::string utf16;
    norvane::EncodingConvert conv;
    (void)conv.convert(kUtf8, kUtf16Le, utf8, utf16);
    std::u16string units(utf16.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * i]) |
                                         static_cast<unsigned char>(utf16[2 * i + 1]) << 8);
    norvane::UnicodeInfo info;
    info.analyse(units);
    int cp = info.chooseCharset();
    if (cp == 0)
        return;
    if (!convertsTo(utf8, cp))
        cp = kUtf8;
    Charset cs;
    if (cs.setByCodePage(cp))
        e.setCharset(cs);
}

// The inline items, read and given their Content-IDs before the HTML that refers to them.
struct InlineItem {
    std::string name;
    std::unique_ptr<Email2> part;
};

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    if (from.empty())
        return;
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
}

// Points the HTML's references to each inline file at its Content-ID.
void linkInlineItems(std::string& html, const std::vector<InlineItem>& items) {
    for (const auto& item : items) {
        std::string cid = item.part->contentId();
        std::erase(cid, '<');
        std::erase(cid, '>');
        replaceAll(html, "cid:" + item.name, "cid:" + cid);
        replaceAll(html, "src=\"" + item.name + "\"", "src=\"cid:" + cid + "\"");
        replaceAll(html, "src='" + item.name + "'", "src='cid:" + cid + "'");
    }
}

struct Bodies {
    std::string text;
    bool haveText = false;
    std::string html;
    bool haveHtml = false;
};

bool readBodies(const Parsed& p, Bodies& b) {
    b.text = p.value("--text-string");
    b.haveText = p.has("--text-string") || p.has("--text");
    if (p.has("--text") && !readInput(p.value("--text"), b.text, true))
        return false;
    // An empty HTML file is still an HTML body.
    b.haveHtml = p.has("--html");
    if (b.haveHtml && !readInput(p.value("--html"), b.html, true))
        return false;
    // Lines of mail text end in CR LF, whatever the files use.
    b.text = norvane::sb::toCRLF(b.text);
    b.html = norvane::sb::toCRLF(b.html);
    return true;
}

void setBodies(Email2& e, Bodies& b, const std::vector<InlineItem>& items) {
    linkInlineItems(b.html, items);
    if (b.haveText)
        e.setBody(b.text, false);
    if (!b.haveHtml)
        return;
    if (!b.haveText) {
        e.setHtmlBody(b.html);
        return;
    }
    // The e-mail's charset serves the HTML too when it holds every character.
    const Charset cs = convertsTo(b.html, e.charset().getCodePage()) ? e.charset() : Charset();
    e.addAlternative(Email2::makeHtmlAlternativePart(b.html, cs));
}

bool readInlineItems(const Parsed& p, std::vector<InlineItem>& items) {
    for (const auto& path : p.values("--inline")) {
        DataBuffer data;
        if (!readInput(path, data, true))
            return false;
        items.push_back({baseName(path), Email2::makeRelatedPart(path, std::move(data))});
    }
    return true;
}

// One address as a person means it: something before and after a single '@', no spaces or
// control characters in it.
bool isMailbox(std::string_view addr) {
    const size_t at = addr.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == addr.size())
        return false;
    const std::string_view domain = addr.substr(at + 1);
    if (domain.find('@') != std::string_view::npos || domain.front() == '.' || domain.back() == '.')
        return false;
    return std::none_of(addr.begin(), addr.end(),
                        [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
}

// Every comma-separated entry of an address option must be one mailbox; the first that is not
// is named.
bool checkAddresses(std::string_view option, const std::string& list, bool single) {
    const std::vector<std::string> entries = norvane::StringBuffer(list).split(",", true, false);
    std::string bad;
    if (entries.empty())
        bad = list;
    for (const std::string& entry : entries) {
        auto addr = norvane::Rfc822Address::parseAddress(entry);
        if (!addr || !isMailbox(addr->getAddress())) {
            bad = entry;
            break;
        }
    }
    if (bad.empty() && single && entries.size() > 1)
        bad = list;
    if (bad.empty())
        return true;
    error(std::string(option) + ": not " +
          (single ? "an e-mail address" : "a list of e-mail addresses") + ": '" +
          std::string(norvane::sb::trimView(bad)) + "'");
    return false;
}

// Exit status of the address checks: kOk, kFailed for an unusable address, kUsage for a missing
// sender or recipient.
int checkAddressOptions(const Parsed& p) {
    if (p.has("--from") && !checkAddresses("--from", p.value("--from"), true))
        return kFailed;
    for (std::string_view option : {"--to", "--cc", "--bcc"})
        for (const auto& list : p.values(option))
            if (!checkAddresses(option, list, false))
                return kFailed;
    if (p.has("--allow-incomplete"))
        return kOk;
    // Only compose can write a message without them.
    const std::string name(p.command->name);
    const std::string escape = p.command->name == "compose" ? " (or --allow-incomplete)" : "";
    if (!p.has("--from")) {
        error(name + " needs --from" + escape);
        return kUsage;
    }
    if (!p.has("--to") && !p.has("--cc") && !p.has("--bcc")) {
        error(name + " needs a recipient: --to, --cc or --bcc" + escape);
        return kUsage;
    }
    return kOk;
}

void addAddresses(Email2& e, const Parsed& p) {
    if (p.has("--from"))
        (void)e.setFrom(p.value("--from"));
    for (const auto& [name, value] : p.options) {
        if (name == "--to")
            (void)e.addMultiple(RecipientKind::To, value);
        else if (name == "--cc")
            (void)e.addMultiple(RecipientKind::Cc, value);
        else if (name == "--bcc")
            (void)e.addMultiple(RecipientKind::Bcc, value);
    }
}

} // namespace

int buildEmail(const Parsed& p, std::unique_ptr<norvane::ClsEmail>& out) {
    if (const int status = checkAddressOptions(p); status != kOk)
        return status;
    auto e = std::make_unique<Email2>();
    if (p.has("--charset")) {
        Charset cs;
        if (!cs.setByName(p.value("--charset"))) {
            error("--charset: unknown charset '" + p.value("--charset") + "'");
            return kUsage;
        }
        e->setCharset(cs);
    }
    Bodies bodies;
    std::vector<InlineItem> items;
    if (!readBodies(p, bodies) || !readInlineItems(p, items))
        return kFailed;
    const std::string subject = p.value("--subject");
    if (!p.has("--charset")) {
        // One charset for subject and bodies, chosen from all of their text.
        chooseCharset(*e, subject + "\n" + bodies.text + "\n" + bodies.html);
    }
    addAddresses(*e, p);
    if (!subject.empty())
        e->setHeaderField("subject", subject);
    setBodies(*e, bodies, items);
    for (auto& item : items)
        e->addRelated(std::move(item.part));
    for (const auto& path : p.values("--attach")) {
        DataBuffer data;
        if (!readInput(path, data, true))
            return kFailed;
        (void)e->addAttachmentPart(Email2::makeAttachmentPart(path, std::move(data), ""));
    }
    out = std::make_unique<norvane::ClsEmail>(std::move(e));
    return kOk;
}

int compose(const Parsed& p) {
    std::unique_ptr<norvane::ClsEmail> email;
    if (const int status = buildEmail(p, email); status != kOk)
        return status;
    ToolLog log;
    norvane::StringBuffer mime;
    email->email2().renderMime(mime, "", log);
    log.printIfWanted(p);
    return writeOutput(p.value("--output"), mime.view()) ? kOk : kFailed;
}

} // namespace nvmail
