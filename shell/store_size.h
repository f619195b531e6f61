// The node store's size in the application: the user's preference, read at
// start-up and chosen in Edit > Preferences, and the question asked when a
// web opened does not fit the store it has.
#pragma once

#include "engine/web_fit.h"

#include <string>

namespace tarvex {

// The preferred size, NODE_COUNT_DEFAULT until one is chosen (a value out
// of range in the user's settings counts as none).
int store_preferred_nodes();

// Edit > Preferences: the store's size for the next start, kept in the
// user's settings only (the web is neither marked modified nor written).
void preferences_dialog_run();

// Asks whether to reopen name with a store of fit.needed nodes ("Reopen" is
// the default answer); a web no store holds is only said. True for Reopen.
bool store_reopen_asked(const std::string& name, const WebFit& fit);

} // namespace tarvex
