// The plot's display list.
#include "plot/plot_canvas.h"

#include <algorithm>

namespace tarvex {

namespace {
// Everything drawn on the surface lies well inside 16 bits; clamping keeps a
// stray coordinate from wrapping round.
int16_t coord(int v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
} // namespace

void PlotDisplayList::fill(int left, int top, int right, int bottom, PlotRgb colour) {
    PlotCommand c;
    c.kind = PLOT_FILL;
    c.colour = colour;
    c.x0 = coord(left), c.y0 = coord(top), c.x1 = coord(right), c.y1 = coord(bottom);
    commands_.push_back(c);
}

void PlotDisplayList::line(int x0, int y0, int x1, int y1, int width, PlotRgb colour) {
    PlotCommand c;
    c.kind = PLOT_LINE;
    c.width = static_cast<uint8_t>(std::clamp(width, 1, 255));
    c.colour = colour;
    c.x0 = coord(x0), c.y0 = coord(y0), c.x1 = coord(x1), c.y1 = coord(y1);
    commands_.push_back(c);
}

void PlotDisplayList::text(int left, int top, int right, int bottom, PlotAlign align,
                           std::string_view s) {
    PlotCommand c;
    c.kind = PLOT_TEXT;
    c.align = align;
    c.colour = PLOT_BLACK;
    c.x0 = coord(left), c.y0 = coord(top), c.x1 = coord(right), c.y1 = coord(bottom);
    c.text = static_cast<uint32_t>(texts_.size());
    texts_.emplace_back(s);
    commands_.push_back(c);
}

void PlotDisplayList::clear() {
    commands_.clear();
    texts_.clear();
}

void PlotDisplayList::replay(PlotCanvas& canvas, size_t from) const {
    for (size_t i = from; i < commands_.size(); ++i) {
        const PlotCommand& c = commands_[i];
        switch (c.kind) {
        case PLOT_FILL: canvas.fill(c.x0, c.y0, c.x1, c.y1, c.colour); break;
        case PLOT_LINE: canvas.line(c.x0, c.y0, c.x1, c.y1, c.width, c.colour); break;
        case PLOT_TEXT: canvas.text(c.x0, c.y0, c.x1, c.y1, c.align, texts_[c.text]); break;
        }
    }
}

} // namespace tarvex
