// Writing the XML form of a MIME tree, an e-mail and a bundle.

#include "store/EmailXml.h"

#include "charset/ContentCoding.h"
#include "mime/Rfc822Address.h"
#include "mime/TextScan.h"
#include "store/MailBundle.h"

#include <cctype>

namespace norvane {

namespace {

// Fields whose value is a "type; name=value" list (RFC 2045, RFC 2183): their parameters
// become attributes even when that changes the quoting, which is equivalent there.
bool isParameterField(std::string_view name) {
    return name == "content-type" || name == "content-disposition";
}

bool isAddressField(std::string_view name) {
    return name == "from" || name == "return-path" || name == "sender" || name == "reply-to";
}

bool isListField(std::string_view name) {
    return name == "to" || name == "cc" || name == "x-rcpt-to";
}

// The value of one field: the main value and its parameters.
struct FieldParts {
    std::string main;
    std::vector<std::pair<std::string, std::string>> attrs;
};

// Scans from pos up to a byte of stop outside double quotes. A quoted string runs to its
// closing quote (or the end); withQuotes keeps its quote characters in out.
size_t scanValue(std::string_view v, size_t pos, std::string_view stop, bool withQuotes,
                 std::string& out) {
    while (pos < v.size()) {
        const char c = v[pos];
        if (c == '"') {
            const size_t close = v.find('"', pos + 1);
            const size_t end = close == std::string_view::npos ? v.size() : close;
            if (withQuotes)
                out.append(v.substr(pos, (close == std::string_view::npos ? end : end + 1) - pos));
            else
                out.append(v.substr(pos + 1, end - pos - 1));
            pos = close == std::string_view::npos ? end : end + 1;
            continue;
        }
        if (stop.find(c) != std::string_view::npos)
            break;
        out.push_back(c);
        ++pos;
    }
    return pos;
}

bool isAttributeName(std::string_view name) {
    return name.find_first_of("@/;)") == std::string_view::npos;
}

// Cuts a field value (one line) into its main value and its parameters.
FieldParts splitField(std::string_view name, std::string_view value) {
    FieldParts p;
    std::string_view stop = ";\r\n";
    if (name == "received")
        stop = "\r\n";
    else if (name == "content-type")
        stop = "; \r\n";
    size_t pos = scanValue(value, 0, stop, true, p.main);
    const bool limited = !isParameterField(name);
    for (size_t n = 0; pos < value.size(); ++n) {
        // Parameters a real header never has this many of; a parameter field keeps them all.
        if (limited && n >= 41)
            break;
        pos = value.find_first_not_of("; \t", pos);
        if (pos == std::string_view::npos)
            break;
        std::string pname;
        pos = scanValue(value, pos, "= \t", true, pname);
        std::string pvalue;
        if (pos < value.size() && value[pos] == '=')
            pos = scanValue(value, pos + 1, ";", false, pvalue);
        if (pname.empty() && pvalue.empty())
            continue;
        if (!isAttributeName(pname) || pvalue.empty()) {
            if (!p.main.ends_with(';'))
                p.main.append("; ");
            p.main.append(pname);
            continue;
        }
        p.attrs.emplace_back(sb::lowerAscii(pname), std::move(pvalue));
    }
    return p;
}

// What the reader makes of p for a field that is not a parameter list.
std::string rebuilt(const FieldParts& p) {
    std::string s = p.main;
    for (const auto& [n, v] : p.attrs)
        s.append("; ").append(n).append("=\"").append(v).append("\"");
    return s;
}

bool has8bit(std::string_view s) {
    return !text_scan::is7bit(s);
}

void appendText(std::string_view text, std::string& out) {
    if (!has8bit(text)) {
        out.append(sb::xmlEscape(text));
        return;
    }
    std::string word;
    ContentCoding::encodeWordQ(text, "8bit", word);
    out.append(sb::xmlEscape(word));
}

std::string attrEscape(std::string_view v) {
    std::string out;
    out.reserve(v.size());
    for (char c : v) {
        switch (c) {
        case '&':
            out.append("&amp;");
            break;
        case '<':
            out.append("&lt;");
            break;
        case '>':
            out.append("&gt;");
            break;
        case '"':
            out.append("&quot;");
            break;
        case '\'':
            out.append("&apos;");
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

// RFC 2047 section 5 (3) allows only letters, digits and "!*+-/=_" in a Q encoded word inside
// a phrase; a word written with a ',' or '"' in it would be cut apart by the address list
// reader. Such bytes are written as =XX, which decodes to the same text.
std::string phraseSafeWords(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        const size_t start = text.find("=?", pos);
        if (start == std::string_view::npos)
            break;
        const size_t q = sb::findNoCase(text.substr(start + 2), "?Q?");
        const size_t end = q == std::string_view::npos ? std::string_view::npos
                                                       : text.find("?=", start + 2 + q + 3);
        if (end == std::string_view::npos)
            break;
        const size_t body = start + 2 + q + 3;
        out.append(text.substr(pos, body - pos));
        for (char c : text.substr(body, end - body)) {
            const auto u = static_cast<unsigned char>(c);
            if (std::isalnum(u) || std::string_view("!*+-/=_").find(c) != std::string_view::npos) {
                out.push_back(c);
            } else {
                static constexpr char kHex[] = "0123456789ABCDEF";
                out.push_back('=');
                out.push_back(kHex[u >> 4]);
                out.push_back(kHex[u & 15]);
            }
        }
        pos = end;
    }
    out.append(text.substr(pos));
    return out;
}

// The content of the element of field name.
void appendContent(std::string_view name, const std::string& main, std::string& out) {
    if (isAddressField(name)) {
        auto addr = Rfc822Address::parseAddress(phraseSafeWords(main));
        if (addr && addr->isValid()) {
            addr->toXml(out);
            return;
        }
    } else if (isListField(name)) {
        ExtPtrArray<Rfc822Address> list;
        (void)Rfc822Address::parseAddressList(phraseSafeWords(main), list);
        for (const auto& a : list)
            a->toXml(out);
        if (!list.isEmpty())
            return;
    } else if (name == "content-type") {
        appendText(sb::lowerAscii(main), out);
        return;
    } else {
        appendText(main, out);
        return;
    }
    // An address field without an address keeps its text, so that nothing is lost.
    out.append("<description>");
    appendText(main, out);
    out.append("</description>");
}

// One field line "value" of field name as its element.
void appendFieldElement(std::string_view name, std::string_view value, std::string& out) {
    FieldParts p = splitField(name, value);
    if (!isParameterField(name) && rebuilt(p) != value) {
        // Not a parameter list after all (a Subject with "a=b" in it, a DKIM signature): cutting
        // it up would change the value, so it stays whole.
        p.main.assign(value);
        p.attrs.clear();
    }
    out.push_back('<');
    out.append(name);
    for (const auto& [n, v] : p.attrs)
        out.append(" ").append(n).append("=\"").append(attrEscape(v)).append("\"");
    out.push_back('>');
    const bool onLines =
        isAddressField(name) || isListField(name) || name == "content-type" || name == "message-id";
    if (onLines)
        out.push_back('\n');
    appendContent(name, p.main, out);
    if (onLines)
        out.push_back('\n');
    out.append("</").append(name).append(">\n");
}

// A rendered field as one line: the encoder's folds ("\r\n\t") removed, any other fold
// undone keeping its white space, stray line ends dropped.
std::string oneLine(std::string_view rendered) {
    std::string out;
    out.reserve(rendered.size());
    for (size_t i = 0; i < rendered.size(); ++i) {
        const char c = rendered[i];
        if (c == '\r' && rendered.substr(i).starts_with("\r\n\t")) {
            i += 2;
            continue;
        }
        if (c != '\r' && c != '\n')
            out.push_back(c);
    }
    return out;
}

// "<header>...</header>\n", or empty when the node has no fields.
std::string headerElement(const MimeMessage2& node) {
    const MimeHeader& h = node.header();
    if (h.fieldCount() == 0)
        return {};
    // As the header renders itself: without a charset of the node's own, the one its text came
    // in.
    Charset cs = node.charset();
    if (cs.getCodePage() == 0 && h.headerCodePage() != 0)
        cs.setByCodePage(h.headerCodePage());
    std::string out = "<header>\n";
    for (int i = 0; i < h.fieldCount(); ++i) {
        const MimeField* f = h.fieldAt(i);
        const std::string name = sb::lowerAscii(sb::trimView(f->name()));
        if (name.empty())
            break;
        StringBuffer rendered;
        f->render(rendered, cs);
        std::string line = oneLine(rendered.view());
        const size_t colon = line.find(':');
        std::string_view value = colon == std::string::npos
                                     ? std::string_view()
                                     : std::string_view(line).substr(colon + 1);
        value = sb::trimView(value);
        appendFieldElement(name, value, out);
    }
    out.append("</header>\n");
    return out;
}

// Bare text would lose white space at its ends (the reader trims it) and is not XML when it
// holds markup bytes.
bool needsCdata(std::string_view body) {
    if (body.find_first_of("\n\t&<>\r") != std::string_view::npos)
        return true;
    return !body.empty() && (body.front() == ' ' || body.back() == ' ');
}

} // namespace

namespace {

// Renders the leaf's body for transfer at the end of out. Room is reserved first with some to
// spare, so that a large body is rendered in place and the text after it fits, instead of out
// being copied into a bigger buffer (twice the memory of the body for a moment).
void appendRenderedBody(const MimeMessage2& node, std::string& out) {
    const size_t n = node.body().getSize();
    out.reserve(out.size() + n + n / 2 + 4096);
    StringBuffer buffer(std::move(out));
    node.renderBody(buffer);
    out = std::move(buffer.str());
}

// The leaf's body element content, rendered in place: inside CDATA when it needs it, and
// switched to base64 first (header and all) when its text holds "]]>". The element starts
// at start in out, where its header is written anew in that case.
void appendLeaf(MimeMessage2& node, std::string& header, size_t start, std::string& out) {
    for (;;) {
        out.append("<mime_message>\n");
        out.append(header);
        out.append("<body>\n");
        const size_t cdataAt = out.size();
        out.append("<![CDATA[");
        const size_t textAt = out.size();
        appendRenderedBody(node, out);
        const std::string_view text = std::string_view(out).substr(textAt);
        if (text.find("]]>") != std::string_view::npos) {
            // The text could not be written inside CDATA; base64 never holds "]]>".
            out.resize(start);
            node.setTransferEncoding("base64");
            header = headerElement(node);
            continue;
        }
        if (needsCdata(text))
            out.append("]]>");
        else
            out.erase(cdataAt, textAt - cdataAt);
        return;
    }
}

// keepHeaderless: a message without any header field is still written (with an empty header
// element), so that its text survives; a sub-part without one is left out as usual.
void writeNode(MimeMessage2& node, std::string& out, bool keepHeaderless) {
    std::string header = headerElement(node);
    if (header.empty()) {
        if (!keepHeaderless || (node.partCount() == 0 && node.body().getSize() == 0))
            return;
        header = "<header>\n</header>\n";
    }
    if (node.partCount() == 0) {
        appendLeaf(node, header, out.size(), out);
        out.append("\n</body>\n</mime_message>\n");
        return;
    }
    out.append("<mime_message>\n");
    out.append(header);
    out.append("<body>\n");
    // Each sub-part is written in place (no copy per nesting level) and trimmed there; it
    // starts with '<', so only its end needs trimming.
    for (int i = 0; i < node.partCount(); ++i) {
        const size_t mark = out.size();
        out.append("<subpart>\n");
        const size_t start = out.size();
        writeNode(*node.partAt(i), out, false);
        while (out.size() > start &&
               std::string_view(" \t\r\n").find(out.back()) != std::string_view::npos)
            out.pop_back();
        if (out.size() == start) {
            out.resize(mark);
            continue;
        }
        out.append("</subpart>\n");
    }
    out.append("\n</body>\n</mime_message>\n");
}

} // namespace

void EmailXml::mimeToXml(MimeMessage2& node, std::string& out) {
    writeNode(node, out, false);
}

void EmailXml::emailToXml(const Email2& email, std::string& out, LogBase& log) {
    MimeMessage2 tree;
    {
        // Gone before the XML is written: the tree holds the same bodies, decoded.
        StringBuffer mime;
        email.renderMime(mime, "", log);
        tree.loadFromText(mime.view(), log);
    }
    const int nBcc = email.numRecipients(RecipientKind::Bcc);
    if (nBcc > 0) {
        std::string bcc;
        for (int i = 0; i < nBcc; ++i) {
            if (i > 0)
                bcc.append(", ");
            email.recipient(RecipientKind::Bcc, i)->renderRaw(bcc);
        }
        tree.setHeaderField("Bcc", bcc);
    }
    writeNode(tree, out, true);
}

void EmailXml::bundleToXml(const MailBundle& bundle, std::string& out, LogBase& log) {
    out.append("<email_bundle>\n");
    for (int i = bundle.count(); i > 0; --i)
        emailToXml(*bundle.get(i - 1), out, log);
    out.append("</email_bundle>\n");
}

} // namespace norvane
