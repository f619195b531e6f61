// The plot tab's widget. The engine keeps the surface as a display list;
// this widget only replays it, and turns a left-button tap into the
// engine's read-out after mapping it back to surface pixels.
#include "shell/plot_view.h"

#include "core/guard.h"
#include "frontend/frontend.h"
#include "plot/plot.h"
#include "plot/qt/plot_paint.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "webfile/web_file.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

namespace tarvex {

namespace {

class PlotView : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        paint_plot(p, QRectF(rect()), devicePixelRatioF());
    }

    void mousePressEvent(QMouseEvent* ev) override {
        if (ev->button() != Qt::LeftButton || shell_current_view() != VIEW_PLOT) {
            QWidget::mousePressEvent(ev);
            return;
        }
        QPoint s = map_tap_to_surface(ev->position(), QRectF(rect()));
        engine_guard([&] { plot_tap(s.x(), s.y()); });
    }

    void contextMenuEvent(QContextMenuEvent* ev) override {
        QMenu menu(this);
        plot_view_fill_menu(menu);
        menu.exec(ev->globalPos());
    }
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
    if (QWidget* w = shell_windows().plot) w->repaint();
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
