// nvmail compose: an e-mail from the command line.

#include "Commands.h"

#include "charset/EncodingConvert.h"
#include "charset/UnicodeInfo.h"
#include "common/FileAccess.h"
#include "common/Logger.h"
#include "mime/Email2.h"

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

int composeUsage() {
    std::fprintf(stderr,
                 "usage: nvmail compose [options]\n"
                 "  --from ADDR            sender, e.g. \"Ann Lee <ann@example.com>\"\n"
                 "  --to ADDRS             recipients, comma-separated (repeatable)\n"
                 "  --cc ADDRS, --bcc ADDRS\n"
                 "  --subject TEXT\n"
                 "  --text FILE            plain-text body (UTF-8)\n"
                 "  --text-string TEXT     plain-text body given inline\n"
                 "  --html FILE            HTML body (UTF-8); with a text body it becomes the\n"
                 "                         alternative. <img src=\"NAME\"> or cid:NAME refer to\n"
                 "                         an --inline file by its name\n"
                 "  --inline FILE          an image or other item the HTML shows (repeatable)\n"
                 "  --attach FILE          an attachment (repeatable)\n"
                 "  --charset NAME         charset to send the text in (default: chosen)\n"
                 "  -o, --output FILE      where to write the .eml (default: stdout)\n");
    return 2;
}

struct Options {
    std::string from;
    std::vector<std::pair<RecipientKind, std::string>> recipients;
    std::string subject;
    std::string textFile;
    std::string text;
    bool haveText = false;
    std::string htmlFile;
    std::vector<std::string> inlineFiles;
    std::vector<std::string> attachments;
    std::string charset;
    std::string output;
};

bool parseOptions(const Args& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h")
            return false;
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "nvmail compose: %s needs a value\n", a.c_str());
            return false;
        }
        const std::string& v = args[++i];
        if (a == "--from")
            o.from = v;
        else if (a == "--to")
            o.recipients.emplace_back(RecipientKind::To, v);
        else if (a == "--cc")
            o.recipients.emplace_back(RecipientKind::Cc, v);
        else if (a == "--bcc")
            o.recipients.emplace_back(RecipientKind::Bcc, v);
        else if (a == "--subject")
            o.subject = v;
        else if (a == "--text")
            o.textFile = v;
        else if (a == "--text-string") {
            o.text = v;
            o.haveText = true;
        } else if (a == "--html")
            o.htmlFile = v;
        else if (a == "--inline")
            o.inlineFiles.push_back(v);
        else if (a == "--attach")
            o.attachments.push_back(v);
        else if (a == "--charset")
            o.charset = v;
        else if (a == "-o" || a == "--output")
            o.output = v;
        else {
            std::fprintf(stderr, "nvmail compose: unknown option %s\n", a.c_str());
            return false;
        }
    }
    return true;
}

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
};

bool readBodies(const Options& o, Bodies& b) {
    b.text = o.text;
    b.haveText = o.haveText || !o.textFile.empty();
    if (!o.textFile.empty() && !readInput(o.textFile, b.text))
        return false;
    if (!o.htmlFile.empty() && !readInput(o.htmlFile, b.html))
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
    if (b.html.empty())
        return;
    if (!b.haveText) {
        e.setHtmlBody(b.html);
        return;
    }
    // The e-mail's charset serves the HTML too when it holds every character.
    const Charset cs = convertsTo(b.html, e.charset().getCodePage()) ? e.charset() : Charset();
    e.addAlternative(Email2::makeHtmlAlternativePart(b.html, cs));
}

bool readInlineItems(const Options& o, std::vector<InlineItem>& items) {
    for (const auto& path : o.inlineFiles) {
        DataBuffer data;
        norvane::LogNull log;
        if (!norvane::file::readWholeFile(path, data, &log)) {
            std::fprintf(stderr, "nvmail compose: cannot read %s\n", path.c_str());
            return false;
        }
        items.push_back({baseName(path), Email2::makeRelatedPart(path, std::move(data))});
    }
    return true;
}

bool addRecipients(Email2& e, const Options& o) {
    if (!o.from.empty() && !e.setFrom(o.from)) {
        std::fprintf(stderr, "nvmail compose: not an address: %s\n", o.from.c_str());
        return false;
    }
    for (const auto& [kind, list] : o.recipients) {
        if (e.addMultiple(kind, list) == 0) {
            std::fprintf(stderr, "nvmail compose: no address in: %s\n", list.c_str());
            return false;
        }
    }
    return true;
}

bool writeOutput(const std::string& path, std::string_view mime) {
    if (path.empty() || path == "-") {
        return std::fwrite(mime.data(), 1, mime.size(), stdout) == mime.size() &&
               std::fflush(stdout) == 0;
    }
    norvane::Logger log;
    if (norvane::file::writeWholeFile(path, mime, &log))
        return true;
    norvane::StringBuffer text;
    log.getLastErrorText(text);
    std::fprintf(stderr, "nvmail compose: cannot write %s\n%s", path.c_str(), text.getString());
    return false;
}

} // namespace

int compose(const Args& args) {
    Options o;
    if (!parseOptions(args, o))
        return composeUsage();
    Bodies bodies;
    std::vector<InlineItem> items;
    if (!readBodies(o, bodies) || !readInlineItems(o, items))
        return 1;
    Email2 e;
    if (!o.charset.empty()) {
        Charset cs;
        if (!cs.setByName(o.charset)) {
            std::fprintf(stderr, "nvmail compose: unknown charset %s\n", o.charset.c_str());
            return 2;
        }
        e.setCharset(cs);
    } else {
        // One charset for subject and bodies, chosen from all of their text.
        chooseCharset(e, o.subject + "\n" + bodies.text + "\n" + bodies.html);
    }
    if (!addRecipients(e, o))
        return 1;
    if (!o.subject.empty())
        e.setHeaderField("subject", o.subject);
    setBodies(e, bodies, items);
    for (auto& item : items)
        e.addRelated(std::move(item.part));
    norvane::Logger log;
    for (const auto& path : o.attachments) {
        std::string type;
        if (!e.addFileAttachment(path, "", type, log)) {
            norvane::StringBuffer text;
            log.getLastErrorText(text);
            std::fprintf(stderr, "nvmail compose: cannot attach %s\n%s", path.c_str(),
                         text.getString());
            return 1;
        }
    }
    norvane::StringBuffer mime;
    e.renderMime(mime, "", log);
    return writeOutput(o.output, mime.view()) ? 0 : 1;
}

bool takeFlag(const Args& args, std::string_view flag, Args& rest) {
    bool found = false;
    for (const auto& a : args) {
        if (a == flag)
            found = true;
        else
            rest.push_back(a);
    }
    return found;
}

bool readInput(const std::string& path, std::string& out) {
    norvane::LogNull log;
    if (norvane::file::readWholeFile(path, out, &log))
        return true;
    std::fprintf(stderr, "nvmail: cannot read %s\n", path.c_str());
    return false;
}

} // namespace nvmail
