// What the core itself shows or asks of the window system: an error's
// status-line text, the low-memory question and the Quit it may lead to, and
// the end of the program when start-up runs out of nodes. The core is the
// bottom layer and names no frontend, so the frontend layer installs these
// before main runs (frontend/frontend.cpp). Until then a text shows nowhere,
// the question is answered Cancel and the end is a plain exit.
#pragma once

namespace tarvex {

struct CoreNotices {
    void (*status_flash)(const char* text);
    bool (*ask_ok_cancel)(const char* text, const char* caption);
    void (*exit_procedure)();
    void (*fatal_exit)(int code); // does not return
};

void core_set_notices(const CoreNotices& notices);
const CoreNotices& core_notices();

} // namespace tarvex
