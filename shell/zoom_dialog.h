// The zoom dialog: nine zoom factors for the text and console panes, and
// the Zoom command that applies the chosen one.
#pragma once

namespace tarvex {

constexpr int ZOOM_ENTRIES = 9;

// The label and the editor's zoom value of entry i (0..8).
const char* zoom_entry_label(int entry);
int zoom_entry_value(int entry);
// The entry shown for a zoom setting; values outside -10..20 show "100%".
int zoom_entry_of(int zoom);

// "Choose Zoom Factor": OK stores the chosen entry's value in the web's zoom
// setting (no entry chosen stores 0). True when the dialog could be shown.
bool run_zoom_dialog();

// The Zoom command: the dialog, then the zoom setting goes to the text and
// console panes and the window is laid out again.
void zoom_command();

// The zoom keys: the next larger (steps 1) or smaller (-1) of the dialog's
// entries, or 100% (steps 0), stored in the zoom setting as the dialog
// stores it and applied to the panes.
void zoom_step(int steps);

} // namespace tarvex
