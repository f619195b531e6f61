// The workbench's inspection docks: the call stack of a paused run, every
// cell's value (editable while paused), and the cells that link to and from
// the current cell. They follow the engine through the frontend's hooks and
// reach it only through the commands a user could give.
#pragma once

#include <cstddef>

class QDockWidget;
class QMainWindow;

namespace tarvex {

// A running script's output pumps events this often at most; the Values
// and Call Stack docks refresh no more often than this during a run, so
// watching them costs the run next to nothing.
constexpr int DOCK_RUN_REFRESH_MS = 250;
// How often the idle window looks for a committed edit of the current cell
// (a text, script or value stored without a move to another cell).
constexpr int DOCK_IDLE_CHECK_MS = 500;
// A value row shows this many characters at most (the column elides what
// does not fit); its tooltip shows up to DOCK_VALUE_TIP_MAX.
constexpr int DOCK_VALUE_ROW_MAX = 200;
constexpr int DOCK_VALUE_TIP_MAX = 2000;
// A call stack row shows this many bytes of each argument.
constexpr size_t DOCK_FRAME_ARG_MAX = 40;

// Creates the Call Stack ("stack_dock"), Values ("values_dock") and Links
// ("links_dock") docks in window, hidden, and appends their toggles to its
// View menu.
void workbench_docks_install(QMainWindow* window);

// The panes were loaded (the current cell changed, a run paused or ended)
// or cells came or went: every dock is brought up to date once the event
// loop runs.
void workbench_docks_changed();
// A running script pumps events: the docks are refreshed when the last
// refresh is DOCK_RUN_REFRESH_MS old.
void workbench_docks_pumped();

QDockWidget* workbench_dock(const char* object_name);

} // namespace tarvex
