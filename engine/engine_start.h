// The engine's part of start-up, shared by the application and the runner:
// scratch buffers, node store, settings, builtins, character classes.
#pragma once

namespace tarvex {

// Runs the start-up steps in order and marks start-up complete; running out
// of nodes before that ends the program with "OUT OF MEMORY".
void engine_start();

// Starts the engine again with a store of the given size (the engine's
// size otherwise): the web and everything the old store held are gone, as
// at start-up, and the store's size stays chosen for later starts.
void engine_restart(int nodes);

// The nodes in use once start-up was done: what every web is read beside.
int engine_start_in_use();

// Registers every persistent owner's marker with the reclaim walk: the cell
// tree, the builtin tree, the retired token lists; and ties the compiled
// code kept for a token list to the list's release. Part of engine_start;
// tests that build the engine step by step call it themselves.
void engine_register_roots();

} // namespace tarvex
