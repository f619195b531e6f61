// The plot view's widget, in the plot tab or the plot dock. It draws the
// engine's full-precision record at its own size, and turns a left-button
// tap into the engine's read-out after mapping it back to the surface pixel
// it stands for.
#include "shell/plot_view.h"

#include "core/guard.h"
#include "frontend/frontend.h"
#include "plot/plot.h"
#include "plot/qt/plot_paint.h"
#include "plot/qt/plot_picture.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "webfile/web_file.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
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
        QPoint s = plot_layout_tap(layout, ev->position());
        engine_guard([&] { plot_tap(s.x(), s.y()); });
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
}

std::string plot_view_suggested_name() {
    const std::string& web = web_file_name();
    if (web.empty()) return "plot.png";
    QFileInfo info(QString::fromStdString(web));
    return (info.dir().filePath(info.completeBaseName()) + ".png").toStdString();
}

bool plot_view_save_as() {
    std::string name = dialog_save_plot_name(plot_view_suggested_name());
    if (name.empty()) return false;
    QString path = QString::fromStdString(name);
    if (QFileInfo(path).suffix().isEmpty()) path += ".png";
    if (plot_write_png(path)) return true;
    status_flash("Cannot write the plot image");
    return false;
}

} // namespace tarvex
