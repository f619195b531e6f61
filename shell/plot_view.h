// The plot view (the plot tab, or the plot dock): the plot drawn to fill
// the view, taps read back as surface pixels, and the PNG export of the
// surface on its context menu.
#pragma once

#include <string>

class QMenu;
class QWidget;

namespace tarvex {

QWidget* plot_view_create(QWidget* parent);

// Paints the plot view now: a running script does not return to the event
// loop, so a later update would come only after the run. While a run plots,
// repaints closer together than a few times a second are left to the next
// pass of the event loop instead.
void plot_view_repaint();

// The context menu's actions ("Save Plot As...").
void plot_view_fill_menu(QMenu& menu);

// Asks for a file name and writes the surface there as a PNG; false when
// cancelled or the file could not be written.
bool plot_view_save_as();

// The name offered for the export: the web's name with ".png".
std::string plot_view_suggested_name();

} // namespace tarvex
