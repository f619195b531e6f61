// The plot view's picture. The frame fills the view, less room for a row of
// labels above and below it; grid lines are whole device pixels so they stay
// crisp, and the segments are smoothed lines of the plot's width in logical
// pixels, drawn from the full-precision record.
#include "plot/qt/plot_picture.h"

#include "plot/plot.h"
#include "settings/settings.h"

#include <QByteArray>
#include <QColor>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLineF>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace tarvex {

namespace {

// A frame smaller than this (logical pixels) shows nothing worth reading.
constexpr qreal FRAME_MIN = 16;
// Plot lines are as wide in logical pixels as on the surface in its own.
constexpr qreal LINE_WIDTH = 2;
// Segments drawn between looks at the clock when a paint has a budget.
constexpr size_t SEGMENTS_PER_CLOCK_CHECK = 256;

// Whether views keep one unit as long on both axes (the user's choice).
bool g_equal_axes = false;

// The limits' spans, when both are usable.
bool axis_ranges(double* x_range, double* y_range) {
    *x_range = settings_xmax() - settings_xmin();
    *y_range = settings_ymax() - settings_ymin();
    return std::isfinite(*x_range) && std::isfinite(*y_range) && *x_range > 0 && *y_range > 0;
}

QRectF current_limits() {
    return QRectF(QPointF(settings_xmin(), settings_ymin()),
                  QPointF(settings_xmax(), settings_ymax()));
}

// length cut down to an even number of units.
qreal even_units(qreal length, qreal unit) {
    qreal n = std::floor(length / unit + 1e-6);
    return (n - std::fmod(n, 2.0)) * unit;
}

QColor qcolour(PlotRgb c) { return QColor(c.r, c.g, c.b); }

// The logical position of the device pixel edge nearest to v.
qreal snap(qreal v, qreal dpr) { return std::round(v * dpr) / dpr; }

// A grid line centred on c across (vertical) or along (horizontal) the frame.
void grid_line(QPainter& p, const PlotLayout& l, qreal c, bool vertical) {
    qreal w = l.grid_width, half = w / 2;
    qreal at = snap(c - half, l.dpr);
    QRectF r = vertical ? QRectF(at, l.frame.top() - half, w, l.frame.height() + w)
                        : QRectF(l.frame.left() - half, at, l.frame.width() + w, w);
    p.fillRect(r, Qt::black);
}

// One row of labels: the limits keep their whole width (as far as the row
// goes), the cell name has what is left.
void label_row(QPainter& p, const PlotLayout& l, const QRectF& row, const std::string& left,
               const std::string& right, bool limits_left) {
    QFontMetricsF fm(l.font);
    QString a = QString::fromStdString(left), b = QString::fromStdString(right);
    const QString& limits = limits_left ? a : b;
    qreal gap = fm.averageCharWidth() * 2;
    qreal limits_width = std::min(row.width(), fm.horizontalAdvance(limits));
    qreal name_width = std::max<qreal>(0, row.width() - limits_width - gap);
    qreal left_width = limits_left ? limits_width : name_width;
    qreal right_width = limits_left ? name_width : limits_width;
    int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    if (left_width > 0)
        p.drawText(QRectF(row.left(), row.top(), left_width, row.height()), flags | Qt::AlignLeft,
                   fm.elidedText(a, Qt::ElideRight, left_width));
    if (right_width > 0)
        p.drawText(QRectF(row.right() - right_width, row.top(), right_width, row.height()),
                   flags | Qt::AlignRight, fm.elidedText(b, Qt::ElideRight, right_width));
}

void draw_frame(QPainter& p, const PlotLayout& l) {
    const PlotVectors& v = plot_vectors();
    for (int i = 0; i <= v.x_intervals; ++i)
        grid_line(p, l, l.frame.left() + l.frame.width() * i / v.x_intervals, true);
    for (int i = 0; i <= v.y_intervals; ++i)
        grid_line(p, l, l.frame.bottom() - l.frame.height() * i / v.y_intervals, false);
    p.setFont(l.font);
    p.setPen(Qt::black);
    label_row(p, l, l.top_row, v.y_name, v.max_label, false);
    label_row(p, l, l.bottom_row, v.min_label, v.x_name, true);
}

// Lines of one colour go to the painter together.
class LineBatch {
  public:
    LineBatch(QPainter& p, const PlotLayout& l) : p_(p), l_(l) {}
    void add(double x0, double y0, double x1, double y1, PlotRgb colour) {
        if (!(colour == colour_)) flush();
        colour_ = colour;
        lines_.emplace_back(plot_layout_point(l_, x0, y0), plot_layout_point(l_, x1, y1));
    }

