// The desktop habits: the title's modified mark, the menus and their keys
// (and that every key is refused when its command is), the address-bar
// focus, the search bar's find field, messages and Replace All, type-ahead
// in the cell list, Ctrl+click in the script pane, Tab and F6, the
// settings pages, and the help that names all of it. Keys go to the
// focused widget as the user's would.
#include "gui_test_support.h"

#include "io/input_stream.h"
#include "script/run_engine.h"
#include "shell/search.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeWidget>

#include <functional>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

std::string status() {
    return status_line_text();
}
std::string console_text() {
    return editor_bytes(shell_windows().console);
}

QWidget* focused() {
    return QApplication::focusWidget();
}

void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* w = focused();
    QVERIFY(w);
    QTest::keyClick(w, Qt::Key(k), mods);
}

void make_cell(const char* name, const char* text = "") {
    shell_windows().name_box->setEditText(name);
    go_to_name();
    cell_set_text(current_cell(), text);
    dispatch_command(CMD_BACK);
}

std::string text_of(const char* name) {
    return text_to_string(cell_text(cell_find(name)));
}

QMenu* menu_titled(QMainWindow* w, const QString& title) {
    for (QAction* a : w->menuBar()->actions())
        if (a->text() == title) return a->menu();
    return nullptr;
}

QAction* item_of(QMenu* menu, int command) {
    for (QAction* a : menu->actions())
        if (a->data().toInt() == command && !a->isSeparator()) return a;
    return nullptr;
}

QPoint point_of(QsciScintilla* e, long pos) {
    long x = e->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, pos);
    long y = e->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, pos);
    return QPoint(int(x) + 2, int(y) + 4);
}

int style_at(QsciScintilla* e, long pos) {
    return int(
        e->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, static_cast<unsigned long>(pos)));
}

template <class W> W* bar_child(const char* name) {
    return search_bar() ? search_bar()->findChild<W*>(name) : nullptr;
}

} // namespace

