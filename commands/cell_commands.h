// The engine side of the commands that take a cell name from what the user
// typed or selected (New Cell, Forward, go-to-name) and of Print. The shell
// takes the text out of its widgets (at most CELL_NAME_TYPED_MAX characters)
// and shows what these leave to it; everything they decide is here.
#pragma once

#include "web/cell.h"

#include <string>

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

// Prints field view (VIEW_TEXT, VIEW_VALUE or VIEW_SCRIPT) of cell c: the
// output goes to the printer for this one field, whatever the output
// setting says, which is put back afterwards. 0 or output_open's code.
int print_cell_field(CellHandle c, int view);

} // namespace tarvex
