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

// The fractions of the frame's width and height, from its bottom-left
// corner, at the centre of the pixel under view position pos (pixels as
// wide as a grid line); 0 and 1 are the centres of the outer grid lines.
QPointF plot_layout_fractions(const PlotLayout& layout, QPointF pos);

// Whether the views' frames keep one unit of x as long as one of y,
// letterboxed in the view (off: the frame fills it).
void plot_picture_set_equal_axes(bool on);
bool plot_picture_equal_axes();

// A view's picture, kept between paints: while the plot only grows, a paint
// draws just the segments added since the last one.
struct PlotPicture {
    QImage image;
    PlotLayout layout;
    QFont font; // as the view gave it
    bool equal_axes = false;
    QRectF limits; // the limits it was laid out for, with equal axes
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
// ratio (for checks, snapshots and the PNG export at a view's size).
QImage plot_picture_render(const QSize& view, qreal dpr, const QFont& font);

// The same picture as an SVG drawing: the grid as lines, the segments as
// paths, the labels as text.
QByteArray plot_picture_svg(const QSize& view, const QFont& font);

} // namespace tarvex
