// Where a web's input and output files may be: names resolve against the
// web file's folder, and a name that is absolute or leads out of that folder
// is used only when the user allows the path. A received web must not be
// able to read or truncate the user's other files.
#pragma once

#include "io/io_file.h"

#include <string>

namespace tarvex {

struct StreamPath {
    std::string path;              // the full path, symbolic links resolved
    const char* refusal = nullptr; // why it needs the user's leave; nullptr: inside
};

// The folder relative names resolve against: the web file's folder, or the
// process folder for an untitled web.
std::string stream_base_folder();
// Another folder for untitled webs ("" restores the process folder): for a
// process that must keep its own folder, such as a fuzzer.
void stream_untitled_folder_set(const std::string& folder);

// Resolves a stream file name (the ".txt" rule already applied) against
// the web's folder.
StreamPath stream_path_resolve(const std::string& name);

// Opens a resolved path: output created or truncated, input read. A path
// with a refusal is first put to the frontend (ask_allow_path). A final
// symbolic link is not followed (a link that dangled when the name was
// resolved could lead anywhere). On failure *why holds the reason.
FilePtr stream_path_open(const StreamPath& p, bool output, std::string* why);

// Flashes the open failure of a stream file: the code's text, the path and
// the reason. Returns the code.
int stream_path_report(int code, const std::string& path, const std::string& why);

} // namespace tarvex
