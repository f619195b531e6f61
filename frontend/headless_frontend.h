// A frontend without a window: it records what the engine shows and answers
// dialogs from a queue a test or the runner fills (default: Cancel / No).
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
    bool ask_yes_no(const char* text, const char* caption) override;
    void ui_pump_once() override;
    void exit_procedure() override;
    [[noreturn]] void fatal_exit(int code) override;
    bool cell_name_dialog(std::string& typed) override;
    void commit_all_panes() override { ++commits; }
    void load_panes() override { ++loads; }
    void cell_list_refill() override { ++list_refills; }
    void cell_list_add(NodeHandle) override { ++list_adds; }
    void cell_list_remove(NodeHandle) override { ++list_removes; }

    // What the engine showed.
    std::string persistent_status;
    std::vector<std::string> flashes;
    std::vector<Box> boxes;
    int exit_requests = 0;
    int commits = 0, loads = 0, list_refills = 0, list_adds = 0, list_removes = 0;

    // Texts typed into the cell-name dialog, taken in order; an empty queue
    // cancels.
    std::deque<std::string> cell_names;

    // Answers for the questions, taken in order; an empty queue answers false.
    std::deque<bool> answers;

    // Called by ui_pump_once, so tests can act from inside a nested loop.
    std::function<void()> on_pump;
    // Called for every flash and message-box text (the runner prints them).
    std::function<void(const std::string&)> on_message;
    // Called by exit_procedure and fatal_exit; fatal_exit ends the process
    // with the code when the callback returns.
    std::function<void()> on_exit_procedure;
    std::function<void(int)> on_fatal_exit;

private:
    bool next_answer();
};

} // namespace tarvex
