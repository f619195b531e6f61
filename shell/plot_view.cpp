// The plot view's widget, in the plot tab or the plot dock. It draws the
// engine's full-precision record at its own size. A left-button click in the
// dock reads out the plot point at the centre of the pixel under it; the
// compact layout's plot tab keeps the handheld's tap, mapped back to the
// surface pixel the click stands for.
#include "shell/plot_view.h"

#include "core/guard.h"
#include "frontend/frontend.h"
#include "plot/plot.h"
#include "plot/qt/plot_paint.h"
#include "plot/qt/plot_picture.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/window_layout.h"
#include "webfile/web_file.h"

#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QWidget>

namespace tarvex {

namespace {

// While a run plots, the view catches up at most this often: a run can
// change its cells many thousand times a second, and the picture it shows
// cannot be taken in faster anyway.
constexpr qint64 REPAINT_EVERY_MS = 50;
// The most one paint spends drawing segments; the rest follows in the next
// passes of the event loop (a resize over a million long segments would
// otherwise hold the window for seconds).
constexpr qint64 PAINT_BUDGET_MS = 40;

// The largest PNG side offered: 8,192 pixels square is a 256 MB image.
constexpr int EXPORT_SIDE_MAX = 8192;
// Exported at the view's size when the view has none to speak of (the
// compact layout's plot tab while another tab shows).
constexpr int EXPORT_SIDE_MIN = 100;
const QSize EXPORT_FALLBACK_SIZE(480, 400);

const char* const EQUAL_AXES_KEY = "plot/equal_axes";

QElapsedTimer g_last_repaint;

class PlotView : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (!plot_picture_paint(picture_, p, QSizeF(size()), devicePixelRatioF(), font(),
                                PAINT_BUDGET_MS))
            update();
    }

    // Only a view the user can see takes taps (a hidden plot tab does not).
    void mousePressEvent(QMouseEvent* ev) override {
        if (ev->button() != Qt::LeftButton || !isVisible()) {
            QWidget::mousePressEvent(ev);
            return;
        }
        PlotLayout layout = plot_layout(QSizeF(size()), devicePixelRatioF(), font());
        if (layout_compact()) {
            QPoint s = plot_layout_tap(layout, ev->position());
            engine_guard([&] { plot_tap(s.x(), s.y()); });
            return;
        }
        QPointF f = plot_layout_fractions(layout, ev->position());
        engine_guard([&] { plot_read_out(f.x(), f.y()); });
    }

    void contextMenuEvent(QContextMenuEvent* ev) override {
        QMenu menu(this);
        plot_view_fill_menu(menu);
        menu.exec(ev->globalPos());
    }

  private:
    PlotPicture picture_;
};

} // namespace

QWidget* plot_view_create(QWidget* parent) {
    auto* view = new PlotView(parent);
    view->setObjectName("plot_area");
    view->setAutoFillBackground(true);
    QPalette white = view->palette();
    white.setColor(QPalette::Window, Qt::white);
    view->setPalette(white);
    plot_picture_set_equal_axes(user_settings().value(EQUAL_AXES_KEY, false).toBool());
    return view;
}

void plot_view_repaint() {
    QWidget* w = shell_windows().plot;
    if (!w) return;
    if (plot_active() && g_last_repaint.isValid() && g_last_repaint.elapsed() < REPAINT_EVERY_MS) {
        w->update(); // painted when the run next lets events through, or after it
        return;
    }
    w->repaint();
    g_last_repaint.start();
}

void plot_view_fill_menu(QMenu& menu) {
    QAction* save = menu.addAction("Save Plot As...");
    QObject::connect(save, &QAction::triggered, &menu, [] { plot_view_save_as(); });
    QAction* equal = menu.addAction("Equal Axes");
    equal->setCheckable(true);
    equal->setChecked(plot_picture_equal_axes());
    QObject::connect(equal, &QAction::toggled, &menu,
                     [](bool on) { plot_view_set_equal_axes(on); });
}

