// Building an e-mail from MIME text: the text is parsed into a MIME entity tree, a mixed
// message whose text and HTML bodies stand side by side is repaired into an alternative, and
// the tree is converted entity by entity. Older Outlook mail carries its files uuencoded inside
// a text body; those are decoded into attachments here.
//
// Bounds: the parser's limits (nesting depth, node count) bound the tree, and the conversion
// refuses to go deeper than the same depth even for a tree handed in by a caller. Each body is
// copied once; the uuencoded-block scan moves forward only, so the work is linear in the text.

#include "email/Email2.h"

#include "charset/EncodingConvert.h"
#include "charset/Uu.h"
#include "common/Platform.h"
#include "mime/MimeMessage2.h"
#include "mime/TextScan.h"

#include <algorithm>
#include <optional>

namespace norvane {

namespace {

constexpr int kUtf8 = 65001;
// A header block bigger than this is not a real header: charset detection skips it.
constexpr size_t kMaxHeaderScan = 1024 * 1024;

bool contains(std::string_view s, std::string_view what) {
    return s.find(what) != std::string_view::npos;
}

std::string fieldOf(const MimeMessage2& entity, std::string_view name) {
    StringBuffer v;
    (void)entity.getHeaderField(name, v);
    return std::move(v.str());
}

// The top header block of text; empty when there is no blank line within the first
// megabyte (the text is then no ordinary message and its header is not scanned again).
std::string_view headerBlock(std::string_view text) {
    size_t end = text.find("\r\n\r\n");
    if (end == std::string_view::npos)
        end = text.find("\n\n");
    if (end == std::string_view::npos || end > kMaxHeaderScan)
        return {};
    return text.substr(0, end);
}

// The code page of the first encoded word with the given marker ("?Q?" or "?B?").
int codePageOfFirstWord(std::string_view block, std::string_view marker) {
    const size_t start = block.find("=?");
    if (start == std::string_view::npos)
        return 0;
    const std::string_view rest = block.substr(start + 2);
    const size_t end = sb::findNoCase(rest, marker);
    return end == std::string_view::npos ? 0 : Charset::codePageForName(rest.substr(0, end));
}

bool convertsToUtf8(int cp, std::string_view text) {
    if (cp == kUtf8)
        return text_scan::isValidUtf8(text);
    std::string out;
    EncodingConvert conv;
    return conv.convert(cp, kUtf8, text, out);
}

// The code page the header parser detects for the top header block (the same rules, without
// parsing the fields a second time), so that an e-mail built from raw 8-bit headers renders
// them in the charset they came in.
int detectHeaderCodePage(std::string_view block) {
    if (sb::findNoCase(block, "?Q?") != std::string_view::npos)
        return codePageOfFirstWord(block, "?Q?");
    if (sb::findNoCase(block, "?B?") != std::string_view::npos)
        return codePageOfFirstWord(block, "?B?");
    if (text_scan::is7bit(block))
        return 0;
    for (int cp : {platform::ansiCodePage(), 28591, 28592})
        if (convertsToUtf8(cp, block))
            return cp;
    return 0;
}

// A mixed message whose direct parts include both a text and an HTML body (neither an
// attachment) is an alternative that lost its container: with exactly two parts the message
// becomes the alternative, otherwise the two bodies move into a new first alternative part.
void repairAlternative(MimeMessage2& root) {
    if (root.contentType() != "multipart/mixed")
        return;
    int plain = -1;
    int html = -1;
    for (int i = 0; i < root.partCount(); ++i) {
        const MimeMessage2* c = root.partAt(i);
        if (c->isMultipart() || c->isAttachment())
            continue;
        if (plain < 0 && c->contentType() == "text/plain")
            plain = i;
        if (html < 0 && c->contentType() == "text/html")
            html = i;
    }
    if (plain < 0 || html < 0)
        return;
    if (root.partCount() == 2) {
        root.setContentTypeOnly("multipart/alternative");
        return;
    }
    auto alt = std::make_unique<MimeMessage2>();
    alt->setContentType("multipart/alternative", "", "", "", Charset(),
                        Email2::newBoundary("_.ALT"), "", "");
    const int lo = std::min(plain, html);
    const int hi = std::max(plain, html);
    auto later = root.removePartAt(hi);
    auto earlier = root.removePartAt(lo);
    alt->addPart(std::move(earlier));
    alt->addPart(std::move(later));
    root.insertPartFirst(std::move(alt));
}

// The first field called name in a raw header block, unfolded but not decoded; nothing when
// there is none. Lines may end in CR LF or LF alone.
std::optional<std::string> rawField(std::string_view block, std::string_view name) {
    std::optional<std::string> value;
    for (size_t pos = 0; pos < block.size();) {
        size_t eol = block.find('\n', pos);
        if (eol == std::string_view::npos)
            eol = block.size();
        std::string_view line = block.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (value) {
            if (line.empty() || (line.front() != ' ' && line.front() != '\t'))
                break;
            const size_t start = line.find_first_not_of(" \t");
            value->append(start != std::string_view::npos && line.substr(start).starts_with("=?")
                              ? line.substr(start)
                              : line.substr(1));
        } else if (sb::startsWithNoCase(line, name) && line.size() > name.size()) {
            const std::string_view rest = sb::trimView(line.substr(name.size()));
            if (rest.starts_with(':'))
                value = std::string(rest.substr(1));
        }
    }
    return value;
}

// Puts double quotes around each run of encoded words (outside quotes) that holds a comma.
// Some writers leave a display name's comma bare inside a Q word; once decoded it would split
// the address list in two.
std::string quoteEncodedWordRuns(std::string_view v) {
    std::string out;
    bool inQuotes = false;
    for (size_t i = 0; i < v.size();) {
        if (v[i] == '"')
            inQuotes = !inQuotes;
        if (inQuotes || !v.substr(i).starts_with("=?")) {
            out.push_back(v[i++]);
            continue;
        }
        // A run: encoded words separated by blanks only.
        size_t end = i;
        for (size_t w = i; w < v.size() && v.substr(w).starts_with("=?");) {
            const size_t q1 = v.find('?', w + 2);
            const size_t q2 = q1 == std::string_view::npos ? q1 : v.find('?', q1 + 1);
            const size_t close = q2 == std::string_view::npos ? q2 : v.find("?=", q2 + 1);
            if (close == std::string_view::npos)
                break;
            end = close + 2;
            w = v.find_first_not_of(" \t", end);
        }
        if (end == i) {
            out.push_back(v[i++]);
            continue;
        }
        const std::string_view run = v.substr(i, end - i);
        const bool quote = run.find(',') != std::string_view::npos;
        if (quote)
            out.push_back('"');
        out.append(run);
        if (quote)
            out.push_back('"');
        i = end;
    }
    return out;
}

struct DecodedFile {
    std::string name;
    DataBuffer data;
};

} // namespace

// Converts entities into e-mail nodes (a friend of Email2: it fills the private model).
class Email2Builder {
public:
    Email2Builder(const FromMimeOptions& options, LogBase& log) : options_(options), log_(log) {}

