// Painting the plot surface itself with QtGui, at its own size or scaled:
// the PNG export (the runner's --plot and Save Plot As).
#pragma once

#include "plot/plot_canvas.h"

#include <QImage>
#include <QPoint>
#include <QRectF>
#include <QString>

class QPainter;

namespace tarvex {

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
