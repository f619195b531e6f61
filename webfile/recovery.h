// Recovery copies: the unsaved state of a web, written in the web file
// format to the user's state folder (never beside the web), so that work
// survives the end of the process and can be offered at the next start.
// Each running instance writes its own copy of a web and holds a lock while
// it runs; only copies whose instance has ended are offered, and never
// removed from under the instance that writes them.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace tarvex {

// The folder of the copies: $XDG_STATE_HOME/tarvex/recovery, or
// $HOME/.local/state/tarvex/recovery; "" when neither gives an absolute one.
std::string recovery_folder();

// This process's name among the instances that write copies.
const std::string& recovery_instance();

// What the copies of the web whose file is web_path are named after:
// "untitled" for "" , else a readable part and a hash of the file's full
// path with every symbolic link resolved, so one file has one key however
// it is reached.
std::string recovery_key_of(const std::string& web_path);

// This instance's copy of the web whose file is web_path ("" for an
// untitled web). "" when there is no folder.
std::string recovery_path_of(const std::string& web_path);

// Writes the web (or the snapshot given) to the copy at path, sealed with
// its length and checksum, readable by the user alone, creating the folder
// (private to the user) when needed; the copy is replaced only by a
// complete one. The web's file name and modified mark stay as they are. 0,
// SE_OPEN_WEB or SE_WRITE_WEB; nothing is shown.
int recovery_write(const std::string& path);
int recovery_write(const std::string& path, const std::string& snapshot);

// The bytes of the web recovery_write would write now (without the seal),
// to tell whether the copy is out of date without writing it.
std::string recovery_snapshot();

// What a copy on disk holds: nothing (no file, or an empty one left by an
// instance that ended before its first copy was written), a whole copy, or
// one whose seal is missing or does not match its bytes.
enum RecoveryCopyState { COPY_NONE, COPY_WHOLE, COPY_DAMAGED };
RecoveryCopyState recovery_check(const std::string& path);

// Reads the copy at path in place of the web (under the guard). The web
// keeps its file name and is marked modified. 0; SE_OPEN_WEB when the copy
// cannot be opened, or SE_BAD_WEB_FILE when it is not whole (the web is
// unchanged in both cases); or web_read's code, after which the web is what
// the reader left and no longer marked modified.
int recovery_read(const std::string& path);

// The copies of the web whose file is web_path left by instances that no
// longer run: the whole ones, newest first, and the damaged ones, each
// already renamed aside (to a name ending in ".damaged" that is never
// offered) under its new name. Copies of running instances are not touched.
struct RecoveryFinds {
    std::vector<std::string> copies;
    std::vector<std::string> damaged;
};
RecoveryFinds recovery_find(const std::string& web_path);

// True when the copy at path exists and is newer than the web file
// web_path (always, when web_path is "" or names no file).
bool recovery_newer(const std::string& path, const std::string& web_path);

// When the file at path was last written (0 when there is none).
std::time_t recovery_time(const std::string& path);

// Removes the copy at path; a copy that is already gone is not an error.
void recovery_remove(const std::string& path);

// At the end of the process: gives up the instance's lock, removing its
// lock file when none of its copies is left.
void recovery_release();

} // namespace tarvex
