// Cells, the cell tree and table, values with their histories, and the
// user-level cell commands.
#include "web/cell.h"

#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "settings/settings.h"
#include "tokens/token_list.h"
#include "web/links.h"
#include "web/navigation.h"

#include <cctype>
#include <cstring>

namespace tarvex {

namespace detail {
CellHandle g_cell_table[CELL_TABLE_MAX];
int g_cell_count = 0;
} // namespace detail

namespace {

NodeHandle g_root = 0;
CellHandle (&g_table)[CELL_TABLE_MAX] = detail::g_cell_table;
int& g_count = detail::g_cell_count;
// By cell handle: the cell's table index + 1, 0 for a handle not in the
// table, so that finding a cell's index does not walk the table.
uint16_t g_index_of[NODE_COUNT_MAX];

// Empties the table; entries past the count are always 0.
void table_clear() {
    for (int i = 0; i < g_count; ++i) {
        g_index_of[g_table[i]] = 0;
        g_table[i] = 0;
    }
    g_count = 0;
}

bool is_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_alnum(unsigned char c) { return is_letter(c) || (c >= '0' && c <= '9'); }

void mark_cell_fields(NodeHandle e) {
    if (entry_kind(e) != NK_CELL) return;
    text_mark(cell_get(e, CF_TEXT));
    node_mark(cell_get(e, CF_TEXT_PANE));
    node_mark(cell_get(e, CF_SCRIPT_PANE));
    if (cell_get(e, CF_TEXT_LINKS)) tokens_mark(cell_get(e, CF_TEXT_LINKS));
    text_mark(cell_get(e, CF_SCRIPT));
    if (cell_get(e, CF_SCRIPT_TOKENS)) tokens_mark(cell_get(e, CF_SCRIPT_TOKENS));
    valuelist_mark(cell_get(e, CF_VALUE));
}

// Releases everything a cell owns and zeroes the fields.
void release_contents(CellHandle c) {
    static const CellField text_fields[] = {CF_TEXT, CF_SCRIPT};
    for (CellField f : text_fields) {
        Text t = cell_get(c, f);
        cell_put(c, f, 0);
        text_free(t);
    }
    static const CellField token_fields[] = {CF_TEXT_LINKS, CF_SCRIPT_TOKENS};
    for (CellField f : token_fields) {
        TokenList l = cell_get(c, f);
        cell_put(c, f, 0);
        tokens_free(l);
    }
    static const CellField pane_fields[] = {CF_TEXT_PANE, CF_SCRIPT_PANE};
    for (CellField f : pane_fields) {
        NodeHandle p = cell_get(c, f);
        cell_put(c, f, 0);
        node_free(p);
    }
    NodeHandle v = cell_get(c, CF_VALUE);
    cell_put(c, CF_VALUE, 0);
    valuelist_free(v);
    node_set_u8(c, CF_SCRIPT_CHANGED, 0);
    node_set_u8(c, CF_HISTORY_DEPTH, 0);
}

NodeHandle copy_node(NodeHandle src) {
    if (src == 0) return 0;
    NodeHandle n = node_alloc(PlainNode);
    std::memcpy(node_ref(n) + 1, node_ref(src) + 1, NODE_SIZE - 1);
    return n;
}

// Normalises and validates a name given to a command, or asks for one.
bool command_name(const char* given, std::string& out) {
    if (!given || !*given) {
        out = ask_cell_name();
        return !out.empty();
    }
    out = given;
    name_normalize(out);
    if (!name_is_valid(out.c_str())) {
        warn_box(BAD_CELL_NAME_TEXT, "");
        return false;
    }
    return true;
}

// Creates a named cell after the "ask before create" question; 0 when the
// user declined.
CellHandle create_asking(const std::string& name) {
    if (settings_ask_before_create() &&
        !ask_yes_no("No such cell. Create it?", "Tarvex", "Yes creates the cell " + name + "."))
        return 0;
    return cell_create_listed(name);
}

} // namespace

std::string cell_name_string(CellHandle c) { return text_to_string(cell_name(c)); }

// ---- names -------------------------------------------------------------------

void name_normalize(std::string& name) {
    size_t start = 0;
    while (start < name.size() && !is_letter(name[start]))
        ++start;
    name.erase(0, start);
    if (name.size() > CELL_NAME_MAX) name.resize(CELL_NAME_MAX);
    while (!name.empty() && !is_alnum(name.back()))
        name.pop_back();
}

bool name_is_valid(const char* name) {
    size_t n = std::strlen(name);
    if (n == 0 || n > CELL_NAME_MAX) return false;
    if (!is_letter(name[0]) || !is_alnum(name[n - 1])) return false;
    for (size_t i = 0; i < n; ++i)
        if (!is_alnum(name[i]) && name[i] != '_') return false;
    return true;
}

int name_compare(Text a, const char* b) { return text_compare_cstring(a, b); }
int name_compare(Text a, Text b) { return text_compare(a, b); }

// ---- the tree ------------------------------------------------------------------

namespace {
// Whether the status line has said, in this web, that a new cell lies past
// the table.
bool g_past_table_told = false;
} // namespace

void cells_init() {
    g_past_table_told = false;
    g_root = 0;
    table_clear();
    web_set_modified(false);
    navigation_init();
}

void cells_mark() { tree_mark(g_root, mark_cell_fields); }

NodeHandle cell_root() { return g_root; }
bool cell_is_home(CellHandle c) { return c != 0 && c == g_root; }

CellHandle cell_find(const char* name) {
    NodeHandle e = tree_find(name, g_root);
    return e != 0 && entry_kind(e) == NK_CELL ? e : 0;
}

CellHandle cell_find_text(Text name) {
    NodeHandle e = tree_find_text(name, g_root);
    return e != 0 && entry_kind(e) == NK_CELL ? e : 0;
}

// ---- creation and removal --------------------------------------------------------

CellHandle cell_create_unlimited(const char* name, bool rebuild) {
    CellHandle c = tree_find_or_create(name, &g_root, NK_CELL);
    if (c == 0) return 0;
    cell_set_list_item(c, 0);
    release_contents(c); // a revived entry's fields are already zero
    if (rebuild) cell_table_rebuild();
    return c;
}

// A cell past the table is made all the same, as a web file's extra cells
// are; the first time in a web the status line names the cell scripts have
// lost: the new one, or the one it pushed out of the table.
CellHandle cell_create(const char* name) {
    CellHandle c = cell_create_unlimited(name);
    int count = cell_table_count();
    if (c == 0 || g_past_table_told || count < cell_table_capacity()) return c;
    CellHandle past = cell_table_index_of(c) < 0 ? c : 0;
    for (NodeHandle e = tree_next(cell_table_at(count - 1)); e != 0 && past == 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) past = e;
    if (past != 0) {
        status_flash(cell_past_table_text(cell_name_string(past), cell_table_capacity()).c_str());
        g_past_table_told = true;
    }
    return c;
}

CellHandle cell_create_listed(const std::string& name) {
    CellHandle c = cell_create(name.c_str());
    if (c == 0) return 0;
    cell_list_add(c);
    web_set_modified(true);
    return c;
}

void cell_delete(CellHandle c) {
    if (c == 0 || entry_kind(c) != NK_CELL || cell_is_home(c)) return;
    back_remove_all(c);
    forward_remove_all(c);
    if (current_cell() == c) previous_cell();
    release_contents(c);
    cell_set_list_item(c, 0);
    tree_mark_deleted(c);
    cell_table_rebuild();
}

CellHandle cell_clone(const char* name) {
    CellHandle src = current_cell();
    forward_clear();
    back_push(src);
    CellHandle c = cell_create(name);
    if (c == 0) return 0;
    if (src != 0) {
        cell_put(c, CF_TEXT, text_copy(cell_text(src)));
        cell_put(c, CF_SCRIPT, text_copy(cell_script(src)));
        cell_put(c, CF_VALUE, valuelist_copy(cell_value(src)));
        cell_put(c, CF_TEXT_PANE, copy_node(cell_get(src, CF_TEXT_PANE)));
        cell_put(c, CF_SCRIPT_PANE, copy_node(cell_get(src, CF_SCRIPT_PANE)));
    }
    cell_table_rebuild();
    make_current(c);
    cell_list_add(c);
    cell_list_select_current();
    web_set_modified(true);
    return c;
}

bool cell_rename(CellHandle c, const char* name) {
    if (c == 0 || entry_kind(c) != NK_CELL || cell_is_home(c)) return false;
    NodeHandle same = tree_find(name, g_root);
    if (same != 0 && same != c && entry_kind(same) != NK_DELETED) return false;
    Text fresh = text_from_cstring(name); // before any entry is moved
    Text old = cell_name(c);
    tree_unlink(c, &g_root);
    node_set_u16(c, ENTRY_NAME, fresh);
    if (same != 0 && same != c) {
        // A deleted cell's entry holding the name takes the old one, so
        // that the tree keeps one entry per name and no node is spent.
        tree_unlink(same, &g_root);
        text_free(entry_name(same));
        node_set_u16(same, ENTRY_NAME, old);
        tree_hang(same, &g_root);
    } else {
        text_free(old);
    }
    tree_hang(c, &g_root);
    cell_table_rebuild();
    text_links_discard_all(); // their tokens hold table indices
    return true;
}

void web_clear() {
    g_past_table_told = false;
    navigation_forget_current();
    NodeHandle root = g_root;
    g_root = 0;
    tree_walk_post(root, [](NodeHandle e) {
        release_contents(e);
        Text name = entry_name(e);
        node_set_u16(e, ENTRY_NAME, 0);
        text_free(name);
        node_free(e);
    });
    cell_table_rebuild();
}

// ---- the cell table ------------------------------------------------------------

int cell_table_capacity() {
    return node_count() == NODE_COUNT_DEFAULT ? CELL_TABLE_SIZE : CELL_TABLE_MAX;
}

void cell_table_rebuild() {
    table_clear();
    const int capacity = cell_table_capacity();
    for (NodeHandle e = tree_first(g_root); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        node_set_u8(e, CF_SCRIPT_CHANGED, 1);
        if (g_count == capacity) continue;
        g_table[g_count++] = e;
        g_index_of[e] = static_cast<uint16_t>(g_count);
    }
}

int cell_table_index_of(CellHandle c) { return g_index_of[c] - 1; }

int cell_table_count() { return g_count; }

// ---- values ----------------------------------------------------------------------

CellValueHook detail::g_value_hook = nullptr;
void cell_set_value_hook(CellValueHook hook) { detail::g_value_hook = hook; }

void detail::cell_set_value_kept(CellHandle c, NodeHandle value) {
    NodeHandle old = cell_get(c, CF_VALUE);
    int depth = cell_history_depth(c);
    chain_set_next(value, old);
    cell_put(c, CF_VALUE, value);
    NodeHandle keep = value;
    for (int i = 0; i < depth && chain_next(keep) != 0; ++i)
        keep = chain_next(keep);
    valuelist_free(chain_cut_after(keep));
    if (g_value_hook) g_value_hook(value, c);
}

void cell_histories_reset() {
    for (NodeHandle e = tree_first(g_root); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        cell_set_history_depth(e, 0);
        NodeHandle v = cell_value(e);
        if (v != 0) valuelist_free(chain_cut_after(v));
    }
}

void cell_mark_script_changed(CellHandle c) { node_set_u8(c, CF_SCRIPT_CHANGED, 1); }

// ---- pane commits ----------------------------------------------------------------

void cell_set_text(CellHandle c, std::string_view text) {
    Text old = cell_text(c);
    cell_put(c, CF_TEXT, 0);
    text_free(old);
    text_links_discard(c);
    if (!text.empty()) cell_put(c, CF_TEXT, text_from_bytes(text));
}

void cell_set_script(CellHandle c, std::string_view script) {
    Text old = cell_script(c);
    cell_put(c, CF_SCRIPT, 0);
    text_free(old);
    TokenList tokens = cell_get(c, CF_SCRIPT_TOKENS);
    cell_put(c, CF_SCRIPT_TOKENS, 0);
    tokens_discard(tokens); // a running script may still be reading it
    cell_mark_script_changed(c);
    if (!script.empty()) cell_put(c, CF_SCRIPT, text_from_bytes(script));
}

void cell_set_value_text(CellHandle c, std::string_view text) {
    if (text.empty()) {
        NodeHandle v = cell_value(c);
        cell_put(c, CF_VALUE, 0);
        valuelist_free(v);
        return;
    }
    NodeHandle v = cell_value(c);
    if (v == 0) {
        v = value_new();
        cell_put(c, CF_VALUE, v);
    }
    Text old = value_text(v);
    value_set_text_handle(v, 0);
    text_free(old);
    value_set_text(v, text_from_bytes(text));
    if (number_text_looks_numeric(text)) value_to_number(v);
}

// ---- user-level commands ----------------------------------------------------------

std::string ask_cell_name() {
    std::string typed;
    if (!frontend().cell_name_dialog(typed) || typed.empty()) return {};
    if (typed.size() > CELL_NAME_TYPED_MAX) typed.resize(CELL_NAME_TYPED_MAX);
    name_normalize(typed);
    if (!name_is_valid(typed.c_str())) {
        warn_box(BAD_CELL_NAME_TEXT, "");
        return {};
    }
    return typed;
}

CellHandle cell_new_command(const char* name) {
    CellHandle result = 0;
    engine_guard([&] {
        std::string n;
        if (!command_name(name, n)) return;
        CellHandle c = cell_find(n.c_str());
        if (c != 0) {
            if (ask_yes_no("Cell already exists, go there?", "Tarvex")) visit_new(c);
            result = c;
            return;
        }
        c = cell_create(n.c_str());
        if (c == 0) return;
        visit_new(c);
        cell_list_add(c);
        cell_list_select_current();
        web_set_modified(true);
        result = c;
    });
    return result;
}

void cell_go_command(const char* name) {
    engine_guard([&] {
        std::string n;
        if (!command_name(name, n)) return;
        CellHandle c = cell_find(n.c_str());
        if (c == 0) c = create_asking(n);
        if (c != 0) visit_new(c);
    });
}

void cell_ensure_command(const char* name) {
    engine_guard([&] {
        std::string n;
        if (!command_name(name, n)) return;
        if (cell_find(n.c_str()) == 0) create_asking(n);
    });
}

void cell_clone_command(const char* name) {
    engine_guard([&] {
        std::string n;
        if (!command_name(name, n)) return;
        if (cell_find(n.c_str()) != 0) {
            warn_box(DUPLICATE_CELL_NAME_TEXT, "");
            return;
        }
        cell_clone(n.c_str());
    });
}

} // namespace tarvex
