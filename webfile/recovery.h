// Recovery copies: the unsaved state of a web, written in the web file
// format to the user's state folder (never beside the web), so that work
// survives the end of the process and can be offered at the next start.
#pragma once

#include <ctime>
#include <string>

namespace tarvex {

// The folder of the copies: $XDG_STATE_HOME/tarvex/recovery, or
// $HOME/.local/state/tarvex/recovery; "" when neither gives an absolute one.
std::string recovery_folder();

// The copy of the web whose file is web_path ("" for an untitled web): one
// name per absolute path. "" when there is no folder.
std::string recovery_path_of(const std::string& web_path);

// Writes the web to the copy at path, creating the folder (private to the
// user) when needed; the copy is replaced only by a complete one. The web's
// file name and modified mark stay as they are. 0, SE_OPEN_WEB or
// SE_WRITE_WEB; nothing is shown.
int recovery_write(const std::string& path);

// The bytes recovery_write would write now, to tell whether the copy is
// out of date without writing it.
std::string recovery_snapshot();

// Reads the copy at path in place of the web (under the guard). The web
// keeps its file name and is marked modified. 0; SE_OPEN_WEB when the
// copy cannot be opened (the web is unchanged); or web_read's code, after
// which the web is what the reader left and no longer marked modified.
int recovery_read(const std::string& path);

// True when the copy at path exists and is newer than the web file
// web_path (always, when web_path is "" or names no file).
bool recovery_newer(const std::string& path, const std::string& web_path);

// When the copy at path was last written (0 when there is none).
std::time_t recovery_time(const std::string& path);

// Removes the copy at path; a copy that is already gone is not an error.
void recovery_remove(const std::string& path);

} // namespace tarvex
