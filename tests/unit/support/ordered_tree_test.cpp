#include "support/ordered_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

int CompareInts(const void* a, const void* b) {
    int x = *static_cast<const int*>(a);
    int y = *static_cast<const int*>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

std::vector<int> Walk(const OrderedTree* tree) {
    std::vector<int> out;
    tree_walk(
        tree, [](void* value, void* user) { static_cast<std::vector<int>*>(user)->push_back(*static_cast<int*>(value)); },
        &out);
    return out;
}

TEST(OrderedTree, Duplicates) {
    int a = 5, b = 5;
    OrderedTree* tree = tree_new(CompareInts);
    EXPECT_EQ(tree_insert(tree, &a, 0), 0);
    EXPECT_EQ(tree_insert(tree, &b, 0), 0);
    EXPECT_EQ(tree->root->not_less->value, &b);  // equal values go to not_less
    EXPECT_NE(tree_remove(tree, &a), nullptr);
    EXPECT_NE(tree_remove(tree, &a), nullptr);
    EXPECT_EQ(tree->count, 0);
    EXPECT_EQ(tree->root, nullptr);
    EXPECT_EQ(tree_remove(tree, &a), nullptr);
    tree_free(tree, nullptr);
}

// The walk follows the parent links, so it also shows a broken link.
TEST(OrderedTree, FindAndRemoveKeepOrderAndLinks) {
    // 50 has two children; its predecessor 47 is a leaf.
    std::vector<int> values = {50, 30, 70, 20, 45, 60, 80, 42, 47, 41};
    OrderedTree* tree = tree_new(CompareInts);
    ASSERT_NE(tree, nullptr);
    int key = 45;
    EXPECT_EQ(tree_find(tree, &key), nullptr);
    for (int& v : values) EXPECT_EQ(tree_insert(tree, &v, 0), 0);
    EXPECT_EQ(tree_find(tree, &key), &values[4]);
    key = 44;
    EXPECT_EQ(tree_find(tree, &key), nullptr);
    key = 50;
    EXPECT_EQ(tree_remove(tree, &key), &values[0]);  // the stored value comes back
    EXPECT_EQ(*static_cast<int*>(tree->root->value), 47);
    EXPECT_EQ(Walk(tree), (std::vector<int>{20, 30, 41, 42, 45, 47, 60, 70, 80}));
    // 47: two children, its predecessor 45 has a less child; 30: predecessor
    // 20 is a leaf; 80 a leaf; 70 one child; 70 again: no longer there.
    for (auto [k, stored] :
         {std::pair<int, int*>{47, &values[8]}, {30, &values[1]}, {80, &values[6]}, {70, &values[2]}, {70, nullptr}}) {
        key = k;
        EXPECT_EQ(tree_remove(tree, &key), stored) << k;
    }
    EXPECT_EQ(tree->count, 5);
    EXPECT_EQ(Walk(tree), (std::vector<int>{20, 41, 42, 45, 60}));

    // Freeing hands every value left to the release function once.
    static std::size_t released = 0;
    tree_free(tree, [](void*) { ++released; });
    EXPECT_EQ(released, 5u);
}

TEST(OrderedTree, RebalanceAtTheSetCountsOnly) {
    std::vector<int> values(300);
    for (int i = 0; i < 300; ++i) values[static_cast<std::size_t>(i)] = i;
    OrderedTree* tree = tree_new(CompareInts);
    // Ascending inserts make a chain of height n until the rebuild.
    for (int i = 0; i < 254; ++i) tree_insert(tree, &values[static_cast<std::size_t>(i)], TREE_REBALANCE);
    EXPECT_EQ(tree_height(tree), 254);
    tree_insert(tree, &values[254], TREE_REBALANCE);
    EXPECT_EQ(tree->count, 255);
    EXPECT_EQ(tree_height(tree), 8);
    tree_insert(tree, &values[255], TREE_REBALANCE);
    EXPECT_EQ(tree_height(tree), 9);  // no rebuild at 256: one more level on the right edge
    EXPECT_EQ(Walk(tree), std::vector<int>(values.begin(), values.begin() + 256));
    tree_free(tree, nullptr);
}

TEST(MemZalloc, LimitAndZeroFill) {
    EXPECT_EQ(mem_zalloc(268435457, 1), nullptr);
    EXPECT_EQ(mem_zalloc(-1, 4), nullptr);
    // A product past 32 bits must not wrap around to a small block.
    EXPECT_EQ(mem_zalloc(65536, 65537), nullptr);
    EXPECT_EQ(mem_zalloc(0x40000001, 4), nullptr);
    auto* block = static_cast<unsigned char*>(mem_zalloc(16, 8));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::all_of(block, block + 128, [](unsigned char c) { return c == 0; }));
    mem_free(block);
}

}  // namespace
