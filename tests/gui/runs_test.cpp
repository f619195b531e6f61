// Runs driven by keys on the focused widget: the console's output, the
// lock-out of the commands that would change the web under a run, input,
// Stop and a script error's marks; the plot view at the sizes the window
// gives it; the docks beside the editors (Values, Links, the web map),
// clicked where things are drawn; and the debugger.
#include "gui_test_support.h"

#include "core/value.h"
#include "io/input_stream.h"
#include "plot/plot.h"
#include "plot/plot_clip.h"
#include "plot/qt/plot_paint.h"
#include "plot/qt/plot_picture.h"
#include "shell/breakpoints.h"
#include "shell/completion.h"
#include "shell/plot_view.h"
#include "shell/web_map.h"
#include "shell/window_layout.h"
#include "web/links.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include <fstream>
#include <functional>
#include <set>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

QsciScintilla* script() { return shell_windows().script; }

long sci(unsigned msg, unsigned long w = 0, long l = 0) {
    return script()->SendScintilla(msg, w, l);
}

long markers_on(long line) {
    return sci(QsciScintillaBase::SCI_MARKERGET, static_cast<unsigned long>(line));
}

bool paused_mark_on(long line) {
    long want = (1 << MARKER_PAUSE) | (1 << MARKER_PAUSE_LINE);
    return (markers_on(line) & want) == want;
}

bool error_marked(long pos) {
    return sci(QsciScintillaBase::SCI_INDICATORVALUEAT, INDICATOR_ERROR, pos) != 0;
}

QsciScintilla* console() { return shell_windows().console; }

long console_sci(unsigned msg, long w = 0) {
    return console()->SendScintilla(msg, static_cast<unsigned long>(w));
}

std::string line_of_console(long line) {
    long start = console_sci(QsciScintillaBase::SCI_POSITIONFROMLINE, line);
    long end = console_sci(QsciScintillaBase::SCI_GETLINEENDPOSITION, line);
    return editor_bytes(console()).substr(size_t(start), size_t(end - start));
}

// Runs home's script with the console shown, as a user watching it does,
// and about 900 pixels wide: the window is made wider by what the docks
// beside the console take, measured again until they have been laid out.
void run_script(const std::string& script) {
    QMainWindow* window = shell_windows().main;
    shell_show_view(VIEW_CONS);
    QTRY_VERIFY((window->resize(window->width() + 900 - console()->width(), 680),
                 console()->width() > 800));
    set_pane(VIEW_SCRIPT, script);
    key(Qt::Key_5, Qt::ControlModifier);
    key(Qt::Key_F5);
    QCOMPARE(shell_current_view(), VIEW_CONS);
}

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

QListWidget* list(const char* name) { return shell_windows().main->findChild<QListWidget*>(name); }
QTableWidget* values() { return shell_windows().main->findChild<QTableWidget*>("values_table"); }

// A click on the row with that text, where the row is drawn.
void click_row(QListWidget* l, const QString& text) {
    QList<QListWidgetItem*> found = l->findItems(text, Qt::MatchExactly);
    QVERIFY2(found.size() == 1, qPrintable(text));
    QRect r = l->visualItemRect(found.first());
    QVERIFY(!r.isEmpty());
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, r.center());
}

int value_row(const QString& name) {
    for (int row = 0; row < values()->rowCount(); ++row)
        if (values()->item(row, 0) && values()->item(row, 0)->text() == name) return row;
    return -1;
}
QString value_shown(const QString& name) {
    int row = value_row(name);
    return row < 0 || !values()->item(row, 1) ? QString("<no row>")
                                              : values()->item(row, 1)->text();
}
// Whether the focus is in a value's editor.
bool editing_value() {
    QWidget* f = QApplication::focusWidget();
    return qobject_cast<QLineEdit*>(f) && values()->isAncestorOf(f);
}
void double_click_value(const QString& name, int column) {
    int row = value_row(name);
    QVERIFY2(row >= 0, qPrintable(name));
    QTableWidget* t = values();
    QRect r = t->visualItemRect(t->item(row, column));
    QVERIFY(!r.isEmpty());
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, r.center());
}

std::vector<CellHandle> trail() {
    std::vector<CellHandle> r;
    back_iterate_start();
    for (CellHandle c = back_iterate_next(); c != 0; c = back_iterate_next())
        r.push_back(c);
    return r;
}

// Longer than two idle ticks.
constexpr int TICKS_MS = 2 * IDLE_TICK_MS + 500;

std::set<std::string> names_drawn() {
    std::set<std::string> names;
    for (QGraphicsItem* item : web_map_view()->scene()->items())
        if (auto* label = dynamic_cast<QGraphicsSimpleTextItem*>(item))
            names.insert(label->text().toStdString());
    return names;
}

QGraphicsPathItem* box_of(const char* name) {
    for (QGraphicsItem* item : web_map_view()->scene()->items())
        if (item->data(0).toString() == name) return dynamic_cast<QGraphicsPathItem*>(item);
    return nullptr;
}

struct EdgeCount {
    int solid = 0, dashed = 0;
};

// Edges are the path items that are not boxes.
EdgeCount edges_drawn() {
    EdgeCount n;
    for (QGraphicsItem* item : web_map_view()->scene()->items()) {
        auto* path = dynamic_cast<QGraphicsPathItem*>(item);
        if (!path || path->data(0).isValid()) continue;
        (path->pen().style() == Qt::DashLine ? n.dashed : n.solid)++;
    }
    return n;
}

// Waits for the layout the last idle tick may have started.
void settle() {
    QTest::qWait(IDLE_TICK_MS + 200);
    QTRY_VERIFY(!web_map_layout_running());
}

