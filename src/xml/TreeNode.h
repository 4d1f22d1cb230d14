#pragma once

#include "common/ExtPtrArray.h"
#include "common/NorvaneObject.h"
#include "xml/AttributeSet.h"
#include "xml/TreeInfo.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace norvane {

// One element of a parsed XML document: tag, text content (possibly none), attributes and
// owned children. Every node of a tree links to its parent and to the tree's TreeInfo.
class TreeNode : public NorvaneObject {
public:
    // A new root with a fresh TreeInfo. The caller owns the whole tree through it.
    [[nodiscard]] static std::unique_ptr<TreeNode> createRoot(std::string_view tag);
    ~TreeNode() override;
    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    [[nodiscard]] const std::string& tag() const { return tag_; }
    [[nodiscard]] bool tagEquals(std::string_view tag) const { return tag_ == tag; }

    // The content, or empty when there is none.
    [[nodiscard]] std::string_view content() const {
        return content_ ? std::string_view(*content_) : std::string_view();
    }
    [[nodiscard]] bool hasContent() const { return content_.has_value(); }
    // Text found between tags: joined to earlier text with one space.
    void appendContent(std::string_view piece);
    // The bytes of a CDATA section: appended as they are, and the node remembers it had one.
    void appendCdata(std::string_view bytes);
    [[nodiscard]] bool hasCdata() const { return hasCdata_; }

    [[nodiscard]] AttributeSet& attributes() { return attributes_; }
    [[nodiscard]] const AttributeSet& attributes() const { return attributes_; }

    [[nodiscard]] size_t numChildren() const { return children_.getSize(); }
    // Null when i is out of range.
    [[nodiscard]] TreeNode* getChild(size_t i) const { return children_.elementAt(i); }
    // The first child with this tag, or null.
    [[nodiscard]] TreeNode* getChildWithTag(std::string_view tag) const;
    // The first node below this one (not this one) with the tag, in document order; null if
    // there is none.
    [[nodiscard]] TreeNode* findFirstDescendant(std::string_view tag) const;
    // Every node below this one with the tag, in document order, not looking inside a node
    // already collected.
    void collectDescendants(std::string_view tag, std::vector<TreeNode*>& out) const;
    // Appends a new child and returns it; this node owns it.
    TreeNode* appendNewChild(std::string_view tag);

    // Null for the root.
    [[nodiscard]] TreeNode* parent() const { return parent_; }
    [[nodiscard]] TreeInfo& treeInfo() const { return *info_; }
    // Number of ancestors (0 for the root).
    [[nodiscard]] size_t depth() const { return depth_; }

private:
    TreeNode(std::string_view tag, TreeNode* parent, std::shared_ptr<TreeInfo> info);

    std::string tag_;
    std::optional<std::string> content_;
    bool hasCdata_ = false;
    AttributeSet attributes_;
    ExtPtrArray<TreeNode> children_;
    TreeNode* parent_;
    size_t depth_;
    std::shared_ptr<TreeInfo> info_;
};

} // namespace norvane
