// The two layouts of the main window's panes (see window_layout.cpp), for
// the main window that builds the panes and takes the keys.
#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>

class QAction;
class QDockWidget;
class QLineEdit;
class QMainWindow;
class QMenu;
class QWidget;

namespace tarvex {

struct Layout {
    bool compact = false;
    // The panes have been put in their places (at the window's first show,
    // once every dock exists).
    bool applied = false;
    // TARVEX_LAYOUT chose the layout of this run; the user's setting is
    // then written only when the user chooses one from the View menu.
    bool overridden = false;
    bool chosen = false;
    // The docks as the desktop layout last had them (QMainWindow::saveState).
    QByteArray desktop_state;
    QWidget* cells_page = nullptr;
    QLineEdit* filter = nullptr;
    QDockWidget* cells = nullptr;
    QDockWidget* console = nullptr;
    QDockWidget* plot = nullptr;
    QMenu* view_menu = nullptr;
    QAction* compact_action = nullptr;
};

Layout& window_layout();

// The user's settings are kept under this organization (the GUI tests set
// their own).
QString user_organization();
// The user's settings (never the web's).
QSettings user_settings();

// The layout the user chose last (or TARVEX_LAYOUT), read before the
// window is shown; saved when it closes and when the user changes it.
void layout_load(QMainWindow* window);
void layout_save();
// At the first show, when every dock exists: the dock toggles and the
// layout choice in the View menu, and the panes put in their places.
void layout_start();

} // namespace tarvex
