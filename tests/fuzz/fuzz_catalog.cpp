// Catalog parser: arbitrary bytes as a catalog file, checking the entry
// count and the tree's order.
#include <cstdlib>

#include "support/catalog.h"
#include "support/message_lookup.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

bool Ordered(const MsgNode* node, const char* low, const char* high, int depth) {
    if (node == nullptr) return true;
    if (depth > 64) return false;  // a balanced tree of any size in memory is far shallower
    if (low != nullptr && msg_compare_keys(node->key, low) <= 0) return false;
    if (high != nullptr && msg_compare_keys(node->key, high) >= 0) return false;
    return Ordered(node->left, low, node->key, depth + 1) && Ordered(node->right, node->key, high, depth + 1);
}

}  // namespace

VD_FUZZ(text) {
    // The first byte picks the console translation.
    const unsigned mode = text.empty() ? 0 : static_cast<unsigned char>(text[0]) % 3;
    msg_set_translation(mode == 1 ? 437u : mode == 2 ? 850u : 0u);
    MsgNode* tree = nullptr;
    int added = msg_load_text(&tree, text.data(), text.size());
    if (added < 0) std::abort();  // only out of memory fails
    if (msg_count(tree) != added) std::abort();
    if (!Ordered(tree, nullptr, nullptr, 0)) std::abort();

    // A second load of the same data adds nothing.
    if (msg_load_text(&tree, text.data(), text.size()) != 0) std::abort();
    msg_free(tree);
    msg_set_translation(0);
}
