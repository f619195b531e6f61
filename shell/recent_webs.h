// The webs opened or saved lately, kept in the user's settings and listed
// in the File menu, and web files dropped on the window. Both open a web
// through the File Open command, save question included.
#pragma once

#include <string>
#include <vector>

class QMainWindow;
class QMenu;
class QMimeData;

namespace tarvex {

constexpr int RECENT_WEBS_MAX = 8;

// Puts the web's file first in the list (when the web has one).
void recent_webs_note();
void recent_webs_add(const std::string& path);
// Most recent first.
std::vector<std::string> recent_webs_list();

// Lists the webs at the end of file_menu and accepts drops on window.
void recent_webs_install(QMainWindow* window, QMenu* file_menu);

// The web file a drag carries: one local .tvx or .qlt file, else "".
std::string recent_webs_dropped_file(const QMimeData* data);

// Opens path as File Open would, once the event loop is back.
void recent_webs_open_later(const std::string& path);

} // namespace tarvex