class HabitsTest : public WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() {
        window_ = window_open(frontend_, cancel());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
    }

    void init() {
        search_bar_close();
        fresh_web();
        status_line_show("");
        window_->activateWindow();
    }

    void cleanupTestCase() { window_close(window_); }

    void titleCarriesTheModifiedMark() {
        QCOMPARE(window_->windowTitle(), QString("Tarvex - (Untitled)[*]"));
        QVERIFY(!window_->isWindowModified());
        key(Qt::Key_2, Qt::ControlModifier);
        QTest::keyClicks(focused(), "typed");
        QVERIFY(web_modified());
        QVERIFY(window_->isWindowModified());
        // A new web (the changes thrown away) clears it.
        g_answers.push_back(no());
        key(Qt::Key_N, Qt::ControlModifier);
        QVERIFY(!window_->isWindowModified());
    }

    void ctrlLAndF4SelectTheCellName() {
        QLineEdit* edit = shell_windows().name_box->lineEdit();
        key(Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().text));
        key(Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().name_box));
        QCOMPARE(focus_slot(), int(SLOT_NAME_BOX));
        QCOMPARE(edit->selectedText(), QString("home"));
        // Typing replaces the name, Enter goes there.
        QTest::keyClicks(focused(), "there");
        QCOMPARE(shell_windows().name_box->currentText(), QString("there"));
        go_to_name();
        key(Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().list));
        key(Qt::Key_F4);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().name_box));
        QCOMPARE(edit->selectedText(), QString("there"));
    }

    void menusNameTheirKeysAndLeaveAltToTheKeyTable() {
        QStringList titles;
        for (QAction* a : window_->menuBar()->actions()) {
            titles << a->text();
            // A title's mnemonic must not take an Alt key of the key table.
            QKeySequence mnemonic = QKeySequence::mnemonic(a->text());
            if (mnemonic.isEmpty()) continue;
            int k = mnemonic[0].key();
            QVERIFY2(accelerator_command(k, Qt::AltModifier) == 0, qPrintable(a->text()));
        }
        QCOMPARE(titles, (QStringList{"&File", "&Edit", "Ce&ll", "&View", "R&un", "&Help"}));

        QMenu* run = menu_titled(window_, "R&un");
        QVERIFY(run);
        QCOMPARE(item_of(run, CMD_RUN)->text(), QString("&Run\tAlt+R, F5"));
        QCOMPARE(item_of(run, CMD_RUN_TO_BRK)->text(), QString("Run to &Brk\tAlt+B"));
        QCOMPARE(item_of(run, CMD_STOP)->text(), QString("&Stop\tAlt+S, Shift+F5"));
        QVERIFY(item_of(run, CMD_REPORT));
        QMenu* edit = menu_titled(window_, "&Edit");
        for (int id : {CMD_UNDO, CMD_CUT, CMD_COPY, CMD_PASTE, CMD_SELECT_ALL})
            QVERIFY(item_of(edit, id));
        QVERIFY(item_of(edit, CMD_FIND_BAR)->text().endsWith("\tCtrl+F"));
        QVERIFY(item_of(edit, CMD_FIND)->text().endsWith("\tCtrl+H"));
        QMenu* view = menu_titled(window_, "&View");
        for (int v = VIEW_LIST; v <= VIEW_PLOT; ++v)
            QVERIFY(
                item_of(view, CMD_VIEW_LIST + v)->text().endsWith(QString("\tCtrl+%1").arg(v + 1)));
        QVERIFY(item_of(view, CMD_NEXT_TAB)->text().endsWith("\tCtrl+Tab, Ctrl+PgDown"));
        QVERIFY(item_of(view, CMD_ZOOM));
        // Quit stays last when the recent webs are listed as File opens.
        QMenu* file = menu_titled(window_, "&File");
        emit file->aboutToShow();
        QCOMPARE(file->actions().last()->objectName(), QString("quit"));
        QVERIFY(file->actions().last()->text().endsWith("\tCtrl+Q"));
        // A menu item goes through the command table.
        item_of(view, CMD_VIEW_SCRIPT)->trigger();
        QCOMPARE(shell_current_view(), VIEW_SCRIPT);

        auto* tools = window_->findChild<QToolBar*>("commands");
        QCOMPARE(tools->findChild<QAction*>("tool_Run")->toolTip(), QString("Run (Alt+R, F5)"));
        QCOMPARE(tools->findChild<QAction*>("tool_Stop")->toolTip(),
                 QString("Stop (Alt+S, Shift+F5)"));

        // The Alt keys reach their commands, not a menu.
        set_pane(VIEW_SCRIPT, "out('by alt')");
        key(Qt::Key_R, Qt::AltModifier);
        QVERIFY(console_text().find("by alt") != std::string::npos);
        shell_show_view(VIEW_SCRIPT);
        set_pane(VIEW_SCRIPT, "out('by f5')");
        key(Qt::Key_F5);
        QVERIFY(console_text().find("by f5") != std::string::npos);
    }

    void viewKeysSwitchAndCycleTheTabs() {
        for (int v = VIEW_PLOT; v >= VIEW_LIST; --v) {
            key(Qt::Key_1 + v, Qt::ControlModifier);
            QCOMPARE(shell_current_view(), v);
            // The desktop layout has tabs for the editors only; the other
            // views are docks.
            if (layout_compact() || (v >= VIEW_TEXT && v <= VIEW_SCRIPT))
                QCOMPARE(shell_windows().tabs->currentIndex(), v);
            QVERIFY(slot_window(view_slot(v))->isVisible());
        }
        key(Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        key(Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_VALUE);
        key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        key(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_LIST);
        // Round the ends.
        key(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_PLOT);
        key(Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_LIST);
    }

    // While paused, the new keys are refused as their commands are; F5
    // resumes as Run does. While waiting for input F5 is "Script already
    // running" and Shift+F5 ends the input.
    void newKeysObeyTheLockOut() {
        set_pane(VIEW_SCRIPT, "brk('p') out('after')");
        std::vector<std::string> refusals;
        bool bar_opened = false;
        when(run_breakpoint_pause, [&] {
            for (int k : {Qt::Key_F, Qt::Key_H}) {
                status_line_show("");
                key(k, Qt::ControlModifier);
                refusals.push_back(status());
            }
            bar_opened = search_bar() != nullptr;
            key(Qt::Key_F5);
        });
        key(Qt::Key_B, Qt::AltModifier);
        QCOMPARE(refusals,
                 (std::vector<std::string>{"Operation locked out", "Operation locked out"}));
        QVERIFY(!bar_opened);
        QVERIFY(g_seen.empty());
        QVERIFY(console_text().find("after") != std::string::npos);
        QVERIFY(!run_active());

        make_cell("x");
        set_pane(VIEW_SCRIPT, "in('v? ', x) out('got input')");
        std::string refused;
        when(input_wait, [&] {
            key(Qt::Key_F5);
            refused = status();
            key(Qt::Key_F5, Qt::ShiftModifier);
        });
        key(Qt::Key_F5);
        QCOMPARE(QString::fromStdString(refused), QString("Script already running"));
        QVERIFY(!run_active());
        QVERIFY(!input_wait());
    }

    void findBarSaysNotFoundAndWrapped() {
        make_cell("alpha", "one");
        cell_set_text(current_cell(), "x one");
        reshow_current();
        key(Qt::Key_2, Qt::ControlModifier);
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_SETSEL, 0UL, 0L);
        key(Qt::Key_F, Qt::ControlModifier);
        QLineEdit* field = bar_child<QLineEdit>("bar_find");
        QVERIFY(field);
        QCOMPARE(focused(), static_cast<QWidget*>(field));
        QVERIFY(search_active());
        // The field keeps its editing keys.
        QTest::keyClicks(field, "zzz");
        key(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(field->selectedText(), QString("zzz"));
        QTest::keyClicks(field, "one");
        QCOMPARE(field->text(), QString("one"));
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(t->selectedText(), QString("one"));
        QVERIFY(status() != "Search wrapped" && status() != "Not found");
        QCOMPARE(focused(), static_cast<QWidget*>(field));
        // home is the last cell: the next match is in alpha, round the end.
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("alpha"));
        QCOMPARE(status(), std::string("Search wrapped"));
        field->selectAll();
        QTest::keyClicks(field, "absent");
        key(Qt::Key_Return);
        QCOMPARE(status(), std::string("Not found"));
        // Run is refused while the bar is open; Escape closes it.
        key(Qt::Key_F5);
        QCOMPARE(status(), std::string("End search before running"));
        key(Qt::Key_Escape);
        QVERIFY(!search_active());
    }

    void replaceAllAsksWithTheCountAndIsOneUndoPerCell() {
        make_cell("alpha", "one");
        make_cell("beta", "none");
        make_cell("gamma", "nothing");
        cell_set_text(current_cell(), "x one One");
        reshow_current();
        key(Qt::Key_2, Qt::ControlModifier);
        key(Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(focused(), "one");
        key(Qt::Key_Tab);
        QCOMPARE(focused(), static_cast<QWidget*>(bar_child<QLineEdit>("bar_replace")));
        QTest::keyClicks(focused(), "two");
        auto* all = bar_child<QPushButton>("bar_replace_all");
        // Cancel leaves every cell as it was.
        g_answers.push_back(cancel());
        QTest::mouseClick(all, Qt::LeftButton);
        QVERIFY(seen(DLG_OK_CANCEL, "Replace 4 occurrences in 3 cells?"));
        QCOMPARE(text_of("beta"), std::string("none"));
        QCOMPARE(text_of("home"), std::string("x one One"));
        g_answers.push_back(yes());
        QTest::mouseClick(all, Qt::LeftButton);
        QCOMPARE(status(), std::string("Replaced 4 occurrences"));
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(editor_bytes(shell_windows().text), std::string("x two two"));
        QCOMPARE(text_of("alpha"), std::string("two"));
        QCOMPARE(text_of("beta"), std::string("ntwo"));
        QCOMPARE(text_of("gamma"), std::string("nothing"));
        QVERIFY(web_modified());
        // The cell's replacements are undone in one step.
        key(Qt::Key_Escape);
        shell_windows().text->setFocus();
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(editor_bytes(shell_windows().text), std::string("x one One"));
        // Nothing to replace: said, and no question.
        g_seen.clear();
        key(Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(focused(), "absent"); // the field's text is selected
        QTest::mouseClick(bar_child<QPushButton>("bar_replace_all"), Qt::LeftButton);
        QCOMPARE(status(), std::string("Not found"));
        QVERIFY(!seen(DLG_OK_CANCEL));
    }

    void cellListTypeAheadAndOpening() {
        make_cell("apple");
        make_cell("banana");
        make_cell("blueberry");
        key(Qt::Key_1, Qt::ControlModifier);
        QTreeWidget* list = shell_windows().list;
        QCOMPARE(focused(), static_cast<QWidget*>(list));
        QTest::keyClicks(list, "bl");
        QCOMPARE(current_name(), std::string("blueberry"));
        QTest::qWait(QApplication::keyboardInputInterval() + 100);
        QTest::keyClicks(list, "B");
        QCOMPARE(current_name(), std::string("banana"));
        QTest::qWait(QApplication::keyboardInputInterval() + 100);
        QTest::keyClicks(list, "x"); // no such name: stays
        QCOMPARE(current_name(), std::string("banana"));
        QCOMPARE(shell_current_view(), VIEW_LIST);
        key(Qt::Key_Return);
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().text));
        QCOMPARE(current_name(), std::string("banana"));
        // A double click opens the cell clicked.
        key(Qt::Key_1, Qt::ControlModifier);
        QTreeWidgetItem* apple = list->findItems("apple", Qt::MatchExactly).value(0);
        QVERIFY(apple);
        QPoint at = list->visualItemRect(apple).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(current_name(), std::string("apple"));
        QCOMPARE(shell_current_view(), VIEW_TEXT);
    }

    void scriptPaneFollowsLinksOnCtrlClickOnly() {
        make_cell("target");
        link_refresh();
        set_pane(VIEW_SCRIPT, "x := target");
        QsciScintilla* s = shell_windows().script;
        QTRY_COMPARE(style_at(s, 7), STYLE_LINK);
        QPoint at = point_of(s, 7);
        QTest::mouseClick(s->viewport(), Qt::LeftButton, {}, at);
        QTest::qWait(50);
        QCOMPARE(current_name(), std::string("home"));
        long caret = long(s->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS));
        QVERIFY2(caret >= 6 && caret <= 8, std::to_string(caret).c_str());
        // Held Ctrl: the pointing hand over the link, and the click follows.
        QTest::keyPress(focused(), Qt::Key_Control, Qt::ControlModifier);
        QTest::mouseMove(s->viewport(), at);
        QTRY_COMPARE(s->viewport()->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(s->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QTest::keyRelease(focused(), Qt::Key_Control);
        QTRY_COMPARE(current_name(), std::string("target"));
        QVERIFY(!script_links_are_live());

        // The text pane follows a plain click.
        dispatch_command(CMD_BACK);
        set_pane(VIEW_TEXT, "see target");
        QsciScintilla* t = shell_windows().text;
        QTRY_COMPARE(style_at(t, 6), STYLE_LINK);
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, point_of(t, 6));
        QTRY_COMPARE(current_name(), std::string("target"));
    }

    void tabIndentsInEditorsAndF6SwitchesFocus() {
        for (int v : {VIEW_TEXT, VIEW_SCRIPT}) {
            key(Qt::Key_1 + v, Qt::ControlModifier);
            QsciScintilla* e = slot_editor(view_slot(v));
            e->clear();
            key(Qt::Key_Tab);
            QTest::keyClicks(focused(), "in");
            QCOMPARE(focused(), static_cast<QWidget*>(e));
            std::string bytes = editor_bytes(e);
            QVERIFY2(bytes == "\tin" ||
                         (bytes.size() > 2 && bytes.find_first_not_of(' ') == bytes.size() - 2),
                     bytes.c_str());
            key(Qt::Key_F6);
            QCOMPARE(focus_slot(), int(SLOT_NAME_BOX));
            QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().name_box));
            // Tab in the box goes back to the pane.
            key(Qt::Key_Tab);
            QCOMPARE(focused(), static_cast<QWidget*>(e));
        }
        // Elsewhere Tab still switches.
        for (int v : {VIEW_LIST, VIEW_VALUE, VIEW_CONS}) {
            key(Qt::Key_1 + v, Qt::ControlModifier);
            QWidget* pane = slot_window(view_slot(v));
            QCOMPARE(focused(), pane);
            key(Qt::Key_Tab);
            QCOMPARE(focus_slot(), int(SLOT_NAME_BOX));
            key(Qt::Key_F6);
            QCOMPARE(focused(), pane);
        }
        QVERIFY(editor_bytes(shell_windows().value).find('\t') == std::string::npos);
    }

    void settingsPagesAreSpelledOut() {
        QStringList titles;
        dialogs_set_hook([&](const DialogRequest& r) {
            g_seen.push_back(r);
            if (auto* tabs = r.dialog ? r.dialog->findChild<QTabWidget*>("settings_tabs") : nullptr)
                for (int i = 0; i < tabs->count(); ++i)
                    titles << tabs->tabText(i);
            return cancel();
        });
        key(Qt::Key_T, Qt::AltModifier);
        answer_from_queue(cancel());
        QCOMPARE(titles, (QStringList{"Links", "Report", "Output", "Input", "Number", "Execution",
                                      "Plot"}));
    }

    void helpNamesTheDesktopKeys() {
        key(Qt::Key_2, Qt::ControlModifier);
        dispatch_command(CMD_HELP_OVERVIEW);
        std::string help = console_text();
        for (const char* named :
             {"Ctrl+L", "F4", "F5", "Shift+F5", "F6", "Ctrl+F", "Ctrl+H", "Ctrl+1", "Ctrl+Tab",
              "Ctrl+click", "Replace All", "View menu", "Run menu"})
            QVERIFY2(help.find(named) != std::string::npos, named);
        // The tour web has a cell on them, linked from its home cell.
        std::string tour = std::string(TARVEX_SOURCE_DIR) + "/examples/tour.tvx";
        dispatch_command(CMD_OPEN, NOTE_NONE, tour);
        QCOMPARE(current_name(), std::string("home"));
        QVERIFY(text_of("home").find("desktop") != std::string::npos);
        std::string desktop = text_of("desktop");
        for (const char* named :
             {"Ctrl+L", "F4", "F5", "Shift+F5", "F6", "Ctrl+F", "Ctrl+H", "Ctrl+1", "Ctrl+Tab",
              "Ctrl+click", "Replace All", "View", "Run to Brk"})
            QVERIFY2(desktop.find(named) != std::string::npos, named);
        QVERIFY(!web_modified());
    }
};

QTEST_MAIN(HabitsTest)
#include "habits_test.moc"
