#pragma once

// The small XML reader behind the e-mail and bundle XML forms. It reads what those forms
// contain and tolerates what hand-edited files get wrong: an end tag of another name closes
// the open element, unknown markup is skipped, and only three faults are reported ("Unclosed
// comment", "Failed to parse DTD", "Error in closing tag"), after which reading goes on.
//
// It never expands anything but the five predefined entities (&lt; &gt; &amp; &quot; &apos;):
// no character references, no DTD entities, no external anything. A document nested deeper
// than XmlReaderLimits::maxDepth is refused as a whole.

#include "common/LogBase.h"
#include "xml/TreeNode.h"

#include <memory>
#include <string>
#include <string_view>

namespace norvane {

struct XmlReaderLimits {
    // Elements open at once. The XML form of an e-mail takes three levels per MIME level, and
    // the MIME reader refuses far shallower trees than this, so real documents never get near.
    size_t maxDepth = 1024;
};

// Parses text into a tree and returns its root (the first element of the document). Null when
// the text holds no element or nests too deep (logged). With trimWhitespace, white space around
// text content is dropped; without it, text keeps its white space but runs of white space alone
// between tags are still not content.
[[nodiscard]] std::unique_ptr<TreeNode> parseXml(std::string_view text, LogBase& log,
                                                 bool trimWhitespace,
                                                 const XmlReaderLimits& limits = {});

// Replaces the five predefined entities by their characters; everything else stays as it is.
[[nodiscard]] std::string decodeXmlEntities(std::string_view text);

} // namespace norvane
