// The two layouts, driven as a user drives them (keys and clicks on the
// focused widget): run output in sight without another key, the cell
// filter, the switch to the compact layout and back, and the layout kept
// across a restart. The suite runs in both layouts (TARVEX_LAYOUT).
#include "gui_test_support.h"

#include "commands/cell_commands.h"

#include <QAction>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

void click(QWidget* w) {
    QVERIFY(w && w->isVisible());
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

QDockWidget* dock(const char* name) { return shell_windows().main->findChild<QDockWidget*>(name); }

QLineEdit* filter() { return shell_windows().main->findChild<QLineEdit*>("cell_filter"); }

// The names the cell list shows, in its order.
QStringList shown_names() {
    QStringList names;
    QTreeWidget* list = shell_windows().list;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (!list->topLevelItem(i)->isHidden()) names << list->topLevelItem(i)->text(0);
    return names;
}

// A cell made and visited.
void new_cell(const char* name) {
    cell_new_command(name);
    QCOMPARE(current_name(), std::string(name));
}

// Whether a widget can be seen: shown, and not covered by its window's
// other children (a dock behind another dock's tab is not shown).
bool in_sight(QWidget* w) { return w->isVisible() && !w->visibleRegion().isEmpty(); }

// The layout switch, by its key.
void toggle_layout() { key(Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier); }

void expect_desktop() {
    ShellWindows& w = shell_windows();
    QVERIFY(!layout_compact());
    // The plot dock may have been closed.
    QVERIFY(filter()->isVisible());
    QVERIFY(in_sight(w.list) && in_sight(w.console));
    // Only the editors are tabs.
    for (int v = VIEW_LIST; v <= VIEW_PLOT; ++v)
        QCOMPARE(w.tabs->isTabVisible(v), v >= VIEW_TEXT && v <= VIEW_SCRIPT);
}

void expect_compact() {
    ShellWindows& w = shell_windows();
    QVERIFY(layout_compact());
    for (QDockWidget* d : w.main->findChildren<QDockWidget*>())
        QVERIFY2(!d->isVisible(), qPrintable(d->objectName()));
    for (int v = VIEW_LIST; v <= VIEW_PLOT; ++v)
        QVERIFY(w.tabs->isTabVisible(v));
    QCOMPARE(w.stack->currentWidget(), slot_window(view_slot(shell_current_view())));
    QCOMPARE(w.tabs->currentIndex(), shell_current_view());
}

} // namespace

class LayoutTest : public WindowTest {
    Q_OBJECT

    void open_window() {
        window_ = new MainWindow;
        window_->show();
        startup_message("");
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
    }