    // rawHeader: the header block as written, known for the top entity only.
    std::unique_ptr<Email2> convert(MimeMessage2& entity, size_t depth,
                                    std::string_view rawHeader = {});

private:
    void unwrap(MimeMessage2& entity, Email2& e);
    void takeAddresses(const MimeMessage2& entity, Email2& e, std::string_view rawHeader);
    void takeStructure(const MimeMessage2& entity, Email2& e);
    std::optional<DecodedFile> decodeOutlookBlock(const MimeMessage2& entity, std::string& rest);
    void decodeBegin666(const MimeMessage2& entity, Email2& e);
    void convertChildren(MimeMessage2& entity, Email2& e, size_t depth);

    const FromMimeOptions& options_;
    LogBase& log_;
    bool depthLogged_ = false;
};

std::unique_ptr<Email2> Email2::fromMime(std::string_view bytes, LogBase& log,
                                         const FromMimeOptions& options) {
    MimeMessage2 root;
    root.loadFromText(bytes, log, options.limits);
    return fromMimeTree(root, bytes, log, options);
}

std::unique_ptr<Email2> Email2::fromMimeTree(MimeMessage2& root, std::string_view rawText,
                                             LogBase& log, const FromMimeOptions& options) {
    repairAlternative(root);
    const std::string_view header = headerBlock(rawText);
    auto email = Email2Builder(options, log).convert(root, 0, header);
    email->headerCodePage_ = detectHeaderCodePage(header);
    return email;
}

std::unique_ptr<Email2> Email2Builder::convert(MimeMessage2& entity, size_t depth,
                                               std::string_view rawHeader) {
    auto e = std::make_unique<Email2>(Email2::Blank{});
    if (options_.unwrapper)
        unwrap(entity, *e);
    takeAddresses(entity, *e, rawHeader);
    e->header_.copyFrom(entity.header());
    takeStructure(entity, *e);

    const bool leaf = entity.partCount() == 0 && !entity.isMultipart();
    const bool hasAttach = sb::equalsNoCase(fieldOf(entity, "X-MS-Has-Attach"), "yes");
    std::optional<DecodedFile> outlookFile;
    std::string rest;
    bool bodySet = false;
    if (leaf && hasAttach && contains(entity.body().view(), "begin 6") &&
        contains(entity.body().view(), "<<")) {
        outlookFile = decodeOutlookBlock(entity, rest);
    } else if (leaf && contains(fieldOf(entity, "x-mimeole"), "Microsoft") &&
               contains(entity.body().view(), "begin 666")) {
        decodeBegin666(entity, *e);
        bodySet = true;
    }
    if (!outlookFile && !bodySet && hasAttach && e->isAttachmentDispositionNode() &&
        !e->filename_.empty()) {
        // The whole body is the file: the node keeps an empty text part and the file becomes
        // its attachment.
        const std::string fileName = e->filename_;
        const std::string type = e->contentType_;
        e->removeHeaderField("Content-Disposition");
        e->removeHeaderField("Content-Transfer-Encoding");
        e->setContentType({.type = "text/plain"});
        (void)e->addDataAttachment(fileName, DataBuffer(entity.body().span()), type);
        bodySet = true;
    }

    e->sendSigned_ = false;
    e->sendEncrypted_ = false;
    e->popNumber_ = -1;
    for (int i = 0; i < e->header_.fieldCount(); ++i) {
        MimeField* f = e->header_.fieldAt(i);
        if (f->nameIs("X-Mailer") &&
            (contains(f->value(), "ActiveX") || contains(f->value(), "Control"))) {
            const std::string fieldName = f->name();
            f->set(fieldName, Email2::defaultMailer());
        }
    }

    convertChildren(entity, *e, depth);

    if (outlookFile) {
        e->body_.assign(rest);
        (void)e->addDataAttachment(outlookFile->name, std::move(outlookFile->data), "");
    } else if (!bodySet) {
        e->body_ = entity.body();
    }
    return e;
}

void Email2Builder::unwrap(MimeMessage2& entity, Email2& e) {
    LogContext ctx(log_, "security");
    SecurityOutcome& s = e.security_;
    options_.unwrapper->unwrap(entity, options_.saveCerts, s, log_);
    if (!s.secured)
        return;
    if (s.numEncrypted > 0)
        log_.logInfo(s.numSigned > 0 ? "A signed and encrypted email was received"
                                     : "An encrypted email was received");
    else if (s.numSigned > 0)
        log_.logInfo("A digitally signed email was received");
    if (s.numSigned > 0) {
        if (s.signaturesValid)
            log_.logInfo("All signatures are valid");
        else
            log_.logError("Not all signatures were valid");
    }
    if (s.numEncrypted > 0) {
        if (s.decrypted)
            log_.logInfo("All data successfully decrypted");
        else
            log_.logError("Not all data was decrypted");
    }
    if (s.numSigned != 0)
        log_.logDataLong("num_parts_signed", s.numSigned);
    if (s.numEncrypted != 0)
        log_.logDataLong("num_parts_encrypted", s.numEncrypted);
    log_.logData("from", fieldOf(entity, "From"));
    std::string id = fieldOf(entity, "Message-ID");
    std::erase(id, '<');
    std::erase(id, '>');
    log_.logData("message_id", id);
}

void Email2Builder::takeAddresses(const MimeMessage2& entity, Email2& e,
                                  std::string_view rawHeader) {
    StringBuffer v;
    if (entity.getHeaderField("From", v)) {
        // RFC 5322 3.6.2: From may list several authors. The first is the sender kept here;
        // the field itself keeps them all. One '@' is read as one mailbox, so that an unquoted
        // comma in a display name does not split it.
        ExtPtrArray<Rfc822Address> authors;
        if (std::count(v.view().begin(), v.view().end(), '@') > 1 &&
            Rfc822Address::parseAddressList(v.view(), authors) > 0 && !authors.isEmpty())
            e.from_ = std::move(authors.items().front());
        else
            e.from_ = Rfc822Address::parseAddress(v.view());
        if (!e.from_)
            e.pendingFromName_ = v.str(); // no address at all: the text is the sender's name
    }
    const std::pair<std::string_view, ExtPtrArray<Rfc822Address>*> lists[] = {
        {"To", &e.to_}, {"Cc", &e.cc_}, {"Bcc", &e.bcc_}};
    for (const auto& [field, list] : lists) {
        v.clear();
        if (!entity.getHeaderField(field, v))
            continue;
        // The stored value has its encoded words decoded, which loses the boundary of a
        // display name; where a name's comma would split the list, the list is read from the
        // raw text instead, with each such name kept whole.
        const auto raw = rawHeader.empty() || v.view().find(',') == std::string_view::npos
                             ? std::nullopt
                             : rawField(rawHeader, field);
        if (raw && text_scan::is7bit(*raw) && raw->find("=?") != std::string::npos)
            (void)Rfc822Address::parseAddressList(quoteEncodedWordRuns(*raw), *list);
        else
            (void)Rfc822Address::parseAddressList(v.view(), *list);
    }
    v.clear();
    if (entity.header().getField("Date", v))
        (void)DateParser::parseDate(v.view(), e.date_);
}

void Email2Builder::takeStructure(const MimeMessage2& entity, Email2& e) {
    e.contentType_ = entity.contentType();
    e.disposition_ = entity.disposition();
    e.transferEncoding_ = entity.transferEncoding();
    e.contentId_ = entity.contentId();
    e.name_ = entity.name();
    e.protocol_ = entity.protocol();
    e.micalg_ = entity.micalg();
    e.charset_ = entity.charset();
    e.boundary_ = entity.boundary();
    e.smimeType_ = entity.smimeType();
    e.filename_ = entity.filename();
    // Kept so that rebuilding the Content-Type of a related node keeps its root type.
    e.typeParam_ = entity.typeParam();
    // The entity tree does not read format=flowed; the flag would otherwise be lost the next
    // time the Content-Type is composed.
    std::string ct = fieldOf(entity, "Content-Type");
    std::erase_if(ct, [](char c) { return c == ' ' || c == '\t' || c == '"'; });
    e.formatFlowed_ = entity.formatFlowed() || contains(sb::lowerAscii(ct), ";format=flowed");
}

// The first uuencoded block of the body. rest receives the text around the block, which is the
// message the sender typed.
std::optional<DecodedFile> Email2Builder::decodeOutlookBlock(const MimeMessage2& entity,
                                                             std::string& rest) {
    const std::string_view body = entity.body().view();
    size_t begin = body.find("begin 6");
    while (begin != std::string_view::npos && begin > 0 && body[begin - 1] != '\n')
        begin = body.find("begin 6", begin + 1);
    if (begin == std::string_view::npos)
        return std::nullopt;
    size_t end = body.find("\nend", begin);
    end = end == std::string_view::npos ? body.size() : body.find('\n', end + 1);
    if (end == std::string_view::npos)
        end = body.size();
    DecodedFile f;
    Uu uu;
    if (!uu.uuDecode(body.substr(begin, end - begin), f.data) || uu.fileName().empty())
        return std::nullopt;
    f.name = uu.fileName();
    rest.assign(body.substr(0, begin));
    rest.append(body.substr(end < body.size() ? end + 1 : end));
    return f;
}

void Email2Builder::decodeBegin666(const MimeMessage2& entity, Email2& e) {
    const std::string_view body = entity.body().view();
    const size_t first = body.find("begin 666");
    std::string text(sb::trimView(body.substr(0, first)));
    // Text bodies arrive in UTF-8 already; anything else is still in its own charset.
    const int cp = entity.charset().getCodePage();
    if (!sb::startsWithNoCase(entity.contentType(), "text/") && cp != 0 && cp != kUtf8) {
        std::string utf8;
        EncodingConvert conv;
        (void)conv.convert(cp, kUtf8, text, utf8);
        text = std::move(utf8);
    }
    e.setBody(text, false);

    bool htmlTaken = false;
    size_t files = 0;
    size_t pos = first;
    while (files < options_.limits.maxParts) {
        const size_t b = body.find("begin 666", pos);
        if (b == std::string_view::npos)
            break;
        const size_t end = body.find("\nend", b);
        if (end == std::string_view::npos)
            break;
        Uu uu;
        DataBuffer data;
        if (!uu.uuDecode(body.substr(b, end + 4 - b), data))
            break;
        ++files;
        pos = end + 4;
        if (!htmlTaken && contains(uu.fileName(), ".htm")) {
            htmlTaken = true;
            if (Email2* h = e.htmlNode())
                h->setHtmlBody(data.view());
            else
                e.addAlternative(Email2::makeHtmlAlternativePart(data.view(), e.charset_));
        } else {
            (void)e.addDataAttachment(uu.fileName(), std::move(data), "");
        }
    }
}

void Email2Builder::convertChildren(MimeMessage2& entity, Email2& e, size_t depth) {
    if (entity.partCount() == 0)
        return;
    if (depth >= options_.limits.maxDepth) {
        if (!depthLogged_) {
            depthLogged_ = true;
            log_.logInfo("MIME parts nested too deeply are left out.");
            log_.logDataLong("max_depth", static_cast<long>(options_.limits.maxDepth));
        }
        return;
    }
    for (int i = 0; i < entity.partCount(); ++i) {
        MimeMessage2* child = entity.partAt(i);
        std::unique_ptr<MimeMessage2> dataFork;
        if (child->contentType() == "multipart/appledouble") {
            dataFork = child->detachAppleDoubleData();
            if (dataFork)
                child = dataFork.get();
        }
        child->decodeUuencodedBody(log_);
        Email2* converted = e.parts_.appendObject(convert(*child, depth + 1));
        Email2::noteEdit();
        if (i == 0 && entity.isMultipartSigned() && !dataFork)
            converted->rawText_ = child->rawText();
    }
}

} // namespace norvane
