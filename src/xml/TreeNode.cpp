#include "xml/TreeNode.h"

namespace norvane {

TreeNode::TreeNode(std::string_view tag, TreeNode* parent, std::shared_ptr<TreeInfo> info)
    : tag_(tag), parent_(parent), depth_(parent ? parent->depth_ + 1 : 0), info_(std::move(info)) {}

// Children are taken apart with a work list rather than by recursion, so that destroying a
// deep tree needs no deep call stack.
TreeNode::~TreeNode() {
    if (!parent_ && info_->root() == this)
        info_->setRoot(nullptr);
    std::vector<std::unique_ptr<TreeNode>> pending = std::move(children_.items());
    while (!pending.empty()) {
        std::unique_ptr<TreeNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children_.items())
            pending.push_back(std::move(child));
        node->children_.items().clear();
    }
}

std::unique_ptr<TreeNode> TreeNode::createRoot(std::string_view tag) {
    auto info = std::make_shared<TreeInfo>();
    std::unique_ptr<TreeNode> root(new TreeNode(tag, nullptr, info));
    info->setRoot(root.get());
    return root;
}

void TreeNode::appendContent(std::string_view piece) {
    if (!content_) {
        content_.emplace(piece);
        return;
    }
    content_->push_back(' ');
    content_->append(piece);
}

void TreeNode::appendCdata(std::string_view bytes) {
    if (!content_)
        content_.emplace();
    content_->append(bytes);
    hasCdata_ = true;
}

TreeNode* TreeNode::getChildWithTag(std::string_view tag) const {
    for (const auto& child : children_)
        if (child->tag_ == tag)
            return child.get();
    return nullptr;
}

// Both searches walk with an explicit stack, so a deep document cannot exhaust the call stack.
TreeNode* TreeNode::findFirstDescendant(std::string_view tag) const {
    std::vector<TreeNode*> stack;
    for (size_t i = children_.getSize(); i > 0; --i)
        stack.push_back(children_.elementAt(i - 1));
    while (!stack.empty()) {
        TreeNode* node = stack.back();
        stack.pop_back();
        if (node->tag_ == tag)
            return node;
        for (size_t i = node->children_.getSize(); i > 0; --i)
            stack.push_back(node->children_.elementAt(i - 1));
    }
    return nullptr;
}

void TreeNode::collectDescendants(std::string_view tag, std::vector<TreeNode*>& out) const {
    std::vector<TreeNode*> stack;
    for (size_t i = children_.getSize(); i > 0; --i)
        stack.push_back(children_.elementAt(i - 1));
    while (!stack.empty()) {
        TreeNode* node = stack.back();
        stack.pop_back();
        if (node->tag_ == tag) {
            out.push_back(node);
            continue;
        }
        for (size_t i = node->children_.getSize(); i > 0; --i)
            stack.push_back(node->children_.elementAt(i - 1));
    }
}

TreeNode* TreeNode::appendNewChild(std::string_view tag) {
    return children_.appendObject(std::unique_ptr<TreeNode>(new TreeNode(tag, this, info_)));
}

} // namespace norvane
