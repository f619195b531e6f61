// The plot view (the plot tab, or the plot dock): the plot drawn to fill
// the view, clicks read out as plot coordinates, and the export of the plot
// as a PNG or SVG file on its context menu and the File menu.
#pragma once

#include <string>

class QMenu;
class QSize;
class QWidget;

namespace tarvex {

QWidget* plot_view_create(QWidget* parent);

// Paints the plot view now: a running script does not return to the event
// loop, so a later update would come only after the run. While a run plots,
// repaints closer together than a few times a second are left to the next
// pass of the event loop instead.
void plot_view_repaint();

// The context menu's actions ("Save Plot As...", "Equal Axes").
void plot_view_fill_menu(QMenu& menu);

// Whether the view keeps one unit as long on both axes; kept per user.
void plot_view_set_equal_axes(bool on);

// Asks for a file name (and, for a PNG, its size) and writes the plot
// there: SVG at the view's size, or PNG at the view's size, a chosen size
// or the plot surface's own; false when cancelled or not written.
bool plot_view_save_as();

// The size an export "at the plot's size" has.
QSize plot_view_export_size();

// The name offered for the export: the web's name with ".png".
std::string plot_view_suggested_name();

} // namespace tarvex
