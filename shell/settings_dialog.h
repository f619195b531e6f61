// The "Settings" dialog: seven tabbed pages over the web's settings.
#pragma once

namespace tarvex {

// Runs the dialog. Each page is filled from the settings whenever it
// becomes active; OK applies the pages that were shown, Cancel nothing.
// The web is not marked modified and no stream is reopened.
void settings_dialog_run();

} // namespace tarvex
