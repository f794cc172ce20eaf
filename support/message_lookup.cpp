#include "support/message_lookup.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

MsgNode* g_root = nullptr;

// Replacement text of an entry whose new text could not be copied. Never
// freed.
char kErrorText[] = "Error";

unsigned char Fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

char* CopyText(const char* text) {
    std::size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy != nullptr) std::memcpy(copy, text, n);
    return copy;
}

void FreeText(char* text) {
    if (text != kErrorText) std::free(text);
}

int Height(const MsgNode* node) { return node == nullptr ? 0 : node->height; }

void Update(MsgNode* node) {
    int l = Height(node->left);
    int r = Height(node->right);
    node->height = (l > r ? l : r) + 1;
}

MsgNode* RotateRight(MsgNode* node) {
    MsgNode* pivot = node->left;
    node->left = pivot->right;
    pivot->right = node;
    Update(node);
    Update(pivot);
    return pivot;
}

MsgNode* RotateLeft(MsgNode* node) {
    MsgNode* pivot = node->right;
    node->right = pivot->left;
    pivot->left = node;
    Update(node);
    Update(pivot);
    return pivot;
}

MsgNode* Rebalance(MsgNode* node) {
    Update(node);
    int balance = Height(node->left) - Height(node->right);
    if (balance > 1) {
        if (Height(node->left->left) < Height(node->left->right)) node->left = RotateLeft(node->left);
        return RotateRight(node);
    }
    if (balance < -1) {
        if (Height(node->right->right) < Height(node->right->left)) node->right = RotateRight(node->right);
        return RotateLeft(node);
    }
    return node;
}

// Recursion depth is the tree height: logarithmic for trees built here.
MsgNode* Insert(MsgNode* node, const char* key, const char* text, int* result) {
    if (node == nullptr) {
        auto* fresh = static_cast<MsgNode*>(std::malloc(sizeof(MsgNode)));
        char* key_copy = fresh != nullptr ? CopyText(key) : nullptr;
        char* text_copy = key_copy != nullptr ? CopyText(text) : nullptr;
        if (text_copy == nullptr) {
            std::free(key_copy);
            std::free(fresh);
            *result = -1;
            return nullptr;
        }
        *fresh = MsgNode{nullptr, nullptr, key_copy, text_copy, 1};
        *result = 1;
        return fresh;
    }
    int order = msg_compare_keys(key, node->key);
    if (order == 0) {
        char* copy = CopyText(text);
        FreeText(node->text);
        if (copy == nullptr) {
            node->text = kErrorText;
            *result = -1;
        } else {
            node->text = copy;
            *result = 0;
        }
        return node;
    }
    MsgNode*& child = order < 0 ? node->left : node->right;
    MsgNode* updated = Insert(child, key, text, result);
    if (*result != 1) return node;  // nothing added: shape unchanged
    child = updated;
    return Rebalance(node);
}

}  // namespace

int msg_compare_keys(const char* a, const char* b) {
    const auto* p = reinterpret_cast<const unsigned char*>(a);
    const auto* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        unsigned char x = Fold(*p);
        unsigned char y = Fold(*q);
        if (x != y || x == 0) return static_cast<int>(x) - static_cast<int>(y);
    }
}

int msg_insert(MsgNode** root, const char* key, const char* text) {
    if (root == nullptr || key == nullptr || text == nullptr) return -1;
    int result = -1;
    MsgNode* updated = Insert(*root, key, text, &result);
    if (result == 1) *root = updated;
    return result;
}

const char* msg_lookup_in(const MsgNode* root, const char* key) {
    if (key == nullptr) return key;
    for (const MsgNode* node = root; node != nullptr;) {
        int order = msg_compare_keys(key, node->key);
        if (order == 0) return node->text;
        node = order < 0 ? node->left : node->right;
    }
    return key;
}

const char* msg_lookup(const char* key) { return msg_lookup_in(g_root, key); }

MsgNode* msg_root() { return g_root; }

MsgNode** msg_root_slot() { return &g_root; }

void msg_free(MsgNode* root) {
    if (root == nullptr) return;
    if (root == g_root) g_root = nullptr;
    // Rotate left children up until the node has none, then free it and go
    // on with its right subtree: constant extra memory for any shape.
    MsgNode* node = root;
    while (node != nullptr) {
        if (node->left != nullptr) {
            MsgNode* left = node->left;
            node->left = left->right;
            left->right = node;
            node = left;
            continue;
        }
        MsgNode* next = node->right;
        std::free(node->key);
        FreeText(node->text);
        std::free(node);
        node = next;
    }
}

int msg_count(const MsgNode* root) {
    // A caller's tree may have any shape: walk with a heap stack.
    if (root == nullptr) return 0;
    int count = 0;
    std::size_t capacity = 64, depth = 0;
    auto** stack = static_cast<const MsgNode**>(std::malloc(capacity * sizeof(MsgNode*)));
    if (stack == nullptr) return -1;
    stack[depth++] = root;
    while (depth > 0) {
        const MsgNode* node = stack[--depth];
        ++count;
        for (const MsgNode* child : {node->left, node->right}) {
            if (child == nullptr) continue;
            if (depth == capacity) {
                auto** grown = static_cast<const MsgNode**>(std::realloc(stack, 2 * capacity * sizeof(MsgNode*)));
                if (grown == nullptr) {
                    std::free(stack);
                    return -1;
                }
                stack = grown;
                capacity *= 2;
            }
            stack[depth++] = child;
        }
    }
    std::free(stack);
    return count;
}
