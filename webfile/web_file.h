// Web files: the tagged text form of a web (settings, then cells), the
// tolerant reader and the writer, and the operations that start, open and
// save a web with its file name, display name and save question.
#pragma once

#include "core/errors.h"
#include "io/buffered_writer.h"
#include "web/cell.h"

#include <cstdio>
#include <functional>
#include <string>

namespace tarvex {

// ---- reading and writing an open file ----------------------------------------
// Starts a fresh web (only an empty "home", default settings, home current)
// and reads f into it. Zero bytes are dropped wherever they stand; when
// other bytes followed them, the count is shown and the web is marked
// modified. 0; SE_NOT_A_WEB ("The file is not a Tarvex web", shown: the first bytes past
// blanks are not a tag of a web, and the web is untouched; an empty or blank
// file is an empty web); SE_BAD_WEB_FILE ("Bad Input File": the web stays
// the fresh one, with the settings read before the bad name); SE_READ_WEB
// (-5, already shown: what came before the error is loaded); or
// SE_OUT_OF_MEMORY (-1, "OUT OF MEMORY": the web is the fresh one again).
// The caller opens and closes f.
int web_read(std::FILE* f);

// True when path is a regular file that web_read would read as a web with
// at least one element (an empty file is not counted). Never blocks.
bool web_file_is_web(const std::string& path);

// Forgets the cells and settings: only an empty "home", current, with the
// default settings and the modified mark cleared. No guard, no question.
void web_start_fresh();

// Writes the web to f through a 2,048-byte buffer: 0, or SE_WRITE_WEB (-4)
// after a short write. Changes nothing in the web and allocates no nodes.
int web_write(std::FILE* f);
// The same through a writer sink, one call per block.
int web_write_to(WriterSink sink, void* target);

// The walk of the writer and the exporters: every live cell in name order,
// until visit returns false.
void web_for_each_cell(const std::function<bool(CellHandle)>& visit);

// Writes a file as a save does: write fills a temporary file beside name
// through the sink it is given, and the file replaces name only once it is
// complete and synced. 0, SE_OPEN_WEB (-3: name cannot be created or is
// read-only) or the first failure of write (SE_WRITE_WEB, -4); on failure
// name is untouched. Temporary files of name that killed saves left are
// removed first (web_open removes them too); a live save's never is.
using FileFiller = std::function<int(WriterSink sink, void* target)>;
int file_replace(const std::string& name, const FileFiller& write);

// ---- commands (each enters the engine through the guard) ----------------------
// Each asks the save question first when the web is modified: Yes saves and
// goes on only when the save succeeded, No goes on, Cancel stops.

// What a command that may ask the user came to. Cancelling (the question or
// a file dialog) is the user's choice, not a failure, so it carries no code.
struct WebOutcome {
    int code = SE_OK; // 0, or the failure's negative code
    bool cancelled = false;
    bool done() const { return code == SE_OK && !cancelled; }
};

// Starts an untitled web; fails with the failed save's code.
WebOutcome web_new();

// Opens name (nullptr or "" asks with the open dialog; double quotes in a
// given name are removed). Fails with SE_OPEN_WEB (-3) or SE_WRITE_WEB (-4)
// when the file cannot be opened or the save that the question asked for
// failed, with SE_WEB_NOT_FILE (shown) when name is no regular file (see
// web_open_pipes), and with SE_NOT_A_WEB when the file holds no web: the
// current web is unchanged in these cases, as when cancelled (question or
// dialog). The open itself never waits. SE_BAD_WEB_FILE, SE_READ_WEB and
// SE_OUT_OF_MEMORY come from reading (see web_read): the old web is gone all
// the same (every reset is done), and the new one is untitled. A web read
// from a pipe, or named as a descriptor (/dev/stdin, /dev/fd/N), stays
// untitled: it has no file to save to nor a folder of its own.
WebOutcome web_open(const char* name);

// Lets web_open read a web from a pipe (a FIFO is read once its writer has
// written or gone, as a command-line tool reads one). Off by default: the
// application opens regular files only, since a pipe would hold it up.
void web_open_pipes(bool allowed);

// Asked by web_open before a regular file is read, with the name chosen and
// the file open as fd: 0 to read it, or a failure code to leave the web as
// it is (the application checks that the web fits the node store).
using WebOpenCheck = int (*)(const std::string& name, int fd);
void web_open_set_check(WebOpenCheck check);

// Saves to the web's file (Save As when it has none); a failure's code is
// shown. The previous file stays intact on failure.
WebOutcome web_save();

// Saves under name (nullptr or "" asks with the save dialog): "Saved", or
// "Not Saved" when cancelled or failed (the web keeps its old name).
WebOutcome web_save_as(const char* name);

// The save question alone, for Quit: done when not modified, saved, or No.
WebOutcome web_save_prompt();

// The full name of the web's file ("" for an untitled web) and its display
// name: the file name without its folders and from its first dot on.
const std::string& web_file_name();
std::string web_display_name();
std::string web_display_name_of(const std::string& path);

// Subsystems told when a web is started or opened (after the settings are
// in place); the input and output streams are reset before them.
using WebResetHook = void (*)();
void web_add_reset_hook(WebResetHook hook);

// Tells the streams, the reset hooks and the window that the web was
// replaced by one read without web_open.
void web_reset_notify();

// ---- fault injection (tests) ----------------------------------------------------
// Makes step n (from 1) of the next saves fail: step 1 creates the temporary
// file, then come its block writes, the sync, the close and the rename. 0
// turns the injection off. web_save_steps() tells how many steps the last
// save took.
void web_save_fail_at(int n);
int web_save_steps();

} // namespace tarvex
