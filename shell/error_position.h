// Where a run's script error was met, shown to the user: the failing
// token selected in its cell's script, and its line and column added to the
// status line's message.
#pragma once

namespace tarvex {

// After a run: does nothing unless the run ended with a script error whose
// position is known. The current cell does not change.
void error_position_show();

} // namespace tarvex
