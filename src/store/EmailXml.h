#pragma once

// The XML form of e-mails and bundles. It is the MIME entity tree of the rendered message, not
// a dump of the e-mail object: each header field becomes an element whose text is the field's
// transfer form (encoded words, no folds; a value holding 8-bit bytes becomes one "8bit" Q
// encoded word), Content-Type parameters become attributes, and each body is written encoded
// for transfer or split into <subpart> elements.
//
// Writing never fails; a node without header fields writes nothing. Reading tolerates what the
// XML reader tolerates, and a <mime_message> without <header> or <body> yields nothing (logged),
// which the callers report as a failure to load.
//
// A few places keep data the plain format would lose: a field whose text is no
// "value; name=value" list keeps its whole value as text instead of being cut into attributes;
// a body with white space at either end, or a CR, is written inside CDATA (the reader trims
// bare text); an address field with no address keeps its text in <description>, which is read
// back; a Q encoded word in a display name has its ',' and '"' written as =XX so that the
// address list reader does not cut it apart. Field names come back lower-cased (they are the
// element names); names compare without regard to case anyway.

#include "common/ExtPtrArray.h"
#include "common/LogBase.h"
#include "email/Email2.h"
#include "mime/MimeMessage2.h"
#include "xml/TreeNode.h"
#include "xml/XmlReader.h"

#include <memory>
#include <string>
#include <string_view>

namespace norvane {

class MailBundle;

// What the XML loaders accept: the reader's nesting bound and how the e-mails are built from
// the MIME tree (S/MIME unwrapping, parse limits).
struct EmailXmlOptions {
    FromMimeOptions fromMime{};
    XmlReaderLimits xml{};
};

class EmailXml {
public:
    // What files of the XML form begin with.
    static constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" ?>\n";

    // ---- writing ----

    // Appends the <mime_message> element of node. A leaf whose encoded body contains "]]>" is
    // switched to base64 first (its Content-Transfer-Encoding field changes with it).
    static void mimeToXml(MimeMessage2& node, std::string& out);
    // The e-mail rendered to MIME, parsed, given a Bcc field when it has Bcc recipients, and
    // written as above.
    static void emailToXml(const Email2& email, std::string& out, LogBase& log);
    // "<email_bundle>\n", each e-mail from the last to the first, "</email_bundle>\n".
    static void bundleToXml(const MailBundle& bundle, std::string& out, LogBase& log);

    // ---- reading ----

    // The header text a <header> element stands for: one "name: value" line per child, ending
    // in "\n"; address elements as quoted names and bracketed addresses joined by ",\n\t".
    [[nodiscard]] static std::string headerTextOf(const TreeNode& header);
    // One <mime_message> element (with <header> and <body> children) as a MIME tree; null,
    // logged, when either child is missing.
    [[nodiscard]] static std::unique_ptr<MimeMessage2> mimeFromNode(const TreeNode& node,
                                                                    LogBase& log);
    // Parses the XML and reads the root when its tag is tag, else its first descendant with
    // that tag. Null when there is none or it cannot be read.
    [[nodiscard]] static std::unique_ptr<MimeMessage2>
    mimeFromXml(std::string_view xml, std::string_view tag, LogBase& log,
                const XmlReaderLimits& limits = {});
    // Every <mime_message> of the document in order (not looking inside one already taken),
    // appended to out. Elements that cannot be read are skipped (logged). False when the text
    // holds no XML element at all.
    [[nodiscard]] static bool mimeListFromXml(std::string_view xml, ExtPtrArray<MimeMessage2>& out,
                                              LogBase& log, const XmlReaderLimits& limits = {});

    // An e-mail from the XML form of one e-mail (the first <mime_message> of the text); null
    // when there is none that can be read. The caller owns the result.
    [[nodiscard]] static std::unique_ptr<Email2> emailFromXml(std::string_view xml, LogBase& log,
                                                              const EmailXmlOptions& options = {});
    // An e-mail from one parsed <mime_message> element; null when it cannot be read.
    [[nodiscard]] static std::unique_ptr<Email2> emailFromNode(const TreeNode& node, LogBase& log,
                                                               const EmailXmlOptions& options = {});
    // An e-mail from a MIME tree read from XML (the tree may be changed on the way). The Bcc
    // field the writer added becomes the Bcc list again, and no header field.
    [[nodiscard]] static std::unique_ptr<Email2> emailFromTree(MimeMessage2& tree, LogBase& log,
                                                               const EmailXmlOptions& options = {});
    // Appends every e-mail of the bundle XML to bundle, in document order. False (bundle
    // unchanged) when the text holds no XML element.
    [[nodiscard]] static bool bundleFromXml(std::string_view xml, MailBundle& bundle, LogBase& log,
                                            const EmailXmlOptions& options = {});
};

} // namespace norvane
