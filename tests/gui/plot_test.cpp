// The plot view at the sizes the window gives it, driven by real keys and
// clicks: the frame fills the view, a click reads out the plot point under
// it as the surface's own tap does for that point, the points show while a
// run is paused, and the plot is exported and erased.
#include "gui_test_support.h"

#include "plot/plot.h"
#include "plot/plot_clip.h"
#include "plot/qt/plot_paint.h"
#include "plot/qt/plot_picture.h"
#include "shell/plot_view.h"
#include "shell/web_map.h"
#include "shell/window_layout.h"

#include <QFileInfo>
#include <QGraphicsView>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QXmlStreamReader>

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
        run_key();
    }

    std::vector<QDockWidget*> closed_;
    QDockWidget* plot_dock() { return window_->findChild<QDockWidget*>("plot_dock"); }

    // The pixel holding each plot point reads out that point within half a
    // pixel; the origin and the corners, at pixel centres, exactly.
    void check_exact_read_outs(const Seen& f) {
        struct Target {
            double x, y;
            const char* text; // exact, or nullptr
        };
        const Target targets[] = {{0, 0, "( 0 , 0 )"}, {-5, -5, "( -5 , -5 )"},
                                  {5, 5, "( 5 , 5 )"}, {-5, 5, "( -5 , 5 )"},
                                  {-1, 1, nullptr},    {1.5, -2.5, nullptr},
                                  {4.2, -3.7, nullptr}};
        qreal half_x = 5 / (f.right - f.left), half_y = 5 / (f.bottom - f.top);
        for (const Target& t : targets) {
            status_line_show("");
            QPointF at = value_point(f, t.x, t.y);
            click_plot(QPoint(int(std::floor(at.x())), int(std::floor(at.y()))));
            QString text = QString::fromStdString(status_line_text());
            if (t.text) {
                QCOMPARE(text, QString(t.text));
                continue;
            }
            QStringList parts = text.split(' ');
            QCOMPARE(parts.size(), 5);
            // Half a pixel, and the rounding to five digits.
            QVERIFY2(std::abs(parts[1].toDouble() - t.x) <= half_x + 1e-4, qPrintable(text));
            QVERIFY2(std::abs(parts[3].toDouble() - t.y) <= half_y + 1e-4, qPrintable(text));
        }
    }

    void check_surface_taps(const Seen& f) {
        struct Target {
            int px, py;
            const char* text;
        };
        const Target targets[] = {{80, 80, "( 0 , 0 )"},
                                  {0, 0, "( -5 , -5 )"},
                                  {16, 144, "( -4 , 4 )"},
                                  {104, 40, "( 1.5 , -2.5 )"},
                                  {160, 160, "( 5 , 5 )"}};
        qreal per_x = (f.right - f.left) / 160, per_y = (f.bottom - f.top) / 160;
        for (const Target& t : targets) {
            status_line_show("");
            QPointF at(f.left + (t.px + 0.5) * per_x, f.bottom - (t.py + 2.5) * per_y);
            click_plot(at.toPoint());
            QCOMPARE(QString::fromStdString(status_line_text()), QString(t.text));
        }
    }

    void reset_layout() {
        for (QAction* a : menu_titled(window_, "&View")->actions())
            if (a->text().remove('&') == "Reset Layout") a->trigger();
        QTest::qWait(50);
    }

  private slots:
    void initTestCase() { window_open_active(); }

    void init() { fresh_web(); }

    void cleanup() {
        for (QDockWidget* d : closed_)
            d->show();
        closed_.clear();
    }

    void cleanupTestCase() { window_close(window_); }

    // In the dock a click reads out the plot point at the centre of the
    // pixel under it (the frame's edges are the centres of its outer lines);
    // the compact layout's plot tab reads out the surface pixel of the point
    // under it, px along the frame and py two pixels short of its height up.
    void clickReadsOutThePointUnderItAtTwoSizes() {
        open_curve();
        for (bool equal : {false, true}) {
            if (equal) plot_view_set_equal_axes(true);
            QSize seen[2];
            int round = 0;
            for (QSize size : two_sizes()) {
                QImage image = show_plot_at(size);
                seen[round++] = image.size();
                Seen f = find_frame(image);
                qreal width = f.right - f.left, height = f.bottom - f.top;
                // The frame fills the view (but for the label rows), or
                // with equal axes its narrower side.
                QVERIFY(width > 200 && height > 200);
                if (equal)
                    QCOMPARE(width, height);
                else
                    QVERIFY(f.left < 20 && f.right > image.width() - 20 && f.top < 50 &&
                            f.bottom > image.height() - 50);
                if (layout_compact())
                    check_surface_taps(f);
                else
                    check_exact_read_outs(f);
                // Just off the frame at the left, and under its bottom edge:
                // nothing. Only the left button reads out.
                status_line_flash("marker");
                click_plot(QPointF(f.left - 2, (f.top + f.bottom) / 2).toPoint());
                click_plot(QPointF((f.left + f.right) / 2, f.bottom + 1).toPoint());
                QPoint mid = QPointF((f.left + f.right) / 2, (f.top + f.bottom) / 2).toPoint();
                QTest::mouseClick(plot_widget(), Qt::RightButton, {}, mid);
                QCOMPARE(status_line_text(), std::string("marker"));
            }
            QVERIFY(seen[0].width() != seen[1].width() && seen[0].height() != seen[1].height());
        }
        plot_view_set_equal_axes(false);
        // Hidden behind another view (compact) or with its dock closed, the
        // plot takes no clicks.
        if (layout_compact())
            key(Qt::Key_1, Qt::ControlModifier);
        else
            plot_dock()->close();
        QVERIFY(!plot_widget()->isVisible());
        QTest::mouseClick(plot_widget(), Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(status_line_text(), std::string("marker"));
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
        run_key(Qt::Key_B, Qt::AltModifier);
        QVERIFY(!at_pause.isNull());
        QVERIFY(red_at(at_pause, first));
        QVERIFY(!red_at(at_pause, second));
        QImage image = plot_widget()->grab().toImage();
        QVERIFY(red_at(image, first));
        QVERIFY(red_at(image, second));
    }

    // File > Save Plot As writes a PNG at the plot's size, the surface's or
    // a chosen one, or an SVG drawing; ErasePlot (Ctrl+E) leaves the frame.
    void saveAsWritesPngAndSvgAndErasingLeavesTheFrame() {
        open_curve();
        show_plot_at(two_sizes()[0]);
        struct Case {
            const char* file;
            const char* choice; // the size dialog's button, nullptr: none asked
            QSize size;         // empty: the plot view's
        };
        const Case cases[] = {{"view.png", "plot_size_view", QSize()},
                              {"hand.png", "plot_size_surface", QSize(240, 200)},
                              {"big", "plot_size_chosen", QSize(640, 333)},
                              {"plot.svg", nullptr, QSize()}};
        for (const Case& c : cases) {
            std::string path = dir_.filePath(c.file).toStdString();
            dialogs_set_hook([&](const DialogRequest& r) {
                g_seen.push_back(r);
                if (r.kind == DLG_SAVE) return named(path);
                child<QRadioButton>(r, c.choice)->setChecked(true);
                child<QSpinBox>(r, "plot_width")->setValue(c.size.width());
                child<QSpinBox>(r, "plot_height")->setValue(c.size.height());
                return yes();
            });
            g_seen.clear();
            menu_command(CMD_SAVE_PLOT_AS);
            answer_from_queue(DialogAnswer{false, SAVE_NO, {}});
            QCOMPARE(g_seen.front().caption, std::string("Save Plot As"));
            QCOMPARE(g_seen.front().text, std::string(TARVEX_SOURCE_DIR "/examples/curve.png"));
            QCOMPARE(g_seen.size(), size_t(c.choice ? 2 : 1));
            QSize want = c.size.isEmpty() ? plot_widget()->size() : c.size;
            if (!c.choice) {
                QFile file(QString::fromStdString(path));
                QVERIFY(file.open(QIODevice::ReadOnly));
                QXmlStreamReader xml(&file);
                QVERIFY(xml.readNextStartElement() && xml.name() == u"svg");
                QCOMPARE(xml.attributes().value("width").toInt(), want.width());
                continue;
            }
            QImage written(QString::fromStdString(path) +
                           (QFileInfo(c.file).suffix().isEmpty() ? ".png" : ""));
            QCOMPARE(written.size(), want);
            QVERIFY(pen_pixels(written) > 100);
            if (want == QSize(240, 200))
                QCOMPARE(written.convertToFormat(QImage::Format_RGB32),
                         plot_render_image(1.0).convertToFormat(QImage::Format_RGB32));
        }
        // The context menu offers it too; a file that cannot be written says so.
        QMenu menu;
        plot_view_fill_menu(menu);
        QCOMPARE(menu.actions().first()->text(), QString("Save Plot As..."));
        g_answers.push_back(named(dir_.filePath("missing/folder/p.svg").toStdString()));
        menu.actions().first()->trigger();
        QCOMPARE(status_line_text(), std::string("Cannot write the plot image"));

        key(Qt::Key_6, Qt::ControlModifier);
        QVERIFY(pen_pixels(plot_widget()->grab().toImage()) > 200);
        key(Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(pen_pixels(plot_widget()->grab().toImage()), 0);
        QVERIFY(plot_surface_present());
    }

    void equalAxesIsKeptPerUser() {
        QMenu menu;
        plot_view_fill_menu(menu);
        QAction* equal = menu.actions().last();
        QCOMPARE(equal->text(), QString("Equal Axes"));
        QVERIFY(!equal->isChecked());
        equal->trigger();
        QVERIFY(plot_picture_equal_axes());
        QVERIFY(QSettings(user_organization(), "Tarvex").value("plot/equal_axes").toBool());
        plot_picture_set_equal_axes(false);
        delete plot_view_create(nullptr); // as the next start makes it
        QVERIFY(plot_picture_equal_axes());
        plot_view_set_equal_axes(false);
    }

    // The map opens where the plot is, at least 250 pixels high, with the
    // whole web in view; it fits again when the view grows, after Fit, and
    // zooms by its buttons.
    void mapOpensAtAUsableSizeAndFits() {
        if (layout_compact()) return; // its docks are the desktop's
        // A chain of cells, wider than the dock at first.
        for (char c = 'a'; c <= 'l'; ++c)
            make_cell(("step_" + std::string(1, c)).c_str(),
                      ("then step_" + std::string(1, c + 1)).c_str());
        window_->move(0, 0);
        window_->resize(1280, 800);
        reset_layout();
        key(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
        auto* dock = window_->findChild<QDockWidget*>("web_map");
        QTRY_VERIFY(dock->isVisible() && dock->height() >= 250);
        QGraphicsView* view = web_map_view();
        QTRY_VERIFY(!web_map_layout_running() && !view->scene()->items().isEmpty());
        auto fits = [&] {
            QRect drawn = view->mapFromScene(view->scene()->itemsBoundingRect()).boundingRect();
            QRect room = view->viewport()->rect();
            return room.contains(drawn) &&
                   (drawn.width() > room.width() * 0.8 || drawn.height() > room.height() * 0.8);
        };
        QTRY_VERIFY(fits());
        qreal docked = view->transform().m11();
        dock->setFloating(true);
        dock->resize(1000, 760);
        QTRY_VERIFY(fits() && view->transform().m11() > docked);
        qreal fitted = view->transform().m11();
        for (auto [name, bigger] :
             {std::pair{"web_map_zoom_in", true}, std::pair{"web_map_zoom_out", false}}) {
            qreal before = view->transform().m11();
            dock->findChild<QAction*>(name)->trigger();
            QCOMPARE(view->transform().m11() > before, bigger);
        }
        dock->findChild<QAction*>("web_map_zoom_in")->trigger();
        QVERIFY(!fits());
        dock->findChild<QAction*>("web_map_fit")->trigger();
        QCOMPARE(view->transform().m11(), fitted);
        dock->setFloating(false);
        dock->close();
    }
};

QTEST_MAIN(PlotTest)
#include "plot_test.moc"
