// The pane state a cell keeps for its text and script panes: the first
// visible line and the selection, so that coming back to a cell shows it as
// it was left. The shell reads and writes it; the engine creates it, copies
// it with a clone and marks it in the reclaim walk.
#pragma once

#include "web/cell.h"

#include <cstdint>

namespace tarvex {

// What a pane state records.
struct PaneState {
    uint32_t first_line;
    uint32_t sel_start;
    uint32_t sel_end;
};

// The pane state of field (CF_TEXT_PANE or CF_SCRIPT_PANE) of cell c,
// created with its start values when the cell has none yet: the first line
// shown and an empty selection at the start.
PaneState pane_state_get(CellHandle c, CellField field);
void pane_state_put(CellHandle c, CellField field, const PaneState& s);
// Sets only the selection (a breakpoint or an error points into a script).
void pane_state_set_selection(CellHandle c, CellField field, uint32_t start, uint32_t end);

} // namespace tarvex
