#include "mime/xml/TreeNode.h"
#include "common/Logger.h"
#include "mime/xml/XmlReader.h"

#include <gtest/gtest.h>

using namespace norvane;

TEST(TreeNodeTest, ChildrenKnowTheirParentAndShareTheTreeInfo) {
    auto root = TreeNode::createRoot("r");
    TreeNode* a = root->appendNewChild("a");
    TreeNode* b = a->appendNewChild("b");
    EXPECT_EQ(a->parent(), root.get());
    EXPECT_EQ(b->parent(), a);
    EXPECT_EQ(&b->treeInfo(), &root->treeInfo());
    EXPECT_EQ(root->treeInfo().root(), root.get());
    EXPECT_EQ(b->depth(), 2u);
    EXPECT_EQ(root->getChild(5), nullptr);
}

TEST(TreeNodeTest, EveryTreeGetsItsOwnSerialNumber) {
    auto one = TreeNode::createRoot("x");
    auto two = TreeNode::createRoot("x");
    EXPECT_NE(one->treeInfo().serialNumber(), two->treeInfo().serialNumber());
}

TEST(TreeNodeTest, ContentIsNoneUntilSetAndPiecesJoinWithASpace) {
    auto n = TreeNode::createRoot("x");
    EXPECT_FALSE(n->hasContent());
    EXPECT_EQ(n->content(), "");
    n->appendContent("");
    EXPECT_TRUE(n->hasContent());
    n->appendContent("a");
    EXPECT_EQ(n->content(), " a");
    n->appendCdata("b");
    EXPECT_EQ(n->content(), " ab");
    EXPECT_TRUE(n->hasCdata());
}

TEST(TreeNodeTest, DescendantSearchesFollowDocumentOrderAndStopAtCollectedNodes) {
    LogNull log;
    auto root = parseXml("<email_bundle><x><mime_message id='1'><body><subpart><mime_message "
                         "id='inner'/></subpart></body></mime_message></x><mime_message "
                         "id='2'/></email_bundle>",
                         log, true);
    ASSERT_TRUE(root);
    TreeNode* first = root->findFirstDescendant("mime_message");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->attributes().hasAttributeWithValue("id", "1"));
    EXPECT_EQ(root->findFirstDescendant("email_bundle"), nullptr);

    std::vector<TreeNode*> all;
    root->collectDescendants("mime_message", all);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_TRUE(all[1]->attributes().hasAttributeWithValue("id", "2"));
}

TEST(TreeNodeTest, DestroyingAVeryDeepTreeNeedsNoDeepStack) {
    auto root = TreeNode::createRoot("r");
    TreeNode* n = root.get();
    for (int i = 0; i < 200000; ++i)
        n = n->appendNewChild("n");
    EXPECT_EQ(n->depth(), 200000u);
    root.reset();
    SUCCEED();
}
