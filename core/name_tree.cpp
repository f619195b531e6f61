// Name trees.
#include "core/name_tree.h"

#include <vector>

namespace tarvex {

NodeHandle tree_find(const char* name, NodeHandle root) {
    NodeHandle e = root;
    while (e != 0) {
        int c = text_compare_cstring(entry_name(e), name);
        if (c == 0) return e;
        e = c < 0 ? tree_right(e) : tree_left(e);
    }
    return 0;
}

NodeHandle tree_find_text(Text name, NodeHandle root) {
    NodeHandle e = root;
    while (e != 0) {
        int c = text_compare(name, entry_name(e));
        if (c == 0) return e;
        e = c < 0 ? tree_left(e) : tree_right(e);
    }
    return 0;
}

NodeHandle tree_insert(Text name, NodeHandle* root, uint16_t kind) {
    NodeHandle n = node_alloc(TreeNode);
    node_set_u16(n, ENTRY_NAME, name);
    entry_set_kind(n, kind);
    tree_hang(n, root);
    return n;
}

void tree_hang(NodeHandle n, NodeHandle* root) {
    Text name = entry_name(n);
    NodeHandle parent = 0, e = *root;
    bool left = false;
    while (e != 0) {
        parent = e;
        left = text_compare(name, entry_name(e)) < 0;
        e = left ? tree_left(e) : tree_right(e);
    }
    tree_set_left(n, 0);
    tree_set_right(n, 0);
    tree_set_parent(n, parent);
    if (parent == 0)
        *root = n;
    else if (left)
        tree_set_left(parent, n);
    else
        tree_set_right(parent, n);
}

namespace {

// Puts by in the place of e under e's parent (by may be 0).
void replace_child(NodeHandle e, NodeHandle by, NodeHandle* root) {
    NodeHandle p = tree_parent(e);
    if (p == 0)
        *root = by;
    else if (tree_left(p) == e)
        tree_set_left(p, by);
    else
        tree_set_right(p, by);
    if (by != 0) tree_set_parent(by, p);
}

} // namespace

void tree_unlink(NodeHandle e, NodeHandle* root) {
    NodeHandle l = tree_left(e), r = tree_right(e);
    if (l == 0 || r == 0) {
        replace_child(e, l != 0 ? l : r, root);
    } else {
        // The successor (no left child) leaves its place to its right
        // subtree and takes e's; entries are moved, never copied, so every
        // handle stays with its name.
        NodeHandle s = r;
        while (tree_left(s) != 0)
            s = tree_left(s);
        if (s != r) {
            replace_child(s, tree_right(s), root);
            tree_set_right(s, r);
            tree_set_parent(r, s);
        }
        tree_set_left(s, l);
        tree_set_parent(l, s);
        replace_child(e, s, root);
    }
    tree_set_parent(e, 0);
    tree_set_left(e, 0);
    tree_set_right(e, 0);
}

NodeHandle tree_find_or_create(const char* name, NodeHandle* root, uint16_t kind) {
    NodeHandle e = tree_find(name, *root);
    if (e == 0) return tree_insert(text_from_cstring(name), root, kind);
    if (entry_kind(e) != NK_DELETED) return 0;
    entry_set_kind(e, kind);
    return e;
}

NodeHandle tree_find_or_insert_kind(Text name, NodeHandle* root, uint16_t kind) {
    NodeHandle e = tree_find_text(name, *root);
    if (e == 0) return tree_insert(name, root, kind);
    return entry_kind(e) == kind ? e : 0;
}

void tree_mark_deleted(NodeHandle entry) {
    if (entry != 0) entry_set_kind(entry, NK_DELETED);
}

namespace {

// The walks come in mirror pairs; each is written once, for a side.
NodeHandle child(NodeHandle e, bool right) { return right ? tree_right(e) : tree_left(e); }

NodeHandle outermost(NodeHandle root, bool right) {
    if (root == 0) return 0;
    while (child(root, right) != 0)
        root = child(root, right);
    return root;
}

// The in-order neighbour on one side: the nearest entry of the subtree on
// that side, else the first ancestor reached from the other side.
NodeHandle neighbour(NodeHandle e, bool right) {
    if (e == 0) return 0;
    if (child(e, right) != 0) return outermost(child(e, right), !right);
    NodeHandle p = tree_parent(e);
    while (p != 0 && child(p, right) == e) {
        e = p;
        p = tree_parent(p);
    }
    return p;
}

} // namespace

NodeHandle tree_first(NodeHandle root) { return outermost(root, false); }
NodeHandle tree_last(NodeHandle root) { return outermost(root, true); }
NodeHandle tree_next(NodeHandle e) { return neighbour(e, true); }
NodeHandle tree_prev(NodeHandle e) { return neighbour(e, false); }

void tree_mark(NodeHandle root, EntryMarker mark_fields) {
    std::vector<NodeHandle> stack;
    if (root != 0) stack.push_back(root);
    while (!stack.empty()) {
        NodeHandle e = stack.back();
        stack.pop_back();
        if (!node_mark(e)) continue;
        text_mark(entry_name(e));
        if (mark_fields) mark_fields(e);
        if (tree_left(e) != 0) stack.push_back(tree_left(e));
        if (tree_right(e) != 0) stack.push_back(tree_right(e));
    }
}

} // namespace tarvex
