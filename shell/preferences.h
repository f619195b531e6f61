// The user's preferences, kept in the user's settings and never in a web:
// the node store's size (read at start-up) and whether code is shown in a
// fixed-width font, both chosen in Edit > Preferences; and the question
// asked when a web opened does not fit the store it has.
#pragma once

#include "engine/web_fit.h"

#include <string>

namespace tarvex {

// The preferred size, NODE_COUNT_DEFAULT until one is chosen (a value out
// of range in the user's settings counts as none).
int store_preferred_nodes();

// Whether the script pane and the console use the desktop's fixed-width
// font (true until the user turns it off) rather than the web's font,
// which the text and value panes always use.
bool code_font_fixed();

// Edit > Preferences: the store's size for the next start and the code
// font (applied at once), kept in the user's settings only (the web is
// neither marked modified nor written).
void preferences_dialog_run();

// Asks whether to reopen name with a store of fit.needed nodes ("Reopen" is
// the default answer); a web no store holds is only said. True for Reopen.
bool store_reopen_asked(const std::string& name, const WebFit& fit);

} // namespace tarvex
