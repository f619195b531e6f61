// The end of the program: at once, or once the command that asked for it
// has returned; the GUI tests record the code instead.
#include "shell/main_window.h"

#include "script/run_engine.h"
#include "shell/commands.h"

#include <QApplication>

#include <cstdlib>
#include <functional>

namespace tarvex {

namespace {

bool g_exiting = false;
std::function<void(int)> g_exit_hook;

} // namespace

void shell_set_exit_hook(std::function<void(int)> hook) { g_exit_hook = std::move(hook); }
bool shell_exiting() { return g_exiting; }
void shell_mark_exiting() { g_exiting = true; }

void shell_exit(int code) {
    if (g_exit_hook) {
        g_exit_hook(code);
        return;
    }
    g_exiting = true;
    if (command_depth() <= 1 && !run_active()) {
        QApplication::exit(code);
        return;
    }
    std::exit(code);
}

} // namespace tarvex
