#include "xml/XmlReader.h"

#include "common/StringBuffer.h"
#include "xml/ParseEngine.h"

namespace norvane {

namespace {

constexpr std::string_view kWhiteSpace = " \t\r\n";

class XmlParser {
public:
    XmlParser(std::string_view text, LogBase& log, bool trim, const XmlReaderLimits& limits)
        : pe_(text), log_(log), trim_(trim), limits_(limits) {}

    std::unique_ptr<TreeNode> run();

private:
    // Each reader consumes one construct; false ends parsing.
    bool readMarkup();
    void readText(bool startsWithLt);
    void readCdata();
    bool readComment();
    bool readDoctype();
    void readInstruction();
    void readClosingTag();
    bool readElement();
    // Reads attributes up to the end of the tag; true when the tag ended with "/>" (or "?>"
    // for an instruction).
    bool readAttributes(AttributeSet& attrs, bool instruction);
    void readAttributeValue(std::string& value, bool& selfClosed);
    bool openElement(std::string_view name);

    ParseEngine pe_;
    LogBase& log_;
    bool trim_;
    const XmlReaderLimits& limits_;
    std::unique_ptr<TreeNode> root_;
    TreeNode* current_ = nullptr;
    AttributeSet declaration_;
};

std::unique_ptr<TreeNode> XmlParser::run() {
    while (!pe_.atEnd()) {
        if (pe_.peek() != '<') {
            readText(false);
            continue;
        }
        if (!readMarkup())
            break;
    }
    if (root_)
        root_->treeInfo().declaration() = std::move(declaration_);
    return std::move(root_);
}

bool XmlParser::readMarkup() {
    if (pe_.lookingAt("<![CDATA[")) {
        readCdata();
        return true;
    }
    if (pe_.lookingAt("<!--"))
        return readComment();
    if (pe_.lookingAt("<!DOCTYPE"))
        return readDoctype();
    if (pe_.lookingAt("<!")) {
        // Other declarations have no meaning here.
        if (!pe_.seekPast(">"))
            pe_.setPosition(pe_.text().size());
        return true;
    }
    if (pe_.lookingAt("<?")) {
        readInstruction();
        return true;
    }
    if (pe_.lookingAt("</")) {
        readClosingTag();
        return true;
    }
    return readElement();
}

// Text outside any element (before the root) is not content of anything and is dropped.
void XmlParser::readText(bool startsWithLt) {
    size_t start = pe_.position();
    if (startsWithLt)
        pe_.advance(1);
    std::string piece;
    pe_.captureToNextChar('<', piece);
    std::string_view raw = pe_.text().substr(start, pe_.position() - start);
    if (!current_)
        return;
    std::string_view trimmed = sb::trimView(raw);
    if (trimmed.empty())
        return;
    current_->appendContent(decodeXmlEntities(trim_ ? trimmed : raw));
}

void XmlParser::readCdata() {
    pe_.advance(9);
    size_t start = pe_.position();
    bool closed = pe_.seekTo("]]>");
    if (!closed) {
        log_.fail(ErrorCode::BadData, "Unclosed CDATA section");
        pe_.setPosition(pe_.text().size());
    }
    if (current_)
        current_->appendCdata(pe_.text().substr(start, pe_.position() - start));
    if (closed)
        pe_.advance(3);
}

bool XmlParser::readComment() {
    pe_.advance(4);
    if (pe_.seekPast("-->"))
        return true;
    log_.fail(ErrorCode::BadData, "Unclosed comment");
    return false;
}

// The declaration is only skipped, but it may contain markup of its own ("<!ENTITY ...>"),
// so its end is found by balancing angle brackets.
bool XmlParser::readDoctype() {
    std::string dtd;
    if (pe_.captureBalanced('<', '>', dtd))
        return true;
    log_.fail(ErrorCode::BadData, "Failed to parse DTD");
    return false;
}

void XmlParser::readInstruction() {
    pe_.advance(2);
    std::string target;
    pe_.captureToNextAnyOf(" \t\r\n?>", target);
    AttributeSet attrs;
    readAttributes(attrs, true);
    if (target == "xml")
        declaration_ = std::move(attrs);
}

void XmlParser::readClosingTag() {
    pe_.advance(2);
    std::string name;
    bool found = pe_.captureToNextAnyOf("<>", name);
    if (found && pe_.peek() == '>') {
        pe_.advance(1);
    } else if (found) {
        log_.fail(ErrorCode::BadData, "Error in closing tag");
        log_.logData("error_tag", current_ ? std::string_view(current_->tag()) : "");
    }
    // The name is not compared with the open tag: an end tag closes whatever is open. The
    // root stays current, so anything after its end tag still lands in the tree.
    if (current_ && current_->parent())
        current_ = current_->parent();
}

bool XmlParser::readElement() {
    ParseEngine probe = pe_;
    probe.advance(1);
    std::string name;
    probe.captureToNextAnyOf(" \t\r\n/>", name);
    if (name.empty()) {
        // A lone '<' (as in "a < b") is text, not markup.
        readText(true);
        return true;
    }
    pe_ = probe;
    if (!openElement(name))
        return false;
    TreeNode* node = current_;
    bool selfClosed = readAttributes(node->attributes(), false);
    if (selfClosed && node->parent())
        current_ = node->parent();
    return true;
}

bool XmlParser::openElement(std::string_view name) {
    if (!root_) {
        root_ = TreeNode::createRoot(name);
        current_ = root_.get();
        return true;
    }
    if (current_->depth() + 1 >= limits_.maxDepth) {
        log_.fail(ErrorCode::LimitExceeded, "XML elements are nested too deeply");
        log_.logDataLong("max_depth", static_cast<long>(limits_.maxDepth));
        root_.reset();
        current_ = nullptr;
        return false;
    }
    current_ = current_->appendNewChild(name);
    return true;
}

bool XmlParser::readAttributes(AttributeSet& attrs, bool instruction) {
    for (;;) {
        pe_.skipChars(kWhiteSpace);
        char c = pe_.peek();
        if (pe_.atEnd())
            return false;
        if (c == '>') {
            pe_.advance(1);
            return false;
        }
        if ((c == '/' || (instruction && c == '?')) && pe_.peek(1) == '>') {
            pe_.advance(2);
            return true;
        }
        if (c == '/' || c == '?') {
            pe_.advance(1);
            continue;
        }
        std::string name;
        pe_.captureToNextAnyOf(" \t\r\n=/>", name);
        pe_.skipChars(kWhiteSpace);
        std::string value;
        bool selfClosed = false;
        if (pe_.peek() == '=') {
            pe_.advance(1);
            pe_.skipChars(kWhiteSpace);
            readAttributeValue(value, selfClosed);
        }
        attrs.addAttribute(name, decodeXmlEntities(value));
        if (selfClosed)
            return true;
    }
}

void XmlParser::readAttributeValue(std::string& value, bool& selfClosed) {
    char q = pe_.peek();
    if (q == '"' || q == '\'') {
        pe_.advance(1);
        if (pe_.captureToNextChar(q, value))
            pe_.advance(1);
        return;
    }
    pe_.captureToNextAnyOf(" \t\r\n>", value);
    // <a b=c/> ends the element; the slash is not part of the value.
    if (value.ends_with('/') && pe_.peek() == '>') {
        value.pop_back();
        pe_.advance(1);
        selfClosed = true;
    }
}

} // namespace

std::unique_ptr<TreeNode> parseXml(std::string_view text, LogBase& log, bool trimWhitespace,
                                   const XmlReaderLimits& limits) {
    XmlParser parser(text, log, trimWhitespace, limits);
    return parser.run();
}

std::string decodeXmlEntities(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&lt;", '<'}, {"&apos;", '\''}, {"&gt;", '>'}, {"&quot;", '"'}, {"&amp;", '&'}};
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        size_t amp = text.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(text.substr(i));
            break;
        }
        out.append(text.substr(i, amp - i));
        i = amp + 1;
        char replacement = '&';
        for (const auto& [entity, c] : kEntities)
            if (text.substr(amp).starts_with(entity)) {
                replacement = c;
                i = amp + entity.size();
                break;
            }
        out.push_back(replacement);
    }
    return out;
}

} // namespace norvane
