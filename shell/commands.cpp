// The command table and its handlers. Each command is found by its number,
// checked against its guard and the lock-out rules, and run under the
// engine guard; the handlers call the engine and do the window work around
// it.
#include "shell/commands.h"

#include "commands/cell_commands.h"
#include "commands/report_command.h"
#include "core/errors.h"
#include "core/guard.h"
#include "engine/engine_start.h"
#include "frontend/frontend.h"
#include "io/input_stream.h"
#include "io/output_stream.h"
#include "plot/plot.h"
#include "reports/reports.h"
#include "script/debugger.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "shell/breakpoints.h"
#include "shell/command_palette.h"
#include "shell/completion.h"
#include "shell/dialogs.h"
#include "shell/error_position.h"
#include "shell/help_topics.h"
#include "shell/help_window.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/plot_view.h"
#include "shell/preferences.h"
#include "shell/qt_frontend.h"
#include "shell/recent_webs.h"
#include "shell/recovery.h"
#include "shell/rename_dialog.h"
#include "shell/search.h"
#include "shell/settings_dialog.h"
#include "shell/zoom_dialog.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMainWindow>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>
#include <Qsci/qsciscintilla.h>

namespace tarvex {

namespace {

enum Guard { G_NONE, G_LOCKED, G_INPUT, G_EDITOR, G_RUN, G_PAUSED };

using Handler = void (*)(int id, int code, const std::string& arg);

struct Command {
    int id;
    Guard guard;
    Handler handler;
};

int g_depth = 0;
bool g_close_pending = false;
// When the last link was followed: the clicks of a double click that falls
// within the double-click interval of it belong to that link.
QElapsedTimer g_link_clock;
int g_link_slot = -1; // the pane of the last link press

// Whether a click in the pane of slot is the second of a double click on a
// link: the same pane, within the double-click interval.
bool within_link_double_click(int slot) {
    return g_link_clock.isValid() && g_link_slot == slot &&
           g_link_clock.elapsed() <= QApplication::doubleClickInterval();
}

std::string box_text() {
    QComboBox* box = shell_windows().name_box;
    if (!box) return {};
    return box->currentText().left(CELL_NAME_TYPED_MAX).toStdString();
}

void box_show_current() {
    QComboBox* box = shell_windows().name_box;
    CellHandle c = current_cell();
    if (box && c) box->setEditText(QString::fromStdString(cell_name_string(c)));
}

void box_close_list() {
    if (QComboBox* box = shell_windows().name_box) box->hidePopup();
}

// The selection of a pane as typed text: its first CELL_NAME_TYPED_MAX
// characters, "" when nothing is selected.
std::string pane_selection(QsciScintilla* e) {
    std::string sel = editor_selected_bytes(e);
    return QString::fromUtf8(sel.data(), int(sel.size())).left(CELL_NAME_TYPED_MAX).toStdString();
}

void show_tab(int view) { shell_show_view(view); }

// Paused and waiting for the user (a brk passed over by Run also raises
// the pause flag while it writes its line).
bool run_paused() { return run_active() && run_breakpoint_pause() && !run_ignore_breakpoints(); }

// ---- handlers -----------------------------------------------------------------------

void cmd_name_box(int, int code, const std::string& arg) {
    QComboBox* box = shell_windows().name_box;
    if (!box) return;
    if (code == NOTE_DROP_DOWN) {
        box->clear();
        std::vector<std::string> names = name_box_list();
        if (names.empty()) return;
        for (const std::string& name : names)
            box->addItem(QString::fromStdString(name));
        box->setEditText(QString::fromStdString(names.front()));
    } else if (code == NOTE_SELECTED) {
        name_box_picked(arg);
    }
}

void cmd_new_web(int, int, const std::string&) {
    commit_all_panes();
    if (!web_new().done()) return; // cancelled, or the save it asked for failed
    panes_forget_documents();
    load_panes();
    web_set_modified(false);
    console_clear();
    show_tab(VIEW_LIST);
}

// The panes, list and console after an open that read the file.
void show_opened(const WebOutcome& opened) {
    if (opened.done()) recent_webs_note();
    panes_forget_documents();
    load_panes();
    web_set_modified(false);
    link_refresh();
    console_clear();
    show_tab(VIEW_LIST);
}

// A web refused for the store's size is opened again, when the user says
// so, with the engine started again at the size it needs; otherwise the
// web shown stays.
void reopen_in_a_larger_store() {
    std::string name;
    WebFit fit;
    if (!web_fit_refused(&name, &fit) || !store_reopen_asked(name, fit)) return;
    panes_forget_documents(); // they name cells of the store that goes
    engine_restart(fit.needed);
    WebOutcome opened;
    if (!open_web_command(name.c_str(), opened)) web_new();
    show_opened(opened);
}

void cmd_open(int, int, const std::string& arg) {
    commit_all_panes();
    WebOutcome opened;
    if (!open_web_command(arg.empty() ? nullptr : arg.c_str(), opened)) {
        if (opened.code == SE_WEB_PAST_STORE) reopen_in_a_larger_store();
        return;
    }
    show_opened(opened);
}

void cmd_preferences(int, int, const std::string&) { preferences_dialog_run(); }

void cmd_save(int id, int, const std::string& arg) {
    commit_all_panes();
    WebOutcome rc = id == CMD_SAVE ? web_save() : web_save_as(arg.empty() ? nullptr : arg.c_str());
    if (rc.done()) {
        recent_webs_note();
        breakpoints_store(); // Save As: under the file's new name
    }
    load_panes();
}

void cmd_print(int, int, const std::string&) {
    int view = current_view();
    if (view != VIEW_TEXT && view != VIEW_VALUE && view != VIEW_SCRIPT) return;
    CellHandle c = current_cell();
    if (!c) return;
    pane_commit(view);
    print_cell_field(c, view);
}

void cmd_editor(int id, int, const std::string&) {
    QsciScintilla* e = slot_editor(focus_slot());
    if (!e) return;
    switch (id) {
    case CMD_UNDO: e->undo(); break;
    case CMD_REDO: e->redo(); break;
    case CMD_CUT: e->cut(); break;
    case CMD_COPY: e->copy(); break;
    case CMD_PASTE: e->paste(); break;
    case CMD_CLEAR: e->SendScintilla(QsciScintillaBase::SCI_CLEAR); break;
    case CMD_SELECT_ALL: e->selectAll(); break;
    default: break;
    }
}

void cmd_find(int, int, const std::string&) { open_find_dialog(); }
void cmd_find_bar(int, int, const std::string&) { find_bar_command(); }
void cmd_zoom(int, int, const std::string&) { zoom_command(); }
void cmd_zoom_step(int id, int, const std::string&) {
    zoom_step(id == CMD_ZOOM_IN ? 1 : id == CMD_ZOOM_OUT ? -1 : 0);
}
void cmd_settings(int, int, const std::string&) { settings_dialog_run(); }

void cmd_help(int id, int, const std::string&) {
    help_topic_write(help_topic_of_command(id));
    show_tab(VIEW_CONS);
}

void cmd_help_window(int, int, const std::string& page) { help_window_show(page); }

void cmd_about(int, int, const std::string&) { dialog_about(); }

void cmd_pane(int id, int code, const std::string&) {
    if (code == NOTE_FOCUS) {
        switch (id) {
        case CMD_TEXT_PANE: set_focus_slot(SLOT_TEXT); break;
        case CMD_VALUE_PANE: set_focus_slot(SLOT_VALUE); break;
        case CMD_SCRIPT_PANE: set_focus_slot(SLOT_SCRIPT); break;
        case CMD_CONSOLE_PANE: set_focus_slot(SLOT_CONSOLE); break;
        default: break;
        }
    } else if (code == NOTE_CHANGED && id != CMD_CONSOLE_PANE && id != CMD_PLOT_AREA) {
        pane_edited(id == CMD_SCRIPT_PANE);
    }
}

void cmd_switch_focus(int, int, const std::string&) {
    if (focus_slot() != SLOT_NAME_BOX)
        set_focus_slot(SLOT_NAME_BOX);
    else
        set_focus_slot(view_slot(current_view()));
    focus_current();
}

void cmd_view(int id, int, const std::string&) { show_tab(id - CMD_VIEW_LIST); }

void cmd_cycle_tab(int id, int, const std::string&) {
    int step = id == CMD_NEXT_TAB ? 1 : VIEW_PLOT; // VIEW_PLOT + 1 views: one back
    show_tab((current_view() + step) % (VIEW_PLOT + 1));
}

// Like a browser's address bar: the whole name selected, ready to be typed
// over.
void cmd_go_to_box(int, int, const std::string&) {
    QComboBox* box = shell_windows().name_box;
    if (!box || !box->lineEdit()) return;
    set_focus_slot(SLOT_NAME_BOX);
    box->lineEdit()->setFocus(Qt::ShortcutFocusReason);
    box->lineEdit()->selectAll();
}

void cmd_new_cell(int, int, const std::string&) {
    int slot = focus_slot();
    if (slot == SLOT_NAME_BOX) {
        new_cell_from_box(box_text());
    } else if (slot == SLOT_LIST) {
        new_cell_asking();
    } else if (QsciScintilla* e = slot_editor(slot)) { // not the plot area
        new_cell_from_selection(pane_selection(e));
    }
}

void cmd_forward(int, int, const std::string&) {
    int slot = focus_slot();
    if (slot == SLOT_NAME_BOX) {
        if (!forward_from_box(box_text())) box_show_current();
    } else if (slot == SLOT_TEXT || slot == SLOT_SCRIPT || slot == SLOT_CONSOLE) {
        forward_from_selection(pane_selection(slot_editor(slot)));
    } else if (slot == SLOT_VALUE || slot == SLOT_LIST) {
        go_forward();
    }
}

void cmd_clone(int, int, const std::string&) { cell_clone_command(nullptr); }

// The shown script error's name that no cell has becomes a cell; nothing
// runs. The error's marks go: what they pointed at is mended.
void cmd_quick_fix(int, int, const std::string&) {
    std::string name = pane_error_missing_cell();
    if (name.empty()) {
        status_line_flash(NO_QUICK_FIX_TEXT);
        return;
    }
    if (cell_find(name.c_str()) == 0 && cell_create_listed(name) == 0) return;
    pane_error_clear();
}

void cmd_delete(int, int, const std::string&) {
    CellHandle c = current_cell();
    if (!delete_current_cell()) return;
    pane_forget_cell(c);
    breakpoints_cell_gone(c);
    box_close_list();
}

void cmd_navigate(int id, int, const std::string&) {
    switch (id) {
    case CMD_PREVIOUS_CELL: previous_cell(); break;
    case CMD_NEXT_CELL: next_cell(); break;
    case CMD_BACK:
        go_back();
        box_close_list();
        break;
    default: break;
    }
}

void cmd_report(int, int, const std::string&) { report_command(); }

void cmd_run(int id, int, const std::string&) {
    pane_error_clear();
    breakpoints_hand_over();
    if (run_command(id == CMD_RUN_TO_BRK) != 0) error_position_show();
}

void cmd_erase_plot(int, int, const std::string&) { plot_erase(); }

void cmd_save_plot_as(int, int, const std::string&) { plot_view_save_as(); }

void cmd_stop(int, int, const std::string&) { stop_command(); }

void cmd_step(int id, int, const std::string&) {
    breakpoints_hand_over();
    switch (id) {
    case CMD_STEP_OVER: debug_step(StepKind::OVER); break;
    case CMD_STEP_INTO: debug_step(StepKind::INTO); break;
    case CMD_STEP_OUT: debug_step(StepKind::OUT); break;
    case CMD_RUN_TO_CURSOR:
        if (CellHandle c = pane_script_cell()) debug_run_to_line(c, breakpoint_caret_line());
        break;
    default: break;
    }
}

// On the line the argument names (a click in the margin), or else on the
// script pane's caret line.
void cmd_toggle_breakpoint(int, int, const std::string& arg) {
    breakpoint_toggle(arg.empty() ? breakpoint_caret_line() : std::atoi(arg.c_str()));
}

void cmd_palette(int id, int, const std::string&) {
    if (id == CMD_COMMAND_PALETTE)
        command_palette_show();
    else
        quick_switcher_show();
}

void cmd_complete(int, int, const std::string&) { completion_asked(); }

void cmd_quit(int, int, const std::string&) { quit_procedure(); }

void cmd_rename(int id, int, const std::string&) {
    if (id == CMD_RENAME_CELL)
        rename_cell_command();
    else
        undo_rename_command();
    breakpoints_store(); // kept under the cell's new name
}

// The command table, in its fixed order.
const Command COMMANDS[COMMAND_COUNT] = {
    {CMD_NAME_BOX, G_NONE, cmd_name_box},
    {CMD_NEW_WEB, G_LOCKED, cmd_new_web},
    {CMD_NEW_WEB_ALIAS, G_LOCKED, cmd_new_web},
    {CMD_OPEN, G_LOCKED, cmd_open},
    {CMD_SAVE, G_LOCKED, cmd_save},
    {CMD_SAVE_AS, G_LOCKED, cmd_save},
    {CMD_PRINT, G_LOCKED, cmd_print},
    {CMD_UNDO, G_EDITOR, cmd_editor},
    {CMD_REDO, G_EDITOR, cmd_editor},
    {CMD_CUT, G_EDITOR, cmd_editor},
    {CMD_COPY, G_EDITOR, cmd_editor},
    {CMD_PASTE, G_EDITOR, cmd_editor},
    {CMD_CLEAR, G_EDITOR, cmd_editor},
    {CMD_SELECT_ALL, G_NONE, cmd_editor},
    {CMD_FIND, G_LOCKED, cmd_find},
    {CMD_FIND_BAR, G_LOCKED, cmd_find_bar},
    {CMD_ERASE_PLOT, G_NONE, cmd_erase_plot},
    {CMD_ZOOM, G_NONE, cmd_zoom},
    {CMD_ZOOM_IN, G_NONE, cmd_zoom_step},
    {CMD_ZOOM_OUT, G_NONE, cmd_zoom_step},
    {CMD_ZOOM_RESET, G_NONE, cmd_zoom_step},
    {CMD_HELP_OVERVIEW, G_INPUT, cmd_help},
    {CMD_HELP_REPORT, G_INPUT, cmd_help},
    {CMD_HELP_BUILTINS, G_INPUT, cmd_help},
    {CMD_HELP_LANGUAGE, G_INPUT, cmd_help},
    {CMD_HELP_INFO, G_INPUT, cmd_help},
    {CMD_HELP_DEBUGGING, G_INPUT, cmd_help},
    {CMD_ABOUT, G_NONE, cmd_about},
    {CMD_TEXT_PANE, G_NONE, cmd_pane},
    {CMD_VALUE_PANE, G_NONE, cmd_pane},
    {CMD_SCRIPT_PANE, G_NONE, cmd_pane},
    {CMD_CONSOLE_PANE, G_NONE, cmd_pane},
    {CMD_PLOT_AREA, G_NONE, cmd_pane},
    {CMD_SWITCH_FOCUS, G_NONE, cmd_switch_focus},
    {CMD_GO_TO_BOX, G_NONE, cmd_go_to_box},
    {CMD_VIEW_LIST, G_NONE, cmd_view},
    {CMD_VIEW_TEXT, G_NONE, cmd_view},
    {CMD_VIEW_VALUE, G_NONE, cmd_view},
    {CMD_VIEW_SCRIPT, G_NONE, cmd_view},
    {CMD_VIEW_CONS, G_NONE, cmd_view},
    {CMD_VIEW_PLOT, G_NONE, cmd_view},
    {CMD_NEXT_TAB, G_NONE, cmd_cycle_tab},
    {CMD_PREVIOUS_TAB, G_NONE, cmd_cycle_tab},
    {CMD_NEW_CELL, G_LOCKED, cmd_new_cell},
    {CMD_FORWARD, G_NONE, cmd_forward},
    {CMD_CLONE, G_LOCKED, cmd_clone},
    {CMD_QUICK_FIX, G_LOCKED, cmd_quick_fix},
    {CMD_DELETE, G_LOCKED, cmd_delete},
    {CMD_PREVIOUS_CELL, G_NONE, cmd_navigate},
    {CMD_NEXT_CELL, G_NONE, cmd_navigate},
    {CMD_BACK, G_NONE, cmd_navigate},
    {CMD_REPORT, G_INPUT, cmd_report},
    {CMD_RUN, G_RUN, cmd_run},
    {CMD_RUN_TO_BRK, G_RUN, cmd_run},
    {CMD_STOP, G_NONE, cmd_stop},
    {CMD_SETTINGS, G_LOCKED, cmd_settings},
    {CMD_PREFERENCES, G_NONE, cmd_preferences},
    {CMD_QUIT, G_LOCKED, cmd_quit},
    {CMD_HELP_CONTENTS, G_NONE, cmd_help_window},
    {CMD_SAVE_PLOT_AS, G_NONE, cmd_save_plot_as},
    {CMD_RENAME_CELL, G_LOCKED, cmd_rename},
    {CMD_UNDO_RENAME, G_LOCKED, cmd_rename},
    {CMD_COMMAND_PALETTE, G_NONE, cmd_palette},
    {CMD_QUICK_SWITCHER, G_NONE, cmd_palette},
    {CMD_COMPLETE, G_NONE, cmd_complete},
    {CMD_STEP_OVER, G_PAUSED, cmd_step},
    {CMD_STEP_INTO, G_PAUSED, cmd_step},
    {CMD_STEP_OUT, G_PAUSED, cmd_step},
    {CMD_RUN_TO_CURSOR, G_PAUSED, cmd_step},
    {CMD_TOGGLE_BREAKPOINT, G_NONE, cmd_toggle_breakpoint},
};

// What may act while output is being written (a run, a report or a help
// topic is inside the output pump): stopping, zoom, the plot, the about box
// and the help window, moving the focus or the tab (as a click on a tab
// may), the panes' own notifications and read-only editing, and setting a
// breakpoint for the run to meet.
bool allowed_during_output(int id, int code) {
    switch (id) {
    case CMD_STOP:
    case CMD_ERASE_PLOT:
    case CMD_ZOOM:
    case CMD_ZOOM_IN:
    case CMD_ZOOM_OUT:
    case CMD_ZOOM_RESET:
    case CMD_ABOUT:
    case CMD_HELP_CONTENTS:
    case CMD_SWITCH_FOCUS:
    case CMD_GO_TO_BOX:
    case CMD_VIEW_LIST:
    case CMD_VIEW_TEXT:
    case CMD_VIEW_VALUE:
    case CMD_VIEW_SCRIPT:
    case CMD_VIEW_CONS:
    case CMD_VIEW_PLOT:
    case CMD_NEXT_TAB:
    case CMD_PREVIOUS_TAB:
    case CMD_COPY:
    case CMD_SELECT_ALL:
    case CMD_TEXT_PANE:
    case CMD_VALUE_PANE:
    case CMD_SCRIPT_PANE:
    case CMD_CONSOLE_PANE:
    case CMD_PLOT_AREA:
    case CMD_TOGGLE_BREAKPOINT: return true; // the web stays as it is
    case CMD_NAME_BOX: return code == NOTE_DROP_DOWN;
    default: return false;
    }
}

// Counts the commands in progress; when the outermost one ends, a close
// that had to wait for it is made again.
struct Depth {
    Depth() { ++g_depth; }
    ~Depth() {
        if (--g_depth == 0) {
            console_pane_settle();
            console_pane_streaming(false);
        }
        if (g_depth == 0 && g_close_pending) {
            g_close_pending = false;
            if (QMainWindow* w = shell_windows().main)
                QTimer::singleShot(0, w, [w] { w->close(); });
        }
    }
};

// Runs f as a command: under the engine guard, with the console brought up
// to date and the status line's expiry checked afterwards.
template <class F> void run_guarded(F&& f) {
    Depth depth;
    engine_guard(std::forward<F>(f));
    console_pane_settle();
    status_tick();
    window_modified_sync();
}

const char* output_refusal(int id, int code) {
    if (!output_pump_active() || allowed_during_output(id, code)) return nullptr;
    return id == CMD_RUN || id == CMD_RUN_TO_BRK ? RUN_ALREADY_TEXT : LOCKED_OUT_TEXT;
}

// Refusal of anything but the harmless while output is written.
bool refused_during_output(int id, int code) {
    const char* refusal = output_refusal(id, code);
    if (refusal) status_flash(refusal);
    return refusal != nullptr;
}

const Command* command_of(int id) {
    for (const Command& c : COMMANDS)
        if (c.id == id) return &c;
    return nullptr;
}

// The refusal of a command's guard; the run guard's are the run engine's
// own, which it flashes itself.
const char* guard_refusal(Guard guard) {
    switch (guard) {
    case G_LOCKED: return is_locked_out() ? LOCKED_OUT_TEXT : nullptr;
    case G_INPUT: return input_wait() ? "Waiting for input" : nullptr;
    case G_PAUSED: return run_paused() ? nullptr : NOT_PAUSED_TEXT;
    default: return nullptr;
    }
}

} // namespace

bool is_locked_out() { return commands_locked_out(); }

std::vector<int> command_ids() {
    std::vector<int> ids;
    for (const Command& c : COMMANDS)
        ids.push_back(c.id);
    return ids;
}

const char* command_refusal(int id) {
    const Command* cmd = command_of(id);
    if (!cmd) return nullptr;
    if (const char* refusal = output_refusal(id, NOTE_NONE)) return refusal;
    if (cmd->guard == G_RUN) return run_refusal();
    return guard_refusal(cmd->guard);
}

int command_depth() { return g_depth; }

void dispatch_command(int id, int code, const std::string& arg) {
    const Command* cmd = command_of(id);
    if (!cmd) return;
    if (refused_during_output(id, code)) return;
    if (const char* refusal = guard_refusal(cmd->guard)) {
        status_flash(refusal);
        return;
    }
    if (cmd->guard == G_EDITOR && !slot_editor(focus_slot())) return;
    run_guarded([&] { cmd->handler(id, code, arg); });
    // A save, or changes discarded by New or Open, makes the recovery copy
    // stale at once: it goes now rather than at its next check.
    bool file_command = id == CMD_SAVE || id == CMD_SAVE_AS || id == CMD_NEW_WEB ||
                        id == CMD_NEW_WEB_ALIAS || id == CMD_OPEN;
    if (file_command && !web_modified()) recovery_update();
}

void go_to_name() {
    if (refused_during_output(0, NOTE_NONE)) return;
    if (is_locked_out()) {
        status_flash(LOCKED_OUT_TEXT);
        return;
    }
    run_guarded([] {
        if (!go_to_name_from_box(box_text())) box_show_current();
    });
}

void link_clicked(int slot, long position) {
    QsciScintilla* e = slot_editor(slot);
    if (e) link_followed(editor_word_at(e, position));
}

void link_followed(const std::string& name) {
    if (refused_during_output(0, NOTE_NONE)) return;
    run_guarded([&] {
        if (name.empty()) return;
        CellHandle c = cell_find(name.c_str());
        if (!c) return;
        if (focus_slot() == SLOT_TEXT || focus_slot() == SLOT_SCRIPT)
            pane_collapse_request(focus_slot());
        visit_new(c);
    });
}

void link_pressed(int slot, long position) {
    // The second click of a double click on a link lands in the text of the
    // cell the first one visited.
    if (within_link_double_click(slot)) return;
    g_link_clock.start();
    g_link_slot = slot;
    // Navigation replaces the pane's text: not from inside the editor's own
    // mouse handling.
    if (QMainWindow* w = shell_windows().main)
        QTimer::singleShot(0, w, [slot, position] { link_clicked(slot, position); });
}

void cell_list_picked(unsigned cell) {
    if (refused_during_output(0, NOTE_NONE)) {
        list_select_current();
        return;
    }
    run_guarded([&] {
        if (!visit_listed(CellHandle(cell))) return;
        set_focus_slot(SLOT_LIST);
        focus_current();
    });
}

void pane_double_clicked(int slot) {
    if (within_link_double_click(slot)) {
        // A double click on a link only visits it: the word the second
        // click selected in the visited cell is let go.
        if (slot == SLOT_TEXT || slot == SLOT_SCRIPT) pane_collapse_request(slot);
        return;
    }
    if (!settings_create_on_double_click()) return;
    if (slot == SLOT_TEXT || slot == SLOT_SCRIPT) pane_collapse_request(slot);
    if (QMainWindow* w = shell_windows().main)
        QTimer::singleShot(0, w, [] { dispatch_command(CMD_FORWARD); });
}

void startup_message(const std::string& file_name) {
    run_guarded([&] {
        panes_setup();
        if (open_startup_web(file_name))
            recent_webs_note();
        else
            reopen_in_a_larger_store();
        load_panes();
        link_refresh();
        status_ready();
        show_tab(VIEW_LIST);
    });
}

bool close_requested() {
    if (shell_exiting()) return true;
    if (g_depth > 0 || run_active()) {
        // A command (a run, a report, a help topic, a paused script) is in
        // progress: end it, and close again once it has returned.
        stop_command();
        g_close_pending = true;
        return false;
    }
    WebOutcome rc;
    {
        Depth depth;
        engine_guard([] { commit_all_panes(); });
        rc = web_save_prompt();
    }
    if (!rc.done()) return false;
    shell_mark_exiting();
    return true;
}

void quit_procedure() {
    engine_guard([] { commit_all_panes(); });
    if (!web_save_prompt().done()) return; // Cancel, or the save failed
    shell_exit(0);
}

} // namespace tarvex
