// The web's modified mark: set by every edit of a cell and of a setting the
// web file keeps, cleared when a web is started, read or saved. It sits
// below the cells and the settings, since both set it.
#pragma once

namespace tarvex {

bool web_modified();
void web_set_modified(bool on);
// Counts every setting and clearing of the mark: an undo that finds it
// unchanged since its command knows nothing was edited or saved between.
unsigned web_modified_changes();

} // namespace tarvex
