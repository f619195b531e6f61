// Painting the plot surface with QtGui: the plot tab's picture (scaled to
// fit, keeping the surface's aspect ratio, drawn at the screen's pixel
// ratio), the mapping of taps back to surface pixels, and the PNG export.
#pragma once

#include "plot/plot_canvas.h"

#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QString>

class QPainter;

namespace tarvex {

// Where the surface goes inside area: as large as fits with the surface's
// aspect ratio, centred.
QRectF plot_fit_rect(const QRectF& area);

// Paints area white and the surface into plot_fit_rect(area), crisply for a
// device of pixel ratio dpr. The picture is cached: while the surface only
// grows, a repaint draws just the commands added since the last one.
void paint_plot(QPainter& painter, const QRectF& area, qreal dpr);

// The surface pixel under pos (in area's coordinates, as paint_plot used
// them); points outside the picture give pixels outside the surface.
QPoint map_tap_to_surface(const QPointF& pos, const QRectF& area);

// The surface as an image of its size times scale (white without a surface).
QImage plot_render_image(qreal scale = 1.0);

// Writes the surface as a 240 x 200 PNG. Text needs a QGuiApplication.
bool plot_write_png(const QString& path);

// A canvas that paints onto a QPainter whose device pixels are surface
// pixels times scale, shifted by origin (device pixels).
class PlotQtCanvas : public PlotCanvas {
  public:
    PlotQtCanvas(QPainter& painter, QPointF origin, qreal scale);
    void fill(int left, int top, int right, int bottom, PlotRgb colour) override;
    void line(int x0, int y0, int x1, int y1, int width, PlotRgb colour) override;
    void text(int left, int top, int right, int bottom, PlotAlign align,
              std::string_view s) override;

  private:
    qreal dx(qreal x) const { return origin_.x() + x * scale_; }
    qreal dy(qreal y) const { return origin_.y() + y * scale_; }
    QPainter& p_;
    QPointF origin_;
    qreal scale_;
};

} // namespace tarvex
