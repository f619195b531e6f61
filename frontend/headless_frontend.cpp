// Headless frontend: recording status and message boxes, scripted answers.
#include "frontend/headless_frontend.h"

#include "core/name_tree.h"

#include <cstdlib>

namespace tarvex {

void HeadlessFrontend::status_show(const char* text) { persistent_status = text; }

void HeadlessFrontend::status_flash(const char* text) {
    if (record) flashes.emplace_back(text);
    if (on_message) on_message(text);
}

void HeadlessFrontend::message(const char* kind, const char* text, const char* caption) {
    if (record) boxes.push_back({kind, text, caption});
    if (on_message) on_message(text);
}

void HeadlessFrontend::warn_box(const char* text, const char* caption) {
    message("warn", text, caption);
}

bool HeadlessFrontend::next_answer() {
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
}

bool HeadlessFrontend::ask_ok_cancel(const char* text, const char* caption) {
    message("okcancel", text, caption);
    return next_answer();
}

// The detail is the desktop's: the runner's messages stay one line each.
bool HeadlessFrontend::ask_yes_no(const char* text, const char* caption, const std::string&) {
    message("yesno", text, caption);
    return next_answer();
}

// Answered from the flag alone: the runner has no one to ask, and its
// refusal message names the path.
bool HeadlessFrontend::allow_path(const std::string& path, bool output) {
    (void)output;
    if (record) paths_asked.push_back(path);
    return allow_paths;
}

void HeadlessFrontend::ui_pump_once() {
    if (on_pump) on_pump();
}

void HeadlessFrontend::exit_procedure() {
    ++exit_requests;
    if (on_exit_procedure) on_exit_procedure();
}

void HeadlessFrontend::fatal_exit(int code) {
    if (on_fatal_exit) on_fatal_exit(code);
    std::exit(code);
}

void HeadlessFrontend::console_append(std::string_view bytes, int style) {
    console_bytes += static_cast<int64_t>(bytes.size());
    if (record) {
        console.append(bytes);
        console_styles.append(bytes.size(), static_cast<char>(style));
    }
    if (on_console) on_console(bytes);
}

void HeadlessFrontend::console_clear() {
    console.clear();
    console_styles.clear();
    console_bytes = 0;
    ++console_clears;
}

void HeadlessFrontend::console_set_style(int64_t start, int64_t length, int style) {
    int64_t size = static_cast<int64_t>(console_styles.size());
    if (start < 0) start = 0;
    int64_t end = start + length < size ? start + length : size;
    for (int64_t i = start; i < end; ++i)
        console_styles[static_cast<size_t>(i)] = static_cast<char>(style);
}

void HeadlessFrontend::pump_pending() {
    ++pending_pumps;
    if (on_pump_pending) on_pump_pending();
}

void HeadlessFrontend::show_view(int view) {
    view_before = view_now;
    view_now = view;
    if (record) views_shown.push_back(view);
}

std::string HeadlessFrontend::ask_open_file_name(const std::string& current) {
    open_prefill = current;
    if (open_names.empty()) return {};
    std::string name = open_names.front();
    open_names.pop_front();
    return name;
}

std::string HeadlessFrontend::ask_save_file_name(const std::string& suggested) {
    save_prefill = suggested;
    if (save_names.empty()) return {};
    std::string name = save_names.front();
    save_names.pop_front();
    return name;
}

SaveAnswer HeadlessFrontend::ask_save_changes(const std::string& display_name) {
    message("yesnocancel", save_changes_text(display_name).c_str(), "Tarvex");
    if (save_answers.empty()) return SAVE_CANCEL;
    SaveAnswer a = save_answers.front();
    save_answers.pop_front();
    return a;
}

bool HeadlessFrontend::cell_name_dialog(std::string& typed) {
    if (cell_names.empty()) return false;
    typed = cell_names.front().substr(0, CELL_NAME_TYPED_MAX);
    cell_names.pop_front();
    return true;
}

} // namespace tarvex
