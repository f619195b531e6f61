// Cells and the web: the cell tree with "home" at its root, cell names,
// the cell table through which scripts address cells by index,
// creating, cloning and deleting cells, value histories, and the web's
// modified mark.
#pragma once

#include "core/name_tree.h"
#include "core/node_store.h"
#include "core/text.h"
#include "core/value.h"
#include "settings/modified_mark.h"

#include <string>

namespace tarvex {

using CellHandle = NodeHandle;

// The handheld's cell table: scripts name the first 256 cells in name order
// (matrices live in it, and the 256 of previous() and gaussj's 16 rows come
// from it). A web may hold more cells; scripts cannot name those.
constexpr int CELL_TABLE_SIZE = 256;
// With a store larger than the handheld's, the table holds every cell the
// store can hold, so scripts name every cell.
constexpr int CELL_TABLE_MAX = NODE_COUNT_MAX;
// The table's size for the store's size (node_count()).
int cell_table_capacity();

// Fields of a cell entry, after the name and kind of every tree entry.
enum CellField : int {
    CF_LIST_ITEM = ENTRY_FIELDS + 0,       // u32: the cell list item, 0 = none
    CF_TEXT = ENTRY_FIELDS + 4,            // Text
    CF_TEXT_PANE = ENTRY_FIELDS + 6,       // PaneState node
    CF_SCRIPT_PANE = ENTRY_FIELDS + 8,     // PaneState node
    CF_TEXT_LINKS = ENTRY_FIELDS + 10,     // TokenList of kind 1
    CF_SCRIPT = ENTRY_FIELDS + 12,         // Text
    CF_SCRIPT_TOKENS = ENTRY_FIELDS + 14,  // TokenList of kind 2
    CF_VALUE = ENTRY_FIELDS + 16,          // ValueList, newest first
    CF_SCRIPT_CHANGED = ENTRY_FIELDS + 18, // u8
    CF_HISTORY_DEPTH = ENTRY_FIELDS + 19,  // u8
};
static_assert(record_fits(CF_HISTORY_DEPTH + 1), "cell entry layout");

// The u16 fields (handles).
inline NodeHandle cell_get(CellHandle c, CellField f) { return node_get_u16(c, f); }
inline void cell_put(CellHandle c, CellField f, NodeHandle h) { node_set_u16(c, f, h); }

inline Text cell_name(CellHandle c) { return entry_name(c); }
inline Text cell_text(CellHandle c) { return cell_get(c, CF_TEXT); }
inline Text cell_script(CellHandle c) { return cell_get(c, CF_SCRIPT); }
inline NodeHandle cell_value(CellHandle c) { return cell_get(c, CF_VALUE); }
inline uint8_t cell_history_depth(CellHandle c) { return node_get_u8(c, CF_HISTORY_DEPTH); }
inline void cell_set_history_depth(CellHandle c, uint8_t d) { node_set_u8(c, CF_HISTORY_DEPTH, d); }
inline uint32_t cell_list_item(CellHandle c) { return node_get_u32(c, CF_LIST_ITEM); }
inline void cell_set_list_item(CellHandle c, uint32_t item) { node_set_u32(c, CF_LIST_ITEM, item); }
std::string cell_name_string(CellHandle c);

// ---- names -------------------------------------------------------------------
// Normalises a name in place (a std::string here: no fixed buffer).
void name_normalize(std::string& name);
bool name_is_valid(const char* name);
int name_compare(Text a, const char* b);
int name_compare(Text a, Text b);

// ---- the tree ------------------------------------------------------------------
// An empty web with no current cell and empty histories, without releasing
// anything: at start-up, right after the node store is set up.
void cells_init();
// The reclaim walk's root: the cell tree with everything its cells own
// (engine start-up registers it).
void cells_mark();
NodeHandle cell_root(); // the home cell once a web exists
bool cell_is_home(CellHandle c);
CellHandle cell_find(const char* name);
CellHandle cell_find_text(Text name);

// ---- creation and removal ------------------------------------------------------
// Past a full cell table too (the status line says so once a web).
CellHandle cell_create(const char* name);
// A cell created for the user: in the cell list, and the web modified.
CellHandle cell_create_listed(const std::string& name);
// Without the table limit: a web file may hold more cells than the table.
// A reader creating many cells passes rebuild = false and rebuilds the
// table once at the end.
CellHandle cell_create_unlimited(const char* name, bool rebuild = true);
void cell_delete(CellHandle c);
CellHandle cell_clone(const char* name);
// Gives a live cell other than home a valid name no other live cell has,
// keeping its handle and everything it holds; the table is rebuilt. False
// changes nothing.
bool cell_rename(CellHandle c, const char* name);
void web_clear();

// ---- the cell table ------------------------------------------------------------
void cell_table_rebuild();
namespace detail {
extern CellHandle g_cell_table[CELL_TABLE_MAX];
extern int g_cell_count; // at most cell_table_capacity()
} // namespace detail
// 0 out of range. Inline: every cell read and call of a script looks here.
inline CellHandle cell_table_at(int index) {
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(detail::g_cell_count)) return 0;
    return detail::g_cell_table[index];
}
int cell_table_index_of(CellHandle c);
int cell_table_count();

// ---- values ----------------------------------------------------------------------
// Told about every value change (the plot registers itself).
using CellValueHook = void (*)(NodeHandle value, CellHandle c);
void cell_set_value_hook(CellValueHook hook);
namespace detail {
extern CellValueHook g_value_hook;
void cell_set_value_kept(CellHandle c, NodeHandle value);
} // namespace detail

// Hands value over to the cell as its current value, keeping history_depth
// earlier values. Inline for a cell without history: every assignment of a
// run makes one.
inline void cell_set_value(CellHandle c, NodeHandle value) {
    if (cell_history_depth(c) != 0) return detail::cell_set_value_kept(c, value);
    NodeHandle old = cell_get(c, CF_VALUE);
    cell_put(c, CF_VALUE, 0);
    if (old != 0 && chain_next(old) == 0)
        value_free(old);
    else
        valuelist_free(old);
    chain_set_next(value, 0);
    cell_put(c, CF_VALUE, value);
    if (detail::g_value_hook) detail::g_value_hook(value, c);
}
void cell_histories_reset();
void cell_mark_script_changed(CellHandle c);
// Inline: every cell call asks it.
inline bool cell_take_script_changed(CellHandle c) {
    if (node_get_u8(c, CF_SCRIPT_CHANGED) == 0) return false;
    node_set_u8(c, CF_SCRIPT_CHANGED, 0);
    return true;
}

// ---- pane commits (the shell hands over what a pane holds) ----------------------
void cell_set_text(CellHandle c, std::string_view text);
void cell_set_script(CellHandle c, std::string_view script);
void cell_set_value_text(CellHandle c, std::string_view text);

// ---- user-level commands (each under the engine guard) ---------------------
// A given name (nullptr or "" asks with the cell-name dialog) is normalised
// and validated; an invalid one is refused with "Bad cell name supplied".
CellHandle cell_new_command(const char* name);
void cell_go_command(const char* name);
void cell_ensure_command(const char* name);
void cell_clone_command(const char* name);
// The cell-name dialog: a valid, normalised name, or "" for none.
std::string ask_cell_name();

} // namespace tarvex
