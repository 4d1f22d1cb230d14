// Parses arbitrary text as XML with and without white-space trimming, then walks the tree:
// every node must link back to its parent and share the root's tree information.
#include "common/LogBase.h"
#include "xml/XmlReader.h"

#include <cstdlib>
#include <vector>

using namespace norvane;

namespace {

void checkTree(const TreeNode& root) {
    std::vector<const TreeNode*> stack{&root};
    while (!stack.empty()) {
        const TreeNode* n = stack.back();
        stack.pop_back();
        if (&n->treeInfo() != &root.treeInfo())
            std::abort();
        for (size_t i = 0; i < n->numChildren(); ++i) {
            const TreeNode* c = n->getChild(i);
            if (c->parent() != n || c->depth() != n->depth() + 1)
                std::abort();
            stack.push_back(c);
        }
        std::string v;
        for (size_t i = 0; i < n->attributes().numAttributes(); ++i)
            (void)n->attributes().getAttribute(n->attributes().nameAt(i), v);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    LogNull log;
    XmlReaderLimits limits;
    limits.maxDepth = 200;
    for (bool trim : {true, false}) {
        auto root = parseXml(text, log, trim, limits);
        if (!root)
            continue;
        if (root->treeInfo().root() != root.get() || root->parent())
            std::abort();
        checkTree(*root);
        std::vector<TreeNode*> found;
        root->collectDescendants("mime_message", found);
        (void)root->findFirstDescendant("header");
    }
    return 0;
}
