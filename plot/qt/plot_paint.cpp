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

QColor qcolour(PlotRgb c) {
    return QColor(c.r, c.g, c.b);
}

// The picture last painted for the plot tab, grown command by command.
struct PaintCache {
    QImage image;
    uint32_t generation = 0;
    size_t done = 0;
    QRectF area;
    qreal dpr = 0;
    bool valid = false;
};

PaintCache g_cache;

void replay_surface(QPainter& painter, QPointF origin, qreal scale, size_t from) {
    if (!plot_surface_present()) return;
    PlotQtCanvas canvas(painter, origin, scale);
    plot_surface().replay(canvas, from);
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

QRectF plot_fit_rect(const QRectF& area) {
    qreal scale = std::min(area.width() / PLOT_SURFACE_WIDTH, area.height() / PLOT_SURFACE_HEIGHT);
    if (!(scale > 0)) return QRectF(area.topLeft(), QSizeF(0, 0));
    QSizeF size(PLOT_SURFACE_WIDTH * scale, PLOT_SURFACE_HEIGHT * scale);
    QPointF at(area.x() + (area.width() - size.width()) / 2,
               area.y() + (area.height() - size.height()) / 2);
    return QRectF(at, size);
}

void paint_plot(QPainter& painter, const QRectF& area, qreal dpr) {
    if (area.isEmpty()) return;
    if (!(dpr > 0)) dpr = 1;
    const PlotDisplayList& list = plot_surface();
    PaintCache& c = g_cache;
    if (!c.valid || c.generation != plot_surface_generation() || c.area.size() != area.size() ||
        c.dpr != dpr || c.done > list.commands().size()) {
        QSize device(static_cast<int>(std::ceil(area.width() * dpr)),
                     static_cast<int>(std::ceil(area.height() * dpr)));
        c.image = QImage(device, QImage::Format_RGB32);
        c.image.fill(Qt::white);
        c.generation = plot_surface_generation();
        c.area = area;
        c.dpr = dpr;
        c.done = 0;
        c.valid = true;
    }
    if (c.done < list.commands().size()) {
        QRectF fit = plot_fit_rect(area);
        c.image.setDevicePixelRatio(1.0);
        QPainter ip(&c.image);
        replay_surface(ip, (fit.topLeft() - area.topLeft()) * dpr,
                       fit.width() / PLOT_SURFACE_WIDTH * dpr, c.done);
        c.done = list.commands().size();
    }
    c.image.setDevicePixelRatio(dpr);
    painter.drawImage(area.topLeft(), c.image);
}

QPoint map_tap_to_surface(const QPointF& pos, const QRectF& area) {
    QRectF fit = plot_fit_rect(area);
    if (fit.isEmpty()) return QPoint(-1, -1);
    qreal scale = fit.width() / PLOT_SURFACE_WIDTH;
    return QPoint(static_cast<int>(std::floor((pos.x() - fit.x()) / scale)),
                  static_cast<int>(std::floor((pos.y() - fit.y()) / scale)));
}

QImage plot_render_image(qreal scale) {
    if (!(scale > 0)) scale = 1;
    QImage image(qRound(PLOT_SURFACE_WIDTH * scale), qRound(PLOT_SURFACE_HEIGHT * scale),
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    replay_surface(p, QPointF(0, 0), scale, 0);
    p.end();
    return image;
}

bool plot_write_png(const QString& path) {
    return plot_render_image(1.0).save(path, "PNG");
}

} // namespace tarvex
