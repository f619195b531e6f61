// Forwarding of the engine's window-system calls to the installed frontend.
#include "frontend/frontend.h"

#include "core/notices.h"
#include "frontend/headless_frontend.h"

#include <cstdlib>
#include <string>

namespace tarvex {

namespace {
HeadlessFrontend g_default_frontend;
Frontend* g_frontend = &g_default_frontend;

// The core sits below this layer: what it shows or asks reaches the
// installed frontend through these forwarders.
[[maybe_unused]] const bool g_core_notices_installed = [] {
    core_set_notices({status_flash, ask_ok_cancel, exit_procedure, fatal_exit});
    return true;
}();
} // namespace

std::string status_text_cut(const char* text) {
    std::string s = text ? text : "";
    if (s.size() > STATUS_TEXT_MAX) s.resize(STATUS_TEXT_MAX);
    return s;
}

void frontend_install(Frontend* f) { g_frontend = f ? f : &g_default_frontend; }
Frontend& frontend() { return *g_frontend; }

void status_show(const char* text) { g_frontend->status_show(status_text_cut(text).c_str()); }
void status_flash(const char* text) { g_frontend->status_flash(status_text_cut(text).c_str()); }
void status_ready() { status_show("Ready"); }
void warn_box(const char* text, const char* caption) { g_frontend->warn_box(text, caption); }
bool ask_ok_cancel(const char* text, const char* caption) {
    return g_frontend->ask_ok_cancel(text, caption);
}
bool ask_yes_no(const char* text, const char* caption, const std::string& detail) {
    return g_frontend->ask_yes_no(text, caption, detail);
}
void ui_pump_once() { g_frontend->ui_pump_once(); }
bool ask_allow_path(const std::string& path, bool output) {
    return g_frontend->allow_path(path, output);
}
std::string allow_path_text(const std::string& path, bool output) {
    return std::string("This web ") + (output ? "writes" : "reads") +
           " a file outside its folder:\n\n" + path + "\n\nAllow " +
           (output ? "writing (replacing) it" : "reading it") + "?";
}
void exit_procedure() { g_frontend->exit_procedure(); }
void fatal_exit(int code) {
    g_frontend->fatal_exit(code);
    std::exit(code); // not reached: frontends end the program themselves
}

void commit_all_panes() { g_frontend->commit_all_panes(); }
void load_panes() { g_frontend->load_panes(); }
void cell_list_refill() { g_frontend->cell_list_refill(); }
void cell_list_add(NodeHandle cell) { g_frontend->cell_list_add(cell); }
void cell_list_remove(NodeHandle cell) { g_frontend->cell_list_remove(cell); }
void cell_list_clear() { g_frontend->cell_list_clear(); }
void cell_list_select_current() { g_frontend->cell_list_select_current(); }

void console_append(std::string_view bytes, int style) {
    if (!bytes.empty()) g_frontend->console_append(bytes, style);
}
void console_clear() { g_frontend->console_clear(); }
int64_t console_length() { return g_frontend->console_length(); }
void console_caret_to_end() { g_frontend->console_caret_to_end(); }
void console_set_style(int64_t start, int64_t length, int style) {
    if (length > 0) g_frontend->console_set_style(start, length, style);
}
void pump_pending() { g_frontend->pump_pending(); }
void show_view(int view) { g_frontend->show_view(view); }
int current_view() { return g_frontend->current_view(); }
int previous_view() { return g_frontend->previous_view(); }

std::string ask_open_file_name(const std::string& current) {
    return g_frontend->ask_open_file_name(current);
}
std::string ask_save_file_name(const std::string& suggested) {
    return g_frontend->ask_save_file_name(suggested);
}
SaveAnswer ask_save_changes(const std::string& display_name) {
    return g_frontend->ask_save_changes(display_name);
}
std::string save_changes_text(const std::string& display_name) {
    return "Save current changes in " + (display_name.empty() ? "(untitled)" : display_name) + "?";
}
void set_window_title(const std::string& display_name) {
    g_frontend->set_window_title(display_name);
}
void relayout() { g_frontend->relayout(); }
void plot_changed() { g_frontend->plot_changed(); }

} // namespace tarvex
