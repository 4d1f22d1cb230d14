#include "xml/TreeNode.h"
#include "common/Logger.h"
#include "xml/XmlReader.h"

#include <gtest/gtest.h>

using namespace norvane;

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
}
