// The command table: every menu item, key, tool button and child
// notification reaches the engine as a numbered command, checked against
// the lock-out rules and run under the engine guard.
#pragma once

#include <string>
#include <vector>

namespace tarvex {

enum CommandId : int {
    CMD_NEW_WEB = 14,
    CMD_OPEN = 15,
    CMD_NEW_WEB_ALIAS = 16,
    CMD_SAVE = 17,
    CMD_SAVE_AS = 18,
    CMD_REPORT = 19,
    CMD_PRINT = 20,
    CMD_QUIT = 21,
    CMD_SELECT_ALL = 22,
    CMD_CUT = 23,
    CMD_COPY = 24,
    CMD_PASTE = 25,
    CMD_CLEAR = 26,
    CMD_UNDO = 27,
    CMD_REDO = 28,
    CMD_FIND = 30,
    CMD_FIND_BAR = 31,
    CMD_ERASE_PLOT = 32,
    CMD_SETTINGS = 33,
    CMD_ZOOM = 34,
    CMD_PREFERENCES = 35,
    CMD_ZOOM_IN = 36,
    CMD_ZOOM_OUT = 37,
    CMD_ZOOM_RESET = 38,
    CMD_QUICK_FIX = 39, // creates the cell a shown script error names
    CMD_NEW_CELL = 40,
    CMD_CLONE = 41,
    CMD_DELETE = 42,
    CMD_PREVIOUS_CELL = 43,
    CMD_NEXT_CELL = 44,
    CMD_BACK = 45,
    CMD_FORWARD = 46,
    CMD_RUN_TO_BRK = 48,
    CMD_HELP_OVERVIEW = 60,
    CMD_HELP_REPORT = 61,
    CMD_HELP_BUILTINS = 62,
    CMD_HELP_LANGUAGE = 63,
    CMD_HELP_DEBUGGING = 64,
    CMD_HELP_INFO = 65,
    CMD_ABOUT = 70,
    CMD_SWITCH_FOCUS = 75,
    CMD_NAME_BOX = 82,
    CMD_TEXT_PANE = 85,
    CMD_VALUE_PANE = 86,
    CMD_SCRIPT_PANE = 87,
    CMD_PLOT_AREA = 89,
    CMD_CONSOLE_PANE = 90,
    // The View menu's tabs, in view order (CMD_VIEW_LIST + view).
    CMD_VIEW_LIST = 91,
    CMD_VIEW_TEXT = 92,
    CMD_VIEW_VALUE = 93,
    CMD_VIEW_SCRIPT = 94,
    CMD_VIEW_CONS = 95,
    CMD_VIEW_PLOT = 96,
    CMD_NEXT_TAB = 97,
    CMD_PREVIOUS_TAB = 98,
    // Focus to the cell-name box with its text selected.
    CMD_GO_TO_BOX = 99,
    CMD_RUN = 206,
    CMD_STOP = 207,
    // The help window: on the page the argument names, or on the topic of
    // the focused pane when there is none.
    CMD_HELP_CONTENTS = 66,
    CMD_SAVE_PLOT_AS = 208,
    CMD_RENAME_CELL = 210,
    CMD_UNDO_RENAME = 211,
    // Every command by name, and every cell by name or words of its text.
    CMD_COMMAND_PALETTE = 220,
    CMD_QUICK_SWITCHER = 221,
    // The script pane's word completion, or the name field's list of names.
    CMD_COMPLETE = 222,
    // The debugger: stepping from a pause, and breakpoints on script lines.
    CMD_STEP_OVER = 230,
    CMD_STEP_INTO = 231,
    CMD_STEP_OUT = 232,
    CMD_RUN_TO_CURSOR = 233,
    CMD_TOGGLE_BREAKPOINT = 234,
};

// Notification codes of the child windows.
enum Notification : int {
    NOTE_NONE = 0,
    NOTE_FOCUS = 1,     // a pane gained the focus
    NOTE_CHANGED = 2,   // a pane's text changed
    NOTE_DROP_DOWN = 3, // the cell-name box's list opens
    NOTE_SELECTED = 4,  // an entry of that list was chosen
};

constexpr int COMMAND_COUNT = 70;

void dispatch_command(int id, int code = NOTE_NONE, const std::string& arg = {});
bool is_locked_out();
// The command ids of the table, in table order.
std::vector<int> command_ids();
// What dispatch_command would say in refusing the command now (the lock-out
// rules and the run's own guards), nullptr when it would run.
const char* command_refusal(int id);
// How many commands are being handled (nested ones included).
int command_depth();

// Messages and notifications that are not in the table but reach the
// engine the same way.
void go_to_name();
void link_clicked(int slot, long position);
// A link to the cell of that name followed from anywhere (a pane, the web
// map): a new visit, as a click on a link in a pane.
void link_followed(const std::string& name);
// A press on a link: followed once the editor's mouse handling is over,
// unless it is the second click of a double click on a link.
void link_pressed(int slot, long position);
void cell_list_picked(unsigned cell);
void pane_double_clicked(int slot);

// The start-up step that runs once the window is on the screen.
void startup_message(const std::string& file_name);

// Closing the main window: true when it may close now.
bool close_requested();
// The Quit command's procedure without its guard (also the low-memory
// question's OK): save question, then the end of the program.
void quit_procedure();

} // namespace tarvex
