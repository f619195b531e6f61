// The plot drawn for a view of any size: the frame laid out to fill the
// view with labels in the view's own font, the segments drawn as smooth
// vectors through the same mapping, and taps read back through it to the
// surface pixel the surface's own tap would have received.
#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QSizeF>

#include <cstddef>
#include <cstdint>

class QPainter;

namespace tarvex {

// Where the frame and the label rows go in a view, in its logical pixels.
// The frame's edges are the centres of its outer grid lines; surface
// coordinates map linearly onto it (the frame's 160 pixels to its width and
// height), so a grid line stays at the same plot value at any size.
struct PlotLayout {
    bool valid = false; // false when the view is too small for a frame
    QRectF frame;
    QRectF top_row, bottom_row; // the label rows above and below the frame
    QFont font;                 // the labels', in pixels
    qreal dpr = 1;
    qreal grid_width = 1; // logical width of one grid line: whole device pixels
};

PlotLayout plot_layout(const QSizeF& view, qreal dpr, const QFont& font);

// The view position of the surface point (x, y), fractions allowed.
QPointF plot_layout_point(const PlotLayout& layout, double x, double y);

// The surface pixel a tap at view position pos stands for: the pixel of the
// plot point under it, as the surface's own tap receives it. Positions off
// the frame give pixels off the frame.
QPoint plot_layout_tap(const PlotLayout& layout, QPointF pos);

// A view's picture, kept between paints: while the plot only grows, a paint
// draws just the segments added since the last one.
struct PlotPicture {
    QImage image;
    PlotLayout layout;
    QFont font; // as the view gave it
    uint32_t generation = 0;
    bool overflowed = false;
    size_t done = 0; // segments (or surface commands, once overflowed) drawn
    bool valid = false;
};

// Paints the plot filling a view of size view (white when there is no
// surface), updating picture first. With a budget (milliseconds, 0 or more)
// the segments not drawn when it runs out are left for the next paint, so a
// view resized over a very long plot stays live; returns whether the
// picture is complete.
bool plot_picture_paint(PlotPicture& picture, QPainter& painter, const QSizeF& view, qreal dpr,
                        const QFont& font, qint64 budget_ms = -1);

// The plot as a view of that size would show it, as an image at the pixel
// ratio (for checks and snapshots).
QImage plot_picture_render(const QSize& view, qreal dpr, const QFont& font);

} // namespace tarvex
