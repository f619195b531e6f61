// The docks beside the editors, driven with keys on the focused widget and
// clicks where things are drawn: the Values (typed in while paused, shown
// after and during a run), the Links of the current cell, and the web map
// (opened by its key, a box per cell and an arrow per link, clicks on
// boxes, and following the web on the idle tick without needless layouts).
// The Call Stack's: DebuggerTest.
#include "gui_test_support.h"

#include "core/value.h"
#include "script/run_engine.h"
#include "shell/web_map.h"
#include "shell/workbench_docks.h"
#include "web/links.h"

#include <QDockWidget>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QLabel>
#include <QListWidget>
#include <QTableWidget>

#include <set>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

QListWidget* list(const char* name) { return shell_windows().main->findChild<QListWidget*>(name); }
QTableWidget* values() { return shell_windows().main->findChild<QTableWidget*>("values_table"); }

QStringList texts(QListWidget* l) {
    QStringList r;
    for (int i = 0; i < l->count(); ++i)
        r << l->item(i)->text();
    return r;
}

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

} // namespace

class DocksTest : public WindowTest {
    Q_OBJECT

    QDockWidget* map_dock() const { return window_->findChild<QDockWidget*>("web_map"); }

    // The key opens and closes the map, whatever has the focus.
    void toggle_map() {
        QTRY_VERIFY(focused());
        key(Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    }

  private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-docks-tests");
        window_open_active();
        window_->resize(1200, 900);
        for (const char* name : {"stack_dock", "values_dock", "links_dock"}) {
            QDockWidget* d = workbench_dock(name);
            QVERIFY2(d, name);
            if (!d->isVisible()) d->toggleViewAction()->trigger();
        }
        QVERIFY(map_dock() && !map_dock()->isVisible());
    }

    void init() {
        fresh_web();
        QVERIFY(QTest::qWaitForWindowActive(window_));
    }

    void cleanupTestCase() { window_close(window_); }

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
        key(Qt::Key_B, Qt::AltModifier);
        QTRY_VERIFY(!run_active());
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
        key(Qt::Key_F5);
        QTRY_VERIFY(!run_active());
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
        // Deleting a cell removes its box.
        go("leaf");
        g_answers.push_back(yes());
        key(Qt::Key_D, Qt::AltModifier);
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
