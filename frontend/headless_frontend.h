// A frontend without a window: it records what the engine shows and answers
// dialogs from a queue a test or the runner fills (default: Cancel / No).
// The runner turns the recording off: it writes what it is told as it comes,
// and a long run must not keep every byte and message it produced.
#pragma once

#include "frontend/frontend.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tarvex {

class HeadlessFrontend : public Frontend {
  public:
    struct Box {
        std::string kind; // "warn", "okcancel", "yesno"
        std::string text;
        std::string caption;
    };

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
    void commit_all_panes() override { ++commits; }
    void load_panes() override { ++loads; }
    void cell_list_refill() override { ++list_refills; }
    void cell_list_add(NodeHandle) override { ++list_adds; }
    void cell_list_remove(NodeHandle) override { ++list_removes; }
    void console_append(std::string_view bytes, int style) override;
    void console_clear() override;
    int64_t console_length() override {
        return record ? static_cast<int64_t>(console.size()) : console_bytes;
    }
    void console_caret_to_end() override { ++caret_moves; }
    void console_set_style(int64_t start, int64_t length, int style) override;
    void pump_pending() override;
    void show_view(int view) override;
    int current_view() override { return view_now; }
    int previous_view() override { return view_before; }
    std::string ask_open_file_name(const std::string& current) override;
    std::string ask_save_file_name(const std::string& suggested) override;
    SaveAnswer ask_save_changes(const std::string& display_name) override;
    void set_window_title(const std::string& display_name) override {
        if (record) titles.push_back(display_name);
    }
    void relayout() override { ++relayouts; }

    // Off: the flashes, message boxes, console bytes and styles, views shown,
    // titles and paths asked about are not kept (the callbacks still see
    // them, and console_length still counts).
    bool record = true;

    // The answer to every path question (tarvex-run --allow-paths), and the
    // paths asked about.
    bool allow_paths = false;
    std::vector<std::string> paths_asked;

    // What the engine showed.
    std::string persistent_status;
    std::vector<std::string> flashes;
    std::vector<Box> boxes;
    int exit_requests = 0;
    int commits = 0, loads = 0, list_refills = 0, list_adds = 0, list_removes = 0;

    // The console pane: its bytes, one style byte per byte, and how often it
    // was cleared and its caret moved to the end.
    std::string console;
    std::string console_styles;
    int64_t console_bytes = 0; // since the last clear, when not recording
    int console_clears = 0, caret_moves = 0;
    // Views: the one shown, the one before it, and every view shown, in order.
    int view_now = VIEW_LIST, view_before = VIEW_LIST;
    std::vector<int> views_shown;
    int pending_pumps = 0;

    // Texts typed into the cell-name dialog, taken in order; an empty queue
    // cancels.
    std::deque<std::string> cell_names;

    // Answers for the questions, taken in order; an empty queue answers false.
    std::deque<bool> answers;

    // Web files: names the open and save dialogs return, in order (an empty
    // queue cancels), the save question's answers (empty: Cancel), what the
    // dialogs were pre-filled with, the titles set, and the layouts asked for.
    std::deque<std::string> open_names;
    std::deque<std::string> save_names;
    std::deque<SaveAnswer> save_answers;
    std::string open_prefill, save_prefill;
    std::vector<std::string> titles;
    int relayouts = 0;

    // Called by ui_pump_once, so tests can act from inside a nested loop.
    std::function<void()> on_pump;
    // Called by pump_pending (output in progress).
    std::function<void()> on_pump_pending;
    // Called with the bytes of every console append (a clear is not told).
    std::function<void(std::string_view)> on_console;
    // Called for every flash and message-box text (the runner prints them).
    std::function<void(const std::string&)> on_message;
    // Called by exit_procedure and fatal_exit; fatal_exit ends the process
    // with the code when the callback returns.
    std::function<void()> on_exit_procedure;
    std::function<void(int)> on_fatal_exit;

  private:
    bool next_answer();
    void message(const char* kind, const char* text, const char* caption);
};

} // namespace tarvex
