// The boundary between the engine and whatever shows it: the desktop shell,
// the headless runner or a test. The engine reaches the window system only
// through the free functions below, which forward to the installed Frontend.
#pragma once

#include "core/node_store.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

// The six views of the main window, in tab order (from 0).
enum View : int { VIEW_LIST, VIEW_TEXT, VIEW_VALUE, VIEW_SCRIPT, VIEW_CONS, VIEW_PLOT };

// Styles of console text: script output, and the prompts of keyboard input.
constexpr int CONSOLE_STYLE_DEFAULT = 0;
constexpr int CONSOLE_STYLE_PROMPT = 3;

// The answers of the save question.
enum SaveAnswer { SAVE_YES, SAVE_NO, SAVE_CANCEL };

class Frontend {
  public:
    virtual ~Frontend() = default;

    // Status line: the persistent status and the transient (flashed) one.
    virtual void status_show(const char* text) = 0;
    virtual void status_flash(const char* text) = 0;

    // Modal message boxes; the answers are true for OK / Yes.
    virtual void warn_box(const char* text, const char* caption) = 0;
    virtual bool ask_ok_cancel(const char* text, const char* caption) = 0;
    // detail: a second line under the question ("" for none).
    virtual bool ask_yes_no(const char* text, const char* caption, const std::string& detail) = 0;

    // Handles at most one pending event; the engine calls it in its nested
    // loops (breakpoint pause, input wait).
    virtual void ui_pump_once() = 0;

    // The Quit command's procedure (save question, then end), run when the
    // user accepts the low-memory question.
    virtual void exit_procedure() = 0;

    // Ends the program at once (running out of nodes during start-up).
    [[noreturn]] virtual void fatal_exit(int code) = 0;

    // The cell-name dialog: what the user typed (at most CELL_NAME_TYPED_MAX characters), or
    // false when cancelled. The engine normalises and validates it.
    virtual bool cell_name_dialog(std::string& typed) {
        (void)typed;
        return false;
    }

    // A web's stream file outside the web's folder, or named absolutely:
    // whether the user allows the full path to be written (output) or read.
    // Without an answer it is refused.
    virtual bool allow_path(const std::string& path, bool output) {
        (void)path, (void)output;
        return false;
    }

    // Panes of the current cell: copy edits back into it, fill from it.
    virtual void commit_all_panes() {}
    virtual void load_panes() {}

    // The cell list pane.
    virtual void cell_list_refill() {}
    virtual void cell_list_add(NodeHandle cell) { (void)cell; }
    virtual void cell_list_remove(NodeHandle cell) { (void)cell; }
    virtual void cell_list_clear() {}
    virtual void cell_list_select_current() {}

    // A find/replace search is open (Run is refused meanwhile).
    virtual bool search_in_progress() { return false; }

    // The selected text of the pane that has the focus ("" when none).
    virtual std::string selected_text() { return {}; }

    // The console pane. Positions and lengths count bytes.
    virtual void console_append(std::string_view bytes, int style) { (void)bytes, (void)style; }
    virtual void console_clear() {}
    virtual int64_t console_length() { return 0; }
    virtual void console_caret_to_end() {}
    virtual void console_set_style(int64_t start, int64_t length, int style) {
        (void)start, (void)length, (void)style;
    }

    // Handles the events already pending, without waiting; called while
    // output is produced so the window stays live.
    virtual void pump_pending() {}

    // Views: show one (the previous view becomes the one shown before).
    virtual void show_view(int view) { (void)view; }
    virtual int current_view() { return VIEW_LIST; }
    virtual int previous_view() { return VIEW_LIST; }

    // Web files: the open and save dialogs (the chosen name, or "" when
    // cancelled; current pre-fills the open dialog, suggested the save one),
    // the three-answer save question, the window title and a new layout.
    virtual std::string ask_open_file_name(const std::string& current) {
        (void)current;
        return {};
    }
    virtual std::string ask_save_file_name(const std::string& suggested) {
        (void)suggested;
        return {};
    }
    virtual SaveAnswer ask_save_changes(const std::string& display_name) {
        (void)display_name;
        return SAVE_CANCEL;
    }
    virtual void set_window_title(const std::string& display_name) { (void)display_name; }
    virtual void relayout() {}

    // The plot surface changed: repaint the plot tab now (a running script
    // does not return to the event loop).
    virtual void plot_changed() {}
};

// Installs f (not owned) as the frontend; nullptr restores the built-in
// headless one.
void frontend_install(Frontend* f);
Frontend& frontend();

// The status line holds at most STATUS_TEXT_MAX bytes of a text; every text
// shown there is cut by status_text_cut, whichever way it arrives.
constexpr size_t STATUS_TEXT_MAX = 127;
std::string status_text_cut(const char* text);

void status_show(const char* text);
void status_flash(const char* text);
void status_ready();
void warn_box(const char* text, const char* caption = "Tarvex");
bool ask_ok_cancel(const char* text, const char* caption = "Tarvex");
bool ask_yes_no(const char* text, const char* caption = "Tarvex", const std::string& detail = {});
void ui_pump_once();
bool ask_allow_path(const std::string& path, bool output);
// The question's text, for the frontends that ask it.
std::string allow_path_text(const std::string& path, bool output);
void exit_procedure();
[[noreturn]] void fatal_exit(int code);
void commit_all_panes();
void load_panes();
void cell_list_refill();
void cell_list_add(NodeHandle cell);
void cell_list_remove(NodeHandle cell);
void cell_list_clear();
void cell_list_select_current();

void console_append(std::string_view bytes, int style = CONSOLE_STYLE_DEFAULT);
void console_clear();
int64_t console_length();
void console_caret_to_end();
void console_set_style(int64_t start, int64_t length, int style);
void pump_pending();
void show_view(int view);
int current_view();
int previous_view();

std::string ask_open_file_name(const std::string& current = {});
std::string ask_save_file_name(const std::string& suggested);
// Asks "Save current changes in %s?" with the display name, "(untitled)" for
// an empty one.
SaveAnswer ask_save_changes(const std::string& display_name);
// The question's text, for the frontends.
std::string save_changes_text(const std::string& display_name);
void set_window_title(const std::string& display_name);
void relayout();
void plot_changed();

} // namespace tarvex
