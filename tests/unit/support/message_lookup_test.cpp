#include "support/message_lookup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

int Height(const MsgNode* node) {
    if (node == nullptr) return 0;
    int l = Height(node->left), r = Height(node->right);
    return 1 + (l > r ? l : r);
}

class MessageLookup : public ::testing::Test {
protected:
    void SetUp() override { msg_free(msg_root()); }
    void TearDown() override { msg_free(msg_root()); }
};

TEST_F(MessageLookup, MissingKeyYieldsTheKeyAndFreeingEmptiesTheProcessTree) {
    const char* key = "VDERROR";
    EXPECT_EQ(msg_lookup(key), key);
    ASSERT_EQ(msg_insert(msg_root_slot(), "RUN", "running"), 1);
    EXPECT_EQ(msg_lookup(key), key);
    msg_free(msg_root());
    EXPECT_EQ(msg_root(), nullptr);
    EXPECT_STREQ(msg_lookup("RUN"), "RUN");

    // A caller's tree leaves the process tree alone.
    ASSERT_EQ(msg_insert(msg_root_slot(), "A", "a"), 1);
    MsgNode* mine = nullptr;
    ASSERT_EQ(msg_insert(&mine, "B", "b"), 1);
    msg_free(mine);
    EXPECT_STREQ(msg_lookup("A"), "a");
}

// A later text replacing an earlier one under another case: CatalogText.
TEST_F(MessageLookup, KeysCompareWithoutCase) {
    // Folding is to lower case, so "_" (0x5F) sorts before letters.
    EXPECT_LT(msg_compare_keys("_A", "a"), 0);
    EXPECT_EQ(msg_compare_keys("abc", "ABC"), 0);
    EXPECT_LT(msg_compare_keys("AB", "abc"), 0);
    // Bytes above 127 are not folded and compare unsigned.
    EXPECT_GT(msg_compare_keys("\xC4", "z"), 0);
}

TEST_F(MessageLookup, KeysInsertedInOrderKeepTheTreeShallow) {
    const int n = 50000;
    MsgNode* tree = nullptr;
    char key[32];
    for (int i = 0; i < n; ++i) {
        std::snprintf(key, sizeof key, "KEY%06d", i);
        ASSERT_EQ(msg_insert(&tree, key, key + 3), 1);  // the text: the key's number
    }
    EXPECT_EQ(msg_count(tree), n);
    EXPECT_LE(Height(tree), static_cast<int>(1.45 * std::log2(n + 2.0)));
    for (int i = 0; i < n; i += 997) {
        std::snprintf(key, sizeof key, "Key%06d", i);
        EXPECT_STREQ(msg_lookup_in(tree, key), key + 3);
    }
    msg_free(tree);
}

}  // namespace
