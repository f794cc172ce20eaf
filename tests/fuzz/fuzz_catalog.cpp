// Catalog parser: arbitrary bytes as a catalog file, checking the entry
// count and the tree's order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "support/catalog.h"
#include "support/message_lookup.h"

namespace {

bool Ordered(const MsgNode* node, const char* low, const char* high, int depth) {
    if (node == nullptr) return true;
    if (depth > 64) return false;  // a balanced tree of any size in memory is far shallower
    if (low != nullptr && msg_compare_keys(node->key, low) <= 0) return false;
    if (high != nullptr && msg_compare_keys(node->key, high) >= 0) return false;
    return Ordered(node->left, low, node->key, depth + 1) && Ordered(node->right, node->key, high, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte picks the console translation.
    unsigned mode = size > 0 ? data[0] % 3 : 0;
    msg_set_translation(mode == 1 ? 437u : mode == 2 ? 850u : 0u);
    const char* text = reinterpret_cast<const char*>(data);

    MsgNode* tree = nullptr;
    int added = msg_load_text(&tree, text, size);
    if (added < 0) std::abort();  // only out of memory fails
    if (msg_count(tree) != added) std::abort();
    if (!Ordered(tree, nullptr, nullptr, 0)) std::abort();

    // A second load of the same data adds nothing.
    if (msg_load_text(&tree, text, size) != 0) std::abort();
    msg_free(tree);
    msg_set_translation(0);
    return 0;
}
