#pragma once

#include "xml/AttributeSet.h"

namespace norvane {

class TreeNode;

// What the nodes of one parsed tree share: the root and the attributes of the document's XML
// declaration.
class TreeInfo {
public:
    // Null until a root is attached; the root owns the tree, this is only a link back to it.
    [[nodiscard]] TreeNode* root() const { return root_; }
    void setRoot(TreeNode* root) { root_ = root; }
    // Attributes of "<?xml ...?>" (version, encoding, ...); empty when the document has none.
    [[nodiscard]] const AttributeSet& declaration() const { return declaration_; }
    AttributeSet& declaration() { return declaration_; }

private:
    TreeNode* root_ = nullptr;
    AttributeSet declaration_;
};

} // namespace norvane
