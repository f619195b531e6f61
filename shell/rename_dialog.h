// Rename Cell and Undo Rename in the window: the new name asked for, the
// preview of what changes, and the panes, list and docks brought up to date.
#pragma once

namespace tarvex {

// Renames the current cell once the user has named it and agreed to the
// preview.
void rename_cell_command();
// Takes the last rename back, or says there is none to take back.
void undo_rename_command();

} // namespace tarvex
