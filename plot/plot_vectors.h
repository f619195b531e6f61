// The plot's segments at full precision, kept beside the surface so that a
// view can draw them as vectors at any size, with what the frame needs to be
// laid out again at that size (grid counts and label texts).
#pragma once

#include "plot/plot_canvas.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tarvex {

// One plotted segment, clipped to the frame, in surface coordinates (y
// growing downwards) with fractions of a pixel. Floats hold the 160-pixel
// frame to far below a pixel at any screen size, in half the room.
struct PlotVector {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    PlotRgb colour;
};

// Segments kept at most. Each costs 20 bytes (20 MB at the limit), and a
// run drawing this many has covered a view many times over (or retraces its
// curve). Past it the record is dropped and views draw the surface's own
// whole-pixel segments, which it keeps without repeats, instead.
constexpr size_t PLOT_VECTORS_MAX = size_t{1} << 20;

struct PlotVectors {
    int x_intervals = 1, y_intervals = 1;
    // The corner labels: "( xmin , ymin )", "( xmax , ymax )" and the cells.
    std::string min_label, max_label, x_name, y_name;
    // Every segment drawn, in order: the surface's lines and those it
    // skipped because it had their pixels already.
    std::vector<PlotVector> segments;
    bool overflowed = false;
};

} // namespace tarvex
