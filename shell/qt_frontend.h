// The engine's window-system calls answered by the Qt shell: status line,
// dialogs, panes, console, cell list, views, and the nested event pumps.
#pragma once

#include "frontend/frontend.h"

namespace tarvex {

class QtFrontend : public Frontend {
  public:
    void status_show(const char* text) override;
    void status_flash(const char* text) override;
    void warn_box(const char* text, const char* caption) override;
    bool ask_ok_cancel(const char* text, const char* caption) override;
    bool ask_yes_no(const char* text, const char* caption, const std::string& detail) override;
    void ui_pump_once() override;
    void exit_procedure() override;
    [[noreturn]] void fatal_exit(int code) override;
    bool cell_name_dialog(std::string& typed) override;
    bool allow_path(const std::string& path, bool output) override;
    void commit_all_panes() override;
    void load_panes() override;
    void cell_list_refill() override;
    void cell_list_add(NodeHandle cell) override;
    void cell_list_remove(NodeHandle cell) override;
    void cell_list_clear() override;
    void cell_list_select_current() override;
    bool search_in_progress() override;
    std::string selected_text() override;
    void console_append(std::string_view bytes, int style) override;
    void console_clear() override;
    int64_t console_length() override;
    void console_caret_to_end() override;
    void console_set_style(int64_t start, int64_t length, int style) override;
    void pump_pending() override;
    void show_view(int view) override;
    int current_view() override;
    int previous_view() override;
    std::string ask_open_file_name(const std::string& current) override;
    std::string ask_save_file_name(const std::string& suggested) override;
    SaveAnswer ask_save_changes(const std::string& display_name) override;
    void set_window_title(const std::string& display_name) override;
    void relayout() override;
    void plot_changed() override;
};

// True while the output pump handles events (output of a run, a report or
// a help topic is being written).
bool output_pump_active();

// The longest wait of one nested pump step, in milliseconds.
constexpr int PUMP_WAIT_MS = 100;

} // namespace tarvex
