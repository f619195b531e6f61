// The Qt frontend: forwards the engine's calls to the panes, the dialogs
// and the commands, and runs the nested event pumps. The pumps wait for
// events instead of polling, so a paused or waiting script costs no CPU.
#include "shell/qt_frontend.h"

#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "shell/plot_view.h"
#include "shell/search.h"
#include "shell/workbench_docks.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdlib>
#include <map>
#include <string>

namespace tarvex {

namespace {
int g_output_pump_depth = 0;
// The user's answers about paths outside a web's folder, for the session:
// each path is asked about once (a run would otherwise ask at every write).
std::map<std::pair<std::string, bool>, bool> g_path_answers;
} // namespace

bool output_pump_active() { return g_output_pump_depth > 0; }

void QtFrontend::status_show(const char* text) { status_line_show(text); }
void QtFrontend::status_flash(const char* text) { status_line_flash(text); }
void QtFrontend::warn_box(const char* text, const char* caption) { dialog_warn(text, caption); }
bool QtFrontend::ask_ok_cancel(const char* text, const char* caption) {
    return dialog_ok_cancel(text, caption);
}
bool QtFrontend::ask_yes_no(const char* text, const char* caption, const std::string& detail) {
    return dialog_yes_no(text, caption, detail);
}

void QtFrontend::ui_pump_once() {
    console_pane_settle();
    console_pane_streaming(false);
    // One step of the nested loop: handle what is pending, or sleep until
    // the next event; the timer bounds the sleep so the caller re-checks
    // its flag at least every PUMP_WAIT_MS.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(PUMP_WAIT_MS);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtFrontend::exit_procedure() { quit_procedure(); }

void QtFrontend::fatal_exit(int code) { std::exit(code); }

bool QtFrontend::cell_name_dialog(std::string& typed) { return dialog_cell_name(typed); }

bool QtFrontend::allow_path(const std::string& path, bool output) {
    auto [it, added] = g_path_answers.try_emplace({path, output}, false);
    if (added) it->second = dialog_allow_path(path, output);
    return it->second;
}
void QtFrontend::commit_all_panes() { panes_commit_all(); }
// Loaded panes mean a new current cell, a pause or the end of a run; the
// list's highlight and the docks follow, as they follow cells added or
// removed.
void QtFrontend::load_panes() {
    panes_load();
    list_follow_current();
    workbench_docks_changed();
}
void QtFrontend::cell_list_refill() {
    list_refill();
    workbench_docks_changed();
}
void QtFrontend::cell_list_add(NodeHandle cell) {
    list_add(cell);
    workbench_docks_changed();
}
void QtFrontend::cell_list_remove(NodeHandle cell) {
    list_remove(cell);
    workbench_docks_changed();
}
void QtFrontend::cell_list_clear() { list_clear(); }
void QtFrontend::cell_list_select_current() { list_select_current(); }
bool QtFrontend::search_in_progress() { return search_active(); }

std::string QtFrontend::selected_text() {
    QsciScintilla* e = slot_editor(focus_slot());
    return e ? editor_selected_bytes(e) : std::string();
}

void QtFrontend::console_append(std::string_view bytes, int style) {
    console_pane_append(bytes, style);
}
void QtFrontend::console_clear() { console_pane_clear(); }
int64_t QtFrontend::console_length() { return console_pane_length(); }
void QtFrontend::console_caret_to_end() { console_pane_caret_to_end(); }
void QtFrontend::console_set_style(int64_t start, int64_t length, int style) {
    console_pane_set_style(start, length, style);
}

void QtFrontend::pump_pending() {
    ++g_output_pump_depth;
    struct Leave {
        ~Leave() { --g_output_pump_depth; }
    } leave;
    console_pane_settle();
    workbench_docks_pumped();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtFrontend::show_view(int view) { shell_show_view(view); }
int QtFrontend::current_view() { return shell_current_view(); }
int QtFrontend::previous_view() { return shell_previous_view(); }

std::string QtFrontend::ask_open_file_name(const std::string& current) {
    return dialog_open_file_name(current);
}
std::string QtFrontend::ask_save_file_name(const std::string& suggested) {
    return dialog_save_file_name(suggested);
}
SaveAnswer QtFrontend::ask_save_changes(const std::string& display_name) {
    return dialog_save_changes(display_name);
}
void QtFrontend::set_window_title(const std::string& display_name) {
    window_title_set(display_name);
}
// A new or opened web comes with its own font, zoom and link colour.
void QtFrontend::relayout() { panes_setup(); }
void QtFrontend::plot_changed() { plot_view_repaint(); }

} // namespace tarvex
