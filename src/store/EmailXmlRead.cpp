// Reading the XML form back into MIME trees, e-mails and bundles.
//
// Encoded words labelled "8bit" are left in the header text: the header parser decodes every
// encoded word when it stores a value, and "8bit" means UTF-8 to it. Decoding them into raw
// bytes here would instead let the parser's charset guess for raw 8-bit headers misread them.

#include "store/EmailXml.h"

#include "store/MailBundle.h"

#include <algorithm>

namespace norvane {

namespace {

bool isAddressElement(std::string_view tag) {
    return tag == "from" || tag == "return-path" || tag == "sender" || tag == "reply-to" ||
           tag == "to" || tag == "cc" || tag == "x-rcpt-to";
}

// Element text as one header line: line ends inside it would start new fields.
std::string oneLine(std::string_view text) {
    std::string out(sb::trimView(text));
    for (char& c : out)
        if (c == '\r' || c == '\n')
            c = ' ';
    return out;
}

// '"' and '\' escaped, as inside a quoted string.
std::string quoted(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

void appendAddressField(const TreeNode& field, std::string& out) {
    bool first = true;
    for (size_t i = 0; i < field.numChildren(); ++i) {
        const TreeNode* a = field.getChild(i);
        const TreeNode* addr = a->getChildWithTag("addr");
        const TreeNode* name = a->getChildWithTag("name");
        if (!addr || !name)
            continue;
        if (!first)
            out.append(",\n\t");
        first = false;
        const std::string n = oneLine(name->content());
        if (!n.empty())
            out.append(quoted(n)).push_back(' ');
        out.append("<").append(oneLine(addr->content())).append(">");
    }
    if (!first)
        return;
    // Written for a field that held no address: its text as it was.
    if (const TreeNode* d = field.getChildWithTag("description"))
        out.append(oneLine(d->content()));
}

void appendPlainField(const TreeNode& field, std::string& out) {
    out.append(oneLine(field.content()));
    const AttributeSet& attrs = field.attributes();
    for (size_t i = 0; i < attrs.numAttributes(); ++i) {
        const std::string_view n = attrs.nameAt(i);
        const std::string_view v = attrs.valueAt(i);
        if (n.empty() || v.empty())
            continue;
        out.append("; ").append(oneLine(n)).append("=\"").append(oneLine(v)).append("\"");
    }
}

} // namespace

std::string EmailXml::headerTextOf(const TreeNode& header) {
    std::string text;
    for (size_t i = 0; i < header.numChildren(); ++i) {
        const TreeNode* field = header.getChild(i);
        text.append(field->tag()).append(": ");
        if (isAddressElement(field->tag()))
            appendAddressField(*field, text);
        else
            appendPlainField(*field, text);
        text.push_back('\n');
    }
    return text;
}

std::unique_ptr<MimeMessage2> EmailXml::mimeFromNode(const TreeNode& node, LogBase& log) {
    const TreeNode* header = node.getChildWithTag("header");
    const TreeNode* body = node.getChildWithTag("body");
    if (!header || !body) {
        log.fail(ErrorCode::BadData, "The mime_message element has no header or no body");
        return nullptr;
    }
    ExtPtrArray<MimeMessage2> children;
    bool hasSubparts = false;
    for (size_t i = 0; i < body->numChildren(); ++i) {
        const TreeNode* sub = body->getChild(i);
        if (!sub->tagEquals("subpart"))
            continue;
        hasSubparts = true;
        // The reader bounds the nesting, so this recursion is bounded too.
        if (const TreeNode* first = sub->getChild(0))
            if (auto child = mimeFromNode(*first, log))
                children.appendObject(std::move(child));
    }
    auto mime = std::make_unique<MimeMessage2>();
    const std::string_view bodyText = hasSubparts ? std::string_view() : body->content();
    mime->loadFromParts(headerTextOf(*header), bodyText, children, log);
    return mime;
}

std::unique_ptr<MimeMessage2> EmailXml::mimeFromXml(std::string_view xml, std::string_view tag,
                                                    LogBase& log, const XmlReaderLimits& limits) {
    auto root = parseXml(xml, log, true, limits);
    if (!root) {
        log.fail(ErrorCode::BadData, "No XML element found");
        return nullptr;
    }
    const TreeNode* node = root->tagEquals(tag) ? root.get() : root->findFirstDescendant(tag);
    if (!node) {
        log.fail(ErrorCode::BadData, "No such element in the XML");
        log.logData("tag", tag);
        return nullptr;
    }
    return mimeFromNode(*node, log);
}

bool EmailXml::mimeListFromXml(std::string_view xml, ExtPtrArray<MimeMessage2>& out, LogBase& log,
                               const XmlReaderLimits& limits) {
    auto root = parseXml(xml, log, true, limits);
    if (!root) {
        log.fail(ErrorCode::BadData, "No XML element found");
        return false;
    }
    std::vector<TreeNode*> nodes;
    if (root->tagEquals("mime_message"))
        nodes.push_back(root.get());
    else
        root->collectDescendants("mime_message", nodes);
    for (const TreeNode* node : nodes)
        if (auto mime = mimeFromNode(*node, log))
            out.appendObject(std::move(mime));
    return true;
}

namespace {

// Levels of tree below its root, counted no further than limit + 1.
size_t depthBelow(const MimeMessage2& tree, size_t limit) {
    size_t deepest = 0;
    for (int i = 0; i < tree.partCount() && deepest <= limit; ++i)
        deepest = std::max(deepest, 1 + depthBelow(*tree.partAt(i), limit));
    return deepest;
}

} // namespace

std::unique_ptr<Email2> EmailXml::emailFromTree(MimeMessage2& tree, LogBase& log,
                                                const EmailXmlOptions& options) {
    // The e-mail keeps no parts deeper than its limit; rather than lose them quietly, the
    // whole form is refused.
    if (depthBelow(tree, options.fromMime.limits.maxDepth) > options.fromMime.limits.maxDepth) {
        log.fail(ErrorCode::BadData, "The e-mail is nested too deeply to be loaded.");
        log.logDataLong("max_depth", static_cast<long>(options.fromMime.limits.maxDepth));
        return nullptr;
    }
    // The header as text, for the charset guess the e-mail makes from its raw header.
    StringBuffer raw;
    tree.renderHeader(raw);
    raw.append("\r\n\r\n");
    auto email = Email2::fromMimeTree(tree, raw.view(), log, options.fromMime);
    // Bcc recipients have no header field (it would go out with the message).
    email->removeHeaderField("Bcc");
    return email;
}

std::unique_ptr<Email2> EmailXml::emailFromNode(const TreeNode& node, LogBase& log,
                                                const EmailXmlOptions& options) {
    auto tree = mimeFromNode(node, log);
    if (!tree)
        return nullptr;
    return emailFromTree(*tree, log, options);
}

std::unique_ptr<Email2> EmailXml::emailFromXml(std::string_view xml, LogBase& log,
                                               const EmailXmlOptions& options) {
    auto tree = mimeFromXml(xml, "mime_message", log, options.xml);
    if (!tree)
        return nullptr;
    return emailFromTree(*tree, log, options);
}

bool EmailXml::bundleFromXml(std::string_view xml, MailBundle& bundle, LogBase& log,
                             const EmailXmlOptions& options) {
    ExtPtrArray<MimeMessage2> trees;
    if (!mimeListFromXml(xml, trees, log, options.xml))
        return false;
    bool all = true;
    for (auto& tree : trees.items()) {
        if (auto email = emailFromTree(*tree, log, options))
            bundle.add(std::move(email));
        else
            all = false;
    }
    return all;
}

} // namespace norvane
