// The engine side of the cell commands: those that take a cell name from
// what the user typed or selected (New Cell, Forward, go-to-name), Delete,
// Open, the cell-name box's list, Stop and Print. The shell takes the text
// out of its widgets (at most CELL_NAME_TYPED_MAX characters) and shows what
// these leave to it; everything they decide is here.
#pragma once

#include "web/cell.h"
#include "webfile/web_file.h"

#include <string>
#include <vector>

namespace tarvex {

constexpr const char* LOCKED_OUT_TEXT = "Operation locked out";

// A paused script or one waiting for input locks out the commands that
// would change the web under it.
bool commands_locked_out();

// New Cell through the cell-name dialog: an existing name goes there.
void new_cell_asking();
// New Cell from the cell-name box's text: a free valid name is created,
// anything else asks.
void new_cell_from_box(const std::string& text);
// New Cell from a pane's selected text ("" when nothing is selected: asks).
void new_cell_from_selection(const std::string& selected);

// Forward from the cell-name box's text: the current cell's name goes
// forward in the visit history, another goes to (or creates) that cell.
// False when the text is no valid name (the box should show the current
// cell's name again).
bool forward_from_box(const std::string& text);
// Forward from a text, script or console pane's selected text: no usable
// selection goes forward in the visit history.
void forward_from_selection(const std::string& selected);

// Enter in the cell-name box. False when the text is no valid name.
bool go_to_name_from_box(const std::string& text);

// Delete: the current cell, once the user agreed ("Can't Delete Home" for
// home). True when it was deleted: its handle is stale from then on.
bool delete_current_cell();

// Open (nullptr asks). True when the old web is gone: the read finished, or
// it began and failed (then the visit history starts again at home, as a
// finished read has done). False leaves the web as it was.
bool open_web_command(const char* name, WebOutcome& opened);

// The web the program starts with: file_name's, or a new one when it
// cannot be opened or none is named. True when file_name was opened.
bool open_startup_web(const std::string& file_name);

// The cell-name box's list, its first entry the one the box shows. While a
// script is paused: the call stack from the top, then the root cell, a
// name repeated next to itself listed once. Otherwise: the current cell,
// the back trail, then home unless the trail ends there. Empty when there
// is no such cell.
std::vector<std::string> name_box_list();
// An entry picked from that list: while paused, that cell becomes current
// without a visit; otherwise back through the trail to it.
void name_box_picked(const std::string& name);

// A pick in the cell list: visits it when it is a live cell.
bool visit_listed(CellHandle c);

// Stop: ends an input wait (as Escape does), else asks the run to stop.
void stop_command();

// Prints field view (VIEW_TEXT, VIEW_VALUE or VIEW_SCRIPT) of cell c: the
// output goes to the printer for this one field, whatever the output
// setting says, which is put back afterwards. 0 or output_open's code.
int print_cell_field(CellHandle c, int view);

} // namespace tarvex
