// Find and replace over the web: the replace dialog, the modeless search
// bar under the panes, and the walk that looks for the search text in the
// same field of every cell.
#pragma once

#include <string_view>

class QKeyEvent;
class QObject;
class QWidget;

namespace tarvex {

// At most this many characters are taken from the dialog's two edits.
constexpr int SEARCH_TEXT_CUT = 47;

// The Replace command: refused while a search is in progress, else the
// replace dialog; OK opens the search bar and searches once.
void open_find_dialog();

// Set from the moment the replace dialog opens until it is cancelled or the
// search bar is closed; Run is refused meanwhile.
bool search_active();

// Finds the search text in the visible text or script pane after the
// selection, else in the same field of the following cells, wrapping round
// to the start of the field it began in.
void search_next();
// Replaces the match the last search selected, then searches again; does
// nothing when the last search found nothing.
void repl_then_search_next();
bool search_match_selected();
// Counts the search text in the same field of every cell, asks, then
// replaces it everywhere, each cell's replacements one undoable step.
void replace_all();

// How many times the pane's own search (with or without its case) would
// find what in field, going on from the end of each match; -1 when only the
// pane can tell. The walk skips the cells with none without showing them.
int search_field_count(std::string_view field, std::string_view what, bool match_case);

// The Find command: opens the search bar with its search field focused.
void find_bar_command();

// The search bar, or nullptr when it is closed.
QWidget* search_bar();
void search_bar_open();
// "cancel": the bar closes and the search ends.
void search_bar_close();
// Keys for the bar's own controls reach it before the key table: true when
// watched belongs to the open bar.
bool search_bar_owns(const QObject* watched);
// The line-editing keys (Ctrl+A, C, V, X, Z, Delete) that the bar's text
// fields keep for themselves rather than the key table.
bool search_bar_edit_key(const QObject* watched, QKeyEvent* key);
// Tab and Backtab move between the bar's controls, Enter is "next",
// Escape is "cancel"; true when the key was used.
bool search_bar_key(QKeyEvent* key);

} // namespace tarvex
