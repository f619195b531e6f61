// Reports: formatted reports driven by the report format, the in-pointer
// and out-pointer reports of the links between cells, and the trail; the
// report selection. The Report command is in commands/report_command.h.
#pragma once

#include "web/cell.h"

#include <string_view>
#include <vector>

namespace tarvex {

constexpr int REPORT_SELECTION_MAX = 64;
constexpr int REPORT_WORD_MAX = 48;

void report_selection_clear();
// Adds a cell unless the selection holds limit cells already.
void report_selection_add(CellHandle c, int limit = REPORT_SELECTION_MAX);
const std::vector<CellHandle>& report_selection();
// Fills the selection with the live cells the words of text name.
void selection_from_text(std::string_view text);

// Each returns 0 or the first failure of the output stream.
int report_all();
int report_selected();
int report_current();
int report_trail();

// The report statement: all cells or the current one for an empty list,
// else the selection; nothing for the trail type.
int report_statement_run(bool list_given);

} // namespace tarvex
