// Two finders over the main window, each a field and a list narrowed as
// one types: the command palette (every command of the command table by
// its menu name, with its keys, the ones refused now greyed with the
// reason) and the quick switcher (cells by name and by words of their
// texts). Enter runs the command or visits the cell; Escape closes.
#pragma once

namespace tarvex {

void command_palette_show();
void quick_switcher_show();

} // namespace tarvex
