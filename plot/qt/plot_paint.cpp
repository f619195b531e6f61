// Replaying the plot's display list with QPainter. Surface pixels are mapped
// to whole device pixels, so the grid stays crisp at any scale; the plot
// lines are smoothed only when the picture is scaled.
#include "plot/qt/plot_paint.h"

#include "plot/plot.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace tarvex {

namespace {

// The handheld's default font is small; labels are sized in surface pixels.
constexpr qreal LABEL_FONT_PIXELS = 11;

QColor qcolour(PlotRgb c) { return QColor(c.r, c.g, c.b); }

void replay_surface(QPainter& painter, QPointF origin, qreal scale) {
    if (!plot_surface_present()) return;
    PlotQtCanvas canvas(painter, origin, scale);
    plot_surface().replay(canvas);
}

} // namespace

PlotQtCanvas::PlotQtCanvas(QPainter& painter, QPointF origin, qreal scale)
    : p_(painter), origin_(origin), scale_(scale) {}

void PlotQtCanvas::fill(int left, int top, int right, int bottom, PlotRgb colour) {
    QPoint a(qRound(dx(left)), qRound(dy(top)));
    QPoint b(qRound(dx(right)), qRound(dy(bottom)));
    p_.fillRect(QRect(a, QSize(b.x() - a.x(), b.y() - a.y())), qcolour(colour));
}

void PlotQtCanvas::line(int x0, int y0, int x1, int y1, int width, PlotRgb colour) {
    if (width == 1 && (x0 == x1 || y0 == y1)) {
        // Grid lines: whole device pixels covering the surface pixels from
        // one end to the other, all equally thick (at least one pixel).
        int thick = std::max(1, qRound(scale_));
        int l = std::min(x0, x1), r = std::max(x0, x1) + 1;
        int t = std::min(y0, y1), b = std::max(y0, y1) + 1;
        int dl = qRound(dx(l)), dt = qRound(dy(t));
        int dr = y0 == y1 ? std::max(qRound(dx(r)), dl + 1) : dl + thick;
        int db = x0 == x1 ? std::max(qRound(dy(b)), dt + 1) : dt + thick;
        if (x0 == x1 && y0 == y1) dr = dl + thick, db = dt + thick;
        p_.fillRect(QRect(dl, dt, dr - dl, db - dt), qcolour(colour));
        return;
    }
    p_.save();
    p_.setRenderHint(QPainter::Antialiasing, scale_ != 1.0);
    QPen pen(qcolour(colour), std::max<qreal>(1.0, width * scale_), Qt::SolidLine, Qt::RoundCap,
             Qt::RoundJoin);
    p_.setPen(pen);
    p_.drawLine(QPointF(dx(x0 + 0.5), dy(y0 + 0.5)), QPointF(dx(x1 + 0.5), dy(y1 + 0.5)));
    p_.restore();
}

void PlotQtCanvas::text(int left, int top, int right, int bottom, PlotAlign align,
                        std::string_view s) {
    QRectF r(QPointF(dx(left), dy(top)), QPointF(dx(right), dy(bottom)));
    p_.save();
    QFont font = p_.font();
    font.setPixelSize(std::max(1, qRound(LABEL_FONT_PIXELS * scale_)));
    p_.setFont(font);
    p_.setPen(Qt::black);
    p_.setClipRect(r);
    int flags = Qt::AlignTop | Qt::TextSingleLine |
                (align == PLOT_ALIGN_RIGHT ? Qt::AlignRight : Qt::AlignLeft);
    p_.drawText(r, flags, QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())));
    p_.restore();
}

QImage plot_render_image(qreal scale) {
    if (!(scale > 0)) scale = 1;
    QImage image(qRound(PLOT_SURFACE_WIDTH * scale), qRound(PLOT_SURFACE_HEIGHT * scale),
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    replay_surface(p, QPointF(0, 0), scale);
    p.end();
    return image;
}

bool plot_write_png(const QString& path) { return plot_render_image(1.0).save(path, "PNG"); }

} // namespace tarvex
