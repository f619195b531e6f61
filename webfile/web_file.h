// Web files: the tagged text form of a web (settings, then cells), the
// tolerant reader and the writer, and the operations that start, open and
// save a web with its file name, display name and save question.
#pragma once

#include "io/buffered_writer.h"

#include <cstdio>
#include <string>

namespace tarvex {

// A file that is not a web file ("Bad Input File"): a cell name that is not
// valid. Outside the I/O error table, whose messages it has none of.
constexpr int WEB_ERR_BAD_FILE = -30;

// ---- reading and writing an open file ----------------------------------------
// Starts a fresh web (only an empty "home", default settings, home current)
// and reads f into it. 0; WEB_ERR_BAD_FILE ("Bad Input File": the web stays
// the fresh one, with the settings read before the bad name); IO_ERR_READ
// (-5, already shown: what came before the error is loaded); or
// ERR_OUT_OF_MEMORY (-1, "OUT OF MEMORY": the web is the fresh one again).
// The caller opens and closes f.
int web_read(std::FILE* f);

// Forgets the cells and settings: only an empty "home", current, with the
// default settings and the modified mark cleared. No guard, no question.
void web_start_fresh();

// Writes the web to f through a 2,048-byte buffer: 0, or IO_ERR_WRITE (-4)
// after a short write. Changes nothing in the web and allocates no nodes.
int web_write(std::FILE* f);
// The same through a writer sink, one call per block.
int web_write_to(WriterSink sink, void* target);

// ---- commands (each enters the engine through the guard) ----------------------
// Each asks the save question first when the web is modified: Yes saves and
// goes on only when the save succeeded, No goes on, Cancel stops.

// Starts an untitled web: 0 started, 1 cancelled, or the failed save's code.
int web_new();

// Opens name (nullptr or "" asks with the open dialog; double quotes in a
// given name are removed). 0 opened; 1 cancelled (question or dialog);
// IO_ERR_OPEN_WEB (-3) or IO_ERR_WRITE (-4) when the file cannot be opened
// or the save that the question asked for failed: the current web is
// unchanged in these cases. WEB_ERR_BAD_FILE, IO_ERR_READ and
// ERR_OUT_OF_MEMORY come from reading (see web_read): the old web is gone all
// the same (every reset is done), and the new one is untitled.
int web_open(const char* name);

// Saves to the web's file (Save As when it has none): 0 saved, 1 cancelled,
// or a negative code (shown). The previous file stays intact on failure.
int web_save();

// Saves under name (nullptr or "" asks with the save dialog): 0 saved ("Saved"),
// 1 cancelled, or a negative code ("Not Saved"; the web keeps its old name).
int web_save_as(const char* name);

// The save question alone, for Quit: 0 go on (not modified, saved, or No),
// 1 cancelled, or the failed save's code.
int web_save_prompt();

// The full name of the web's file ("" for an untitled web) and its display
// name: the file name without its folders and from its first dot on.
const std::string& web_file_name();
std::string web_display_name();
std::string web_display_name_of(const std::string& path);

// Subsystems told when a web is started or opened (after the settings are
// in place); the input and output streams are reset before them.
using WebResetHook = void (*)();
void web_add_reset_hook(WebResetHook hook);

// ---- fault injection (tests) ----------------------------------------------------
// Makes step n (from 1) of the next saves fail: step 1 creates the temporary
// file, then come its block writes, the sync, the close and the rename. 0
// turns the injection off. web_save_steps() tells how many steps the last
// save took.
void web_save_fail_at(int n);
int web_save_steps();

} // namespace tarvex
