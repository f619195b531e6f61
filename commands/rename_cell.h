// Renaming a cell: what a new name would change (the texts that link to
// the cell, the script tokens that name it, the plot's cells and the name of
// a cell input stream), the rename itself, and its undo in one step.
#pragma once
#include "web/cell.h"

#include <string>
#include <vector>

namespace tarvex {

// A field a rename rewrites: a cell's text (CF_TEXT) or script (CF_SCRIPT),
// and how many names in it change.
struct RenameField {
    CellHandle cell;
    CellField field;
    int names;
};

struct RenamePlan {
    CellHandle cell = 0;
    std::string old_name, new_name; // new_name normalised
    const char* refusal = nullptr;  // the message when the name is refused
    std::vector<RenameField> fields;
    // Quoted strings in scripts that hold the old name: data, not links,
    // so they stay as they are.
    int strings = 0;
    bool plot_x = false, plot_y = false, input_name = false;
};

// What renaming c to typed would do (typed is normalised as every typed
// name is). Nothing changes.
RenamePlan rename_plan(CellHandle c, const std::string& typed);
// The plan as lines for the user, one per changed field or setting, then
// the strings left alone.
std::vector<std::string> rename_preview(const RenamePlan& plan);
// Renames the plan's cell and rewrites every field and setting that names
// it, as they are now; the web is marked modified and the undo record
// replaced. False when refused or when the name is the same.
bool rename_apply(const RenamePlan& plan);
// Whether the last rename can be taken back: its cell still has the new
// name and no other cell has taken the old one.
bool rename_can_undo();
// Puts the name and every field and setting the last rename changed back,
// leaving alone those edited since. The web is marked modified unless it
// was not before the rename and nothing was edited or saved since. False
// when there is nothing to undo.
bool rename_undo();
// Drops the undo record (a web started or opened: its cells are gone).
void rename_forget();

} // namespace tarvex
