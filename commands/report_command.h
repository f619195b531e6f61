// The engine side of the Report command, shared by the shell and the runner.
#pragma once

namespace tarvex {

// The Report command: selection from the focused pane's selected text,
// the report of the current type, then the output closed (unless a paused
// run has it open) and the current cell shown again.
int report_command();

} // namespace tarvex
