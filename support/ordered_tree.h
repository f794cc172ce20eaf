// Ordered collection of caller-owned values in an unbalanced search tree
// with parent links and an explicit rebalancing step, ordered by the
// creator's comparison; and the library's zeroing allocation.
//
// Values that compare equal are allowed unless an insert asks for
// uniqueness; an equal value always goes to the `not_less` side. The tree
// has no lock: its owner serialises access.
#pragma once

#include <cstddef>
#include <cstdint>

// compare(a, b): negative, zero or positive as a is less than, equal to or
// greater than b.
using TreeCompare = int (*)(const void* a, const void* b);
using TreeVisitor = void (*)(void* value, void* user);
using TreeRelease = void (*)(void* value);

struct OrderedTreeNode {
    void* value;               // the caller's pointer, not owned
    OrderedTreeNode* parent;
    OrderedTreeNode* not_less;  // values comparing greater or equal
    OrderedTreeNode* less;      // values comparing smaller
};

struct OrderedTree {
    TreeCompare compare;
    OrderedTreeNode* root;  // null when empty
    std::int32_t count;
};

// tree_insert flags.
inline constexpr int TREE_UNIQUE = 1;     // an equal value is not added again
inline constexpr int TREE_REBALANCE = 2;  // rebuild at 255, 4095, 16383, 32767, 65535 nodes

// Empty tree, or null when out of memory (or `compare` is null).
OrderedTree* tree_new(TreeCompare compare);

// 0 (also when a unique insert finds an equal value and adds nothing);
// -1 for a null tree; -2 when the node cannot be allocated.
int tree_insert(OrderedTree* tree, void* value, int flags);

// The first stored value equal to `value` on the path from the root, or null.
void* tree_find(const OrderedTree* tree, const void* value);

// Removes one node equal to `value` and returns its stored value, or null.
void* tree_remove(OrderedTree* tree, const void* value);

// Calls visitor(value, user) for every value in ascending order, without
// recursion. The visitor must not change the tree.
void tree_walk(const OrderedTree* tree, TreeVisitor visitor, void* user);

// Rebuilds the tree with the least possible height. 0; -1 for a null tree;
// -2 when the work array cannot be allocated (the tree is then unchanged).
int tree_rebalance(OrderedTree* tree);

// Number of levels on the longest path from the root (0 when empty).
int tree_height(const OrderedTree* tree);

// Frees every node and the tree, calling `release` (if not null) on each
// value. A null tree is ignored.
void tree_free(OrderedTree* tree, TreeRelease release);

// Largest block mem_zalloc hands out: 256 MiB.
inline constexpr std::int64_t kMemZallocLimit = 268435456;

// Zeroed block of count × size bytes, or null when the product is negative,
// above kMemZallocLimit, or the memory is not there. Freed with mem_free.
void* mem_zalloc(std::int32_t count, std::int32_t size);
void mem_free(void* block);
