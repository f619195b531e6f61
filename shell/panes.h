// The main window's children and what moves between them and the engine:
// the window slots, the focus slot, the views, the editor panes (set-up,
// link styling, commit and load), the cell list, the console pane, the
// status line and the idle tick.
#pragma once

#include "core/node_store.h"

#include <cstdint>
#include <string>
#include <string_view>

class QComboBox;
class QDockWidget;
class QLabel;
class QMainWindow;
class QStackedWidget;
class QString;
class QTabBar;
class QTreeWidget;
class QWidget;
class QsciScintilla;

namespace tarvex {

// The windows that can hold the focus, numbered from 0 in this order.
enum WindowSlot : int {
    SLOT_NAME_BOX,
    SLOT_TEXT,
    SLOT_VALUE,
    SLOT_SCRIPT,
    SLOT_LIST,
    SLOT_PLOT,
    SLOT_TABS,
    SLOT_CONSOLE
};

// Styles of the editor panes.
constexpr int STYLE_PLAIN = 0;
constexpr int STYLE_LINK = 2;
constexpr int STYLE_OUTPUT = 3;
// The script pane's mark on a failing token (numbers below 8 belong to the
// editor's lexers) and the style of the message shown under its line.
constexpr int INDICATOR_ERROR = 8;
// The text pane's shading of the text past LINK_TEXT_MAX, which no link
// reaches.
constexpr int INDICATOR_LINK_LIMIT = 9;
constexpr int STYLE_ERROR_NOTE = 40;
// Script pane margins: line numbers, the 2-pixel gap, then the symbols of
// the paused statement, the error line and the breakpoints.
constexpr int MARGIN_NUMBERS = 0;
constexpr int MARGIN_SYMBOLS = 2;
// Markers of the script pane: the paused statement's arrow and its line's
// background, the error line's symbol, and a breakpoint's circle (or, when
// switched off, a hollow one). A higher number is drawn over a lower one:
// the arrow shows on a breakpoint's circle.
constexpr int MARKER_PAUSE_LINE = 1;
constexpr int MARKER_ERROR = 2;
constexpr int MARKER_BREAK = 3;
constexpr int MARKER_BREAK_OFF = 4;
constexpr int MARKER_PAUSE = 5;

// What the status line says while console output waits unseen behind
// another tab.
inline constexpr const char* OUTPUT_IN_CONS_TEXT = "Output in cons tab (Ctrl+5)";

constexpr int TRANSIENT_STATUS_MS = 5000;
constexpr int IDLE_TICK_MS = 1000;

// The windows the shell works with; all are children of the main window,
// which owns them.
struct ShellWindows {
    QMainWindow* main = nullptr;
    QComboBox* name_box = nullptr;
    QsciScintilla* text = nullptr;
    QsciScintilla* value = nullptr;
    QsciScintilla* script = nullptr;
    QsciScintilla* console = nullptr;
    QTreeWidget* list = nullptr;
    QWidget* plot = nullptr;
    QTabBar* tabs = nullptr;
    QStackedWidget* stack = nullptr;
    QLabel* status = nullptr;
};
ShellWindows& shell_windows();
// The window of a slot; 8 or more reads slot 0.
QWidget* slot_window(int slot);
// The editor of a slot (1, 2, 3, 7), or nullptr.
QsciScintilla* slot_editor(int slot);
int slot_of_window(const QWidget* w);

int focus_slot();
void set_focus_slot(int slot);
void focus_current();

// Views. A pane is shown either as a page of the stack behind the tab
// strip, or, in the desktop layout, in a dock of its own: showing its view
// then brings the dock up.
void shell_show_view(int view);
// A pane took the keyboard where every pane is in sight at once (the
// desktop layout): its view becomes the shown one, so that the pane left is
// committed, and the focus stays where the user put it.
void shell_view_followed(int view);
// The dock a pane sits in, nullptr when it is a page of the stack.
QDockWidget* pane_dock(const QWidget* pane);
int shell_current_view();
int shell_previous_view();
// The pane slot of a view (4, 1, 2, 3, 7, 5).
int view_slot(int view);

// Editor panes.
void editor_setup(QsciScintilla* e);
void console_setup(QsciScintilla* e);
void panes_setup();
// Styles [start, end) of a text, script or value pane: cell names as links.
void pane_style_links(QsciScintilla* e, int64_t end);
void pane_commit(int view);
// Stores what the user typed as cell's value (in the value pane or the
// Values dock): a number when it reads as one, no value when empty.
void pane_value_store(NodeHandle cell, std::string_view bytes);
void panes_commit_all();
void panes_load();
// Each cell keeps an editor document per pane for the session (its own
// undo history). Forgotten when another web is started or opened, and for
// a deleted cell.
void panes_forget_documents();
void pane_forget_cell(NodeHandle cell);
// A cell's field (SLOT_TEXT or SLOT_SCRIPT) was changed from before while
// the pane showed another cell (Replace All): on the next visit the cell's
// document (made then if it has none) goes through each such change as a
// step of its own, so that its undo takes them back one by one.
void pane_document_before(NodeHandle cell, int slot, std::string before);
// A script error: an indicator on the failing bytes [start, end) of cell's
// script and the message under their line, shown whenever the script pane
// shows that cell, until the script is edited or the marks are cleared.
// missing_cell: a name the token uses where no cell has it, which the
// quick fix creates.
void pane_error_show(NodeHandle cell, uint32_t start, uint32_t end, const std::string& message,
                     const std::string& missing_cell = {});
void pane_error_clear();
// The name the shown error's quick fix would create, "" for none.
std::string pane_error_missing_cell();
// A text, value or script pane's text changed: an edit marks the web
// modified and, in the script pane, clears the error mark. Ignored while
// the panes are loaded, which is no edit.
void pane_edited(bool script);
bool pane_error_showing();
// Marks the paused brk statement's line in the script pane while a run is
// paused and the pane shows that cell; clears it otherwise.
void pane_pause_mark_sync();
// The script pane line the pause mark is on, -1 for none.
long pane_pause_mark_line();
// While paused: the pause mark goes to byte pos of cell's script instead
// (a frame of the call stack looked at), until the run moves on.
void pane_frame_mark(NodeHandle cell, uint32_t pos);
// The cell whose script the script pane shows, 0 for none.
NodeHandle pane_script_cell();
// Sets the script selection kept for cell (and shows it when cell is the
// current cell).
void pane_state_select(NodeHandle cell, uint32_t start, uint32_t end);
// The whole text of an editor as bytes.
std::string editor_bytes(QsciScintilla* e);
std::string editor_selected_bytes(QsciScintilla* e);
// The word (letters, digits, "_") at a position, "" when none or too long.
std::string editor_word_at(QsciScintilla* e, int64_t pos);
void pane_collapse_request(int slot);
// Ctrl held or released: the script pane's links follow clicks only while
// it is held.
void script_links_live(bool on);
bool script_links_are_live();

// Rebuilds the link words (every cell name) and restyles the panes when
// they changed.
void link_refresh();

// Status line.
void status_line_show(const char* text);
void status_line_flash(const char* text);
// Rewrites the transient message being shown (to add detail to it) without
// another beep or a new time-out.
void status_line_amend(const char* text);
void status_tick();
const std::string& status_line_text();

// The idle tick: status expiry, link refresh, collapse requests.
void idle_tick();

// Cell list.
void list_refill();
void list_add(NodeHandle cell);
void list_remove(NodeHandle cell);
void list_clear();
void list_select_current();
// The same, only where the list's current item is another cell's (the
// panes were loaded with another current cell).
void list_follow_current();
// Shows only the items whose names hold filter (case and "_"/space folded
// as names compare); "" shows every item.
void list_filter_set(const QString& filter);
// The first item the filter shows, in list order, or nullptr.
void* list_first_shown();
// True while the program itself changes the list's selection.
bool list_filling();
NodeHandle list_item_cell(const void* item);

// Console pane.
void console_pane_append(std::string_view bytes, int style);
void console_pane_clear();
// Whether output to the console while it is out of sight brings it up; when
// not, the status line points to it until it is shown.
void console_show_on_output(bool on);
bool console_shows_on_output();
// The console came into sight (its view shown, or its dock opened).
void console_pane_seen();
int64_t console_pane_length();
void console_pane_caret_to_end();
void console_pane_set_style(int64_t start, int64_t length, int style);
// Lines are left unwrapped while output streams in (on), and wrapped again
// once it has stopped (off).
void console_pane_streaming(bool on);
// Puts the output that waits into the console pane.
void console_pane_flush();
// Brings the console's text, caret and view up to date after output.
void console_pane_settle();
// Enter in the console: the typed line goes to the keyboard queue.
void console_enter_typed();

} // namespace tarvex