    void flush() {
        if (lines_.empty()) return;
        // Square caps close the joints between segments as round ones do,
        // at a fraction of the cost of stroking arcs.
        p_.setPen(QPen(qcolour(colour_), LINE_WIDTH, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p_.drawLines(lines_.data(), static_cast<int>(lines_.size()));
        lines_.clear();
    }
    QPainter& p_;
    const PlotLayout& l_;
    PlotRgb colour_;
    std::vector<QLineF> lines_;
};

// Draws what was added since the picture was last brought up to date, or
// as much of it as budget_ms allows (below 0: all). Whether all was drawn.
bool draw_new_segments(PlotPicture& pic, qint64 budget_ms) {
    const PlotVectors& v = plot_vectors();
    const auto& commands = plot_surface().commands();
    size_t count = pic.overflowed ? commands.size() : v.segments.size();
    if (pic.done >= count) return true;
    QElapsedTimer clock;
    clock.start();
    QPainter p(&pic.image);
    p.setRenderHint(QPainter::Antialiasing);
    LineBatch batch(p, pic.layout);
    size_t i = pic.done;
    while (i < count) {
        size_t end = std::min(count, i + SEGMENTS_PER_CLOCK_CHECK);
        for (; i < end; ++i) {
            if (!pic.overflowed) {
                const PlotVector& s = v.segments[i];
                batch.add(s.x0, s.y0, s.x1, s.y1, s.colour);
            } else {
                // The record gave out: the surface's own lines, whole
                // pixels, through the same mapping (the frame is drawn).
                const PlotCommand& c = commands[i];
                if (c.kind == PLOT_LINE && c.width > 1) batch.add(c.x0, c.y0, c.x1, c.y1, c.colour);
            }
        }
        batch.flush();
        if (budget_ms >= 0 && clock.elapsed() >= budget_ms) break;
    }
    pic.done = i;
    return i == count;
}

} // namespace

PlotLayout plot_layout(const QSizeF& view, qreal dpr, const QFont& font) {
    PlotLayout l;
    l.dpr = dpr > 0 ? dpr : 1;
    l.font = font;
    l.font.setPixelSize(std::max(1, QFontInfo(font).pixelSize()));
    qreal text = std::ceil(QFontMetricsF(l.font).height());
    qreal pad = std::max<qreal>(4, std::round(text / 3));
    l.grid_width = std::max<qreal>(1, std::round(l.dpr)) / l.dpr;
    // Edges half a grid line off a device pixel edge: the outer lines are
    // whole pixels centred on them.
    qreal half = l.grid_width / 2;
    qreal left = snap(pad, l.dpr) + half;
    qreal right = snap(view.width() - pad - l.grid_width, l.dpr) + half;
    qreal top = snap(pad + text, l.dpr) + half;
    qreal bottom = snap(view.height() - pad - text - l.grid_width, l.dpr) + half;
    qreal width = right - left, height = bottom - top;
    double x_range = 0, y_range = 0;
    if (g_equal_axes && axis_ranges(&x_range, &y_range) && width > 0 && height > 0) {
        // One unit as long on both axes: the frame letterboxed in the room.
        double unit = std::min(width / x_range, height / y_range);
        width = std::floor(x_range * unit * l.dpr) / l.dpr;
        height = std::floor(y_range * unit * l.dpr) / l.dpr;
    }
    // An even number of grid line widths across: the frame's middle, where
    // symmetric limits put 0, is then the centre of a pixel (below).
    width = even_units(width, l.grid_width);
    height = even_units(height, l.grid_width);
    left += snap((right - left - width) / 2, l.dpr);
    top += snap((bottom - top - height) / 2, l.dpr);
    l.frame = QRectF(left, top, width, height);
    l.top_row = QRectF(left, top - half - pad / 2 - text, width, text);
    l.bottom_row = QRectF(left, top + height + half + pad / 2, width, text);
    l.valid = l.frame.width() >= FRAME_MIN && l.frame.height() >= FRAME_MIN;
    return l;
}

void plot_picture_set_equal_axes(bool on) { g_equal_axes = on; }
bool plot_picture_equal_axes() { return g_equal_axes; }

QPointF plot_layout_fractions(const PlotLayout& l, QPointF pos) {
    if (!l.valid) return QPointF(-1, -1);
    // Pixels as wide as a grid line, one centred on each of the frame's
    // edges: the one under pos stands for its centre.
    qreal u = l.grid_width;
    qreal kx = std::floor((pos.x() - l.frame.left()) / u + 0.5);
    qreal ky = -std::floor((pos.y() - l.frame.bottom()) / u + 0.5);
    return QPointF(kx * u / l.frame.width(), ky * u / l.frame.height());
}

QPointF plot_layout_point(const PlotLayout& l, double x, double y) {
    return QPointF(l.frame.left() + (x - PLOT_LEFT) * l.frame.width() / PLOT_FRAME_WIDTH,
                   l.frame.top() + (y - PLOT_TOP) * l.frame.height() / PLOT_FRAME_HEIGHT);
}

QPoint plot_layout_tap(const PlotLayout& l, QPointF pos) {
    if (!l.valid) return QPoint(-1, -1);
    // A plot point lies in the surface pixel its mapped value truncates to,
    // counted from the frame's left and bottom edges.
    double tx = (pos.x() - l.frame.left()) * PLOT_FRAME_WIDTH / l.frame.width();
    double ty = (l.frame.bottom() - pos.y()) * PLOT_FRAME_HEIGHT / l.frame.height();
    return QPoint(PLOT_LEFT + static_cast<int>(std::floor(tx)),
                  PLOT_BOTTOM - static_cast<int>(std::floor(ty)));
}

bool plot_picture_paint(PlotPicture& pic, QPainter& painter, const QSizeF& view, qreal dpr,
                        const QFont& font, qint64 budget_ms) {
    if (view.isEmpty()) return true;
    if (!(dpr > 0)) dpr = 1;
    QSize device(static_cast<int>(std::ceil(view.width() * dpr)),
                 static_cast<int>(std::ceil(view.height() * dpr)));
    const PlotVectors& v = plot_vectors();
    size_t count = v.overflowed ? plot_surface().commands().size() : v.segments.size();
    if (!pic.valid || pic.generation != plot_surface_generation() ||
        pic.overflowed != v.overflowed || pic.image.size() != device || pic.layout.dpr != dpr ||
        pic.font != font || pic.done > count || pic.equal_axes != g_equal_axes ||
        (g_equal_axes && pic.limits != current_limits())) {
        pic.image = QImage(device, QImage::Format_RGB32);
        pic.image.setDevicePixelRatio(dpr);
        pic.image.fill(Qt::white);
        pic.layout = plot_layout(view, dpr, font);
        pic.font = font;
        pic.equal_axes = g_equal_axes;
        pic.limits = current_limits();
        pic.generation = plot_surface_generation();
        pic.overflowed = v.overflowed;
        pic.done = 0;
        pic.valid = true;
        if (plot_surface_present() && pic.layout.valid) {
            QPainter p(&pic.image);
            draw_frame(p, pic.layout);
        }
    }
    bool complete = true;
    if (plot_surface_present() && pic.layout.valid) complete = draw_new_segments(pic, budget_ms);
    painter.drawImage(QPointF(0, 0), pic.image);
    return complete;
}

QImage plot_picture_render(const QSize& view, qreal dpr, const QFont& font) {
    QImage image(view * dpr, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::gray);
    PlotPicture picture;
    QPainter p(&image);
    plot_picture_paint(picture, p, QSizeF(view), dpr, font);
    return image;
}

namespace {

void svg_escape(std::string& out, const std::string& s) {
    for (char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters are not allowed in XML 1.0.
            if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        }
    }
}

void svg_number(std::string& out, double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    out += buf;
}

void svg_point(std::string& out, char command, QPointF p) {
    out += command;
    svg_number(out, p.x());
    out += ' ';
    svg_number(out, p.y());
}

std::string svg_colour(PlotRgb c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}

void svg_line(std::string& out, QPointF a, QPointF b) {
    out += "<line x1=\"";
    svg_number(out, a.x());
    out += "\" y1=\"";
    svg_number(out, a.y());
    out += "\" x2=\"";
    svg_number(out, b.x());
    out += "\" y2=\"";
    svg_number(out, b.y());
    out += "\"/>\n";
}

void svg_text(std::string& out, const QRectF& row, qreal ascent, bool right, const std::string& s) {
    if (s.empty()) return;
    out += "<text x=\"";
    svg_number(out, right ? row.right() : row.left());
    out += "\" y=\"";
    svg_number(out, row.top() + ascent);
    out += right ? "\" text-anchor=\"end\">" : "\">";
    svg_escape(out, s);
    out += "</text>\n";
}

// The segments as paths, one per run of a colour; a segment that starts
// where the last ended continues its path.
void svg_segments(std::string& out, const PlotLayout& l) {
    const PlotVectors& v = plot_vectors();
    const auto& commands = plot_surface().commands();
    bool open = false;
    PlotRgb colour;
    QPointF last;
    auto segment = [&](double x0, double y0, double x1, double y1, PlotRgb c) {
        QPointF a = plot_layout_point(l, x0, y0), b = plot_layout_point(l, x1, y1);
        if (!open || !(c == colour)) {
            if (open) out += "\"/>\n";
            out += "<path stroke=\"" + svg_colour(c) + "\" d=\"";
            open = true;
            colour = c;
            svg_point(out, 'M', a);
        } else if (a != last) {
            svg_point(out, 'M', a);
        }
        svg_point(out, 'L', b);
        last = b;
    };
    if (!v.overflowed) {
        for (const PlotVector& s : v.segments)
            segment(s.x0, s.y0, s.x1, s.y1, s.colour);
    } else {
        for (const PlotCommand& c : commands)
            if (c.kind == PLOT_LINE && c.width > 1) segment(c.x0, c.y0, c.x1, c.y1, c.colour);
    }
    if (open) out += "\"/>\n";
}

} // namespace

QByteArray plot_picture_svg(const QSize& view, const QFont& font) {
    PlotLayout l = plot_layout(QSizeF(view), 1, font);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
                      std::to_string(view.width()) + "\" height=\"" +
                      std::to_string(view.height()) + "\" viewBox=\"0 0 " +
                      std::to_string(view.width()) + " " + std::to_string(view.height()) +
                      "\">\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    if (plot_surface_present() && l.valid) {
        const PlotVectors& v = plot_vectors();
        out += "<g stroke=\"#000000\" stroke-width=\"";
        svg_number(out, l.grid_width);
        out += "\" shape-rendering=\"crispEdges\">\n";
        for (int i = 0; i <= v.x_intervals; ++i) {
            qreal x = l.frame.left() + l.frame.width() * i / v.x_intervals;
            svg_line(out, QPointF(x, l.frame.top()), QPointF(x, l.frame.bottom()));
        }
        for (int i = 0; i <= v.y_intervals; ++i) {
            qreal y = l.frame.bottom() - l.frame.height() * i / v.y_intervals;
            svg_line(out, QPointF(l.frame.left(), y), QPointF(l.frame.right(), y));
        }
        out += "</g>\n<g fill=\"none\" stroke-width=\"";
        svg_number(out, LINE_WIDTH);
        out += "\" stroke-linecap=\"square\" stroke-linejoin=\"miter\">\n";
        svg_segments(out, l);
        out += "</g>\n<g font-family=\"";
        svg_escape(out, l.font.family().toStdString());
        out += "\" font-size=\"" + std::to_string(l.font.pixelSize()) + "\" fill=\"#000000\">\n";
        qreal ascent = QFontMetricsF(l.font).ascent();
        svg_text(out, l.top_row, ascent, false, v.y_name);
        svg_text(out, l.top_row, ascent, true, v.max_label);
        svg_text(out, l.bottom_row, ascent, false, v.min_label);
        svg_text(out, l.bottom_row, ascent, true, v.x_name);
        out += "</g>\n";
    }
    out += "</svg>\n";
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

} // namespace tarvex
