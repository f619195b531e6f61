// The plot's fixed frame geometry and the clipping of segments to the frame.
#pragma once

#include <cstdint>

namespace tarvex {

// The surface (the handheld's layout width by 200) and the frame on it.
constexpr int PLOT_SURFACE_WIDTH = 240;
constexpr int PLOT_SURFACE_HEIGHT = 200;
constexpr int PLOT_LEFT = 32;
constexpr int PLOT_BOTTOM = 176;
constexpr int PLOT_RIGHT = 192;
constexpr int PLOT_TOP = 16;
constexpr int16_t PLOT_FRAME_WIDTH = PLOT_RIGHT - PLOT_LEFT;
constexpr int16_t PLOT_FRAME_HEIGHT = PLOT_BOTTOM - PLOT_TOP;

struct PlotSegment {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// Where a point lies against the frame: 1..3 below it, 4..6 level with it,
// 7..9 above it, each left of, within and right of it; 5 is inside (edges
// included).
int plot_region(int x, int y);

// The part of the segment inside the frame, in the segment's direction, with
// the edge crossings computed in truncating integer arithmetic. False when
// nothing of it (or a single point) lies inside.
bool plot_clip_segment(int x0, int y0, int x1, int y1, PlotSegment* out);

struct PlotSegmentF {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// The same cut made exactly, for ends with fractions of a pixel: the part of
// the segment inside the frame (edges included), in its direction. False
// when nothing of it, or a single point, lies inside.
bool plot_clip_segment_exact(double x0, double y0, double x1, double y1, PlotSegmentF* out);

} // namespace tarvex
