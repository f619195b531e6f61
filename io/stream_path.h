// Where a web's input and output files may be: names resolve against the
// web file's folder, and a name that is absolute or leads out of that folder
// is used only when the user allows the path. A received web must not be
// able to read, create or truncate the user's other files, whatever links
// its folder holds and however they change while a file is opened. Stream
// files are regular files: a FIFO or a device would block the program or
// feed it without end.
#pragma once

#include "core/io_file.h"

#include <string>

namespace tarvex {

// The folder relative names resolve against: the web file's folder, or the
// process folder for an untitled web.
std::string stream_base_folder();
// Told by the web file layer whenever the web's file changes: the file's
// name ("" for an untitled web), whose folder stream names resolve in.
void stream_web_file_set(const std::string& web_file);
// Another folder for untitled webs ("" restores the process folder): for a
// process that must keep its own folder, such as a fuzzer.
void stream_untitled_folder_set(const std::string& folder);

// A stream file's name from its setting: ".txt" is appended when the file
// name (the part after the last "/") has no dot. The output names a shell
// user gives for "nowhere" and the process's own streams stay as they are.
std::string stream_file_path(std::string name, bool output);

// Opens the file a name setting names (the ".txt" rule applied here) for
// output (created, or emptied once known to be a regular file) or input.
// *shown becomes the full path shown to the user. A name that leaves the
// web's folder is first put to the frontend (ask_allow_path); what the user
// allows may be outside the folder but is still a regular file (or, for
// output, one of the names stream_file_path keeps). On failure the code
// (SE_OPEN_OUTPUT, SE_OPEN_INPUT, or SE_NAME_TOO_LONG for a name over
// FILE_NAME_MAX bytes) is flashed with the reason and the path, and returned.
// *failed is the stream's record of its last failure: a failure on the same
// path is returned again without a second try or message (a run's error
// report writes through the stream that just failed); the stream clears it
// when it closes.
// An output is never the file input_setting names (the input's name
// setting when the input is a file, else nullptr): opening it would empty
// what the script is to read.
int stream_file_open(const std::string& setting, bool output, FilePtr& file, std::string* shown,
                     std::string* failed, const char* input_setting = nullptr);

// Why the last stream_file_open since stream_path_refusal_clear failed,
// when the reason is a rule of stream files rather than the file system:
// the name left the folder (and the user did not allow it), or it names no
// regular file.
enum StreamRefusal { REFUSAL_NONE, REFUSAL_OUTSIDE, REFUSAL_NOT_REGULAR };
StreamRefusal stream_path_refusal();
void stream_path_refusal_clear();

// For tests: resolve by the descriptor walk even where the kernel resolves
// beneath a folder itself, so both ways are checked on one machine.
void stream_path_force_walk(bool on);

} // namespace tarvex
