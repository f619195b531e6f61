// The current cell, the visit rings and navigation.
#include "web/navigation.h"

#include "frontend/frontend.h"

#include <cstring>

namespace tarvex {

namespace {

struct Ring {
    CellHandle slots[RING_SLOTS] = {};
    int head = 0;
    int tail = 0;
    int cursor = 0;

    bool empty() const { return head == tail; }
    static int step(int i, int by) { return (i + by + RING_SLOTS) % RING_SLOTS; }
    int size() const { return step(head, -tail); }

    void push(CellHandle c) {
        if (c == 0 || (!empty() && slots[step(head, -1)] == c)) return;
        if (step(head, 1) == tail) tail = step(tail, 1);
        slots[head] = c;
        head = step(head, 1);
    }
    CellHandle pop() {
        if (empty()) return 0;
        head = step(head, -1);
        CellHandle c = slots[head];
        slots[head] = 0;
        return c;
    }
    // Removes every occurrence, moving the newer entries towards the tail.
    void remove_all(CellHandle c) {
        int i = tail;
        while (i != head) {
            if (slots[i] != c) {
                i = step(i, 1);
                continue;
            }
            for (int j = i; step(j, 1) != head; j = step(j, 1))
                slots[j] = slots[step(j, 1)];
            head = step(head, -1);
            slots[head] = 0;
        }
    }
    void clear() { *this = Ring{}; }
};

Ring g_back, g_forward;
CellHandle g_current = 0;
CellHandle g_list_position = 0;

// Steps through the tree (deleted entries included) from the current cell
// to the nearest live cell, wrapping round at the ends.
void step_cell(bool backwards) {
    if (g_current != 0) {
        commit_all_panes();
        g_list_position = g_current;
        g_current = 0;
    }
    for (;;) {
        NodeHandle e = backwards ? tree_prev(g_list_position) : tree_next(g_list_position);
        if (e == 0) {
            NodeHandle w = backwards ? tree_last(cell_root()) : tree_first(cell_root());
            while (w != 0 && entry_kind(w) != NK_CELL)
                w = backwards ? tree_prev(w) : tree_next(w);
            if (w == 0) {
                g_current = g_list_position;
                return;
            }
            e = w;
        }
        if (entry_kind(e) == NK_CELL) {
            g_current = e;
            load_panes();
            cell_list_select_current();
            return;
        }
        g_list_position = e;
    }
}

} // namespace

void navigation_init() {
    g_back.clear();
    g_forward.clear();
    g_current = 0;
    g_list_position = 0;
}

CellHandle current_cell() { return g_current; }

void make_current(CellHandle c) {
    if (g_current != 0 && g_current != c) commit_all_panes();
    g_current = c;
    load_panes();
}

void reshow_current() { make_current(g_current); }

void go_home() {
    make_current(cell_root());
    cell_list_select_current();
}

void navigation_reset() {
    g_back.clear();
    g_forward.clear();
    cell_list_clear();
    g_current = cell_root();
    load_panes();
    cell_list_refill();
}

void navigation_forget_current() {
    g_current = 0;
    g_list_position = 0;
    g_back.clear();
    g_forward.clear();
}

void back_push(CellHandle c) { g_back.push(c); }

CellHandle back_pop() {
    if (g_back.empty()) return 0;
    forward_push(g_current);
    return g_back.pop();
}

void back_remove_all(CellHandle c) { g_back.remove_all(c); }
void back_iterate_start() { g_back.cursor = g_back.head; }
CellHandle back_iterate_next() {
    if (g_back.cursor == g_back.tail) return 0;
    g_back.cursor = Ring::step(g_back.cursor, -1);
    return g_back.slots[g_back.cursor];
}
int back_count() { return g_back.size(); }

void forward_push(CellHandle c) { g_forward.push(c); }
CellHandle forward_pop() { return g_forward.pop(); }
void forward_remove_all(CellHandle c) { g_forward.remove_all(c); }
void forward_clear() {
    while (g_forward.pop() != 0) {
    }
}
int forward_count() { return g_forward.size(); }

void visit_new(CellHandle c) {
    forward_clear();
    back_push(g_current);
    make_current(c);
    cell_list_select_current();
}

void visit(CellHandle c) {
    if (c != g_current) {
        back_push(g_current);
        make_current(c);
    }
    cell_list_select_current();
}

void go_back() {
    CellHandle c = back_pop();
    if (c == 0) {
        go_home();
        return;
    }
    make_current(c);
    cell_list_select_current();
}

void go_forward() {
    CellHandle c = forward_pop();
    if (c != 0) visit(c);
}

void go_back_to(const char* name) {
    back_iterate_start();
    int depth = 0;
    for (CellHandle c = back_iterate_next(); c != 0; c = back_iterate_next()) {
        ++depth;
        if (cell_name_string(c) != name) continue;
        CellHandle target = 0;
        for (int i = 0; i < depth; ++i)
            target = back_pop();
        make_current(target);
        cell_list_select_current();
        return;
    }
    if (std::strcmp(name, "home") == 0) {
        while (back_pop() != 0) {
        }
        go_home();
    }
}

void previous_cell() { step_cell(true); }
void next_cell() { step_cell(false); }

} // namespace tarvex