void plot_view_set_equal_axes(bool on) {
    plot_picture_set_equal_axes(on);
    user_settings().setValue(EQUAL_AXES_KEY, on);
    if (QWidget* w = shell_windows().plot) w->update();
}

QSize plot_view_export_size() {
    QWidget* w = shell_windows().plot;
    QSize s = w ? w->size() : QSize();
    if (s.width() < EXPORT_SIDE_MIN || s.height() < EXPORT_SIDE_MIN) return EXPORT_FALLBACK_SIZE;
    return s;
}

std::string plot_view_suggested_name() {
    const std::string& web = web_file_name();
    if (web.empty()) return "plot.png";
    QFileInfo info(QString::fromStdString(web));
    return (info.dir().filePath(info.completeBaseName()) + ".png").toStdString();
}

namespace {

// What the PNG is drawn as: the surface itself, or the view's picture at a
// size.
struct PngChoice {
    bool cancelled = false;
    bool surface = false;
    QSize size;
};

// Asks which size the PNG has: the view's, the surface's, or one typed in.
PngChoice ask_png_size() {
    QSize view = plot_view_export_size();
    QDialog dialog(shell_windows().plot ? shell_windows().plot->window() : nullptr);
    dialog.setWindowTitle("Plot Image Size");
    auto* grid = new QGridLayout(&dialog);
    auto* at_view =
        new QRadioButton(QString("The plot's size, %1 x %2").arg(view.width()).arg(view.height()));
    auto* at_surface = new QRadioButton(QString("%1 x %2, as tarvex-run --plot writes it")
                                            .arg(PLOT_SURFACE_WIDTH)
                                            .arg(PLOT_SURFACE_HEIGHT));
    auto* chosen = new QRadioButton("Width and height:");
    at_view->setObjectName("plot_size_view");
    at_surface->setObjectName("plot_size_surface");
    chosen->setObjectName("plot_size_chosen");
    at_view->setChecked(true);
    auto* width = new QSpinBox;
    auto* height = new QSpinBox;
    width->setObjectName("plot_width");
    height->setObjectName("plot_height");
    for (auto [box, value] : {std::pair{width, view.width()}, std::pair{height, view.height()}}) {
        box->setRange(EXPORT_SIDE_MIN, EXPORT_SIDE_MAX);
        box->setValue(value);
        box->setEnabled(false);
        QObject::connect(chosen, &QRadioButton::toggled, box, &QSpinBox::setEnabled);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    grid->addWidget(at_view, 0, 0, 1, 3);
    grid->addWidget(at_surface, 1, 0, 1, 3);
    grid->addWidget(chosen, 2, 0);
    grid->addWidget(width, 2, 1);
    grid->addWidget(height, 2, 2);
    grid->addWidget(buttons, 3, 0, 1, 3);
    PngChoice c;
    if (!dialog_run(DLG_PLOT_SIZE, dialog)) {
        c.cancelled = true;
    } else if (at_surface->isChecked()) {
        c.surface = true;
    } else {
        c.size = chosen->isChecked() ? QSize(width->value(), height->value()) : view;
    }
    return c;
}

} // namespace

bool plot_view_save_as() {
    std::string name = dialog_save_plot_name(plot_view_suggested_name());
    if (name.empty()) return false;
    QString path = QString::fromStdString(name);
    if (QFileInfo(path).suffix().isEmpty()) path += ".png";
    QWidget* w = shell_windows().plot;
    QFont font = w ? w->font() : QFont();
    bool written;
    if (QFileInfo(path).suffix().compare("svg", Qt::CaseInsensitive) == 0) {
        QFile file(path);
        QByteArray svg = plot_picture_svg(plot_view_export_size(), font);
        written = file.open(QIODevice::WriteOnly) && file.write(svg) == svg.size() && file.flush();
    } else {
        PngChoice c = ask_png_size();
        if (c.cancelled) return false;
        written = c.surface ? plot_write_png(path)
                            : plot_picture_render(c.size, 1, font).save(path, "PNG");
    }
    if (written) return true;
    status_flash("Cannot write the plot image");
    return false;
}

} // namespace tarvex
