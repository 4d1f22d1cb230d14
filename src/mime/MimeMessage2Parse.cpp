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

namespace {

// A boundary found in the body is a delimiter only where it opens a line, after its "--" or
// what is left of it (a lost "--" or leading blanks still split the body). A boundary that
// merely ends a line of text, as a one-letter boundary easily does, is content.
constexpr size_t kMaxDelimiterLead = 8;

size_t delimiterLineStart(std::string_view body, size_t pos) {
    size_t i = pos;
    while (i > 0 && pos - i < kMaxDelimiterLead &&
           (body[i - 1] == '-' || body[i - 1] == ' ' || body[i - 1] == '\t'))
        --i;
    if (i == 0 || body[i - 1] == '\n')
        return i;
    return std::string_view::npos;
}

// The next occurrence of marker at or after from that opens a line.
size_t findDelimiter(std::string_view body, std::string_view marker, size_t from) {
    for (size_t pos = text_scan::find(body, marker, from); pos != std::string_view::npos;
         pos = text_scan::find(body, marker, pos + 1)) {
        if (delimiterLineStart(body, pos) != std::string_view::npos)
            return pos;
    }
    return std::string_view::npos;
}

// Where the part before the delimiter line at pos ends: before the line break that closes it.
size_t partEndBefore(std::string_view body, size_t pos) {
    size_t end = delimiterLineStart(body, pos);
    if (end > 0 && body[end - 1] == '\n')
        --end;
    if (end > 0 && body[end - 1] == '\r')
        --end;
    return end;
}

} // namespace

void MimeMessage2::splitMultipart(std::string_view body, size_t depth, ParseContext& ctx) {
    const std::string delim = boundary_ + "\r\n";
    const std::string close = boundary_ + "--";
    size_t prev = findDelimiter(body, delim, 0);
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
        const size_t start = prev + delim.size();
        const size_t next = findDelimiter(body, delim, start);
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
            end = partEndBefore(body, next);
        } else {
            const size_t c = findDelimiter(body, close, start);
            end = c == std::string_view::npos ? bodyEnd : partEndBefore(body, c);
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
