#include "support/ordered_tree.h"

#include <cstdlib>

void* mem_zalloc(std::int32_t count, std::int32_t size) {
    // The product is formed in 64 bits so that a large count and size cannot
    // wrap around to a small block.
    std::int64_t bytes = static_cast<std::int64_t>(count) * static_cast<std::int64_t>(size);
    if (count < 0 || size < 0 || bytes > kMemZallocLimit) return nullptr;
    if (bytes == 0) bytes = 1;
    return std::calloc(1, static_cast<std::size_t>(bytes));
}

void mem_free(void* block) { std::free(block); }

namespace {

OrderedTreeNode* Smallest(OrderedTreeNode* node) {
    while (node != nullptr && node->less != nullptr) node = node->less;
    return node;
}

// In-order successor through the parent links.
OrderedTreeNode* Successor(OrderedTreeNode* node) {
    if (node->not_less != nullptr) return Smallest(node->not_less);
    OrderedTreeNode* child = node;
    OrderedTreeNode* parent = node->parent;
    while (parent != nullptr && parent->not_less == child) {
        child = parent;
        parent = parent->parent;
    }
    return parent;
}

// Hangs `node` into the tree by the insert rule; false when `unique` finds
// an equal value (the node is then not linked).
bool Attach(OrderedTree* tree, OrderedTreeNode* node, bool unique) {
    if (tree->root == nullptr) {
        tree->root = node;
        tree->count = 1;
        return true;
    }
    OrderedTreeNode* at = tree->root;
    for (;;) {
        int c = tree->compare(node->value, at->value);
        if (c == 0 && unique) return false;
        OrderedTreeNode*& next = c < 0 ? at->less : at->not_less;
        if (next == nullptr) {
            next = node;
            node->parent = at;
            ++tree->count;
            return true;
        }
        at = next;
    }
}

bool RebalancePoint(std::int32_t count) {
    return count == 255 || count == 4095 || count == 16383 || count == 32767 || count == 65535;
}

// Replaces `node` in its parent's link (or as the root) by `child`.
void Replace(OrderedTree* tree, OrderedTreeNode* node, OrderedTreeNode* child) {
    if (child != nullptr) child->parent = node->parent;
    if (node->parent == nullptr) {
        tree->root = child;
    } else if (node->parent->less == node) {
        node->parent->less = child;
    } else {
        node->parent->not_less = child;
    }
}

}  // namespace

OrderedTree* tree_new(TreeCompare compare) {
    if (compare == nullptr) return nullptr;
    auto* tree = static_cast<OrderedTree*>(mem_zalloc(1, sizeof(OrderedTree)));
    if (tree == nullptr) return nullptr;
    tree->compare = compare;
    return tree;
}

int tree_insert(OrderedTree* tree, void* value, int flags) {
    if (tree == nullptr) return -1;
    auto* node = static_cast<OrderedTreeNode*>(mem_zalloc(1, sizeof(OrderedTreeNode)));
    if (node == nullptr) return -2;
    node->value = value;
    if (!Attach(tree, node, (flags & TREE_UNIQUE) != 0)) {
        mem_free(node);
        return 0;
    }
    if ((flags & TREE_REBALANCE) != 0 && RebalancePoint(tree->count)) tree_rebalance(tree);
    return 0;
}

void* tree_find(const OrderedTree* tree, const void* value) {
    if (tree == nullptr) return nullptr;
    OrderedTreeNode* at = tree->root;
    while (at != nullptr) {
        int c = tree->compare(value, at->value);
        if (c == 0) return at->value;
        at = c < 0 ? at->less : at->not_less;
    }
    return nullptr;
}

void* tree_remove(OrderedTree* tree, const void* value) {
    if (tree == nullptr) return nullptr;
    OrderedTreeNode* at = tree->root;
    while (at != nullptr) {
        int c = tree->compare(value, at->value);
        if (c == 0) break;
        at = c < 0 ? at->less : at->not_less;
    }
    if (at == nullptr) return nullptr;
    --tree->count;
    void* stored = at->value;
    if (at->less != nullptr && at->not_less != nullptr) {
        // Two children: the in-order predecessor's value moves up and the
        // predecessor node (which has no not_less child) goes instead.
        OrderedTreeNode* pred = at->less;
        while (pred->not_less != nullptr) pred = pred->not_less;
        at->value = pred->value;
        Replace(tree, pred, pred->less);
        mem_free(pred);
    } else {
        Replace(tree, at, at->less != nullptr ? at->less : at->not_less);
        mem_free(at);
    }
    return stored;
}

void tree_walk(const OrderedTree* tree, TreeVisitor visitor, void* user) {
    if (tree == nullptr || visitor == nullptr) return;
    for (OrderedTreeNode* node = Smallest(tree->root); node != nullptr; node = Successor(node)) {
        visitor(node->value, user);
    }
}

int tree_rebalance(OrderedTree* tree) {
    if (tree == nullptr) return -1;
    if (tree->root == nullptr) return 0;
    std::int32_t n = tree->count;
    auto** nodes = static_cast<OrderedTreeNode**>(mem_zalloc(n, sizeof(OrderedTreeNode*)));
    if (nodes == nullptr) return -2;
    std::int32_t have = 0;
    for (OrderedTreeNode* node = Smallest(tree->root); node != nullptr && have < n; node = Successor(node)) {
        nodes[have++] = node;
    }
    n = have;
    tree->root = nullptr;
    tree->count = 0;
    std::int64_t b = 1;
    while (b - 1 < n) b *= 2;
    // Middle first, then the middles of each half, and so on: positions
    // b/2, b/2 + b, ... then b/4, b/4 + b/2, ... down to 1, 3, 5, ...
    for (std::int64_t stride = b; stride >= 2; stride /= 2) {
        for (std::int64_t pos = stride / 2; pos <= n; pos += stride) {
            OrderedTreeNode* node = nodes[pos - 1];
            node->parent = node->less = node->not_less = nullptr;
            Attach(tree, node, false);
        }
    }
    mem_free(nodes);
    return 0;
}

int tree_height(const OrderedTree* tree) {
    if (tree == nullptr || tree->root == nullptr) return 0;
    // Walk the nodes in order and measure each one's depth through its
    // parent links; no recursion.
    int height = 0;
    for (OrderedTreeNode* node = Smallest(tree->root); node != nullptr; node = Successor(node)) {
        int depth = 1;
        for (OrderedTreeNode* up = node->parent; up != nullptr; up = up->parent) ++depth;
        if (depth > height) height = depth;
    }
    return height;
}

void tree_free(OrderedTree* tree, TreeRelease release) {
    if (tree == nullptr) return;
    OrderedTreeNode* node = tree->root;
    while (node != nullptr) {
        if (node->not_less != nullptr) {
            node = node->not_less;
        } else if (node->less != nullptr) {
            node = node->less;
        } else {
            OrderedTreeNode* parent = node->parent;
            if (parent != nullptr) {
                if (parent->not_less == node) {
                    parent->not_less = nullptr;
                } else {
                    parent->less = nullptr;
                }
            }
            if (release != nullptr) release(node->value);
            mem_free(node);
            node = parent;
        }
    }
    mem_free(tree);
}
