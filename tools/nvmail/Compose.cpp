// nvmail compose: an e-mail from the command line; send builds its e-mail here too.

#include "Commands.h"

#include "norvane/Email.h"

#include <algorithm>

#include <cstdio>
#include <string_view>

using norvane::Email;

namespace nvmail {

namespace {

std::string_view trimView(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Lines of mail text end in CR LF, whatever the files use.
std::string toCrLf(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 32);
    for (char c : s) {
        if (c == '\r')
            continue;
        if (c == '\n')
            out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

// The charset the library chooses for all of text: one charset serves subject and bodies.
// Empty when the text needs none (ASCII).
std::string chosenCharset(const std::string& text) {
    Email scratch;
    scratch.put_Body(text.c_str());
    return scratch.get_Charset();
}

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

// An inline file: its name as the HTML refers to it and its Content-ID once added.
struct InlineItem {
    std::string name;
    std::string contentId;
};

// Points the HTML's references to each inline file at its Content-ID.
void linkInlineItems(std::string& html, const std::vector<InlineItem>& items) {
    for (const auto& item : items) {
        replaceAll(html, "cid:" + item.name, "cid:" + item.contentId);
        replaceAll(html, "src=\"" + item.name + "\"", "src=\"cid:" + item.contentId + "\"");
        replaceAll(html, "src='" + item.name + "'", "src='cid:" + item.contentId + "'");
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
    b.text = toCrLf(b.text);
    b.html = toCrLf(b.html);
    return true;
}

// The inline files join the e-mail after the bodies; the HTML refers to them by the Content-IDs
// they get here.
bool addInlineItems(const Parsed& p, Email& e, std::vector<InlineItem>& items) {
    for (const auto& path : p.values("--inline")) {
        std::vector<uint8_t> data;
        if (!readInput(path, data, true))
            return false;
        items.push_back({baseName(path), e.AddRelatedData(data, path.c_str())});
    }
    return true;
}

// With a text body the HTML becomes its alternative.
void setHtml(Email& e, const Bodies& b, const std::string& html) {
    if (!b.haveHtml)
        return;
    if (b.haveText)
        (void)e.AddHtmlAlternativeBody(html.c_str());
    else
        (void)e.SetHtmlBody(html.c_str());
}

// The bodies, then the inline items, then the HTML again with its references pointed at them.
bool setBodies(const Parsed& p, Email& e, const Bodies& b) {
    if (b.haveText)
        e.put_Body(b.text.c_str());
    setHtml(e, b, b.html);
    std::vector<InlineItem> items;
    if (!addInlineItems(p, e, items))
        return false;
    std::string linked = b.html;
    linkInlineItems(linked, items);
    // Replaces the text of the HTML part where it now sits.
    if (linked != b.html)
        (void)e.AddHtmlAlternativeBody(linked.c_str());
    return true;
}

// The entries of a comma-separated address list; a comma inside quotes separates nothing.
std::vector<std::string> splitList(std::string_view list) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (char c : list) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted) {
            if (!cur.empty())
                out.push_back(std::move(cur));
            cur.clear();
            continue;
        }
        cur.push_back(c);
    }
    if (!cur.empty())
        out.push_back(std::move(cur));
    return out;
}

// One address as a person means it: the library takes it as a sender, and its address has
// something before and after a single '@', no spaces or control characters.
bool isMailbox(const std::string& entry) {
    Email parsed;
    parsed.put_From(entry.c_str());
    const std::string addr = parsed.get_FromAddress();
    const size_t at = addr.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 == addr.size())
        return false;
    const std::string_view domain = std::string_view(addr).substr(at + 1);
    if (domain.find('@') != std::string_view::npos || domain.front() == '.' || domain.back() == '.')
        return false;
    return std::none_of(addr.begin(), addr.end(),
                        [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
}

// Every comma-separated entry of an address option must be one mailbox; the first that is not
// is named.
bool checkAddresses(std::string_view option, const std::string& list, bool single) {
    const std::vector<std::string> entries = splitList(list);
    std::string bad;
    if (entries.empty())
        bad = list;
    for (const std::string& entry : entries) {
        if (!isMailbox(entry)) {
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
          std::string(trimView(bad)) + "'");
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

void addAddresses(Email& e, const Parsed& p) {
    if (p.has("--from"))
        e.put_From(p.value("--from").c_str());
    for (const auto& [name, value] : p.options) {
        if (name == "--to")
            (void)e.AddMultipleTo(value.c_str());
        else if (name == "--cc")
            (void)e.AddMultipleCC(value.c_str());
        else if (name == "--bcc")
            (void)e.AddMultipleBcc(value.c_str());
    }
}

bool addAttachments(const Parsed& p, Email& e) {
    for (const auto& path : p.values("--attach")) {
        std::vector<uint8_t> data;
        if (!readInput(path, data, true))
            return false;
        (void)e.AddDataAttachment(data, path.c_str());
    }
    return true;
}

} // namespace

int buildEmail(const Parsed& p, std::unique_ptr<Email>& out) {
    if (const int status = checkAddressOptions(p); status != kOk)
        return status;
    auto e = std::make_unique<Email>();
    if (p.has("--charset")) {
        e->put_Charset(p.value("--charset").c_str());
        if (e->get_Charset().empty()) {
            error("--charset: unknown charset '" + p.value("--charset") + "'");
            return kUsage;
        }
    }
    Bodies bodies;
    if (!readBodies(p, bodies))
        return kFailed;
    const std::string subject = p.value("--subject");
    if (!p.has("--charset")) {
        // One charset for subject and bodies, chosen from all of their text.
        const std::string cs = chosenCharset(subject + "\n" + bodies.text + "\n" + bodies.html);
        if (!cs.empty())
            e->put_Charset(cs.c_str());
    }
    addAddresses(*e, p);
    if (!subject.empty())
        e->AddHeaderField("subject", subject.c_str());
    if (!setBodies(p, *e, bodies) || !addAttachments(p, *e))
        return kFailed;
    out = std::move(e);
    return kOk;
}

int compose(const Parsed& p) {
    std::unique_ptr<Email> email;
    if (const int status = buildEmail(p, email); status != kOk)
        return status;
    const std::string mime = email->GetMime();
    printLogIfWanted(p, email->get_LastErrorText());
    return writeOutput(p.value("--output"), mime) ? kOk : kFailed;
}

} // namespace nvmail
