#include "email/HtmlHelp.h"

#include "common/StringBuffer.h"

#include <optional>

namespace norvane {

namespace {

struct MetaTag {
    size_t begin = 0; // position of "<meta"
    size_t end = 0;   // one past the closing '>' (or the end of the text)
    std::optional<std::string> httpEquiv;
    std::optional<std::string> content;
    std::optional<std::string> charset;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// End of the tag that starts at pos: the first '>' outside single or double quotes.
size_t tagEnd(std::string_view html, size_t pos) {
    char quote = 0;
    for (size_t i = pos; i < html.size(); ++i) {
        const char c = html[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return html.size();
}

// Attributes of the tag text after "<meta": name=value with the value quoted by ' or " or
// running to the next blank; a name without '=' has no value.
void parseAttributes(std::string_view text, MetaTag& tag) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (isBlank(text[i]) || text[i] == '/' || text[i] == '>'))
            ++i;
        const size_t nameStart = i;
        while (i < text.size() && !isBlank(text[i]) && text[i] != '=' && text[i] != '>')
            ++i;
        const std::string_view name = text.substr(nameStart, i - nameStart);
        while (i < text.size() && isBlank(text[i]))
            ++i;
        std::string value;
        if (i < text.size() && text[i] == '=') {
            ++i;
            while (i < text.size() && isBlank(text[i]))
                ++i;
            if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
                const char q = text[i++];
                const size_t close = text.find(q, i);
                const size_t stop = close == std::string_view::npos ? text.size() : close;
                value.assign(text.substr(i, stop - i));
                i = stop == text.size() ? stop : stop + 1;
            } else {
                const size_t start = i;
                while (i < text.size() && !isBlank(text[i]) && text[i] != '>')
                    ++i;
                value.assign(text.substr(start, i - start));
            }
        }
        if (name.empty()) {
            ++i;
            continue;
        }
        if (sb::equalsNoCase(name, "http-equiv"))
            tag.httpEquiv = value;
        else if (sb::equalsNoCase(name, "content"))
            tag.content = value;
        else if (sb::equalsNoCase(name, "charset"))
            tag.charset = value;
    }
}

// The next "<meta" tag at or after pos, parsed; nothing when there is none.
std::optional<MetaTag> nextMeta(std::string_view html, size_t pos) {
    const size_t at = sb::findNoCase(html.substr(pos), "<meta");
    if (at == std::string_view::npos)
        return std::nullopt;
    MetaTag tag;
    tag.begin = pos + at;
    tag.end = tagEnd(html, tag.begin + 5);
    parseAttributes(html.substr(tag.begin + 5, tag.end - tag.begin - 5), tag);
    return tag;
}

bool declaresContentType(const MetaTag& tag) {
    return tag.httpEquiv && sb::equalsNoCase(sb::trimView(*tag.httpEquiv), "content-type");
}

// The charset name after "charset=" in a content attribute; nothing when it has none.
std::optional<std::string> charsetInContent(std::string_view content) {
    const size_t at = sb::findNoCase(content, "charset=");
    if (at == std::string_view::npos)
        return std::nullopt;
    const std::string_view rest = content.substr(at + 8);
    const size_t stop = rest.find_first_of("\"; \t\r\n");
    return std::string(rest.substr(0, stop));
}

// Replaces the first occurrence of from (exact case) by to.
void replaceFirst(std::string& s, std::string_view from, std::string_view to) {
    const size_t at = s.find(from);
    if (at != std::string::npos)
        s.replace(at, from.size(), to);
}

bool containsNoCase(std::string_view s, std::string_view what) {
    return sb::findNoCase(s, what) != std::string_view::npos;
}

} // namespace

std::string HtmlHelp::getMetaCharset(std::string_view html) {
    size_t pos = 0;
    while (auto tag = nextMeta(html, pos)) {
        pos = tag->end;
        if (!declaresContentType(*tag))
            continue;
        if (tag->content)
            if (auto name = charsetInContent(*tag->content))
                return *name;
        return tag->charset.value_or(std::string());
    }
    return {};
}

void HtmlHelp::removeMetaCharset(std::string& html) {
    std::string out;
    size_t copied = 0;
    size_t pos = 0;
    while (auto tag = nextMeta(html, pos)) {
        pos = tag->end;
        if (declaresContentType(*tag) && tag->content && charsetInContent(*tag->content)) {
            out.append(html, copied, tag->begin - copied);
            copied = tag->end;
        }
    }
    if (copied == 0)
        return;
    out.append(html, copied, std::string::npos);
    html = std::move(out);
}

void HtmlHelp::insertMetaCharset(std::string& html, std::string_view name) {
    ensureHtmlSkeleton(html);
    replaceFirst(html, "<HEAD>", "<head>");
    std::string meta = "<head><META http-equiv=\"Content-Type\" content=\"text/html;charset=";
    meta.append(name);
    meta.append("\">");
    replaceFirst(html, "<head>", meta);
}

void HtmlHelp::ensureHtmlSkeleton(std::string& html) {
    if (!containsNoCase(html, "<html"))
        html.insert(0, "<html>");
    if (!containsNoCase(html, "</html>"))
        html.append("</html>");
    if (!containsNoCase(html, "<head")) {
        replaceFirst(html, "<HTML>", "<html>");
        replaceFirst(html, "<html>", "<html><head>");
        if (containsNoCase(html, "<body")) {
            replaceFirst(html, "<BODY", "<body");
            replaceFirst(html, "<body", "</head><body");
        } else {
            replaceFirst(html, "</HTML>", "</html>");
            replaceFirst(html, "<head>", "<head></head>");
        }
    }
    if (!containsNoCase(html, "<body")) {
        replaceFirst(html, "</HEAD>", "</head>");
        replaceFirst(html, "</head>", "</head><body>");
    }
    if (!containsNoCase(html, "</body>")) {
        replaceFirst(html, "</HTML>", "</html>");
        replaceFirst(html, "</html>", "</body></html>");
    }
}

} // namespace norvane
