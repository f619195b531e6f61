// Whether a web file fits the node store, and the store it would need.
// The file is read once, in a child process with the largest store, so the
// web of this process stays as it is whatever the answer.
#pragma once

#include <string>

namespace tarvex {

struct WebFit {
    int code = 0;      // 0, or the reading's failure (a bad or unreadable file)
    int peak = 0;      // the most nodes in use while it was read, start-up's own included
    int needed = 0;    // a store with room to work on it; 0 when no store is large enough
    bool fits = false; // the store of this process holds it
};

// Nodes of room a web is given beyond what reading it took: a quarter more,
// at least this many, so that its scripts can run and its texts be edited.
constexpr int STORE_ROOM_MIN = 1000;

// Without reading the file: whether its size alone shows that it fits the
// store with everything the store holds now given back (a web takes at most
// a node for every two and a half bytes of its file).
bool web_file_surely_fits(const std::string& path);

// Reads the file in a child process and measures.
WebFit web_fit_measure(const std::string& path);

// The check web_open asks in the application (web_open_set_check): a file
// whose size does not show that it fits is measured, through fd so that the
// file measured is the file read; one that does not fit is refused with
// SE_WEB_PAST_STORE and kept for web_fit_refused.
int web_fit_check(const std::string& name, int fd);
// The file the last check refused, and its measure, once; false when none.
bool web_fit_refused(std::string* name, WebFit* fit);

// The message that names the file and both sizes (the caller words the
// remedy: a reopen, or --store).
std::string web_fit_text(const std::string& path, const WebFit& fit);

} // namespace tarvex
