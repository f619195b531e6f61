// The script pane's aids and output kept in view, driven by keys on the
// focused widget: line numbers, the paused statement's mark (which follows
// the pause and goes when the run goes on or ends), the error's margin
// symbol, and the status line's pointer to console output written behind
// another tab, or the console brought up instead when the user asks so.
#include "gui_test_support.h"

#include "script/run_engine.h"

#include <QAbstractButton>
#include <QAction>
#include <QDockWidget>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

QsciScintilla* script() {
    return shell_windows().script;
}

long markers_on(long line) {
    return script()->SendScintilla(QsciScintillaBase::SCI_MARKERGET,
                                   static_cast<unsigned long>(line));
}

bool paused_mark_on(long line) {
    long want = (1 << MARKER_PAUSE) | (1 << MARKER_PAUSE_LINE);
    return (markers_on(line) & want) == want;
}

QAction* show_console_action(QMainWindow* w) {
    return w->findChild<QAction*>("show_console_on_output");
}

// The desktop layout keeps the console in sight unless its dock is closed:
// closed by its close button, as a user does.
void console_out_of_sight(QMainWindow* w) {
    if (layout_compact()) return;
    auto* dock = w->findChild<QDockWidget*>("console_dock");
    QVERIFY(dock && dock->isVisible());
    auto* close = dock->findChild<QAbstractButton*>("qt_dockwidget_closebutton");
    QVERIFY(close);
    QTest::mouseClick(close, Qt::LeftButton, {}, close->rect().center());
    QTRY_VERIFY(dock->isHidden());
}

} // namespace

