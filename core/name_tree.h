// Name trees: unbalanced binary search trees of tree nodes, one entry per
// name, ordered by the folding comparison (case ignored, '_' equal to ' ').
#pragma once

#include "core/node_store.h"
#include "core/text.h"

namespace tarvex {

enum NameKind : uint16_t { NK_CELL = 1, NK_BUILTIN = 3, NK_SYSCONST = 4, NK_DELETED = 5 };

// Cell names are entry names; the settings and the frontends cut names to
// these limits too, below the cells themselves.
constexpr int CELL_NAME_MAX = 48;
// A name typed or selected by the user (the cell-name box and dialog, a
// pane's selection) passes through a buffer of CELL_NAME_MAX bytes that
// keeps its terminator, so one character fewer than a stored name.
constexpr int CELL_NAME_TYPED_MAX = CELL_NAME_MAX - 1;

// Entry payload: name Text, kind, then kind-specific fields from ENTRY_FIELDS
// to the end of the node (20 bytes).
constexpr int ENTRY_NAME = TREE_PAYLOAD + 0;
constexpr int ENTRY_KIND = TREE_PAYLOAD + 2;
constexpr int ENTRY_FIELDS = TREE_PAYLOAD + 4;
// What the kinds keep from ENTRY_FIELDS on (the cell record, a builtin's
// index, a constant's Value) must fit behind it; each asserts its own end.
static_assert(record_fits(ENTRY_FIELDS), "name tree entry layout");

inline Text entry_name(NodeHandle e) { return node_get_u16(e, ENTRY_NAME); }
inline uint16_t entry_kind(NodeHandle e) { return node_get_u16(e, ENTRY_KIND); }
inline void entry_set_kind(NodeHandle e, uint16_t k) { node_set_u16(e, ENTRY_KIND, k); }

NodeHandle tree_find(const char* name, NodeHandle root);
NodeHandle tree_find_text(Text name, NodeHandle root);
NodeHandle tree_insert(Text name, NodeHandle* root, uint16_t kind);
NodeHandle tree_find_or_create(const char* name, NodeHandle* root, uint16_t kind);
NodeHandle tree_find_or_insert_kind(Text name, NodeHandle* root, uint16_t kind);
void tree_mark_deleted(NodeHandle entry);
// Takes an entry out of the tree without freeing it, the other entries
// keeping their handles, and hangs a loose entry back in by its name: an
// entry whose name changes moves to its new place this way.
void tree_unlink(NodeHandle entry, NodeHandle* root);
void tree_hang(NodeHandle entry, NodeHandle* root);
NodeHandle tree_first(NodeHandle root);
NodeHandle tree_last(NodeHandle root);
NodeHandle tree_next(NodeHandle entry);
NodeHandle tree_prev(NodeHandle entry);

// Post-order visit; both children are read before the subtrees are visited,
// so the action may release the entry.
template <class Action> void tree_walk_post(NodeHandle root, Action action);

// Marks every entry and its name; mark_fields marks what an entry owns
// besides its name (may be null).
using EntryMarker = void (*)(NodeHandle entry);
void tree_mark(NodeHandle root, EntryMarker mark_fields);

} // namespace tarvex

#include <vector>

namespace tarvex {
template <class Action> void tree_walk_post(NodeHandle root, Action action) {
    // Iterative: a tree built in name order is a chain as deep as the tree.
    struct Frame {
        NodeHandle node, left, right;
        int stage;
    };
    std::vector<Frame> stack;
    if (root != 0) stack.push_back({root, tree_left(root), tree_right(root), 0});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.stage == 0) {
            f.stage = 1;
            if (f.left != 0) stack.push_back({f.left, tree_left(f.left), tree_right(f.left), 0});
        } else if (f.stage == 1) {
            f.stage = 2;
            if (f.right != 0)
                stack.push_back({f.right, tree_left(f.right), tree_right(f.right), 0});
        } else {
            NodeHandle n = f.node;
            stack.pop_back();
            action(n);
        }
    }
}
} // namespace tarvex
