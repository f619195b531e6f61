// Breakpoints on script lines as the user sets them: markers in the script
// pane's symbol margin (which move with their lines as the script is
// edited), the Breakpoints dock that lists them, and their keeping in the
// user's settings for each web file. The engine gets a copy before a run
// starts or resumes.
#pragma once

#include "script/debugger.h"

#include <string>
#include <vector>

class QDockWidget;
class QMainWindow;

namespace tarvex {

// Refusal of a stepping command when no run is paused.
inline constexpr const char* NOT_PAUSED_TEXT = "Not paused";

// Creates the Breakpoints dock ("breakpoints_dock"), hidden, and connects
// the script pane's margin.
void breakpoints_install(QMainWindow* window);
QDockWidget* breakpoints_dock();

// Sets or removes the breakpoint on line (1-based) of the script the pane
// shows.
void breakpoint_toggle(int line);
// The line of the script pane's caret (1-based).
int breakpoint_caret_line();

// Every breakpoint, with the lines the pane's markers have moved to.
std::vector<LineBreakpoint> breakpoints_list();
// Gives the engine the breakpoints as they stand now.
void breakpoints_hand_over();

// The script pane is about to show another document, or has shown one:
// lines are read back from the markers of the one left, and the markers of
// cell's breakpoints put into the one shown.
void breakpoints_pane_leaving();
void breakpoints_pane_shown(CellHandle cell);

// A web was started or opened (called by the web's reset hook too): its
// breakpoints are read from the user's settings (those on a missing cell or
// past the end of a script dropped); the panes' next load shows them.
void breakpoints_web_opened();
// The web's file or a cell's name changed: kept again under what they are
// now.
void breakpoints_store();
// A cell was deleted: its breakpoints go with it.
void breakpoints_cell_gone(CellHandle cell);

} // namespace tarvex
