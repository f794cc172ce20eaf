// The process-wide message catalog in memory: a search tree that maps
// message keys to printf-style texts. Keys compare without regard to ASCII
// case, so "Start" and "START" are one key. A key without an entry stands
// for itself.
//
// The tree is kept height-balanced so that catalogs written in key order do
// not degrade lookups (which sit on the status-message path) into a list
// walk. Nodes, keys and texts are owned by the tree and allocated with
// std::malloc, so running out of memory is a result code, never an
// exception.
#pragma once

struct MsgNode {
    MsgNode* left;   // smaller keys
    MsgNode* right;  // greater keys
    char* key;       // heap copy
    char* text;      // heap copy (or the fixed word "Error", see msg_insert)
    int height;      // height of the subtree rooted here (a leaf is 1)
};

// Case-insensitive comparison of two keys (ASCII letters folded to lower
// case, as the C runtime's _stricmp does); <0, 0 or >0.
int msg_compare_keys(const char* a, const char* b);

// Inserts or replaces one entry of the tree at *root.
// 1: a new key was added; 0: an existing key got the new text;
// -1: out of memory. A failed new node leaves the tree as it was; a failed
// replacement leaves the entry with the text "Error".
// Null root, key or text: -1.
int msg_insert(MsgNode** root, const char* key, const char* text);

// The key's text in the process-wide catalog, or `key` itself when the
// catalog has no such entry (or nothing is loaded).
const char* msg_lookup(const char* key);

// The same on a tree of the caller's (null: empty tree).
const char* msg_lookup_in(const MsgNode* root, const char* key);

// The process-wide root; null while nothing is loaded.
MsgNode* msg_root();

// Address of the process-wide root, for the catalog loader.
MsgNode** msg_root_slot();

// Frees the tree; when it is the process-wide tree, its root becomes null.
// Null is ignored. Frees iteratively, so no tree shape can exhaust the stack.
void msg_free(MsgNode* root);

// Number of entries in a tree (null: 0; -1 when memory runs out).
int msg_count(const MsgNode* root);
