#include "email/EmailHtml.h"

#include "common/FileAccess.h"
#include "email/Html.h"
#include "email/HtmlHelp.h"

namespace norvane::email_html {

namespace {

// Plain text as the content of a <pre> element: CRLF line ends, and the three characters
// that would otherwise be read as markup escaped.
std::string preformatted(std::string_view text) {
    const std::string crlf = sb::toCRLF(text);
    std::string html = "<html><head/><body><pre>";
    html.reserve(html.size() + crlf.size() + 32);
    for (char c : crlf) {
        switch (c) {
        case '<':
            html += "&lt;";
            break;
        case '>':
            html += "&gt;";
            break;
        case '&':
            html += "&amp;";
            break;
        default:
            html += c;
        }
    }
    html += "</pre></body></html>";
    return html;
}

} // namespace

void linkedDomainsOf(const Email2& email, std::vector<std::string>& list) {
    for (const Email2* node : {email.plainTextNode(), email.htmlNode()})
        if (node && node != &email)
            linkedDomainsOf(*node, list);
    Html::linkedDomains(Html::unescapeTags(email.getBody().view()), list);
}

std::string tempMhtCopy(const Email2& email, LogBase& log) {
    std::unique_ptr<Email2> copy = email.clone(log);
    if (!copy)
        return {};
    copy->dropAllAttachments();
    if (copy->findAlternativeNode()) {
        const Email2* plain = copy->plainTextNode();
        if (!copy->htmlNode() && plain)
            copy->setHtmlBody(preformatted(plain->body().view()));
    } else if (sb::equalsNoCase(copy->contentType(), "text/plain")) {
        std::string html = preformatted(copy->body().view());
        HtmlHelp::insertMetaCharset(html, "utf-8");
        copy->setHtmlBody(html);
    }
    StringBuffer mime;
    copy->renderMime(mime, "", log);
    return mime.str();
}

std::string writeTempMht(const Email2& email, std::string_view fileName, LogBase& log) {
    std::string path(sb::trimView(fileName));
    if (path.empty())
        path = file::makeTempFileName(file::tempDirectory(), "tmpMht.mht");
    const std::string mime = tempMhtCopy(email, log);
    if (!file::writeWholeFile(path, mime, &log))
        return {};
    return path;
}

} // namespace norvane::email_html
