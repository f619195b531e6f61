// The plot: while a run goes on, the values of the x cell and the y cell are
// drawn against each other on an off-screen surface holding a frame with a
// grid and corner labels. The surface is kept as a display list, which the
// runner's PNG and the plot export replay; beside it the segments are kept at
// full precision for the plot view, which draws them at its own size.
#pragma once

#include "plot/plot_canvas.h"
#include "plot/plot_clip.h"
#include "plot/plot_vectors.h"
#include "web/cell.h"

#include <cstdint>

namespace tarvex {

// Offsets of a mapped coordinate that lies far off the frame.
constexpr int PLOT_FAR_OFF = 32500;

// Registers the plot with the cells (value changes), the settings (plot
// colour), the Run command (begin and end) and the web (New and Open reset
// the plot). Part of engine start-up.
void plot_install();

// A fresh frame when plotting is on; no surface (a white plot) when off.
void plot_reset();
// A fresh frame, when a surface exists.
void plot_erase();
// A run starts with plotting on: checks the cells and limits and makes the
// plot active, or writes the error line and leaves it inactive.
void plot_begin();
// Any cell's current value changed (value is the new current value).
void plot_value_changed(NodeHandle value, CellHandle cell);
// A run ended: repaint and make the plot inactive.
void plot_end();
// The plot colour setting changed: lines drawn from now on take it.
void plot_colour_changed();

// A tap at surface pixel (x, y): flashes "( X , Y )" when the tap is on the
// frame's area, "Bad Plot Limits" when the limits are unusable. Returns
// whether anything was flashed.
bool plot_tap(int x, int y);
// The read-out at a point of the frame given as fractions of its width and
// height from its bottom-left corner, for views that map their own pixels:
// as plot_tap, over the whole frame, edges included.
bool plot_read_out(double fx, double fy);

bool plot_surface_present();
bool plot_active();
// What has been drawn since the surface was last created (empty when there
// is no surface: the plot then shows white).
const PlotDisplayList& plot_surface();
// The same drawing at full precision, for views of other sizes; reset with
// the surface (see plot_surface_generation).
const PlotVectors& plot_vectors();
// Changes whenever the surface is created or released, so a painter that
// caches the picture knows to start again rather than add the new commands.
uint32_t plot_surface_generation();
// The colour of the lines drawn from now on.
PlotRgb plot_pen_colour();
// The RGB of a plot colour setting (0 red, 1 green, 2 blue, else black).
PlotRgb plot_colour_rgb(uint8_t colour);

} // namespace tarvex
