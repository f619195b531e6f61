// The plot: surface and frame, the point state machine, the mapping from
// values to pixels, the plot errors and the tap read-out.
#include "plot/plot.h"

#include "core/errors.h"
#include "core/guard.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "io/output_stream.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "webfile/web_file.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

namespace tarvex {

namespace {

constexpr size_t COORD_TEXT_MAX = 48;
constexpr int REFRESH_EVERY = 10; // a repaint once the counter exceeds this
// How far off the frame a mapped coordinate is followed for the full-precision
// record, in surface pixels: past it a clipped end would lose its fraction of
// a pixel to rounding, and the direction changes by less than a pixel across
// the frame.
constexpr double VECTOR_FAR_OFF = 1e6;

// Which coordinates changed since the last point.
enum PointState : uint8_t {
    PS_NONE = 0,   // no coordinate yet
    PS_Y_ONLY = 1, // y known, x not
    PS_X_ONLY = 2, // x known, y not
    PS_DRAWN = 3,  // a point was placed, neither changed since
    PS_Y_CHANGED = 4,
    PS_X_CHANGED = 5,
};

struct PlotState {
    bool surface = false;
    bool active = false;
    CellHandle x_cell = 0, y_cell = 0;
    double x_range = 0, y_range = 0;
    double x_slot = 0, y_slot = 0;
    uint8_t point_state = PS_NONE;
    int prev_x = 0, prev_y = 0;
    double prev_xd = 0, prev_yd = 0; // the same point with its fractions
    int refresh = 0;
    double upper_clamp = 32767, lower_clamp = -32768;
    PlotRgb pen;
    PlotDisplayList list;
    PlotVectors vectors;
    uint32_t generation = 0;
    // Segments drawn in the current pen: drawing one again changes no pixel,
    // and a long run repeating its curve would otherwise grow the list
    // without end.
    std::unordered_set<uint32_t> drawn;
};

PlotState g;

void repaint() {
    g.refresh = 0;
    plot_changed();
}

std::string format_number(double d) {
    char buf[NUMBER_TEXT_MAX + 1];
    NumberFormat f;
    f.style = 2;
    f.decimals = 5;
    f.width = 8;
    if (number_format(buf, d, f) <= 0) return {};
    return buf;
}

std::string coordinate_text(const std::string& x, const std::string& y) {
    std::string s = "( " + x + " , " + y + " )";
    if (s.size() > COORD_TEXT_MAX) s.resize(COORD_TEXT_MAX);
    return s;
}

// A limit formatted for a label; its setting's text when that fails.
std::string limit_text(double d, const char* (*stored)()) {
    std::string s = format_number(d);
    return s.empty() ? std::string(stored()) : s;
}

// A count of 0 would divide by zero: only the frame's edges then.
int grid_intervals(int count) { return count > 0 ? count : 1; }

void draw_frame() {
    const int width = PLOT_FRAME_WIDTH, height = PLOT_FRAME_HEIGHT;
    int n = grid_intervals(settings_y_intervals());
    for (int i = 0; i <= n; ++i) {
        int y = PLOT_BOTTOM - (i * height) / n;
        g.list.line(PLOT_LEFT, y, PLOT_RIGHT, y, 1, PLOT_BLACK);
    }
    int m = grid_intervals(settings_x_intervals());
    for (int i = 0; i <= m; ++i) {
        int x = PLOT_LEFT + (width * i) / m;
        g.list.line(x, PLOT_BOTTOM, x, PLOT_TOP, 1, PLOT_BLACK);
    }
    PlotVectors& v = g.vectors;
    v.x_intervals = m;
    v.y_intervals = n;
    v.min_label = coordinate_text(limit_text(settings_xmin(), settings_xmin_text),
                                  limit_text(settings_ymin(), settings_ymin_text));
    v.max_label = coordinate_text(limit_text(settings_xmax(), settings_xmax_text),
                                  limit_text(settings_ymax(), settings_ymax_text));
    v.y_name = settings_plot_y_cell();
    v.x_name = settings_plot_x_cell();
    g.list.text(3, 177, 152, 196, PLOT_ALIGN_LEFT, v.min_label);
    g.list.text(60, 0, 222, 16, PLOT_ALIGN_RIGHT, v.max_label);
    g.list.text(3, 0, 83, 16, PLOT_ALIGN_LEFT, v.y_name);
    g.list.text(132, 177, 212, 196, PLOT_ALIGN_RIGHT, v.x_name);
}

// Empties the display list; the new generation tells painters to start over.
void surface_clear() {
    g.list.clear();
    g.drawn.clear();
    g.vectors = PlotVectors{}; // gives a long run's memory back
    ++g.generation;
}

void surface_create() {
    g.upper_clamp = 32767;
    g.lower_clamp = -32768;
    surface_clear();
    g.list.fill(0, 0, PLOT_SURFACE_WIDTH, PLOT_SURFACE_HEIGHT, PLOT_WHITE);
    draw_frame();
    g.pen = plot_colour_rgb(settings_plot_colour());
    g.surface = true;
    repaint();
}

void surface_release() {
    surface_clear();
    g.surface = false;
    repaint();
}

void plot_error(int code) {
    g.active = false;
    std::string line = std::string("\n") + script_error_message(code) + "\n";
    if (output_is_open() && output_to_console())
        output_text(line);
    else
        console_write(line);
}

// max - min, when it is a finite number greater than 0.
bool limit_range(double max, double min, double* range) {
    double r = max;
    if (num_sub(r, min) != 0 || !(r > 0)) return false;
    *range = r;
    return true;
}

bool limits_ok(double* x_range, double* y_range) {
    return limit_range(settings_xmax(), settings_xmin(), x_range) &&
           limit_range(settings_ymax(), settings_ymin(), y_range);
}

// One coordinate, in pixels from the frame's left or bottom edge: whole
// pixels for the surface, and with their fraction in exact.
bool map_axis(double slot, double min, int16_t size, double range, int* out, double* exact) {
    double t = slot;
    if (num_sub(t, min) != 0 || num_mul(t, size) != 0 || num_div(t, range) != 0) return false;
    *exact = std::clamp(t, -VECTOR_FAR_OFF, VECTOR_FAR_OFF);
    if (t >= g.upper_clamp) {
        *out = PLOT_FAR_OFF;
    } else if (t > g.lower_clamp) {
        int16_t i;
        if (num_to_int16(i, t) != 0) return false;
        *out = i;
    } else {
        *out = -PLOT_FAR_OFF;
    }
    return true;
}

// Records the segment for views drawn at other sizes: exactly clipped where
// the fractions allow it, else (a segment that only grazes a corner) as the
// surface has it (surface null: it has nothing). Segments the surface has
// in whole pixels already, or within one pixel, are kept too: at a larger
// size they are apart, and dropping them leaves gaps.
void record_vector(const PlotSegment* surface, double x0, double y0, double x1, double y1) {
    PlotVectors& v = g.vectors;
    if (v.overflowed) return;
    PlotSegmentF f;
    if (!plot_clip_segment_exact(x0, y0, x1, y1, &f)) {
        if (!surface) return;
        f = {double(surface->x0), double(surface->y0), double(surface->x1), double(surface->y1)};
    }
    if (v.segments.size() >= PLOT_VECTORS_MAX) {
        v.overflowed = true;
        v.segments = std::vector<PlotVector>(); // gives the memory back
        return;
    }
    v.segments.push_back({float(f.x0), float(f.y0), float(f.x1), float(f.y1), g.pen});
}

void draw_segment(int x0, int y0, int x1, int y1, double x0d, double y0d, double x1d, double y1d) {
    PlotSegment s;
    bool on_surface = plot_clip_segment(x0, y0, x1, y1, &s);
    record_vector(on_surface ? &s : nullptr, x0d, y0d, x1d, y1d);
    if (!on_surface) return;
    // Clipped ends lie within the frame, so each fits a byte.
    uint32_t key = static_cast<uint32_t>(s.x0 & 0xFF) | static_cast<uint32_t>(s.y0 & 0xFF) << 8 |
                   static_cast<uint32_t>(s.x1 & 0xFF) << 16 |
                   static_cast<uint32_t>(s.y1 & 0xFF) << 24;
    if (!g.drawn.insert(key).second) return;
    g.list.line(s.x0, s.y0, s.x1, s.y1, 2, g.pen);
}

// Maps the slots to a point; draws the segment to it unless it is the first.
void plot_point(bool draw) {
    int px, py;
    double tx, ty;
    if (!map_axis(g.x_slot, settings_xmin(), PLOT_FRAME_WIDTH, g.x_range, &px, &tx) ||
        !map_axis(g.y_slot, settings_ymin(), PLOT_FRAME_HEIGHT, g.y_range, &py, &ty)) {
        plot_error(SE_PLOT_LIMITS);
        return;
    }
    int x = PLOT_LEFT + px, y = PLOT_BOTTOM - py;
    double xd = PLOT_LEFT + tx, yd = PLOT_BOTTOM - ty;
    if (draw && g.surface) draw_segment(g.prev_x, g.prev_y, x, y, g.prev_xd, g.prev_yd, xd, yd);
    g.prev_x = x;
    g.prev_y = y;
    g.prev_xd = xd;
    g.prev_yd = yd;
}

// One coordinate changed (the states are named from its side): a point is
// placed once the other coordinate has changed too, joined to the last one
// unless it is the first; the same coordinate again only moves its slot.
void coordinate_changed(PointState only_this, PointState this_changed, PointState only_other,
                        PointState other_changed) {
    uint8_t s = g.point_state;
    if (s == PS_NONE) {
        g.point_state = only_this;
    } else if (s == PS_DRAWN) {
        g.point_state = this_changed;
    } else if (s == only_other || s == other_changed) {
        g.point_state = PS_DRAWN;
        plot_point(s == other_changed);
    }
}

void on_reset() { plot_reset(); }

bool plot_watches(CellHandle c) { return g.active && (c == g.x_cell || c == g.y_cell); }

// A run abandoned by running out of nodes may never reach plot_end; a plot
// left active would carry its cells into the next run.
void on_abandon() { g.active = false; }

} // namespace

void plot_install() {
    cell_set_value_hook(plot_value_changed);
    settings_set_plot_colour_hook(plot_colour_changed);
    run_set_plot_hooks(plot_begin, plot_end, plot_watches);
    web_add_reset_hook(on_reset);
    guard_register_abandon(on_abandon);
}

void plot_reset() {
    g.active = false;
    if (settings_plotting()) {
        if (g.surface) surface_release();
        surface_create();
    } else {
        surface_create();
        surface_release();
    }
}

void plot_erase() {
    if (!g.surface) return;
    surface_release();
    surface_create();
}

void plot_begin() {
    if (g.active) return;
    g.x_cell = cell_find(settings_plot_x_cell());
    if (g.x_cell == 0) return plot_error(SE_PLOT_X_CELL);
    g.y_cell = cell_find(settings_plot_y_cell());
    if (g.y_cell == 0) return plot_error(SE_PLOT_Y_CELL);
    g.upper_clamp = 30000;
    g.lower_clamp = -30000;
    if (!limits_ok(&g.x_range, &g.y_range)) return plot_error(SE_PLOT_LIMITS);
    g.active = true;
    g.point_state = PS_NONE;
    g.refresh = 0;
}

void plot_value_changed(NodeHandle value, CellHandle cell) {
    if (!g.active) return;
    double number = value != 0 ? value_number(value) : 0.0;
    if (cell == g.x_cell) {
        g.x_slot = number;
        coordinate_changed(PS_X_ONLY, PS_X_CHANGED, PS_Y_ONLY, PS_Y_CHANGED);
    } else if (cell == g.y_cell) {
        g.y_slot = number;
        coordinate_changed(PS_Y_ONLY, PS_Y_CHANGED, PS_X_ONLY, PS_X_CHANGED);
    }
    if (!g.active) return; // the mapping failed
    if (++g.refresh > REFRESH_EVERY) repaint();
}

void plot_end() {
    // Done whatever the plotting setting says now: a plot left active would
    // keep the old cells at the next run.
    g.active = false;
    repaint();
}

void plot_colour_changed() {
    if (!g.surface) return;
    PlotRgb pen = plot_colour_rgb(settings_plot_colour());
    if (pen == g.pen) return;
    g.pen = pen;
    g.drawn.clear();
}

namespace {

// The read-out of frame position (px, py), in surface pixels from the
// frame's left and bottom edges, fractions allowed.
bool read_out(double px, double py) {
    double x_range, y_range;
    if (!limits_ok(&x_range, &y_range)) {
        status_flash("Bad Plot Limits");
        return true;
    }
    double vx = px, vy = py;
    if (num_mul(vx, x_range) != 0 || num_div(vx, PLOT_FRAME_WIDTH) != 0 ||
        num_add(vx, settings_xmin()) != 0)
        return false;
    if (num_mul(vy, y_range) != 0 || num_div(vy, PLOT_FRAME_HEIGHT) != 0 ||
        num_add(vy, settings_ymin()) != 0)
        return false;
    std::string sx = format_number(vx), sy = format_number(vy);
    status_flash(coordinate_text(sx.empty() ? "{NAN}" : sx, sy.empty() ? "{NAN}" : sy).c_str());
    return true;
}

} // namespace

bool plot_tap(int x, int y) {
    if (!g.surface) return false;
    int px = x - PLOT_LEFT;
    int py = (PLOT_BOTTOM - y) - 2;
    if (px < 0 || px > PLOT_FRAME_WIDTH || py < 0 || py > PLOT_FRAME_HEIGHT) return false;
    return read_out(px, py);
}

bool plot_read_out(double fx, double fy) {
    if (!g.surface || !(fx >= 0 && fx <= 1 && fy >= 0 && fy <= 1)) return false;
    return read_out(fx * PLOT_FRAME_WIDTH, fy * PLOT_FRAME_HEIGHT);
}

bool plot_surface_present() { return g.surface; }
bool plot_active() { return g.active; }
const PlotDisplayList& plot_surface() { return g.list; }
const PlotVectors& plot_vectors() { return g.vectors; }
uint32_t plot_surface_generation() { return g.generation; }
PlotRgb plot_pen_colour() { return g.pen; }

PlotRgb plot_colour_rgb(uint8_t colour) {
    switch (colour) {
    case 0: return {0xC5, 0x12, 0x1B};
    case 1: return {0x2B, 0x9B, 0x22};
    case 2: return {0x18, 0x23, 0x69};
    default: return PLOT_BLACK;
    }
}

} // namespace tarvex