  private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-layout-tests");
        window_open_active();
    }

    void init() { fresh_web(); }

    void cleanupTestCase() { window_close(window_); }

    // The compact layout points to the console instead (as the runs show).
    void runOnTheTextTabLeavesItsOutputInSight() {
        if (layout_compact()) QSKIP("the console is a tab of its own here");
        new_cell("greeting");
        cell_set_script(current_cell(), "out('hello from greeting')");
        key(Qt::Key_2, Qt::ControlModifier);
        for (bool behind : {false, true}) {
            // Behind another dock's tab, output brings the console to the front.
            if (behind) {
                window_->tabifyDockWidget(dock("plot_dock"), dock("console_dock"));
                dock("plot_dock")->raise();
                QTRY_VERIFY(!in_sight(shell_windows().console));
            }
            run_key(Qt::Key_R, Qt::AltModifier);
            QVERIFY(console_text().find("hello from greeting") != std::string::npos);
            QCOMPARE(shell_current_view(), VIEW_TEXT);
            QVERIFY(in_sight(shell_windows().text));
            QTRY_VERIFY(in_sight(shell_windows().console));
            QVERIFY(status_line_text() != OUTPUT_IN_CONS_TEXT);
        }
        window_->addDockWidget(Qt::BottomDockWidgetArea, dock("console_dock"));
        QVERIFY(dock("plot_dock")->isVisible() && dock("console_dock")->isVisible());
    }

    // The pane the user works in is the shown view: what Run commits is
    // what was typed, though another view was shown last.
    void clickingAPaneMakesItTheShownView() {
        if (layout_compact()) QSKIP("one pane at a time: only the shown one can be clicked");
        key(Qt::Key_4, Qt::ControlModifier);
        key(Qt::Key_5, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_CONS);
        // The script tab is still the one shown in the middle; a click on
        // it shows its view again.
        QVERIFY(in_sight(shell_windows().script));
        QTabBar* tabs = shell_windows().tabs;
        QCOMPARE(tabs->currentIndex(), VIEW_SCRIPT);
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(VIEW_SCRIPT).center());
        QCOMPARE(shell_current_view(), VIEW_SCRIPT);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(shell_windows().script));
        key(Qt::Key_5, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_CONS);
        click(shell_windows().script->viewport());
        QCOMPARE(shell_current_view(), VIEW_SCRIPT);
        type("out('typed after a click')");
        run_key();
        QCOMPARE(text_to_string(cell_script(current_cell())),
                 std::string("out('typed after a click')"));
        QVERIFY(console_text().find("typed after a click") != std::string::npos);

        // Clicking the console commits the script pane, as a tab switch does.
        type(" ");
        click(shell_windows().console->viewport());
        QCOMPARE(shell_current_view(), VIEW_CONS);
        QCOMPARE(text_to_string(cell_script(current_cell())),
                 std::string("out('typed after a click') "));
    }

    void filterNarrowsTheListAndEnterOpens() {
        for (const char* name : {"Total_Sum", "subtotal", "other", "totals"})
            new_cell(name);
        key(Qt::Key_1, Qt::ControlModifier);
        if (layout_compact()) {
            QVERIFY(!filter()->isVisible());
            QCOMPARE(shown_names().size(), 5);
            return;
        }
        click(filter());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(filter()));
        type("TOTAL");
        QCOMPARE(shown_names(), (QStringList{"subtotal", "Total_Sum", "totals"}));
        // "_" and a space are one character.
        type(" s");
        QCOMPARE(shown_names(), (QStringList{"Total_Sum"}));
        // Editing keys edit the filter, not a pane.
        key(Qt::Key_A, Qt::ControlModifier);
        key(Qt::Key_Delete);
        QCOMPARE(filter()->text(), QString());
        QCOMPARE(shown_names().size(), 5);
        type("tal_s");
        QCOMPARE(current_name(), std::string("totals"));
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("Total_Sum"));
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(shell_windows().text));

        // Nothing shown: Enter opens nothing.
        click(filter());
        key(Qt::Key_A, Qt::ControlModifier);
        type("zz");
        QVERIFY(shown_names().isEmpty());
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("Total_Sum"));

        // Down goes into the list, and the list steps among the shown
        // cells only.
        key(Qt::Key_A, Qt::ControlModifier);
        type("o");
        QCOMPARE(shown_names(), (QStringList{"home", "other", "subtotal", "Total_Sum", "totals"}));
        key(Qt::Key_Backspace);
        type("t");
        QCOMPARE(shown_names(), (QStringList{"other", "subtotal", "Total_Sum", "totals"}));
        key(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(shell_windows().list));
        QCOMPARE(shell_current_view(), VIEW_LIST);
        QCOMPARE(current_name(), std::string("Total_Sum"));
        for (const char* name : {"subtotal", "other", "other"}) {
            key(Qt::Key_Up);
            QCOMPARE(current_name(), std::string(name));
        }
        // A cell made while the filter is on follows it.
        new_cell("blue");
        QVERIFY(!shown_names().contains("blue"));
        new_cell("partial_t");
        QVERIFY(shown_names().contains("partial_t"));

        // The compact layout shows every cell; back again, the filter holds.
        toggle_layout();
        QCOMPARE(shown_names().size(), 7);
        toggle_layout();
        QCOMPARE(filter()->text(), QString("t"));
        QVERIFY(!shown_names().contains("blue"));
        // Escape clears the filter; a second goes back to the pane.
        click(filter());
        key(Qt::Key_Escape);
        QCOMPARE(filter()->text(), QString());
        QCOMPARE(shown_names().size(), 7);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(filter()));
        key(Qt::Key_Escape);
        QVERIFY(QApplication::focusWidget() != static_cast<QWidget*>(filter()));
        QVERIFY(slot_of_window(QApplication::focusWidget()) >= 0);
    }

    void opensInTheLayoutAskedAndSwitches() {
        bool started_compact = layout_compact();
        QCOMPARE(started_compact, qgetenv("TARVEX_LAYOUT") == "compact");
        if (started_compact)
            expect_compact();
        else
            expect_desktop();
        key(Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(shell_current_view(), VIEW_VALUE);
        toggle_layout();
        QCOMPARE(layout_compact(), !started_compact);
        if (started_compact)
            expect_desktop();
        else
            expect_compact();
        QCOMPARE(shell_current_view(), VIEW_VALUE);
        QVERIFY(in_sight(shell_windows().value));
        // Every view still shows its pane, and the keys keep working.
        key(Qt::Key_5, Qt::ControlModifier);
        QVERIFY(in_sight(shell_windows().console));
        key(Qt::Key_1, Qt::ControlModifier);
        QVERIFY(in_sight(shell_windows().list));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(shell_windows().list));
        key(Qt::Key_2, Qt::ControlModifier);
        QVERIFY(in_sight(shell_windows().text));
        toggle_layout();
        QCOMPARE(layout_compact(), started_compact);

        if (layout_compact()) {
            expect_compact();
            return;
        }
        expect_desktop();
        // Ctrl+6 opens a closed dock again (that it stays closed through a
        // switch and a restart: layoutKeptAcrossARestart).
        close_dock("plot_dock");
        key(Qt::Key_6, Qt::ControlModifier);
        QTRY_VERIFY(in_sight(shell_windows().plot));
    }

    // The window is made anew, as at the next start.
    void layoutKeptAcrossARestart() {
        QByteArray asked = qgetenv("TARVEX_LAYOUT");
        qunsetenv("TARVEX_LAYOUT");
        // The tests before chose the layout they began in last.
        delete window_;
        open_window();
        QCOMPARE(layout_compact(), asked == "compact");
        if (layout_compact()) toggle_layout();
        expect_desktop();
        QTRY_VERIFY(in_sight(shell_windows().plot));

        // The docks' places and sizes, and which are closed.
        window_->resizeDocks({dock("cells_dock")}, {300}, Qt::Horizontal);
        QTRY_COMPARE(dock("cells_dock")->width(), 300);
        close_dock("plot_dock");
        delete window_;
        open_window();
        expect_desktop();
        QVERIFY(dock("plot_dock")->isHidden());
        QTRY_COMPARE(dock("cells_dock")->width(), 300);

        // The layout chosen.
        toggle_layout();
        delete window_;
        open_window();
        expect_compact();
        toggle_layout();
        expect_desktop();
        QVERIFY(dock("plot_dock")->isHidden());
        qputenv("TARVEX_LAYOUT", asked);
    }

    // The workbench docks in the first desktop layout: links under the
    // cells, values under the plot, the call stack beside the console.
    void otherDocksLandInTheirPlaces() {
        delete window_;
        QSettings(QCoreApplication::organizationName(), "Tarvex").remove("layout");
        open_window();
        if (layout_compact()) toggle_layout();
        expect_desktop();
        QCOMPARE(window_->dockWidgetArea(dock("links_dock")), Qt::LeftDockWidgetArea);
        QCOMPARE(window_->dockWidgetArea(dock("values_dock")), Qt::RightDockWidgetArea);
        QCOMPARE(window_->dockWidgetArea(dock("stack_dock")), Qt::BottomDockWidgetArea);
        for (const char* name : {"links_dock", "values_dock", "stack_dock", "plot_dock"})
            QTRY_VERIFY2(in_sight(dock(name)), name);
        QVERIFY(dock("links_dock")->y() > dock("cells_dock")->y());
        QVERIFY(dock("values_dock")->y() > dock("plot_dock")->y());
        QVERIFY(dock("stack_dock")->x() > dock("console_dock")->x());
        QVERIFY(!dock("web_map")->isVisible());
        // Every dock has its toggle in the View menu.
        QList<QAction*> actions;
        for (QMenu* menu : window_->menuBar()->findChildren<QMenu*>())
            actions << menu->actions();
        for (QDockWidget* d : window_->findChildren<QDockWidget*>())
            QVERIFY2(actions.contains(d->toggleViewAction()), qPrintable(d->objectName()));
        // The default window fits a 1024 x 768 screen; Reset Layout puts
        // moved, floated and closed docks back where they first were.
        QVERIFY(window_->width() <= 1024 && window_->height() <= 768);
        window_->addDockWidget(Qt::RightDockWidgetArea, dock("links_dock"));
        dock("stack_dock")->setFloating(true);
        dock("values_dock")->hide();
        QAction* reset = window_->findChild<QAction*>("reset_layout");
        QVERIFY(reset);
        reset->trigger();
        QCOMPARE(window_->dockWidgetArea(dock("links_dock")), Qt::LeftDockWidgetArea);
        QVERIFY(!dock("stack_dock")->isFloating());
        for (const char* name : {"links_dock", "values_dock", "stack_dock"})
            QTRY_VERIFY2(in_sight(dock(name)), name);
    }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
