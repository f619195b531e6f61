// Unsaved work outlives the process: while the web is modified this
// instance's recovery copy is kept up to date in the user's state folder, a
// termination signal or the end of the session writes it at once, and the
// next instance to open the same web offers it back.
#pragma once

#include <string>

class QObject;

namespace tarvex {

// How soon after a change the copy catches up.
constexpr int RECOVERY_CHECK_MS = 3000;

// Starts the periodic copy, the SIGTERM/SIGHUP/SIGINT handling (copy, then
// end without the save question) and the session-end copy. Once per process.
void recovery_install(QObject* owner);

// At start-up, once the web named file_name ("" for an untitled start) is
// open: offers the copies of it that instances no longer running left, and
// reports damaged ones (kept aside, never offered).
void recovery_offer(const std::string& file_name);

// Brings the copy up to date now: written while the web is modified,
// removed once it is not (saved, or discarded by New and Open). After an
// Open, the copies ended instances left of that web are offered.
void recovery_update();

// At the end of the event loop: a Quit that did not save discarded the
// changes, so the copy goes, unless a signal ended the program; then the
// instance gives up its lock, and its copies become others' to offer.
void recovery_finish();

} // namespace tarvex
