// The docks beside the editors, driven with keys on the focused widget and
// clicks where things are drawn: the Values (typed in while paused, shown
// after and during a run), the Links of the current cell, and the web map
// (opened by its key, a box per cell and an arrow per link, clicks on
// boxes, and following the web on the idle tick without needless layouts).
// The debugger as a user drives it: breakpoints set by F9 and by clicks in
// the script margin (moving with their lines, kept per web file outside
// the web), F5 to a breakpoint and on, stepping, the call stack of a
// recursion with its arguments, and the tips over names in a script.
#include "gui_test_support.h"

#include "core/value.h"
#include "shell/breakpoints.h"
#include "shell/completion.h"
#include "shell/web_map.h"
#include "shell/window_layout.h"
#include "web/links.h"

#include <QFile>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <set>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

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

QsciScintilla* script() { return shell_windows().script; }

long sci(unsigned msg, unsigned long w = 0, long l = 0) {
    return script()->SendScintilla(msg, w, l);
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

class DocksTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;
    QDockWidget* map_dock() const { return window_->findChild<QDockWidget*>("web_map"); }

    // The key opens and closes the map, whatever has the focus.
    void toggle_map() {
        QTRY_VERIFY(focused());
        key(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    }

  private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-docks-tests");
        QSettings(user_organization(), "Tarvex").remove("breakpoints");
        window_open_active();
        window_->resize(1200, 900);
        for (const char* name : {"stack_dock", "values_dock", "links_dock"})
            show_dock(name);
        QVERIFY(map_dock() && !map_dock()->isVisible());
    }

    void init() {
        fresh_web(true);
        QVERIFY(QTest::qWaitForWindowActive(window_));
    }

    void cleanupTestCase() { window_close(window_); }

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
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("reakpoint"));

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
        const struct {
            const char* word;
            const char* tip;
        } cases[] = {{"total", "total = 42"}, {"sqrt", "sqrt("}, {"total", "total = 42"}};
        std::string text = pane_text(VIEW_SCRIPT);
        for (const auto& c : cases) {
            QTest::mouseMove(script()->viewport(), QPoint(2, 200));
            QTRY_COMPARE(completion_tip_shown(), std::string());
            QPoint at = point_of(script(), long(text.find(c.word)) + 1);
            QTest::mouseMove(script()->viewport(), at);
            QTRY_VERIFY2(has(completion_tip_shown(), c.tip), c.word);
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
        QString shown_while_paused;
        std::string pane_shows;
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
            shown_while_paused = value_shown("x");
            // The paused cell is the one the panes show: its value pane
            // follows an edit made in the dock.
            double_click_value("home", 1);
            QTRY_VERIFY(editing_value());
            type("seven");
            key(Qt::Key_Return); // the editor commits once the key is handled
            QTRY_COMPARE(editor_bytes(shell_windows().value), std::string("seven"));
            pane_shows = editor_bytes(shell_windows().value);
            key(Qt::Key_R, Qt::AltModifier);
        });
        run_key(Qt::Key_B, Qt::AltModifier);
        QVERIFY(was_editing);
        QCOMPARE(shown_while_paused, QString("41"));
        QCOMPARE(pane_shows, std::string("seven"));
        QVERIFY2(editor_bytes(shell_windows().console).find("x+1=42 seven") != std::string::npos,
                 editor_bytes(shell_windows().console).c_str());
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

    // After the other docks' tests, which the map would crowd.
    void everyCellIsABoxAndAClickVisitsIt() {
        key(Qt::Key_1, Qt::ControlModifier);
        toggle_map();
        QVERIFY(map_dock()->isVisible());
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

    void followsNewCellsLinksAndDeletions() {
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
    }

    void anUnchangedOrHiddenMapIsNotLaidOutAgain() {
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
        QVERIFY(!map_dock()->isVisible());
        layouts = web_map_layout_count();
        go("unseen");
        QTest::qWait(TICKS_MS);
        QCOMPARE(web_map_layout_count(), layouts);
        // Shown again, it catches up at once.
        toggle_map();
        QVERIFY(map_dock()->isVisible());
        QTRY_VERIFY(names_drawn().count("unseen") == 1);
    }
};

QTEST_MAIN(DocksTest)
#include "docks_test.moc"