class AidsTest : public WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() {
        window_open_active();
    }

    void init() {
        fresh_web();
        status_line_show("");
        QAction* a = show_console_action(window_);
        QVERIFY(a);
        if (a->isChecked()) a->trigger();
    }

    void cleanupTestCase() { window_close(window_); }

    void scriptPaneNumbersItsLines() {
        QCOMPARE(script()->marginType(MARGIN_NUMBERS), QsciScintilla::NumberMargin);
        QVERIFY(script()->marginWidth(MARGIN_NUMBERS) > 0);
        QVERIFY(script()->marginWidth(MARGIN_SYMBOLS) > 0);
        // The other panes keep the plain 2-pixel margin.
        QCOMPARE(shell_windows().text->marginWidth(MARGIN_NUMBERS), 0);
    }

    // Before any test flashes a message, which outranks the pointer while
    // it shows.
    void outputBehindAnotherTabIsPointedTo() {
        console_out_of_sight(window_);
        set_pane(VIEW_SCRIPT, "out('hello')");
        key(Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        key(Qt::Key_F5);
        QTRY_VERIFY(!run_active());
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        QCOMPARE(QString::fromStdString(status_line_text()), QString(OUTPUT_IN_CONS_TEXT));
        // Other tabs do not end it; the console does.
        key(Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(QString::fromStdString(status_line_text()), QString(OUTPUT_IN_CONS_TEXT));
        key(Qt::Key_5, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_CONS);
        QVERIFY(shell_windows().console->isVisible());
        QVERIFY(status_line_text() != OUTPUT_IN_CONS_TEXT);
        QVERIFY(editor_bytes(shell_windows().console).find("hello") != std::string::npos);
        // A run watched on the console says nothing of it.
        key(Qt::Key_F5);
        QTRY_VERIFY(!run_active());
        QVERIFY(status_line_text() != OUTPUT_IN_CONS_TEXT);
    }

    void settingBringsTheConsoleUp() {
        QAction* a = show_console_action(window_);
        a->trigger();
        QVERIFY(console_shows_on_output());
        console_out_of_sight(window_);
        set_pane(VIEW_SCRIPT, "out('shown')");
        key(Qt::Key_2, Qt::ControlModifier);
        key(Qt::Key_F5);
        QTRY_VERIFY(!run_active());
        QCOMPARE(shell_current_view(), VIEW_CONS);
        QVERIFY(shell_windows().console->isVisible());
        QVERIFY(status_line_text() != OUTPUT_IN_CONS_TEXT);
        // A habit of the user: it outlives the web.
        dispatch_command(CMD_NEW_WEB);
        QVERIFY(a->isChecked());
        a->trigger();
        QVERIFY(!console_shows_on_output());
    }

    // The mark is on the brk's line at each pause, moves with Run to Brk,
    // and goes when Run lets the script finish.
    void pausedLineIsMarkedUntilTheRunGoesOn() {
        set_pane(VIEW_SCRIPT,
                 "out('a')\r\nout('b')\r\n  brk('one')\r\nout('c')\r\nbrk('two')\r\nout('d')");
        QCOMPARE(pane_pause_mark_line(), -1L);
        std::vector<long> marked;
        bool only_one = true;
        when(run_breakpoint_pause, [&] {
            QCOMPARE(shell_current_view(), VIEW_SCRIPT);
            marked.push_back(pane_pause_mark_line());
            only_one = only_one && paused_mark_on(2) && !paused_mark_on(4);
            key(Qt::Key_B, Qt::AltModifier);
            when([] { return run_breakpoint_pause() && pane_pause_mark_line() != 2; },
                 [&] {
                     marked.push_back(pane_pause_mark_line());
                     only_one = only_one && paused_mark_on(4) && markers_on(2) == 0;
                     key(Qt::Key_F5);
                 });
        });
        key(Qt::Key_B, Qt::AltModifier);
        QTRY_VERIFY(!run_active());
        QCOMPARE(marked, (std::vector<long>{2, 4}));
        QVERIFY(only_one);
        QCOMPARE(pane_pause_mark_line(), -1L);
        for (long line = 0; line < 6; ++line)
            QCOMPARE(markers_on(line), 0L);
    }

    // Run (Alt+R) from a pause goes past the later breakpoints: the mark
    // goes and no other is put.
    void runFromAPauseMarksNoMore() {
        set_pane(VIEW_SCRIPT, "brk('p')\r\nout('x')\r\nbrk('q')\r\nout('y')");
        int pauses = 0;
        when(run_breakpoint_pause, [&] {
            ++pauses;
            QCOMPARE(pane_pause_mark_line(), 0L);
            key(Qt::Key_R, Qt::AltModifier);
        });
        key(Qt::Key_B, Qt::AltModifier);
        QTRY_VERIFY(!run_active());
        QCOMPARE(pauses, 1);
        QCOMPARE(pane_pause_mark_line(), -1L);
        QCOMPARE(markers_on(0) | markers_on(2), 0L);
    }

    // A stop while paused clears the mark too.
    void stopWhilePausedClearsTheMark() {
        set_pane(VIEW_SCRIPT, "brk('p')\r\nout('never')");
        long seen = -1;
        when(run_breakpoint_pause, [&] {
            seen = pane_pause_mark_line();
            key(Qt::Key_F5, Qt::ShiftModifier);
        });
        key(Qt::Key_B, Qt::AltModifier);
        QTRY_VERIFY(!run_active());
        QCOMPARE(seen, 0L);
        QCOMPARE(pane_pause_mark_line(), -1L);
    }

    // The error's line gets its symbol in the same margin, and loses it
    // when the script is edited.
    void errorLineGetsTheMarginSymbol() {
        set_pane(VIEW_SCRIPT, "out('a')\r\nout(1 / 0 +)");
        key(Qt::Key_F5);
        QTRY_VERIFY(!run_active());
        QVERIFY(pane_error_showing());
        QVERIFY(markers_on(1) & (1 << MARKER_ERROR));
        QCOMPARE(markers_on(0), 0L);
        shell_show_view(VIEW_SCRIPT);
        key(Qt::Key_End, Qt::ControlModifier);
        key(Qt::Key_Space);
        QVERIFY(!pane_error_showing());
        QCOMPARE(markers_on(1) & (1 << MARKER_ERROR), 0L);
    }
};

QTEST_MAIN(AidsTest)
#include "aids_test.moc"
