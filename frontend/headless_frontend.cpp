// Headless frontend: recording status and message boxes, scripted answers.
#include "frontend/headless_frontend.h"

#include <cstdlib>

namespace tarvex {

void HeadlessFrontend::status_show(const char* text) { persistent_status = text; }

void HeadlessFrontend::status_flash(const char* text) {
    flashes.emplace_back(text);
    if (on_message) on_message(flashes.back());
}

void HeadlessFrontend::warn_box(const char* text, const char* caption) {
    boxes.push_back({"warn", text, caption});
    if (on_message) on_message(boxes.back().text);
}

bool HeadlessFrontend::next_answer() {
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
}

bool HeadlessFrontend::ask_ok_cancel(const char* text, const char* caption) {
    boxes.push_back({"okcancel", text, caption});
    if (on_message) on_message(boxes.back().text);
    return next_answer();
}

bool HeadlessFrontend::ask_yes_no(const char* text, const char* caption) {
    boxes.push_back({"yesno", text, caption});
    if (on_message) on_message(boxes.back().text);
    return next_answer();
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

bool HeadlessFrontend::cell_name_dialog(std::string& typed) {
    if (cell_names.empty()) return false;
    typed = cell_names.front().substr(0, 47);
    cell_names.pop_front();
    return true;
}

} // namespace tarvex
