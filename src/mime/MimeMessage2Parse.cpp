// Parsing MIME text into a MimeMessage2 tree.
//
// The parser works on views of the caller's text; only a part whose line ends need repair is
// copied. Each multipart level is scanned once for its delimiters, so the time is linear in the
// text for each level, and MimeParseLimits bounds the levels and the nodes.

#include "mime/MimeMessage2.h"

#include "mime/TextScan.h"

namespace norvane {

namespace {

constexpr std::string_view kCrlf2 = "\r\n\r\n";

// Line ends of text that has no CR LF blank line: LF-only text becomes CR LF, doubled CRs
// before LF are dropped, and old Macintosh text (CR only) gets an LF after each CR.
std::string repairLineEnds(std::string_view text) {
    if (text.find("\n\n") != std::string_view::npos)
        return sb::toCRLF(text);
    std::string s(text);
    sb::replaceAll(s, "\r\r\r\n", "\r\n");
    sb::replaceAll(s, "\r\r\n", "\r\n");
    if (s.find(kCrlf2) == std::string::npos && text.find("\r\r") != std::string_view::npos) {
        s.clear();
        s.reserve(text.size() * 2);
        for (char c : text) {
            s.push_back(c);
            if (c == '\r')
                s.push_back('\n');
        }
    }
    return s;
}

// Position of the earliest blank line in any line-end convention, and its length.
std::pair<size_t, size_t> findAnyBlankLine(std::string_view text) {
    std::pair<size_t, size_t> best{std::string_view::npos, 0};
    for (std::string_view blank :
         {std::string_view("\r\n\r\n"), std::string_view("\n\n"), std::string_view("\r\r")}) {
        const size_t p = text.find(blank);
        if (p < best.first)
            best = {p, blank.size()};
    }
    return best;
}

} // namespace

struct MimeMessage2::ParseContext {
    const MimeParseLimits& limits;
    LogBase& log;
    size_t nodes = 1;
    bool depthLogged = false;
    bool partsLogged = false;
};

void MimeMessage2::loadFromText(std::string_view text, LogBase& log,
                                const MimeParseLimits& limits) {
    clear();
    ParseContext ctx{limits, log};
    parseText(text, 0, ctx);
}

void MimeMessage2::parseText(std::string_view text, size_t depth, ParseContext& ctx) {
    size_t blank = text.find(kCrlf2);
    std::string repaired; // children are parsed from views of it, within this call
    if (blank == std::string_view::npos) {
        repaired = repairLineEnds(text);
        text = repaired;
        blank = text.find(kCrlf2);
    }
    if (blank == std::string_view::npos) {
        if (text.starts_with("\r\n")) {
            // No header at all: the text is the body, taken as it is.
            header_.setField("content-type", "text/plain");
            deriveAll();
            body_.assign(text);
        } else {
            header_.loadFromText(text);
            deriveAll();
        }
        return;
    }
    if (blank != 0) {
        header_.loadFromText(text.substr(0, blank + kCrlf2.size()));
        deriveAll();
    }
    parseBody(text.substr(blank + kCrlf2.size()), depth, ctx);
}

void MimeMessage2::parseBody(std::string_view bodyText, size_t depth, ParseContext& ctx) {
    if (bodyText.empty())
        return;
    if (isMultipart() && !boundary_.empty()) {
        if (depth < ctx.limits.maxDepth && ctx.nodes < ctx.limits.maxParts) {
            splitMultipart(bodyText, depth, ctx);
            return;
        }
        if (depth >= ctx.limits.maxDepth && !ctx.depthLogged) {
            ctx.depthLogged = true;
            ctx.log.logInfo("Multipart nesting is too deep; the deepest part is kept unsplit.");
            ctx.log.logDataLong("max_depth", static_cast<long>(ctx.limits.maxDepth));
        }
    }
    setBodyEncoded(transferEncoding_, bodyText, charset_, ctx.log);
    applyXHtml(bodyText);
}

void MimeMessage2::applyXHtml(std::string_view bodyText) {
    const size_t start = bodyText.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || contentType_ == "text/html")
        return;
    if (sb::startsWithNoCase(bodyText.substr(start), "<x-html>"))
        setContentType("text/html", "", "", "", Charset(), "", "", "");
}

void MimeMessage2::splitMultipart(std::string_view body, size_t depth, ParseContext& ctx) {
    // Delimiters are found as plain substrings, so that a boundary line damaged in front (a lost
    // "--" or leading blanks) still splits the body.
    const std::string delim = boundary_ + "\r\n";
    size_t prev = text_scan::find(body, delim);
    if (prev == std::string_view::npos) {
        auto child = std::make_unique<MimeMessage2>();
        ++ctx.nodes;
        child->parseUnsplit(body);
        parts_.appendObject(std::move(child));
        return;
    }
    const bool keepRaw = isMultipartSigned();
    const size_t bodyEnd = body.size() >= 2 ? body.size() - 2 : 0;
    for (;;) {
        // The part runs from after the boundary's CR LF to before the CR LF "--" of the next.
        const size_t start = prev + delim.size();
        const size_t next = text_scan::find(body, delim, start);
        size_t end;
        bool last = next == std::string_view::npos;
        if (ctx.nodes >= ctx.limits.maxParts) {
            if (!ctx.partsLogged) {
                ctx.partsLogged = true;
                ctx.log.logInfo("Too many MIME parts; the rest is kept as one part.");
                ctx.log.logDataLong("max_parts", static_cast<long>(ctx.limits.maxParts));
            }
            last = true;
            end = bodyEnd;
        } else if (!last) {
            end = next >= 4 ? next - 4 : 0;
        } else {
            const size_t c = text_scan::find(body, boundary_ + "--", start);
            end = c == std::string_view::npos ? bodyEnd : (c >= 4 ? c - 4 : 0);
        }
        if (end > start)
            addChild(body.substr(start, end - start), keepRaw && parts_.isEmpty(), depth + 1, ctx);
        if (last)
            return;
        prev = next;
    }
}

void MimeMessage2::addChild(std::string_view text, bool keepRaw, size_t depth, ParseContext& ctx) {
    auto child = std::make_unique<MimeMessage2>();
    ++ctx.nodes;
    if (keepRaw)
        child->rawText_.assign(text);
    child->parseText(text, depth, ctx);
    parts_.appendObject(std::move(child));
}

void MimeMessage2::parseUnsplit(std::string_view text) {
    // The text is kept as it stood, so a caller can still reach content whose boundary was
    // misdeclared; the tree shows a placeholder body.
    rawText_.assign(text);
    const auto [blank, len] = findAnyBlankLine(text);
    if (blank == std::string_view::npos) {
        header_.loadFromText(text);
        deriveAll();
        return;
    }
    if (blank != 0) {
        header_.loadFromText(text.substr(0, blank + len));
        deriveAll();
    }
    body_.assign(kUnsplitBody);
}

} // namespace norvane
