// GUI tests against the real main window (offscreen): runs, breakpoints and
// the lock-out, keyboard input, navigation, links, double-click creation,
// focus, pane commits, the save question and closing the window. Dialogs
// are answered through the dialogs' test hook.
#include "gui_test_support.h"

#include "core/value.h"
#include "engine/engine_start.h"
#include "io/input_stream.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/help_topics.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/qt_frontend.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <Qsci/qsciscintilla.h>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabBar>
#include <QTreeWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <functional>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

std::string console_text() { return editor_bytes(shell_windows().console); }
std::string status() {
    return status_line_text();
}

void make_cell(const char* name) {
    shell_windows().name_box->setEditText(name);
    go_to_name();
    dispatch_command(CMD_BACK);
}

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class MainWindowTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase() {
        window_ = window_open(frontend_, cancel());
        QVERIFY(current_cell() != 0);
    }

    void init() { fresh_web(); }

    void cleanupTestCase() { window_close(window_); }

    void startsOnTheListWithSixTabs() {
        QTabBar* tabs = shell_windows().tabs;
        QCOMPARE(tabs->count(), 6);
        QStringList labels;
        for (int i = 0; i < tabs->count(); ++i) labels << tabs->tabText(i);
        QCOMPARE(labels, (QStringList{"list", "text", "value", "script", "cons", "plot"}));
        QCOMPARE(shell_current_view(), VIEW_LIST);
        QCOMPARE(status(), std::string("Ready"));
        QCOMPARE(window_->windowTitle(), QString("Tarvex - (Untitled)[*]"));
    }

    void runWritesToTheConsole() {
        set_pane(VIEW_SCRIPT, "out('hello', 1+2)");
        dispatch_command(CMD_RUN);
        QVERIFY2(console_text().find("hello3") != std::string::npos, console_text().c_str());
        // The script pane was committed before the run.
        QCOMPARE(text_to_string(cell_script(current_cell())), std::string("out('hello', 1+2)"));
        // Output is bold, read-only style 3.
        QsciScintilla* c = shell_windows().console;
        long at = long(console_text().find("hello"));
        QCOMPARE(int(c->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, at)), STYLE_OUTPUT);
    }

    void breakpointLocksOutAndResumes() {
        set_pane(VIEW_SCRIPT, "brk('one') out('xa') brk('two') out('xb') brk('three') out('xc')");
        std::vector<std::string> refusals;
        int pauses = 0;
        // First pause: every locked command is refused, then Run to Brk.
        when(run_breakpoint_pause, [&] {
            ++pauses;
            for (int id : {CMD_NEW_WEB, CMD_SAVE, CMD_SETTINGS, CMD_NEW_CELL, CMD_DELETE, CMD_QUIT,
                           CMD_OPEN, CMD_CLONE, CMD_PRINT}) {
                status_line_show("");
                dispatch_command(id);
                refusals.push_back(status());
            }
            QVERIFY(console_text().find("xa") == std::string::npos);
            dispatch_command(CMD_RUN_TO_BRK);
            // Second pause: Stop ends the run.
            when([&] { return run_breakpoint_pause() && console_text().find("xa") != std::string::npos; },
                 [&] {
                     ++pauses;
                     dispatch_command(CMD_STOP);
                 });
        });
        dispatch_command(CMD_RUN_TO_BRK);
        QCOMPARE(pauses, 2);
        for (const std::string& s : refusals) QCOMPARE(s, std::string("Operation locked out"));
        QCOMPARE(status(), std::string("Run halted"));
        QVERIFY(console_text().find("xb") == std::string::npos);
        QVERIFY(!run_active());
        QVERIFY(g_exits.empty());
        QVERIFY(g_seen.empty()); // no question was asked
        QCOMPARE(current_name(), std::string("home"));
    }

    void runResumesIgnoringBreakpoints() {
        set_pane(VIEW_SCRIPT, "brk('one') out('A') brk('two') out('B')");
        int pauses = 0;
        when(run_breakpoint_pause, [&] {
            ++pauses;
            dispatch_command(CMD_RUN);
        });
        dispatch_command(CMD_RUN_TO_BRK);
        QCOMPARE(pauses, 1);
        QVERIFY2(console_text().find("AB") != std::string::npos ||
                     (console_text().find("A") != std::string::npos &&
                      console_text().find("B") != std::string::npos),
                 console_text().c_str());
        QVERIFY(console_text().find("two") != std::string::npos); // printed, not paused
    }

    void keyboardInputReachesIn() {
        g_answers.push_back(named("x"));
        dispatch_command(CMD_NEW_CELL);
        dispatch_command(CMD_BACK);
        set_pane(VIEW_SCRIPT, "in('Value? ', x) out(x*2)");
        when(input_wait, [] {
            QsciScintilla* c = shell_windows().console;
            QCOMPARE(shell_current_view(), VIEW_CONS);
            // While waiting, Run and help are refused.
            dispatch_command(CMD_RUN);
            QCOMPARE(status(), std::string("Script already running"));
            dispatch_command(CMD_HELP_OVERVIEW);
            QCOMPARE(status(), std::string("Waiting for input"));
            c->setFocus();
            QTest::keyClicks(c, "21");
            QTest::keyClick(c, Qt::Key_Return);
        });
        dispatch_command(CMD_RUN);
        QVERIFY2(console_text().find("42") != std::string::npos, console_text().c_str());
        // The typed text keeps the plain style; the prompt is output.
        QsciScintilla* c = shell_windows().console;
        long typed = long(console_text().find("21"));
        QCOMPARE(int(c->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, typed)), STYLE_PLAIN);
        QCOMPARE(int(c->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, 0L)), STYLE_OUTPUT);
    }

    void typedLineGoesToTheCellAndStopAbortsInput() {
        dispatch_command(CMD_NEW_CELL); // no dialog answer: nothing
        QCOMPARE(current_name(), std::string("home"));
        g_answers.push_back(named("x"));
        dispatch_command(CMD_NEW_CELL);
        QCOMPARE(current_name(), std::string("x"));
        dispatch_command(CMD_BACK);
        QCOMPARE(current_name(), std::string("home"));
        set_pane(VIEW_SCRIPT, "in('First? ', x) in('Second? ', x) out('got ', x)");
        int waits = 0;
        when(input_wait, [&] {
            ++waits;
            QsciScintilla* c = shell_windows().console;
            QTest::keyClicks(c, "5");
            QTest::keyClick(c, Qt::Key_Return);
            // The second wait: Stop ends the input.
            when([&] { return input_wait() && console_text().find("Second?") != std::string::npos; },
                 [&] {
                     ++waits;
                     dispatch_command(CMD_STOP);
                 });
        });
        dispatch_command(CMD_RUN);
        QVERIFY2(waits == 2, console_text().c_str());
        QVERIFY2(console_text().find("Input Aborted") != std::string::npos, console_text().c_str());
        QCOMPARE(value_display(cell_value(cell_find("x"))), std::string("5"));
    }

    void secondLineAtOnePromptIsNotSentTwice() {
        g_answers.push_back(named("a"));
        dispatch_command(CMD_NEW_CELL);
        g_answers.push_back(named("b"));
        dispatch_command(CMD_NEW_CELL);
        dispatch_command(CMD_BACK);
        dispatch_command(CMD_BACK);
        QCOMPARE(current_name(), std::string("home"));
        set_pane(VIEW_SCRIPT, "in('Two values? ', a, b)");
        when(input_wait, [] {
            QsciScintilla* c = shell_windows().console;
            QTest::keyClicks(c, "1");
            QTest::keyClick(c, Qt::Key_Return);
            when(input_wait, [] {
                QsciScintilla* c = shell_windows().console;
                QTest::keyClicks(c, "2");
                QTest::keyClick(c, Qt::Key_Return);
            });
        });
        dispatch_command(CMD_RUN);
        QCOMPARE(value_display(cell_value(cell_find("a"))), std::string("1"));
        QCOMPARE(value_display(cell_value(cell_find("b"))), std::string("2"));
    }

    void navigationAndTheNameBoxHistory() {
        QComboBox* box = shell_windows().name_box;
        for (const char* name : {"p", "q", "r"}) {
            box->setEditText(name);
            go_to_name();
            QCOMPARE(current_name(), std::string(name));
        }
        box->setEditText("no good!");
        go_to_name();
        QCOMPARE(status(), std::string("Invalid cellname"));
        QCOMPARE(box->currentText(), QString("r"));

        dispatch_command(CMD_NAME_BOX, NOTE_DROP_DOWN);
        QStringList items;
        for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
        QCOMPARE(items, (QStringList{"r", "q", "p", "home"}));

        dispatch_command(CMD_BACK);
        dispatch_command(CMD_BACK);
        QCOMPARE(current_name(), std::string("p"));
        set_focus_slot(SLOT_LIST);
        dispatch_command(CMD_FORWARD);
        QCOMPARE(current_name(), std::string("q"));
        // Picking from the history list goes back to that cell.
        dispatch_command(CMD_NAME_BOX, NOTE_SELECTED, "home");
        QCOMPARE(current_name(), std::string("home"));
        // Up and Down in the cell list step through the cells by name.
        shell_show_view(VIEW_LIST);
        QTest::keyClick(shell_windows().list, Qt::Key_Down);
        QCOMPARE(current_name(), std::string("p"));
        QTest::keyClick(shell_windows().list, Qt::Key_Up);
        QCOMPARE(current_name(), std::string("home"));
        QTest::keyClick(shell_windows().list, Qt::Key_End); // swallowed
        QCOMPARE(current_name(), std::string("home"));
    }

    void linkClickVisits() {
        QComboBox* box = shell_windows().name_box;
        box->setEditText("target");
        go_to_name();
        dispatch_command(CMD_BACK);
        set_pane(VIEW_TEXT, "go to target now");
        link_refresh();
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        long pos = 7;
        QCOMPARE(int(t->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, pos)), STYLE_LINK);
        QCOMPARE(int(t->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, 1L)), STYLE_PLAIN);
        link_clicked(SLOT_TEXT, pos);
        QCOMPARE(current_name(), std::string("target"));
        // The edit was committed into home before leaving it.
        QCOMPARE(text_to_string(cell_text(cell_find("home"))), std::string("go to target now"));
        dispatch_command(CMD_BACK);
        QCOMPARE(current_name(), std::string("home"));
    }

    void doubleClickCreatesCells() {
        settings_set_create_on_double_click(1);
        set_pane(VIEW_TEXT, "alpha beta");
        auto double_click = [](unsigned long from, long to) {
            shell_windows().text->SendScintilla(QsciScintillaBase::SCI_SETSEL, from, to);
            pane_double_clicked(SLOT_TEXT);
        };
        // Without the question.
        double_click(0, 5);
        QTRY_COMPARE(current_name(), std::string("alpha"));
        QVERIFY(!seen(DLG_YES_NO));
        dispatch_command(CMD_BACK);
        // With the question: No creates nothing, Yes creates the cell.
        settings_set_ask_before_create(1);
        shell_show_view(VIEW_TEXT);
        g_answers.push_back(no());
        double_click(6, 10);
        QTRY_VERIFY(seen(DLG_YES_NO, "No such cell. Create it?"));
        QCOMPARE(cell_find("beta"), NodeHandle(0));
        g_answers.push_back(yes());
        double_click(6, 10);
        QTRY_COMPARE(current_name(), std::string("beta"));
    }

    void realDoubleClickOnAWord() {
        settings_set_create_on_double_click(1);
        set_pane(VIEW_TEXT, "gamma");
        QsciScintilla* t = shell_windows().text;
        t->setFocus();
        long x = t->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, 2L);
        long y = t->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, 2L);
        QPoint at(int(x), int(y) + 4);
        // The editor recognises the second press of a pair as the double click.
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
        QTRY_COMPARE(current_name(), std::string("gamma"));
    }

    void tabSwitchesFocusBetweenBoxAndPane() {
        shell_show_view(VIEW_TEXT);
        QCOMPARE(focus_slot(), int(SLOT_TEXT));
        dispatch_command(CMD_SWITCH_FOCUS);
        QCOMPARE(focus_slot(), int(SLOT_NAME_BOX));
        dispatch_command(CMD_SWITCH_FOCUS);
        QCOMPARE(focus_slot(), int(SLOT_TEXT));
        // The plot leaves the focus slot where it was.
        shell_show_view(VIEW_PLOT);
        QCOMPARE(focus_slot(), int(SLOT_TEXT));
        // F6 is its key in the text pane (where Tab indents).
        QTest::keyClick(shell_windows().text, Qt::Key_F6);
        QCOMPARE(focus_slot(), int(SLOT_NAME_BOX));
    }

    // Alt+N and Alt+Right take the name from the pane's selection or the
    // cell-name box; a pane's selection comes back with its cell.
    void newCellAndForwardTakeTheSelectedOrTypedName() {
        make_cell("there");
        auto keys = [](int key) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::AltModifier);
        };
        auto select = [](QsciScintilla* e, unsigned long from, long to) {
            e->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(e));
            e->SendScintilla(QsciScintillaBase::SCI_SETSEL, from, to);
        };
        set_pane(VIEW_TEXT, "see  9fresh_ and there");
        QsciScintilla* t = shell_windows().text;
        select(t, 3, 12);
        keys(Qt::Key_N);
        QCOMPARE(current_name(), std::string("fresh"));
        QCOMPARE(text_to_string(cell_text(cell_find("home"))),
                 std::string("see  9fresh_ and there"));
        keys(Qt::Key_Left);
        QCOMPARE(current_name(), std::string("home"));
        // The selection was kept with home and is shown again.
        QCOMPARE(t->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART), 3L);
        QCOMPARE(t->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND), 12L);
        select(t, 17, 22);
        keys(Qt::Key_Right);
        QCOMPARE(current_name(), std::string("there"));
        keys(Qt::Key_Left);
        select(t, 0, 0); // nothing selected: forward in the history
        keys(Qt::Key_Right);
        QCOMPARE(current_name(), std::string("there"));
        select(t, 0, 0);
        keys(Qt::Key_N); // nothing selected: the dialog asks
        QVERIFY(seen(DLG_CELL_NAME));

        QComboBox* combo = shell_windows().name_box;
        QLineEdit* box = combo->lineEdit();
        combo->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(combo));
        box->selectAll();
        QTest::keyClicks(box, "9bad");
        keys(Qt::Key_Right); // no valid name: the box shows the current name
        QCOMPARE(box->text(), QString("there"));
        box->selectAll();
        QTest::keyClicks(box, "typed_here");
        keys(Qt::Key_Right);
        QCOMPARE(current_name(), std::string("typed_here"));
        box->selectAll();
        QTest::keyClicks(box, "_x");
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(status(), std::string("Invalid cellname"));
        QCOMPARE(current_name(), std::string("typed_here"));
    }

    void switchingTabsCommitsEdits() {
        set_pane(VIEW_TEXT, "some text");
        shell_windows().tabs->setCurrentIndex(VIEW_VALUE);
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("some text"));
        QVERIFY(web_modified());
        set_pane(VIEW_VALUE, " 2.50");
        shell_windows().tabs->setCurrentIndex(VIEW_SCRIPT);
        NodeHandle v = cell_value(current_cell());
        QVERIFY(v != 0);
        QCOMPARE(int(value_kind(v)), int(VK_NUMBER));
        // Loading the value back shows its own text without changing it.
        reshow_current();
        QCOMPARE(int(value_kind(cell_value(current_cell()))), int(VK_NUMBER));
        QCOMPARE(editor_bytes(shell_windows().value), std::string(" 2.50"));
    }

    // Opening a web shows each of its cells once in the list, home chosen.
    void openedWebListsEachCellOnce() {
        std::string path = (dir_.path() + "/three.tvx").toStdString();
        {
            std::FILE* f = std::fopen(path.c_str(), "wb");
            QVERIFY(f);
            std::fputs("<cell><cname>b</cname></cell><cell><cname>home</cname></cell>"
                       "<cell><cname>a</cname></cell><cell><cname>c</cname></cell></eof>",
                       f);
            std::fclose(f);
        }
        web_set_modified(false);
        dispatch_command(CMD_OPEN, NOTE_NONE, path);
        QTreeWidget* list = shell_windows().list;
        QCOMPARE(list->topLevelItemCount(), 4);
        std::vector<NodeHandle> listed;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            listed.push_back(list_item_cell(list->topLevelItem(i)));
        std::sort(listed.begin(), listed.end());
        QCOMPARE(std::adjacent_find(listed.begin(), listed.end()), listed.end());
        for (const char* name : {"a", "b", "c", "home"})
            QVERIFY(std::count(listed.begin(), listed.end(), cell_find(name)) == 1);
        QCOMPARE(list_item_cell(list->currentItem()), cell_find("home"));
    }

    void deleteAsksAndHomeStays() {
        dispatch_command(CMD_DELETE);
        QCOMPARE(status(), std::string("Can't Delete Home"));
        QVERIFY(g_seen.empty());
        QComboBox* box = shell_windows().name_box;
        box->setEditText("doomed");
        go_to_name();
        g_answers.push_back(cancel());
        dispatch_command(CMD_DELETE);
        QVERIFY(seen(DLG_OK_CANCEL, "Delete current cell?"));
        QVERIFY(cell_find("doomed") != 0);
        g_answers.push_back(yes());
        dispatch_command(CMD_DELETE);
        QCOMPARE(cell_find("doomed"), NodeHandle(0));
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(shell_windows().list->topLevelItemCount(), 1);
    }

    void newCellFromASelection() {
        set_pane(VIEW_TEXT, "  spaced_name  ");
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_SELECTALL);
        dispatch_command(CMD_NEW_CELL);
        QCOMPARE(current_name(), std::string("spaced_name"));
        dispatch_command(CMD_BACK);
        shell_show_view(VIEW_TEXT);
        t->SendScintilla(QsciScintillaBase::SCI_SELECTALL);
        dispatch_command(CMD_NEW_CELL);
        QCOMPARE(status(), std::string("Cell already exists, linking to it"));
        QCOMPARE(current_name(), std::string("spaced_name"));
        set_pane(VIEW_TEXT, "9!");
        t->SendScintilla(QsciScintillaBase::SCI_SELECTALL);
        dispatch_command(CMD_NEW_CELL);
        QCOMPARE(status(), std::string("Invalid Cellname"));
    }

    void helpTopicsGoToTheConsole() {
        for (int topic = 1; topic <= HELP_TOPIC_COUNT; ++topic) {
            // Backslashes only inside double quotes, and no quote left open:
            // the output stream would otherwise change them.
            const char* text = help_topic_text(topic);
            char quote = 0;
            for (const char* p = text; *p; ++p) {
                if (quote == 0 && (*p == '"' || *p == '\'')) quote = *p;
                else if (quote != 0 && *p == quote) quote = 0;
                QVERIFY2(*p != '\\' || quote != 0, text);
            }
            QCOMPARE(int(quote), 0);
        }
        dispatch_command(CMD_HELP_REPORT);
        QCOMPARE(shell_current_view(), VIEW_CONS);
        QVERIFY(console_text().find("REPORT FORMAT") != std::string::npos);
        QVERIFY(console_text().find("\"\\N\"") != std::string::npos);
        dispatch_command(CMD_HELP_DEBUGGING);
        QVERIFY(console_text().find("DEBUGGING") != std::string::npos);
    }

    void longOutputRefusesCommands() {
        make_cell("i");
        set_pane(VIEW_SCRIPT, "for (i = 1 to 200000) { out('line of output ') }");
        std::vector<std::string> answers;
        int cells_before = cell_table_count();
        when([] { return run_active() && output_pump_active(); }, [&] {
            for (int id : {CMD_NEW_WEB, CMD_OPEN, CMD_DELETE, CMD_NEW_CELL, CMD_CLONE, CMD_SETTINGS,
                           CMD_REPORT, CMD_RUN, CMD_HELP_OVERVIEW, CMD_BACK}) {
                status_line_show("");
                dispatch_command(id);
                answers.push_back(status());
            }
            dispatch_command(CMD_STOP);
        });
        dispatch_command(CMD_RUN);
        QVERIFY2(answers.size() == 10, (status() + " / " + console_text().substr(0, 200)).c_str());
        for (size_t i = 0; i < answers.size(); ++i)
            QCOMPARE(answers[i], std::string(i == 7 ? "Script already running" : "Operation locked out"));
        QCOMPARE(status(), std::string("Run halted"));
        QCOMPARE(cell_table_count(), cells_before);
        QVERIFY(g_seen.empty());
    }

    void stopEndsARunawayLoopWithoutOutput() {
        // No output and no statement inside the loop: the run still lets
        // the window handle events, so Stop arrives.
        set_pane(VIEW_SCRIPT, "while (1) {}");
        when(run_active, [] { dispatch_command(CMD_STOP); });
        dispatch_command(CMD_RUN);
        QCOMPARE(status(), std::string("Run halted"));
        QVERIFY(!run_active());
    }

    void saveQuestionOnNewOpenAndQuit() {
        std::string path = (dir_.path() + "/saved.tvx").toStdString();
        set_pane(VIEW_TEXT, "keep me");
        QVERIFY(web_modified());
        // New, Cancel: nothing changes.
        g_answers.push_back(cancel());
        dispatch_command(CMD_NEW_WEB);
        QVERIFY(seen(DLG_SAVE_CHANGES, "Save current changes in (untitled)?"));
        QVERIFY(web_modified());
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("keep me"));
        // Quit, Cancel: still running.
        g_answers.push_back(cancel());
        dispatch_command(CMD_QUIT);
        QVERIFY(g_exits.empty());
        // New, Yes on an untitled web: Save As, then the new web.
        g_answers.push_back(yes());
        g_answers.push_back(named(path));
        dispatch_command(CMD_NEW_WEB);
        QVERIFY(seen(DLG_SAVE, ""));
        QVERIFY(QFile::exists(QString::fromStdString(path)));
        QVERIFY(!web_modified());
        QCOMPARE(cell_text(current_cell()), Text(0));
        // Open, No: the saved web comes back; its name is the title.
        set_pane(VIEW_TEXT, "throw away");
        shell_show_view(VIEW_LIST);
        g_answers.push_back(no());
        g_answers.push_back(named(path));
        dispatch_command(CMD_OPEN);
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("keep me"));
        QCOMPARE(window_->windowTitle(), QString("Tarvex - saved[*]"));
        QVERIFY(!web_modified());
        QCOMPARE(shell_current_view(), VIEW_LIST);
        // Open cancelled in the dialog: the web and its mark stay.
        set_pane(VIEW_TEXT, "edited");
        shell_show_view(VIEW_LIST);
        g_answers.push_back(no());
        g_answers.push_back(cancel());
        dispatch_command(CMD_OPEN);
        QVERIFY(web_modified());
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("edited"));
        // Quit, No: the program ends with 0.
        g_answers.push_back(no());
        dispatch_command(CMD_QUIT);
        QCOMPARE(g_exits, std::vector<int>{0});
    }

    void closingTheWindow() {
        set_pane(VIEW_TEXT, "unsaved");
        // Cancel keeps the window open.
        g_answers.push_back(cancel());
        QVERIFY(!window_->close());
        QVERIFY(window_->isVisible());
        QVERIFY(seen(DLG_SAVE_CHANGES));
        // A close during a paused run stops the run first, then asks.
        set_pane(VIEW_SCRIPT, "brk('wait') out('never')");
        g_seen.clear();
        when(run_breakpoint_pause, [&] { QVERIFY(!window_->close()); });
        g_answers.push_back(cancel());
        dispatch_command(CMD_RUN_TO_BRK);
        QCOMPARE(status(), std::string("Run halted"));
        QTRY_VERIFY(seen(DLG_SAVE_CHANGES));
        QVERIFY(window_->isVisible());
        QVERIFY(console_text().find("never") == std::string::npos);
        // No closes it.
        g_answers.push_back(no());
        QVERIFY(window_->close());
        window_->show();
    }

    // A picture of the window on a web's home text (TARVEX_SCREENSHOT=web,png).
    void screenshot() {
        QStringList args = qEnvironmentVariable("TARVEX_SCREENSHOT").split(',');
        if (args.size() != 2) QSKIP("set TARVEX_SCREENSHOT=web.tvx,out.png");
        dispatch_command(CMD_OPEN, NOTE_NONE, args[0].toStdString());
        QCOMPARE(current_name(), std::string("home"));
        shell_windows().tabs->setCurrentIndex(VIEW_TEXT);
        link_refresh();
        QTest::qWait(1200);
        QImage picture = window_->grab().toImage();
        // Something was drawn: not one colour all over.
        bool drawn = false;
        for (int y = 0; y < picture.height() && !drawn; y += 4)
            for (int x = 0; x < picture.width() && !drawn; x += 4)
                drawn = picture.pixel(x, y) != picture.pixel(0, 0);
        QVERIFY(drawn);
        QVERIFY(picture.save(args[1]));
    }

    // Figures for the record (TARVEX_MEASURE=1): CPU while idle, paused and
    // waiting for input, and the time to write a megabyte to the console.
    void measure() {
        if (!qEnvironmentVariableIsSet("TARVEX_MEASURE")) QSKIP("set TARVEX_MEASURE=1 to measure");
        auto idle_cpu = [] {
            double before = cpu_seconds();
            QTest::qWait(3000);
            return (cpu_seconds() - before) / 3.0 * 100.0;
        };
        // The bounds: no busy waiting while idle, paused or waiting, all of
        // the output in the console, and Stop taking effect within a second.
        constexpr double IDLE_CPU_MAX = 5.0;
        double idle = idle_cpu();
        qInfo("idle: %.2f %% CPU", idle);
        QVERIFY(idle < IDLE_CPU_MAX);
        double paused = -1, waiting = -1;
        make_cell("x");
        set_pane(VIEW_SCRIPT, "brk('p') in('v? ', x)");
        when(run_breakpoint_pause, [&] {
            double before = cpu_seconds();
            QTimer::singleShot(3000, [&, before] {
                paused = (cpu_seconds() - before) / 3.0 * 100.0;
                dispatch_command(CMD_RUN);
            });
        });
        when([&] { return input_wait() && paused >= 0; }, [&] {
            double before = cpu_seconds();
            QTimer::singleShot(3000, [&, before] {
                waiting = (cpu_seconds() - before) / 3.0 * 100.0;
                dispatch_command(CMD_STOP);
            });
        });
        dispatch_command(CMD_RUN_TO_BRK);
        qInfo("paused at a breakpoint: %.2f %% CPU; waiting for input: %.2f %% CPU", paused, waiting);
        QVERIFY(paused >= 0 && paused < IDLE_CPU_MAX);
        QVERIFY(waiting >= 0 && waiting < IDLE_CPU_MAX);
        // 1 MB: lines of 50 characters.
        make_cell("i");
        int lines = qEnvironmentVariableIntValue("TARVEX_MEASURE_LINES");
        if (lines <= 0) lines = 20000;
        std::string script = "for (i = 1 to " + std::to_string(lines) +
                             ") { out('0123456789012345678901234567890123456789012345678\\n') }";
        set_pane(VIEW_SCRIPT, script.c_str());
        settings_set_auto_output(AUTO_NONE);
        QElapsedTimer t;
        t.start();
        dispatch_command(CMD_RUN);
        qInfo("1 MB to the console: %lld ms (%lld bytes)", t.elapsed(),
              static_cast<long long>(console_pane_length()));
        QVERIFY(console_pane_length() >= int64_t(lines) * 50);
        // Stop during endless output: time from the request to the run's end.
        set_pane(VIEW_SCRIPT, "while (1) { out('0123456789\\n') }");
        qint64 asked = 0, ended = 0;
        when([] { return run_active() && console_pane_length() > 200000; }, [&] {
            asked = t.elapsed();
            dispatch_command(CMD_STOP);
        });
        t.restart();
        dispatch_command(CMD_RUN);
        ended = t.elapsed();
        qInfo("Stop during output took effect after %lld ms", ended - asked);
        QVERIFY(asked > 0 && ended - asked < 1000);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
