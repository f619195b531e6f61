// Clipping of plot segments to the frame. Mapped points may lie some 32,500
// pixels off, so the crossing products are taken in 64 bits.
#include "plot/plot_clip.h"

#include <algorithm>

namespace tarvex {

namespace {

bool between(int v, int lo, int hi) { return lo <= v && v <= hi; }

// A segment along one axis: only its span along that axis can be cut.
bool clip_span(int a0, int a1, int lo, int hi, int* c0, int* c1) {
    if (std::max(a0, a1) < lo || std::min(a0, a1) > hi) return false;
    *c0 = std::clamp(a0, lo, hi);
    *c1 = std::clamp(a1, lo, hi);
    return *c0 != *c1;
}

} // namespace

int plot_region(int x, int y) {
    int col = x < PLOT_LEFT ? 0 : (x > PLOT_RIGHT ? 2 : 1);
    int row = y > PLOT_BOTTOM ? 0 : (y < PLOT_TOP ? 2 : 1);
    return row * 3 + col + 1;
}

bool plot_clip_segment(int x0, int y0, int x1, int y1, PlotSegment* out) {
    if (x0 == x1) {
        if (!between(x0, PLOT_LEFT, PLOT_RIGHT)) return false;
        int a, b;
        if (!clip_span(y0, y1, PLOT_TOP, PLOT_BOTTOM, &a, &b)) return false;
        *out = {x0, a, x1, b};
        return true;
    }
    if (y0 == y1) {
        if (!between(y0, PLOT_TOP, PLOT_BOTTOM)) return false;
        int a, b;
        if (!clip_span(x0, x1, PLOT_LEFT, PLOT_RIGHT, &a, &b)) return false;
        *out = {a, y0, b, y1};
        return true;
    }
    int c0 = plot_region(x0, y0), c1 = plot_region(x1, y1);
    if (c0 == 5 && c1 == 5) {
        *out = {x0, y0, x1, y1};
        return true;
    }
    // Both on the same outer side: the segment cannot reach the frame.
    auto left = [](int c) { return c % 3 == 1; };
    auto right = [](int c) { return c % 3 == 0; };
    if ((left(c0) && left(c1)) || (right(c0) && right(c1)) || (c0 <= 3 && c1 <= 3) ||
        (c0 >= 7 && c1 >= 7))
        return false;

    // The points of the segment that lie in the frame: the inside end points
    // and the crossings with the edges the segment spans. The piece drawn
    // runs between the first and the last of them along the segment.
    const int64_t dx = x1 - x0, dy = y1 - y0;
    struct Point {
        int x, y;
    } pts[6];
    int n = 0;
    if (c0 == 5) pts[n++] = {x0, y0};
    if (c1 == 5) pts[n++] = {x1, y1};
    for (int edge : {PLOT_BOTTOM, PLOT_TOP}) {
        if (!between(edge, std::min(y0, y1), std::max(y0, y1))) continue;
        int x = static_cast<int>(x0 + ((edge - y0) * dx) / dy);
        if (between(x, PLOT_LEFT, PLOT_RIGHT)) pts[n++] = {x, edge};
    }
    for (int edge : {PLOT_LEFT, PLOT_RIGHT}) {
        if (!between(edge, std::min(x0, x1), std::max(x0, x1))) continue;
        int y = static_cast<int>(y0 + ((edge - x0) * dy) / dx);
        if (between(y, PLOT_TOP, PLOT_BOTTOM)) pts[n++] = {edge, y};
    }
    if (n == 0) return false;
    auto along = [&](const Point& p) { return (p.x - x0) * dx + (p.y - y0) * dy; };
    Point first = pts[0], last = pts[0];
    for (int i = 1; i < n; ++i) {
        if (along(pts[i]) < along(first)) first = pts[i];
        if (along(pts[i]) > along(last)) last = pts[i];
    }
    if (first.x == last.x && first.y == last.y) return false;
    *out = {first.x, first.y, last.x, last.y};
    return true;
}

bool plot_clip_segment_exact(double x0, double y0, double x1, double y1, PlotSegmentF* out) {
    const double dx = x1 - x0, dy = y1 - y0;
    if (dx == 0 && dy == 0) return false;
    // The segment is x0 + u dx, y0 + u dy for u in 0..1; each edge keeps the
    // u with p u <= q.
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x0 - PLOT_LEFT, PLOT_RIGHT - x0, y0 - PLOT_TOP, PLOT_BOTTOM - y0};
    double u0 = 0, u1 = 1;
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false; // parallel to the edge, outside it
            continue;
        }
        double u = q[i] / p[i];
        if (p[i] < 0)
            u0 = std::max(u0, u);
        else
            u1 = std::min(u1, u);
    }
    if (!(u0 < u1)) return false;
    // Ends that were inside stay exact; rounding must not push a cut end
    // past the edge it was cut at.
    auto fx = [&](double u, double end) {
        return std::clamp(u == 0   ? x0
                          : u == 1 ? end
                                   : x0 + u * dx,
                          double(PLOT_LEFT), double(PLOT_RIGHT));
    };
    auto fy = [&](double u, double end) {
        return std::clamp(u == 0   ? y0
                          : u == 1 ? end
                                   : y0 + u * dy,
                          double(PLOT_TOP), double(PLOT_BOTTOM));
    };
    *out = {fx(u0, x1), fy(u0, y1), fx(u1, x1), fy(u1, y1)};
    return true;
}

} // namespace tarvex
