// The plot view at the sizes the window gives it, driven by real keys and
// clicks: the frame fills the view with its grid at the same plot values, a
// known segment lies where the frame puts it, the points show while a run
// is paused, a click reads out the plot point under it as the surface's own
// tap does for that point, and the plot is exported and erased.
#include "gui_test_support.h"

#include "plot/plot.h"
#include "plot/plot_clip.h"
#include "plot/qt/plot_paint.h"
#include "script/run_engine.h"
#include "shell/plot_view.h"

#include <QApplication>
#include <QDockWidget>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>

#include <fstream>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

constexpr QRgb BLACK = 0xFF000000;

QWidget* plot_widget() { return shell_windows().plot; }

// Whether p is (about) the plot's line colour.
bool pen_like(QRgb p) {
    PlotRgb pen = plot_pen_colour();
    return std::abs(qRed(p) - pen.r) + std::abs(qGreen(p) - pen.g) + std::abs(qBlue(p) - pen.b) <
           100;
}

// Whether the line passes through the pixel holding p or one beside it.
bool red_at(const QImage& image, QPointF p) {
    QPoint c(int(std::floor(p.x())), int(std::floor(p.y())));
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (pen_like(image.pixel(c + QPoint(dx, dy)))) return true;
    return false;
}

// Two window sizes that fit the screen (a click beyond it finds no widget),
// as different in shape as they can be.
std::vector<QSize> two_sizes() {
    QSize screen = QGuiApplication::primaryScreen()->availableGeometry().size();
    return {QSize(screen.width() * 95 / 100, screen.height() * 80 / 100),
            QSize(screen.width() * 60 / 100, screen.height() * 95 / 100)};
}

// The frame as the picture shows it: the centres of its outer grid lines,
// found from the pixels alone, and the columns of the vertical lines.
struct Seen {
    qreal left = 0, right = 0, top = 0, bottom = 0;
    std::vector<int> columns;
};

// Black pixels along a row between two horizontal grid lines (the default
// five intervals put none at the middle) and down the middle column.
Seen find_frame(const QImage& image) {
    Seen s;
    int mid_y = image.height() / 2, mid_x = image.width() / 2;
    for (int x = 0; x < image.width(); ++x)
        if (image.pixel(x, mid_y) == BLACK) s.columns.push_back(x);
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y)
        if (image.pixel(mid_x, y) == BLACK) rows.push_back(y);
    if (s.columns.empty() || rows.empty()) return s;
    s.left = s.columns.front() + 0.5, s.right = s.columns.back() + 0.5;
    s.top = rows.front() + 0.5, s.bottom = rows.back() + 0.5;
    return s;
}

// Where plot values (vx, vy) lie in the seen frame, with the default
// limits of -5 to 5.
QPointF value_point(const Seen& f, double vx, double vy) {
    return QPointF(f.left + (vx + 5) / 10 * (f.right - f.left),
                   f.bottom - (vy + 5) / 10 * (f.bottom - f.top));
}

// A real click at pos in the plot view, sent to the widget under it.
void click_plot(QPoint pos) {
    QPoint global = plot_widget()->mapToGlobal(pos);
    QWidget* under = QApplication::widgetAt(global);
    QCOMPARE(under, plot_widget());
    QTest::mouseClick(under, Qt::LeftButton, {}, under->mapFromGlobal(global));
}

// Pixels of the picture in (about) the plot's line colour.
int pen_pixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += pen_like(image.pixel(x, y));
    return n;
}

} // namespace

class PlotTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

    // Opens a web whose home script is script, with cells x and y.
    void open_web(const char* script) {
        std::string path = dir_.filePath("plot.tvx").toStdString();
        std::ofstream(path) << "<opts><pltng>on</pltng><xycells>x,y</xycells></opts>"
                               "<cell><cname>home</cname><script>"
                            << script
                            << "</script></cell><cell><cname>x</cname></cell>"
                               "<cell><cname>y</cname></cell>\n</eof>\n";
        dispatch_command(CMD_OPEN, NOTE_NONE, path);
        QCOMPARE(web_display_name(), std::string("plot"));
    }

    // The window at size, with the plot view shown by its key; the view's
    // picture as it paints it.
    // In the desktop layout the window takes the screen's width and the
    // plot's dock, alone beside the editors, about the size's.
    QImage show_plot_at(QSize size) {
        if (layout_compact()) {
            window_->resize(size);
        } else {
            window_->move(0, 0);
            window_->resize(QGuiApplication::primaryScreen()->availableGeometry().width(),
                            size.height());
            for (QDockWidget* d : window_->findChildren<QDockWidget*>())
                if (d != plot_dock() && d->isVisible()) {
                    d->close();
                    closed_.push_back(d);
                }
            window_->resizeDocks({plot_dock()}, {size.width() - 60}, Qt::Horizontal);
        }
        key(Qt::Key_6, Qt::ControlModifier);
        QTest::qWait(30);
        return plot_widget()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    void open_curve() {
        dispatch_command(CMD_OPEN, NOTE_NONE, TARVEX_SOURCE_DIR "/examples/curve.tvx");
        QCOMPARE(web_display_name(), std::string("curve"));
        key(Qt::Key_F5);
        QTRY_VERIFY(!run_active());
    }

    std::vector<QDockWidget*> closed_;
    QDockWidget* plot_dock() { return window_->findChild<QDockWidget*>("plot_dock"); }

  private slots:
    void initTestCase() { window_open_active(); }

    void init() {
        fresh_web();
        status_line_show("");
    }

    void cleanup() {
        for (QDockWidget* d : closed_)
            d->show();
        closed_.clear();
    }

    void cleanupTestCase() { window_close(window_); }

    void frameFillsTheViewAndASegmentLiesWhereItSays() {
        open_web("set x to -4 set y to -4 set x to 4 set y to 2");
        key(Qt::Key_F5);
        QTRY_VERIFY(!run_active());
        QSize seen_sizes[2];
        int label_heights[2];
        int round = 0;
        for (QSize size : two_sizes()) {
            QImage image = show_plot_at(size);
            QCOMPARE(image.size(), plot_widget()->size());
            seen_sizes[round] = image.size();
            Seen f = find_frame(image);
            // The frame fills the view but for the label rows.
            QVERIFY2(f.left < 20 && f.right > image.width() - 20,
                     qPrintable(QString::number(f.left)));
            QVERIFY(f.top < 50 && f.bottom > image.height() - 50);
            // Six evenly spaced vertical lines: the grid at -5, -3, .. 5.
            QCOMPARE(int(f.columns.size()), 6);
            for (int i = 0; i <= 5; ++i)
                QVERIFY(std::abs(f.columns[i] + 0.5 - (f.left + (f.right - f.left) * i / 5)) <= 1);
            // The segment from (-4, -4) to (4, 2), on its line and only there.
            for (double t : {0.1, 0.25, 0.5, 0.75, 0.9}) {
                QPointF on = value_point(f, -4 + 8 * t, -4 + 6 * t);
                QVERIFY2(red_at(image, on), qPrintable(QString::number(t)));
                QVERIFY(!red_at(image, on + QPointF(0, 5)));
                QVERIFY(!red_at(image, on - QPointF(0, 5)));
            }
            // It ends where its points are.
            QVERIFY(red_at(image, value_point(f, -3.9, -3.925)));
            QVERIFY(!red_at(image, value_point(f, -4.5, -4.375)));
            QVERIFY(!red_at(image, value_point(f, 4.5, 2.375)));
            // The labels above the frame are as tall at any size.
            int first = -1, last = -1;
            for (int y = 0; y < int(f.top) - 1; ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (qGray(image.pixel(x, y)) < 128) {
                        if (first < 0) first = y;
                        last = y;
                        break;
                    }
            QVERIFY(first >= 0);
            label_heights[round++] = last - first;
        }
        QVERIFY(seen_sizes[0].width() != seen_sizes[1].width());
        QVERIFY(seen_sizes[0].height() != seen_sizes[1].height());
        QCOMPARE(label_heights[0], label_heights[1]);
        QVERIFY(label_heights[0] >= 6);
    }

    // The read-out of a click is the surface tap's for the surface pixel of
    // the plot point under it: px along the frame from its left edge, and
    // py two pixels short of its height up from the bottom edge.
    void clickReadsOutThePointUnderItAtTwoSizes() {
        open_curve();
        struct Target {
            int px, py;
            const char* text;
        };
        const Target targets[] = {{80, 80, "( 0 , 0 )"},
                                  {0, 0, "( -5 , -5 )"},
                                  {16, 144, "( -4 , 4 )"},
                                  {104, 40, "( 1.5 , -2.5 )"},
                                  {160, 160, "( 5 , 5 )"}};
        for (QSize size : two_sizes()) {
            Seen f = find_frame(show_plot_at(size));
            QVERIFY(f.right > f.left);
            qreal per_x = (f.right - f.left) / 160, per_y = (f.bottom - f.top) / 160;
            QVERIFY(per_x > 2 && per_y > 2); // a whole-pixel click can hit each
            for (const Target& t : targets) {
                status_line_show("");
                QPointF at(f.left + (t.px + 0.5) * per_x, f.bottom - (t.py + 2.5) * per_y);
                click_plot(at.toPoint());
                QCOMPARE(QString::fromStdString(status_line_text()), QString(t.text));
            }
            // Just off the frame at the left, and on its bottom edge: nothing.
            status_line_flash("marker");
            click_plot(QPointF(f.left - 2, (f.top + f.bottom) / 2).toPoint());
            click_plot(QPointF((f.left + f.right) / 2, f.bottom).toPoint());
            QCOMPARE(status_line_text(), std::string("marker"));
            // Only the left button reads out.
            QPoint mid = QPointF((f.left + f.right) / 2, (f.top + f.bottom) / 2).toPoint();
            QTest::mouseClick(plot_widget(), Qt::RightButton, {}, mid);
            QCOMPARE(status_line_text(), std::string("marker"));
        }
        // Hidden behind another view (compact) or with its dock closed, the
        // plot takes no clicks.
        {
            if (layout_compact())
                key(Qt::Key_1, Qt::ControlModifier);
            else
                plot_dock()->close();
            QVERIFY(!plot_widget()->isVisible());
            QTest::mouseClick(plot_widget(), Qt::LeftButton, {}, QPoint(100, 100));
            QCOMPARE(status_line_text(), std::string("marker"));
        }
    }

    // While a run is paused the points so far are drawn; the rest follow
    // when it goes on.
    void pointsShowWhileTheRunIsPaused() {
        open_web("set x to -4 set y to -4 set x to 4 set y to 4 brk('half') "
                 "set x to 4 set y to -4");
        QImage start = show_plot_at(two_sizes()[0]);
        Seen f = find_frame(start);
        QPointF first = value_point(f, 0, 0), second = value_point(f, 4, 0);
        QImage at_pause;
        when(run_breakpoint_pause, [&] {
            at_pause = plot_widget()->grab().toImage();
            key(Qt::Key_F5);
        });
        key(Qt::Key_B, Qt::AltModifier);
        QTRY_VERIFY(!run_active());
        QVERIFY(!at_pause.isNull());
        QVERIFY(red_at(at_pause, first));
        QVERIFY(!red_at(at_pause, second));
        QImage image = plot_widget()->grab().toImage();
        QVERIFY(red_at(image, first));
        QVERIFY(red_at(image, second));
    }

    // The export writes the surface itself; ErasePlot (Ctrl+E) leaves the
    // frame only.
    void exportWritesTheSurfaceAndErasingLeavesTheFrame() {
        open_curve();
        QMenu menu;
        plot_view_fill_menu(menu);
        QCOMPARE(menu.actions().size(), 1);
        QCOMPARE(menu.actions().first()->text(), QString("Save Plot As..."));
        g_answers.push_back(named(dir_.filePath("curve").toStdString()));
        menu.actions().first()->trigger();
        QCOMPARE(g_seen.back().kind, DLG_SAVE);
        QCOMPARE(g_seen.back().caption, std::string("Save Plot As"));
        QCOMPARE(g_seen.back().text, std::string(TARVEX_SOURCE_DIR "/examples/curve.png"));
        QImage written(dir_.filePath("curve.png"));
        QCOMPARE(written.size(), QSize(PLOT_SURFACE_WIDTH, PLOT_SURFACE_HEIGHT));
        QCOMPARE(written.convertToFormat(QImage::Format_RGB32),
                 plot_render_image(1.0).convertToFormat(QImage::Format_RGB32));
        QVERIFY(pen_pixels(written) > 100);
        // A file that cannot be written says so.
        g_answers.push_back(named(dir_.filePath("missing/folder/p.png").toStdString()));
        menu.actions().first()->trigger();
        QCOMPARE(status_line_text(), std::string("Cannot write the plot image"));

        key(Qt::Key_6, Qt::ControlModifier);
        QVERIFY(pen_pixels(plot_widget()->grab().toImage()) > 200);
        key(Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(pen_pixels(plot_widget()->grab().toImage()), 0);
        QVERIFY(plot_surface_present());
    }
};

QTEST_MAIN(PlotTest)
#include "plot_test.moc"
