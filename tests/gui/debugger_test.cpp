// The debugger as a user drives it: breakpoints set by F9 and by clicks in
// the script margin (moving with their lines, kept per web file outside
// the web), F5 to a breakpoint and on, stepping, the call stack of a
// recursion with its arguments, and the tips over names in a script.
#include "gui_test_support.h"

#include "core/value.h"
#include "script/run_engine.h"
#include "shell/breakpoints.h"
#include "shell/completion.h"
#include "shell/window_layout.h"
#include "shell/workbench_docks.h"

#include <QDockWidget>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

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

void run_key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    key(k, mods);
    QTRY_VERIFY_WITH_TIMEOUT(!run_active(), 20000);
}

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

QListWidget* stack_list() { return shell_windows().main->findChild<QListWidget*>("stack_list"); }

QStringList rows() {
    QStringList r;
    for (int i = 0; i < stack_list()->count(); ++i)
        r << stack_list()->item(i)->text();
    return r;
}

// A click on a row of the call stack, where it is drawn.
void click_row(int row) {
    QListWidget* l = stack_list();
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
}

} // namespace

class DebuggerTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

  private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-debugger-tests");
        QSettings(user_organization(), "Tarvex").remove("breakpoints");
        window_open_active();
        window_->resize(1200, 900);
        QDockWidget* stack = workbench_dock("stack_dock");
        if (!stack->isVisible()) stack->toggleViewAction()->trigger();
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
        QTRY_COMPARE(rows(), note);
        QStringList paused, in_box;
        int mark_line = -1, caret_line = -1, visits = -1;
        std::string shown;
        when(run_breakpoint_pause, [&] {
            QTRY_COMPARE(stack_list()->count(), 4);
            paused = rows();
            in_box = box_list();
            QVERIFY(QTest::qWaitForWindowActive(shell_windows().main));
            focus_current();
            visits = back_count();
            click_row(2);
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
        QTRY_COMPARE(rows(), note);
        shown = current_name();
        click_row(0);
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
};

QTEST_MAIN(DebuggerTest)
#include "debugger_test.moc"