void click_box(const char* name) {
    QGraphicsPathItem* box = box_of(name);
    QVERIFY(box);
    QGraphicsView* view = web_map_view();
    view->ensureVisible(box);
    QPoint at = view->mapFromScene(box->sceneBoundingRect().center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// The lines (0-based) that hold a breakpoint marker, on or off.
std::vector<long> marked_lines() {
    std::vector<long> lines;
    long mask = (1 << MARKER_BREAK) | (1 << MARKER_BREAK_OFF);
    for (long l = sci(QsciScintillaBase::SCI_MARKERNEXT, 0, mask); l >= 0;
         l = sci(QsciScintillaBase::SCI_MARKERNEXT, static_cast<unsigned long>(l + 1), mask))
        lines.push_back(l);
    return lines;
}

// Where the breakpoints are, as "cell:line" (1-based).
QStringList listed() {
    QStringList r;
    for (const LineBreakpoint& b : breakpoints_list())
        r << QString("%1:%2").arg(QString::fromStdString(cell_name_string(b.cell))).arg(b.line);
    return r;
}

// A click in the symbol margin beside line (0-based).
void click_margin(long line) {
    long x = sci(QsciScintillaBase::SCI_GETMARGINLEFT);
    for (int m = 0; m < MARGIN_SYMBOLS; ++m)
        x += sci(QsciScintillaBase::SCI_GETMARGINWIDTHN, static_cast<unsigned long>(m));
    long pos = sci(QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    long y = sci(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0, pos);
    QTest::mouseClick(script()->viewport(), Qt::LeftButton, {}, QPoint(int(x) + 6, int(y) + 4));
}

// The script pane focused, its caret at the start of line (0-based).
void caret_to_line(int line) {
    click_pane(VIEW_SCRIPT);
    key(Qt::Key_Home, Qt::ControlModifier);
    for (int i = 0; i < line; ++i)
        key(Qt::Key_Down);
}

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

QListWidget* stack_list() { return shell_windows().main->findChild<QListWidget*>("stack_list"); }

} // namespace

class RunsTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

    // The key opens and closes the map, whatever has the focus.
    void toggle_map() {
        QTRY_VERIFY(focused());
        key(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    }

    // The window at size, with the plot view shown by its key, the other
    // docks closed till the test ends; the view's picture as it paints it.
    // In the desktop layout the window takes the screen's width and the
    // plot's dock, alone beside the editors, about the size's.
    QImage show_plot_at(QSize size) {
        for (QDockWidget* d : window_->findChildren<QDockWidget*>())
            if (d != dock("plot_dock") && d->isVisible()) {
                d->close();
                closed_.push_back(d);
            }
        if (layout_compact()) {
            window_->resize(size);
        } else {
            window_->move(0, 0);
            window_->resize(QGuiApplication::primaryScreen()->availableGeometry().width(),
                            size.height());
            window_->resizeDocks({dock("plot_dock")}, {size.width() - 60}, Qt::Horizontal);
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

    // In the dock the pixel holding each plot point (x, y) reads out that
    // point within half a pixel (text nullptr), the origin and the corners,
    // at pixel centres, exactly; in the compact layout's tab a click reads
    // out the surface pixel (x, y) of the point under it.
    void check_read_outs(const Seen& f) {
        struct Target {
            double x, y;
            const char* text;
        };
        const bool tap = layout_compact();
        const std::vector<Target> targets =
            tap ? std::vector<Target>{{80, 80, "( 0 , 0 )"},
                                      {0, 0, "( -5 , -5 )"},
                                      {16, 144, "( -4 , 4 )"},
                                      {104, 40, "( 1.5 , -2.5 )"},
                                      {160, 160, "( 5 , 5 )"}}
                : std::vector<Target>{{0, 0, "( 0 , 0 )"}, {-5, -5, "( -5 , -5 )"},
                                      {5, 5, "( 5 , 5 )"}, {-5, 5, "( -5 , 5 )"},
                                      {-1, 1, nullptr},    {1.5, -2.5, nullptr},
                                      {4.2, -3.7, nullptr}};
        qreal half_x = 5 / (f.right - f.left), half_y = 5 / (f.bottom - f.top);
        qreal per_x = (f.right - f.left) / 160, per_y = (f.bottom - f.top) / 160;
        for (const Target& t : targets) {
            status_line_show("");
            QPointF at = value_point(f, t.x, t.y);
            if (tap)
                click_plot(QPointF(f.left + (t.x + 0.5) * per_x, f.bottom - (t.y + 2.5) * per_y)
                               .toPoint());
            else
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

    void reset_layout() {
        for (QAction* a : menu_titled(window_, "&View")->actions())
            if (a->text().remove('&') == "Reset Layout") a->trigger();
        QTest::qWait(50);
    }

  private slots:
    // The wrap measure is checked with the web's proportional font, where
    // narrow and wide characters differ.
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-runs-tests");
        QSettings(user_organization(), "Tarvex").remove("breakpoints");
        QSettings(user_organization(), "Tarvex").setValue("editor/fixed_width_code", false);
        window_open_active();
        window_->resize(1200, 900);
        for (const char* name : {"stack_dock", "values_dock", "links_dock"})
            show_dock(name);
        QVERIFY(dock("web_map") && !dock("web_map")->isVisible());
    }

    void init() {
        fresh_web(true);
        QVERIFY(QTest::qWaitForWindowActive(window_));
    }

    // The docks the plot's tests closed.
    void cleanup() {
        for (QDockWidget* d : closed_)
            d->show();
        closed_.clear();
    }

    void cleanupTestCase() { window_close(window_); }

    // First: a flashed message outranks the pointer while it shows. Output
    // written behind another tab is pointed to until the console is shown,
    // unless the user asked for the console to come up by itself.
    void outputBehindAnotherTabIsPointedToOrShown() {
        QAction* bring_up = window_->findChild<QAction*>("show_console_on_output");
        QVERIFY(bring_up && !bring_up->isChecked());
        for (bool shown : {false, true}) {
            if (shown) bring_up->trigger();
            QCOMPARE(console_shows_on_output(), shown);
            // The desktop layout keeps the console in sight unless its dock
            // is closed.
            if (!layout_compact()) close_dock("console_dock");
            set_pane(VIEW_SCRIPT, "out('hello')");
            key(Qt::Key_2, Qt::ControlModifier);
            run_key();
            QVERIFY(console_text().find("hello") != std::string::npos);
            if (!shown) {
                QCOMPARE(shell_current_view(), VIEW_TEXT);
                QCOMPARE(QString::fromStdString(status()), QString(OUTPUT_IN_CONS_TEXT));
                // Other tabs do not end it; the console does.
                key(Qt::Key_1, Qt::ControlModifier);
                QCOMPARE(QString::fromStdString(status()), QString(OUTPUT_IN_CONS_TEXT));
                key(Qt::Key_5, Qt::ControlModifier);
            }
            QCOMPARE(shell_current_view(), VIEW_CONS);
            QVERIFY(console()->isVisible());
            QVERIFY(status() != OUTPUT_IN_CONS_TEXT);
            // A run watched on the console says nothing of it.
            run_key();
            QVERIFY(status() != OUTPUT_IN_CONS_TEXT);
        }
        // A habit of the user: it outlives the web.
        g_answers.push_back(no());
        key(Qt::Key_N, Qt::ControlModifier);
        QVERIFY(bring_up->isChecked());
        bring_up->trigger();
    }

    // F9 on a line in a loop; F5 pauses there before the line runs, F5
    // again one round later, F10 one statement on; each pause has the
    // paused status and the line marked. First, while no flashed message
    // (a save's, a refusal's) hides the status of a pause.
    void f5PausesAtABreakpointAndF10Steps() {
        make_cell("i");
        make_cell("x");
        set_pane(VIEW_SCRIPT, "for (i = 1 to 3) {\r\n  out('round ', i, ' ')\r\n  set x to i\r\n}");
        caret_to_line(1);
        key(Qt::Key_F9);
        std::vector<std::string> consoles, statuses;
        std::vector<long> marks;
        auto seen = [&] {
            consoles.push_back(console_text());
            statuses.push_back(status());
            marks.push_back(pane_pause_mark_line());
        };
        when(run_breakpoint_pause, [&] {
            seen();
            key(Qt::Key_F5);
            when([&] { return run_breakpoint_pause() && has(console_text(), "round 1"); },
                 [&] {
                     seen();
                     key(Qt::Key_F10);
                     when([&] { return run_breakpoint_pause() && pane_pause_mark_line() == 2; },
                          [&] {
                              seen();
                              key(Qt::Key_F5, Qt::ShiftModifier);
                          });
                 });
        });
        run_key(Qt::Key_F5);
        QCOMPARE(marks, (std::vector<long>{1, 1, 2}));
        // (The compact layout points to output waiting behind the script's
        // tab instead.)
        for (const std::string& s : statuses)
            QVERIFY2(s == "Paused In Breakpoint..." ||
                         (layout_compact() && s == OUTPUT_IN_CONS_TEXT),
                     s.c_str());
        QVERIFY(!has(consoles[0], "round"));
        QVERIFY(has(consoles[1], "round 1") && !has(consoles[1], "round 2"));
        QVERIFY(has(consoles[2], "round 2"));
        // Ctrl+F5 runs past the breakpoint.
        run_key(Qt::Key_F5, Qt::ControlModifier);
        QVERIFY(has(console_text(), "round 3"));

        // F9 while a long loop runs stops it at that line.
        set_pane(VIEW_SCRIPT, "for (i = 1 to 10000000) {\r\n  set x to i\r\n}");
        caret_to_line(1);
        key(Qt::Key_F9); // the breakpoint left from above goes
        QCOMPARE(listed(), QStringList{});
        long paused_at = -1;
        when(run_active, [] { key(Qt::Key_F9); });
        when(run_breakpoint_pause, [&] {
            paused_at = pane_pause_mark_line();
            key(Qt::Key_F5, Qt::ShiftModifier);
        });
        run_key(Qt::Key_F5);
        QCOMPARE(paused_at, 1L);
        QVERIFY(value_display(cell_value(cell_find("i"))) != "10000000");
    }

    // A recursion gives a row per call with its argument (the cell-name
    // box's list, a row per run of calls to one cell); a click on an outer
    // one shows its script with the caret and the mark on the call without
    // recording a visit, and the run goes on from where it paused. Not
    // paused, the list holds a note that a click leaves alone.
    void callStackListsEachFrameWithItsArguments() {
        make_cell("fact", "",
                  "if (%1 > 1) {\r\n  fact(%1 - 1)\r\n} else {\r\n  brk('bottom')\r\n}");
        set_pane(VIEW_SCRIPT, "fact(3)\r\nout('done')");
        const QStringList note{"Not paused at a brk"};
        QTRY_COMPARE(texts(stack_list()), note);
        QStringList paused, in_box;
        int mark_line = -1, caret_line = -1, visits = -1;
        std::string shown;
        when(run_breakpoint_pause, [&] {
            QTRY_COMPARE(stack_list()->count(), 4);
            paused = texts(stack_list());
            in_box = box_list();
            QVERIFY(QTest::qWaitForWindowActive(shell_windows().main));
            focus_current();
            visits = back_count();
            click_row(stack_list(), "fact(3)");
            visits = back_count() - visits;
            shown = current_name();
            mark_line = int(pane_pause_mark_line());
            int index = 0;
            script()->getCursorPosition(&caret_line, &index);
            key(Qt::Key_F5);
        });
        run_key(Qt::Key_F5);
        QCOMPARE(paused, (QStringList{"fact(1)", "fact(2)", "fact(3)", "home"}));
        QCOMPARE(in_box, (QStringList{"fact", "home"}));
        QCOMPARE(shown, std::string("fact"));
        QCOMPARE(visits, 0);
        QCOMPARE(mark_line, 1);
        QCOMPARE(caret_line, 1);
        QVERIFY(has(console_text(), "done"));
        QTRY_COMPARE(texts(stack_list()), note);
        shown = current_name();
        click_row(stack_list(), note[0]);
        QCOMPARE(current_name(), shown);
    }

    // A click in the margin and F9 set and remove breakpoints; they ride
    // with their lines through an edit above them and a visit elsewhere,
    // and stepping keys are refused while nothing is paused.
    void breakpointsToggleAndMoveWithTheirLines() {
        set_pane(VIEW_SCRIPT, "out(1)\r\nout(2)\r\nout(3)\r\nout(4)");
        click_margin(1);
        QCOMPARE(listed(), QStringList{"home:2"});
        QCOMPARE(marked_lines(), std::vector<long>{1});
        click_margin(1);
        QCOMPARE(listed(), QStringList{});
        QCOMPARE(marked_lines(), std::vector<long>{});
        caret_to_line(3);
        key(Qt::Key_F9);
        click_margin(1);
        QCOMPARE(listed(), (QStringList{"home:2", "home:4"}));
        key(Qt::Key_F10);
        QCOMPARE(status(), std::string(NOT_PAUSED_TEXT));

        // Two lines put in above both.
        caret_to_line(0);
        type("out(0)");
        key(Qt::Key_Return);
        key(Qt::Key_Return);
        QCOMPARE(marked_lines(), (std::vector<long>{3, 5}));
        QCOMPARE(listed(), (QStringList{"home:4", "home:6"}));
        auto* table = window_->findChild<QTableWidget*>("breakpoints_table");
        QCOMPARE(table->item(1, 1)->text(), QString("6"));

        box_enter("other");
        QCOMPARE(marked_lines(), std::vector<long>{});
        key(Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(marked_lines(), (std::vector<long>{3, 5}));
        QVERIFY(web_modified()); // by the typing, not by the breakpoints

        // The dock's box switches one off (a hollow marker), its button
        // removes them all.
        QDockWidget* dock = workbench_dock("breakpoints_dock");
        dock->show();
        dock->raise();
        QTRY_VERIFY(table->isVisible());
        QRect box = table->visualItemRect(table->item(0, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                          QPoint(box.left() + 10, box.center().y()));
        QVERIFY(!breakpoints_list()[0].enabled && breakpoints_list()[1].enabled);
        QCOMPARE(sci(QsciScintillaBase::SCI_MARKERGET, 3), 1L << MARKER_BREAK_OFF);
        auto* remove_all = dock->findChild<QPushButton*>("breakpoint_remove_all");
        QTest::mouseClick(remove_all, Qt::LeftButton);
        QCOMPARE(listed(), QStringList{});
        QCOMPARE(marked_lines(), std::vector<long>{});
    }

    // Kept in the user's settings under the web file, not in the file;
    // setting one marks nothing modified; on reopening, one on a cell that
    // is gone or past its script's end is dropped.
    void breakpointsAreKeptPerWebFile() {
        QString path = dir_.filePath("kept.tvx");
        set_pane(VIEW_SCRIPT, "out(1)\r\nout(2)\r\nout(3)");
        make_cell("other", "", "out(9)");
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, path.toStdString());
        QVERIFY(!web_modified());
        click_margin(2);
        QVERIFY(!web_modified());
        QCOMPARE(listed(), QStringList{"home:3"});

        dispatch_command(CMD_NEW_WEB);
        QCOMPARE(listed(), QStringList{});
        dispatch_command(CMD_OPEN, NOTE_NONE, path.toStdString());
        QCOMPARE(listed(), QStringList{"home:3"});
        QCOMPARE(marked_lines(), std::vector<long>{2});
        QVERIFY(!file_bytes(path).contains("reakpoint"));

        // Rows written by an older session of the web.
        QSettings settings(user_organization(), "Tarvex");
        settings.beginGroup("breakpoints");
        QStringList keys = settings.childKeys();
        QCOMPARE(keys.size(), 1);
        settings.setValue(keys[0], QStringList{"1\t3\thome\t", "1\t4\thome\t", "1\t1\tgone\t",
                                               "0\t1\tother\tx > 1"});
        settings.sync();
        dispatch_command(CMD_NEW_WEB);
        dispatch_command(CMD_OPEN, NOTE_NONE, path.toStdString());
        QCOMPARE(listed(), (QStringList{"home:3", "other:1"}));
        std::vector<LineBreakpoint> kept = breakpoints_list();
        QVERIFY(!kept[1].enabled);
        QCOMPARE(kept[1].condition, std::string("x > 1"));
        QVERIFY(!web_modified());
    }

    // Resting the mouse on a cell name shows its value; on a builtin, its
    // arguments.
    void hoverTipsShowValuesAndArguments() {
        make_cell("total");
        cell_set_value_text(cell_find("total"), "42");
        set_pane(VIEW_SCRIPT, "out(total)\r\nsqrt(4)");
        std::string text = pane_text(VIEW_SCRIPT);
        for (auto [word, tip] :
             {std::pair{"total", "total = 42"}, {"sqrt", "sqrt("}, {"total", "total = 42"}}) {
            QTest::mouseMove(script()->viewport(), QPoint(2, 200));
            QTRY_COMPARE(completion_tip_shown(), std::string());
            QPoint at = point_of(script(), long(text.find(word)) + 1);
            QTest::mouseMove(script()->viewport(), at);
            QTRY_VERIFY2(has(completion_tip_shown(), tip), word);
        }
    }

    // A value typed into the dock while paused is what the script reads
    // when it goes on; it is a number when it reads as one, and the web is
    // marked changed.
    void valueEditedWhilePausedReachesTheResumedRun() {
        CellHandle x = cell_create("x");
        cell_set_value_text(x, "1");
        set_pane(VIEW_SCRIPT, "brk('p')\r\nout('x+1=', x + 1, ' ', home)");
        web_set_modified(false);
        bool was_editing = false;
        when(run_breakpoint_pause, [&] {
            QTRY_COMPARE(value_shown("x"), QString("1"));
            double_click_value("x", 1);
            QTRY_VERIFY(editing_value());
            was_editing = true;
            type("9"); // replaces the whole value, selected as the editor opens
            key(Qt::Key_A, Qt::ControlModifier); // the editor's select-all, not a pane's
            type("41");
            key(Qt::Key_Return);
            QTRY_COMPARE(value_shown("x"), QString("41"));
            // The paused cell is the one the panes show: its value pane
            // follows an edit made in the dock.
            double_click_value("home", 1);
            QTRY_VERIFY(editing_value());
            type("seven");
            key(Qt::Key_Return); // the editor commits once the key is handled
            QTRY_COMPARE(editor_bytes(shell_windows().value), std::string("seven"));
            key(Qt::Key_R, Qt::AltModifier);
        });
        run_key(Qt::Key_B, Qt::AltModifier);
        QVERIFY(was_editing);
        QVERIFY2(has(console_text(), "x+1=42 seven"), console_text().c_str());
        QVERIFY(web_modified());

        // Not paused: a double click on a value edits nothing.
        double_click_value("x", 1);
        QVERIFY(!editing_value());
        QCOMPARE(value_display(cell_value(x)), std::string("41"));
    }

    // A run started on the text tab leaves another cell's string value
    // readable in the dock: long ones cut with the whole in the tooltip,
    // line ends shown as a mark. A double click on a name visits the cell.
    void stringValuesOfOtherCellsAfterARun() {
        cell_create("greeting");
        cell_create("long_one");
        cell_create("k");
        cell_set_value_text(cell_create("two_lines"), "up\r\ndown");
        set_pane(VIEW_SCRIPT, "set greeting to 'hello there'\r\nset long_one to ''\r\n"
                              "for (k = 1 to 400) {set long_one to long_one cat 'ab'}");
        key(Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        run_key();
        QTRY_COMPARE(value_shown("greeting"), QString("hello there"));
        QTRY_COMPARE(value_shown("long_one").size(), DOCK_VALUE_ROW_MAX + 1);
        QString longer = value_shown("long_one");
        QVERIFY(longer.startsWith("abab") && longer.endsWith(QChar(0x2026)));
        QCOMPARE(values()->item(value_row("long_one"), 1)->toolTip().size(), 800);
        QCOMPARE(value_shown("two_lines"), QString("up") + QChar(0x21b5) + "down");

        std::vector<CellHandle> before = trail();
        double_click_value("greeting", 0);
        QCOMPARE(current_name(), std::string("greeting"));
        QCOMPARE(trail().size(), before.size() + 1);
    }

    // During a long run the dock shows the values as they change, without
    // waiting for the end.
    void valuesFollowARunningScript() {
        cell_create("n");
        set_pane(VIEW_SCRIPT, "for (n = 1 to 2000000) {out(n, ' ')}");
        QString seen;
        when(
            [] { return run_active() && value_shown("n") != "" && value_shown("n") != "<no row>"; },
            [&] {
                seen = value_shown("n");
                key(Qt::Key_F5, Qt::ShiftModifier);
            });
        key(Qt::Key_F5);
        QTRY_VERIFY_WITH_TIMEOUT(!run_active(), 30000);
        QVERIFY(!seen.isEmpty());
        QVERIFY(seen.toDouble() >= 1 && seen.toDouble() < 2000000);
    }

    // Links here / from here of the current cell, from texts and scripts;
    // a click visits; a committed edit shows without a move.
    void linksHereAndFromHere() {
        CellHandle a = cell_create("alpha"), b = cell_create("beta");
        cell_create("gamma");
        cell_set_text(cell_root(), "see alpha, Beta and alpha again");
        cell_set_script(a, "gamma = home + 1");
        cell_set_text(b, "nothing");
        reshow_current();
        QListWidget* here = list("links_here");
        QListWidget* from = list("links_from");
        QTRY_COMPARE(texts(from), (QStringList{"alpha", "beta"}));
        QCOMPARE(texts(here), QStringList{"alpha"});

        click_row(from, "alpha");
        QCOMPARE(current_name(), std::string("alpha"));
        QCOMPARE(trail().front(), cell_root()); // a visit, as a link click
        QTRY_COMPARE(texts(here), QStringList{"home"});
        QCOMPARE(texts(from), (QStringList{"gamma", "home"}));

        // A text typed and committed by a tab switch, no move.
        shell_show_view(VIEW_TEXT);
        type("and beta");
        key(Qt::Key_4, Qt::ControlModifier);
        QTRY_COMPARE(texts(from), (QStringList{"beta", "gamma", "home"}));

        click_row(here, "home");
        QCOMPARE(current_name(), std::string("home"));
        QTRY_COMPARE(texts(here), QStringList{"alpha"});
    }

    // A text longer than the link scanner reads: the pane shades it from
    // the mark on and links nothing there, and the dock lists what the
    // scanner read and says so; a text of LINK_TEXT_MAX has neither.
    void linksOfALongTextStopAtTheMark() {
        cell_create("x");
        cell_create("y");
        link_refresh();
        set_pane(VIEW_TEXT, std::string(LINK_TEXT_MAX - 2, '-'));
        click_pane(VIEW_TEXT);
        // y is the first character past the mark; a tab switch commits.
        type("x y");
        key(Qt::Key_4, Qt::ControlModifier);
        QListWidget* from = list("links_from");
        auto* label = shell_windows().main->findChild<QLabel*>("links_from_label");
        QVERIFY(label);
        QTRY_COMPARE(label->text(),
                     QString("Links from here (read from the text's first 4,095 characters only)"));
        QCOMPARE(texts(from), QStringList{"x"});
        key(Qt::Key_2, Qt::ControlModifier);
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        auto shaded = [t](long pos) {
            return t->SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, INDICATOR_LINK_LIMIT,
                                    pos) != 0;
        };
        const long mark = long(LINK_TEXT_MAX);
        QCOMPARE(style_at(t, mark - 2), STYLE_LINK);
        QCOMPARE(style_at(t, mark), STYLE_PLAIN);
        QVERIFY(shaded(mark) && !shaded(mark - 1));

        key(Qt::Key_Backspace); // y goes: nothing lies past the mark
        key(Qt::Key_4, Qt::ControlModifier);
        QTRY_COMPARE(label->text(), QString("Links from here"));
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        QVERIFY(!shaded(mark - 1));
    }

    // While a run is paused, writes output or waits for input, the keys of
    // the commands that would change the web are refused, and nothing is
    // asked; each state has refusals of its own, and a key that ends it.
    void keysObeyTheLockOut() {
        struct Press {
            int key;
            Qt::KeyboardModifiers mods;
            int command; // from its menu instead, when there is no key
            const char* refusal;
        };
        const char* LOCKED = "Operation locked out";
        std::vector<Press> changing;
        for (int k : {Qt::Key_N, Qt::Key_O, Qt::Key_S, Qt::Key_P, Qt::Key_Q, Qt::Key_F, Qt::Key_H})
            changing.push_back({k, Qt::ControlModifier, 0, LOCKED});
        for (int k : {Qt::Key_N, Qt::Key_C, Qt::Key_D, Qt::Key_T})
            changing.push_back({k, Qt::AltModifier, 0, LOCKED});
        const char* RUNNING = "Script already running";
        struct Case {
            bool to_brk; // started by Run to Brk
            const char* script;
            std::function<bool()> state;
            std::vector<Press> own;
            const char* left_out; // output the ending key keeps from being written
            const char* ended;    // the status line, or output, after the ending key
        } cases[] = {
            {true, "brk('p') out('after')", run_breakpoint_pause, {}, "after", "Run halted"},
            {false,
             "for (i = 1 to 200000) { out('line of output ') }",
             [] { return run_active() && output_pump_active(); },
             {{Qt::Key_F5, {}, 0, RUNNING},
              {Qt::Key_Left, Qt::AltModifier, 0, LOCKED},
              {0, {}, CMD_REPORT, LOCKED},
              {0, {}, CMD_HELP_OVERVIEW, LOCKED}},
             "",
             "Run halted"},
            {false,
             "in('v? ', i) out('got input')",
             input_wait,
             {{Qt::Key_F5, {}, 0, RUNNING}, {0, {}, CMD_HELP_OVERVIEW, "Waiting for input"}},
             "got input",
             "Input Aborted"},
        };
        make_cell("i");
        for (const Case& c : cases) {
            set_pane(VIEW_SCRIPT, c.script);
            g_seen.clear();
            std::vector<Press> presses = changing;
            presses.insert(presses.end(), c.own.begin(), c.own.end());
            std::vector<std::string> expected, refused;
            for (const Press& p : presses)
                expected.push_back(p.refusal);
            int cells = cell_table_count();
            when(c.state, [&] {
                for (const Press& p : presses) {
                    status_line_show("");
                    if (p.command)
                        menu_command(p.command);
                    else
                        key(p.key, p.mods);
                    refused.push_back(status());
                }
                key(Qt::Key_F5, Qt::ShiftModifier);
            });
            run_key(c.to_brk ? Qt::Key_B : Qt::Key_R, Qt::AltModifier);
            QCOMPARE(refused, expected);
            QVERIFY2(g_seen.empty(), c.script);
            QCOMPARE(cell_table_count(), cells);
            QVERIFY2(status() == c.ended || has(console_text(), c.ended), c.script);
            if (*c.left_out) QVERIFY(console_text().find(c.left_out) == std::string::npos);
            QCOMPARE(current_name(), std::string("home"));
        }
    }

    // The mark is on the paused brk's line, moves with Run to Brk and goes
    // when Run lets the script finish or Stop ends it, and no other is put.
    void pausedLineIsMarkedUntilTheRunGoesOn() {
        const struct {
            int key;
            Qt::KeyboardModifiers mods;
            std::vector<long> marked;
            char written, not_written; // by the rest of the run
        } cases[] = {{Qt::Key_B, Qt::AltModifier, {1, 3}, 'y', 0},
                     {Qt::Key_R, Qt::AltModifier, {1}, 'y', 0},
                     {Qt::Key_F5, Qt::ShiftModifier, {1}, 0, 'x'}};
        for (const auto& c : cases) {
            set_pane(VIEW_SCRIPT, "out('a')\r\n  brk('p')\r\nout('x')\r\nbrk('q')\r\nout('y')");
            console()->clear();
            QCOMPARE(pane_pause_mark_line(), -1L);
            std::vector<long> marked;
            bool only_one = true;
            std::function<void()> paused = [&] {
                QCOMPARE(shell_current_view(), VIEW_SCRIPT);
                const long at = pane_pause_mark_line();
                marked.push_back(at);
                for (long line = 0; line < 5; ++line)
                    only_one =
                        only_one && (line == at ? paused_mark_on(line) : markers_on(line) == 0);
                bool first = marked.size() == 1;
                if (marked.size() < c.marked.size())
                    when([at] { return run_breakpoint_pause() && pane_pause_mark_line() != at; },
                         paused);
                key(first ? c.key : Qt::Key_F5, first ? c.mods : Qt::NoModifier);
            };
            when(run_breakpoint_pause, paused);
            run_key(Qt::Key_B, Qt::AltModifier);
            QCOMPARE(marked, c.marked);
            QVERIFY(only_one);
            QCOMPARE(pane_pause_mark_line(), -1L);
            for (long line = 0; line < 5; ++line)
                QCOMPARE(markers_on(line), 0L);
            if (c.written) QVERIFY(console_text().find(c.written) != std::string::npos);
            if (c.not_written) QVERIFY(console_text().find(c.not_written) == std::string::npos);
        }
    }

    // A cell picked in the list while paused is shown until the run goes
    // on; when it goes on (here to wait for input), after Stop and at the
    // end, the list, the name box and the docks show the same cell.
    void viewsAgreeOnTheCurrentCellThroughARun() {
        make_cell("apple");
        make_cell("v");
        make_cell("inner", "", "brk('p')");
        set_pane(VIEW_TEXT, "apple");
        set_pane(VIEW_SCRIPT, "inner!\r\nin('v? ', v)");
        auto disagreeing = [] {
            std::string name = current_name();
            QTreeWidget* cells = shell_windows().list;
            std::string why;
            if (!cells->currentItem() || cells->currentItem()->text(0).toStdString() != name)
                why += " list";
            if (shell_windows().name_box->currentText().toStdString() != name) why += " box";
            if (values()->currentRow() < 0 ||
                values()->item(values()->currentRow(), 0)->text().toStdString() != name)
                why += " values";
            if (list("links_from")->findItems("apple", Qt::MatchExactly).isEmpty() ==
                (name == "home"))
                why += " links";
            return why;
        };
        // What is shown, once the docks' refresh has had its moment.
        std::string seen;
        auto look = [&] {
            (void)QTest::qWaitFor([&] { return disagreeing().empty(); }, 500);
            seen += current_name() + disagreeing() + ";";
        };
        when(run_breakpoint_pause, [&] {
            look();
            key(Qt::Key_1, Qt::ControlModifier);
            auto* list = shell_windows().list;
            QTreeWidgetItem* apple = list->findItems("apple", Qt::MatchExactly).value(0);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualItemRect(apple).center());
            look();
            key(Qt::Key_R, Qt::AltModifier);
        });
        when(input_wait, [&] {
            look();
            key(Qt::Key_F5, Qt::ShiftModifier);
        });
        run_key(Qt::Key_B, Qt::AltModifier);
        look();
        QCOMPARE(QString::fromStdString(seen), QString("inner;apple;home;home;"));
    }

    // Lines typed into the console at the prompts reach the cells; an empty
    // entry below is Stop, which ends the input.
    void typedLinesReachTheCells() {
        const struct {
            const char* script;
            std::vector<QString> lines;
            std::vector<std::pair<const char*, const char*>> values;
            const char* output;
        } cases[] = {
            {"in('Value? ', x) out(x*2)", {"21"}, {{"x", "21"}}, "42"},
            // Two values at one prompt: the first line is not sent twice.
            {"in('Two values? ', x, y)", {"1", "2"}, {{"x", "1"}, {"y", "2"}}, ""},
            {"in('First? ', x) in('Second? ', x) out('got ', x)",
             {"5", ""},
             {{"x", "5"}},
             "Input Aborted"},
        };
        make_cell("x");
        make_cell("y");
        for (const auto& c : cases) {
            set_pane(VIEW_SCRIPT, c.script);
            size_t next = 0;
            std::function<void()> answer = [&] {
                QCOMPARE(shell_current_view(), VIEW_CONS);
                key(Qt::Key_5, Qt::ControlModifier); // the console takes the keys
                if (c.lines[next].isEmpty()) {
                    key(Qt::Key_F5, Qt::ShiftModifier);
                } else {
                    type(c.lines[next]);
                    key(Qt::Key_Return);
                }
                if (++next < c.lines.size()) when(input_wait, answer);
            };
            when(input_wait, answer);
            run_key();
            QCOMPARE(next, c.lines.size());
            for (auto [cell, value] : c.values)
                QCOMPARE(value_display(cell_value(cell_find(cell))), std::string(value));
            QVERIFY2(console_text().find(c.output) != std::string::npos, console_text().c_str());
        }
        // The typed text keeps the plain style; the prompt is output.
        QCOMPARE(style_at(console(), long(console_text().find("5"))), STYLE_PLAIN);
        QCOMPARE(style_at(console(), long(console_text().find("First"))), STYLE_OUTPUT);
    }

    // The failing token is selected in its cell (shown at once, or when the
    // cell is visited), its line gets the message as a note and the error
    // symbol in the margin, and the status line says where it is.
    void aScriptErrorIsMarkedWhereItHappened() {
        struct Case {
            bool called;               // the script is callee's, which home calls
            std::string script, token; // the token is found from the end
            long line;
            const char* status;
        };
        const Case cases[] = {
            {false, "out(1)\r\nset q to q + ) ", ")", 1, "Invalid expression (line 2, column 14)"},
            // A comment right after the token is not part of it.
            {true, "set q to 1 + *# star\r\nout(q)", "*", 0,
             "Invalid expression (line 1, column 14)"},
            {true, "set q to 1\r\nset q to q + 1\r\n  out(q / )\r\n", ")", 2,
             "Invalid expression (line 3, column 11)"},
            // After comments, at the end of the script.
            {true, "# set up\r\nset q to 2 # two\r\nset q to q * (3 +", "", 2,
             "Unexpected end of script (line 3, column 18)"},
        };
        make_cell("q");
        make_cell("r");
        auto expect_marked = [](const Case& c) {
            long start = c.token.empty() ? long(c.script.size()) : long(c.script.rfind(c.token));
            long end = start + long(c.token.size());
            QCOMPARE(shell_current_view(), VIEW_SCRIPT);
            QCOMPARE(selection(script()), std::make_pair(start, end));
            if (end > start) QVERIFY(error_marked(start) && !error_marked(start - 2));
            QCOMPARE(note_on(script(), c.line), c.status);
            QVERIFY(markers_on(c.line) & (1 << MARKER_ERROR));
            QCOMPARE(note_on(script(), c.line == 0 ? 1 : 0), std::string());
        };
        for (const Case& c : cases) {
            if (c.called) {
                go("callee");
                set_pane(VIEW_SCRIPT, c.script);
                dispatch_command(CMD_BACK);
            }
            set_pane(VIEW_SCRIPT, c.called ? "set r to callee!" : c.script);
            run_key();
            QCOMPARE(status(), std::string(c.status));
            QCOMPARE(current_name(), std::string("home"));
            if (c.called) box_enter("callee");
            expect_marked(c);
            if (c.called) key(Qt::Key_Left, Qt::AltModifier);
        }
        // Visiting another cell and coming back keeps the marks.
        const long at = long(cases[0].script.rfind(')'));
        set_pane(VIEW_SCRIPT, cases[0].script);
        run_key();
        box_enter("q");
        QVERIFY(!error_marked(at));
        QCOMPARE(note_on(script(), 1), std::string());
        key(Qt::Key_Left, Qt::AltModifier);
        expect_marked(cases[0]);
        // Editing the script takes them away.
        click_pane(VIEW_SCRIPT);
        type(" ");
        QVERIFY(!error_marked(at));
        QCOMPARE(note_on(script(), 1), std::string());
        QCOMPARE(markers_on(1) & (1 << MARKER_ERROR), 0L);
        QVERIFY(!pane_error_showing());
        // A run that ends well, or by exit, leaves the selection alone.
        set_pane(VIEW_SCRIPT, "set q to 1 exit");
        set_sel(script(), 2, 3);
        run_key();
        QCOMPARE(selection(script()), std::make_pair(2L, 3L));
    }

    // Long output arrives whole, in the output style with the caret at its
    // end, and wraps only where a line does not fit.
    void longOutputArrivesWholeAndWrapsOnlyWhatDoesNotFit() {
        run_script("for (home = 1 to 3000) {out('line ', home, ' of the output\\n')}");
        QCOMPARE(console_sci(QsciScintillaBase::SCI_GETLINECOUNT), 3001L);
        QCOMPARE(line_of_console(0), std::string("line 1 of the output"));
        QVERIFY(line_of_console(2999).find(" of the output") != std::string::npos);
        long length = console_sci(QsciScintillaBase::SCI_GETLENGTH);
        QCOMPARE(console_sci(QsciScintillaBase::SCI_GETCURRENTPOS), length);
        for (long pos : {0L, length / 2, length - 1})
            QCOMPARE(int(console_sci(QsciScintillaBase::SCI_GETSTYLEAT, pos)), STYLE_OUTPUT);
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);

        run_script(
            "out('short\\n') for (home = 1 to 40) {out('wwwwwwwwww')} out('\\nshort again')");
        QCOMPARE(line_of_console(1), std::string(400, 'w'));
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapWord);
        // The next run starts on an empty console, with short lines only.
        run_script("out('short\\n')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        // Many narrow characters fit where as many wide ones would not.
        std::string narrow(120, 'i');
        QVERIFY(console()->SendScintilla(
                    QsciScintillaBase::SCI_TEXTWIDTH, static_cast<unsigned long>(STYLE_OUTPUT),
                    std::string(120, 'W').c_str()) > console()->viewport()->width());
        run_script("out('" + narrow + "')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        QCOMPARE(line_of_console(0), narrow);
        // Tabs count to their stops: a few fit, forty do not.
        run_script("out('" + std::string(4, '\t') + "x')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        run_script("out('" + std::string(40, '\t') + "x')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapWord);
    }

    // The console is brought up to date during a run, not only at its end,
    // and Stop arrives: by Shift+F5 while output streams in (its status:
    // keysObeyTheLockOut), by Alt+S in a loop with no output and no
    // statement, where the run still lets the window handle events.
    void outputShowsWhileItStreamsAndStopEndsIt() {
        long seen = 0;
        when([] { return run_active() && output_pump_active() && console()->length() > 0; },
             [&] {
                 seen = console()->length();
                 key(Qt::Key_F5, Qt::ShiftModifier);
             },
             5);
        run_script("for (home = 1 to 10000000) {out('line ', home, ' of a long run\\n')}");
        QVERIFY(seen > 0);
        QVERIFY(seen < console()->length());
        set_pane(VIEW_SCRIPT, "while (1) {}");
        when(run_active, [] { key(Qt::Key_S, Qt::AltModifier); });
        run_key();
        QCOMPARE(status(), std::string("Run halted"));
    }

    // What fitted wraps once it no longer does: typed on at the prompt (the
    // idle tick looks at what was typed), zoomed in, or in a narrower window.
    void whatNoLongerFitsWraps() {
        const unsigned long zoom = console_sci(QsciScintillaBase::SCI_GETZOOM);
        const std::pair<std::string, std::function<void()>> cases[] = {
            {"out('typed below:\\n')", [] { type(QString(200, 'k')); }},
            {"for (home = 1 to 20) {out('sixty characters of text in every line of this "
             "console pane.\\n')}",
             [] {
                 for (int i = 0; i < 20; ++i)
                     key(Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
             }},
            {"for (home = 1 to 50) {out('forty characters of text in every line.\\n')}",
             [this] { window_->resize(250, 680); }},
        };
        for (const auto& [script, act] : cases) {
            console()->SendScintilla(QsciScintillaBase::SCI_SETZOOM, zoom);
            run_script(script);
            QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
            click_pane(VIEW_CONS);
            act();
            QTRY_COMPARE_WITH_TIMEOUT(console()->wrapMode(), QsciScintilla::WrapWord, 3000);
        }
    }

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
                check_read_outs(f);
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
            dock("plot_dock")->close();
        QVERIFY(!plot_widget()->isVisible());
        QTest::mouseClick(plot_widget(), Qt::LeftButton, {}, QPoint(100, 100));
        QCOMPARE(status_line_text(), std::string("marker"));
    }

    // While a run is paused the points so far are drawn; the rest follow
    // when it goes on.
    void pointsShowWhileTheRunIsPaused() {
        // A web that plots x against y, paused half way.
        std::string web = dir_.filePath("plot.tvx").toStdString();
        std::ofstream(web)
            << "<opts><pltng>on</pltng><xycells>x,y</xycells></opts><cell><cname>home"
               "</cname><script>set x to -4 set y to -4 set x to 4 set y to 4 brk("
               "'half') set x to 4 set y to -4</script></cell><cell><cname>x</cname>"
               "</cell><cell><cname>y</cname></cell>\n</eof>\n";
        dispatch_command(CMD_OPEN, NOTE_NONE, web);
        QCOMPARE(web_display_name(), std::string("plot"));
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
    void saveAsWritesPngAndSvgEqualAxesIsKeptAndErasingLeavesTheFrame() {
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
            answer_from_queue(no());
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

        // The menu's Equal Axes is kept per user, for the view the next start
        // makes.
        QAction* equal = menu.actions().last();
        QCOMPARE(equal->text(), QString("Equal Axes"));
        QVERIFY(!equal->isChecked());
        equal->trigger();
        QVERIFY(plot_picture_equal_axes());
        QVERIFY(QSettings(user_organization(), "Tarvex").value("plot/equal_axes").toBool());
        plot_picture_set_equal_axes(false);
        delete plot_view_create(nullptr);
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
        QDockWidget* map = dock("web_map");
        QTRY_VERIFY(map->isVisible() && map->height() >= 250);
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
        map->setFloating(true);
        map->resize(1000, 760);
        QTRY_VERIFY(fits() && view->transform().m11() > docked);
        qreal fitted = view->transform().m11();
        for (auto [name, bigger] :
             {std::pair{"web_map_zoom_in", true}, std::pair{"web_map_zoom_out", false}}) {
            qreal before = view->transform().m11();
            map->findChild<QAction*>(name)->trigger();
            QCOMPARE(view->transform().m11() > before, bigger);
        }
        map->findChild<QAction*>("web_map_zoom_in")->trigger();
        QVERIFY(!fits());
        map->findChild<QAction*>("web_map_fit")->trigger();
        QCOMPARE(view->transform().m11(), fitted);
        map->setFloating(false);
        map->close();
    }

    // After the other docks' tests, which the map would crowd, and the
    // plot's, whose map test opens it from closed.
    void everyCellIsABoxAndAClickVisitsIt() {
        key(Qt::Key_1, Qt::ControlModifier);
        toggle_map();
        QVERIFY(dock("web_map")->isVisible());
        go("alpha");
        set_pane(VIEW_TEXT, "back to home and on to beta");
        go("beta");
        set_pane(VIEW_SCRIPT, "set alpha to 1");
        key(Qt::Key_Left, Qt::AltModifier);
        settle();
        QCOMPARE(names_drawn(), (std::set<std::string>{"alpha", "beta", "home"}));
        EdgeCount e = edges_drawn();
        QCOMPARE(e.solid, 2);  // alpha -> home, alpha -> beta
        QCOMPARE(e.dashed, 1); // beta's script -> alpha

        // A click on a box visits its cell.
        QCOMPARE(current_name(), std::string("alpha"));
        QColor before = box_of("alpha")->brush().color();
        click_box("home");
        QCOMPARE(current_name(), std::string("home"));
        // The highlight moved with it, and the visit is in the history.
        QCOMPARE(box_of("home")->brush().color(), before);
        QVERIFY(box_of("alpha")->brush().color() != before);
        key(Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(current_name(), std::string("alpha"));
        // A click beside every box does nothing.
        QTest::mouseClick(web_map_view()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QCOMPARE(current_name(), std::string("alpha"));
    }

    void followsNewCellsLinksAndDeletionsButLaysOutOnlyWhenShownAndChanged() {
        settle();
        QCOMPARE(names_drawn(), (std::set<std::string>{"home"}));
        // A link typed into the text pane shows before it is copied back.
        go("leaf");
        key(Qt::Key_Left, Qt::AltModifier);
        set_pane(VIEW_TEXT, "see leaf");
        QTRY_COMPARE_WITH_TIMEOUT(edges_drawn().solid, 1, TICKS_MS);
        QCOMPARE(names_drawn(), (std::set<std::string>{"home", "leaf"}));
        // Removing the link removes the edge.
        set_pane(VIEW_TEXT, "see nothing");
        QTRY_COMPARE_WITH_TIMEOUT(edges_drawn().solid, 0, TICKS_MS);
        // Deleting a cell (Alt+D, asked first) removes its box and its row,
        // and the cell before it is current.
        go("leaf");
        g_answers.push_back(yes());
        key(Qt::Key_D, Qt::AltModifier);
        QVERIFY(seen(DLG_OK_CANCEL, "Delete current cell?"));
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(shell_windows().list->topLevelItemCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(names_drawn(), (std::set<std::string>{"home"}), TICKS_MS);

        // Unchanged or hidden, it is not laid out again.
        go("other");
        key(Qt::Key_Left, Qt::AltModifier);
        settle();
        int layouts = web_map_layout_count();
        QTest::qWait(TICKS_MS);
        QCOMPARE(web_map_layout_count(), layouts);
        // Neither is a move of the current cell, or an edit that keeps the links.
        go("other");
        set_pane(VIEW_TEXT, "no names in here");
        QTest::qWait(TICKS_MS);
        QCOMPARE(web_map_layout_count(), layouts);
        QVERIFY(box_of("other")->brush() != box_of("home")->brush());

        // Hidden, it does no work: closed from the script pane, where the
        // editor has keys of its own.
        set_pane(VIEW_SCRIPT, "");
        key(Qt::Key_4, Qt::ControlModifier);
        toggle_map();
        QVERIFY(!dock("web_map")->isVisible());
        layouts = web_map_layout_count();
        go("unseen");
        QTest::qWait(TICKS_MS);
        QCOMPARE(web_map_layout_count(), layouts);
        // Shown again, it catches up at once.
        toggle_map();
        QVERIFY(dock("web_map")->isVisible());
        QTRY_VERIFY(names_drawn().count("unseen") == 1);
    }
};

QTEST_MAIN(RunsTest)
#include "runs_test.moc"
