// The boundary between the engine and whatever shows it: the desktop shell,
// the headless runner or a test. The engine reaches the window system only
// through the free functions below, which forward to the installed Frontend.
#pragma once

#include "core/node_store.h"

#include <string>

namespace tarvex {

class Frontend {
public:
    virtual ~Frontend() = default;

    // Status line: the persistent status and the transient (flashed) one.
    virtual void status_show(const char* text) = 0;
    virtual void status_flash(const char* text) = 0;

    // Modal message boxes; the answers are true for OK / Yes.
    virtual void warn_box(const char* text, const char* caption) = 0;
    virtual bool ask_ok_cancel(const char* text, const char* caption) = 0;
    virtual bool ask_yes_no(const char* text, const char* caption) = 0;

    // Handles at most one pending event; the engine calls it in its nested
    // loops (breakpoint pause, input wait).
    virtual void ui_pump_once() = 0;

    // The Quit command's procedure (save question, then end), run when the
    // user accepts the low-memory question.
    virtual void exit_procedure() = 0;

    // Ends the program at once (running out of nodes during start-up).
    [[noreturn]] virtual void fatal_exit(int code) = 0;

    // The cell-name dialog: what the user typed (at most 47 characters), or
    // false when cancelled. The engine normalises and validates it.
    virtual bool cell_name_dialog(std::string& typed) { (void)typed; return false; }

    // Panes of the current cell: copy edits back into it, fill from it.
    virtual void commit_all_panes() {}
    virtual void load_panes() {}

    // The cell list pane.
    virtual void cell_list_refill() {}
    virtual void cell_list_add(NodeHandle cell) { (void)cell; }
    virtual void cell_list_remove(NodeHandle cell) { (void)cell; }
    virtual void cell_list_clear() {}
    virtual void cell_list_select_current() {}
};

// Installs f (not owned) as the frontend; nullptr restores the built-in
// headless one.
void frontend_install(Frontend* f);
Frontend& frontend();

constexpr int STATUS_TEXT_MAX = 127;

void status_show(const char* text);
void status_flash(const char* text);
void status_ready();
void warn_box(const char* text, const char* caption = "Tarvex");
bool ask_ok_cancel(const char* text, const char* caption = "Tarvex");
bool ask_yes_no(const char* text, const char* caption = "Tarvex");
void ui_pump_once();
void exit_procedure();
[[noreturn]] void fatal_exit(int code);
void commit_all_panes();
void load_panes();
void cell_list_refill();
void cell_list_add(NodeHandle cell);
void cell_list_remove(NodeHandle cell);
void cell_list_clear();
void cell_list_select_current();

} // namespace tarvex
