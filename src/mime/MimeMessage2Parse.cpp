// Parsing MIME text into a MimeMessage2 tree.
//
// The parser works on views of the caller's text; LF-only text is read in place as the CR LF
// text it stands for, and only a part with other damaged line ends is copied. Each multipart level
// is scanned once for its delimiters, so the time is linear in the text for each level, and
// MimeParseLimits bounds the levels and the nodes.

#include "mime/MimeMessage2.h"

#include "mime/TextScan.h"

namespace norvane {

namespace {

constexpr std::string_view kCrlf2 = "\r\n\r\n";
constexpr std::string_view kMessageRfc822 = "message/rfc822";

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
    parseText(text, 0, ctx, "text/plain", false);
}

void MimeMessage2::parseText(std::string_view text, size_t depth, ParseContext& ctx,
                             std::string_view defaultType, bool lfOnly) {
    std::string repaired; // children are parsed from views of it, within this call
    if (!lfOnly) {
        const size_t cr = text.find('\r');
        if (cr == std::string_view::npos) {
            // Text without any CR needs no repair but LF to CR LF, which the parts are read
            // with (a blank line is needed for that, as for the copy repairLineEnds makes).
            lfOnly = text.find("\n\n") != std::string_view::npos;
        } else if (text.find(kCrlf2, cr) == std::string_view::npos) {
            repaired = repairLineEnds(text);
            text = repaired;
        }
    }
    const size_t bodyStart = header_.loadFromText(text);
    deriveAll();
    // RFC 2046 5.1.1: a part with no header is plain text; 5.1.5: in a digest, a part without
    // Content-Type is a message.
    if (header_.fieldCount() == 0 || (contentType_.empty() && defaultType == kMessageRfc822))
        contentType_ = defaultType;
    parseBody(text.substr(bodyStart), depth, ctx, lfOnly);
}

void MimeMessage2::parseBody(std::string_view bodyText, size_t depth, ParseContext& ctx,
                             bool lfOnly) {
    if (bodyText.empty())
        return;
    if (isMultipart() && !boundary_.empty()) {
        if (depth < ctx.limits.maxDepth && ctx.nodes < ctx.limits.maxParts) {
            splitMultipart(bodyText, depth, ctx, lfOnly);
            return;
        }
        if (depth >= ctx.limits.maxDepth && !ctx.depthLogged) {
            ctx.depthLogged = true;
            ctx.log.logInfo("Multipart nesting is too deep; the deepest part is kept unsplit.");
            ctx.log.logDataLong("max_depth", static_cast<long>(ctx.limits.maxDepth));
        }
    }
    decodeBody(transferEncoding_, bodyText, lfOnly, charset_, ctx.log);
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

// RFC 2046 5.1.1: a delimiter line is "--" and the boundary at the start of a line, "--" more
// for the close delimiter, then optional blanks (transport padding) before the line end. Nothing
// looser is accepted: a body line that merely resembles one ("b" alone, " --b", "--bx") is text.
struct Delimiter {
    size_t lineStart = std::string_view::npos; // npos: none found
    size_t next = 0;                           // where the line after it starts
    bool close = false;
};

Delimiter findDelimiter(std::string_view body, std::string_view marker, size_t from) {
    for (size_t pos = text_scan::find(body, marker, from); pos != std::string_view::npos;
         pos = text_scan::find(body, marker, pos + 1)) {
        if (pos > 0 && body[pos - 1] != '\n')
            continue;
        size_t i = pos + marker.size();
        const bool close = body.substr(i, 2) == "--";
        if (close)
            i += 2;
        while (i < body.size() && (body[i] == ' ' || body[i] == '\t'))
            ++i;
        if (i < body.size() && body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
            ++i;
        if (i < body.size() && body[i] != '\n')
            continue;
        return {pos, i < body.size() ? i + 1 : i, close};
    }
    return {};
}

// Where the part before the delimiter line at lineStart ends: the line break before a
// delimiter belongs to the delimiter (RFC 2046 5.1.1).
size_t partEndBefore(std::string_view body, size_t start, size_t lineStart) {
    size_t end = lineStart;
    if (end > start && body[end - 1] == '\n')
        --end;
    if (end > start && body[end - 1] == '\r')
        --end;
    return end;
}

} // namespace

void MimeMessage2::splitMultipart(std::string_view body, size_t depth, ParseContext& ctx,
                                  bool lfOnly) {
    const std::string marker = "--" + boundary_;
    Delimiter d = findDelimiter(body, marker, 0);
    if (d.lineStart == std::string_view::npos || d.close) {
        // No part at all: the text stays reachable as one plain text part and is rendered back
        // as it came.
        ctx.log.logInfo("No MIME boundary found in the multipart body; it is kept as text.");
        auto child = std::make_unique<MimeMessage2>();
        ++ctx.nodes;
        child->parseUnsplit(body, lfOnly);
        parts_.appendObject(std::move(child));
        return;
    }
    const bool keepRaw = isMultipartSigned();
    const std::string_view childType =
        contentType_ == "multipart/digest" ? kMessageRfc822 : std::string_view("text/plain");
    for (;;) {
        const size_t start = d.next;
        size_t end = body.size(); // an unclosed last part keeps every byte to the end
        bool last = true;
        if (ctx.nodes >= ctx.limits.maxParts) {
            if (!ctx.partsLogged) {
                ctx.partsLogged = true;
                ctx.log.logInfo("Too many MIME parts; the rest is kept as one part.");
                ctx.log.logDataLong("max_parts", static_cast<long>(ctx.limits.maxParts));
            }
        } else {
            const Delimiter n = findDelimiter(body, marker, start);
            if (n.lineStart != std::string_view::npos) {
                end = partEndBefore(body, start, n.lineStart);
                last = n.close;
                d = n;
            }
        }
        if (end > start)
            addChild(body.substr(start, end - start), keepRaw && parts_.isEmpty(), depth + 1, ctx,
                     childType, lfOnly);
        if (last)
            return;
    }
}

void MimeMessage2::addChild(std::string_view text, bool keepRaw, size_t depth, ParseContext& ctx,
                            std::string_view defaultType, bool lfOnly) {
    auto child = std::make_unique<MimeMessage2>();
    ++ctx.nodes;
    if (keepRaw && lfOnly)
        text_scan::appendWithCrlf(text, child->rawText_);
    else if (keepRaw)
        child->rawText_.assign(text);
    child->parseText(text, depth, ctx, defaultType, lfOnly);
    parts_.appendObject(std::move(child));
}

void MimeMessage2::parseUnsplit(std::string_view text, bool lfOnly) {
    contentType_ = "text/plain";
    if (lfOnly)
        text_scan::appendWithCrlf(text, body_.vec());
    else
        body_.assign(text);
    unsplit_ = true;
}

} // namespace norvane
