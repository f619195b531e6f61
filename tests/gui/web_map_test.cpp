// GUI tests of the web map against the real main window (offscreen): the
// dock opened by its key, a box per cell with its name, an arrow per link in
// the style of its kind, clicks on boxes, and following the web on the idle
// tick without laying an unchanged graph out again.
#include "gui_test_support.h"

#include "shell/web_map.h"

#include <QApplication>
#include <QDockWidget>
#include <QGraphicsPathItem>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsView>
#include <QTreeWidget>
#include <QtTest>

#include <set>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

// Longer than two idle ticks.
constexpr int TICKS_MS = 2 * IDLE_TICK_MS + 500;

void go(const char* name) {
    shell_windows().name_box->setEditText(name);
    go_to_name();
}

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

class WebMapTest : public WindowTest {
    Q_OBJECT

    QDockWidget* dock() const { return window_->findChild<QDockWidget*>("web_map"); }

    // The key opens and closes it, whatever has the focus.
    void toggle() {
        QTRY_VERIFY(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_M,
                        Qt::ControlModifier | Qt::ShiftModifier);
    }

  private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-web-map-tests");
        window_ = window_open(frontend_, DialogAnswer{});
        QVERIFY(dock() && !dock()->isVisible());
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        shell_windows().list->setFocus();
        toggle();
        QVERIFY(dock()->isVisible());
    }

    void init() { fresh_web(); }

    void cleanupTestCase() { window_close(window_); }

    void everyCellIsABoxWithItsName() {
        go("alpha");
        set_pane(VIEW_TEXT, "back to home and on to beta");
        go("beta");
        set_pane(VIEW_SCRIPT, "set alpha to 1");
        dispatch_command(CMD_BACK);
        settle();
        QCOMPARE(names_drawn(), (std::set<std::string>{"alpha", "beta", "home"}));
        EdgeCount e = edges_drawn();
        QCOMPARE(e.solid, 2);  // alpha -> home, alpha -> beta
        QCOMPARE(e.dashed, 1); // beta's script -> alpha
    }

    void clickingABoxVisitsItsCell() {
        go("target");
        dispatch_command(CMD_BACK);
        settle();
        QCOMPARE(current_name(), std::string("home"));
        QColor before = box_of("home")->brush().color();
        click_box("target");
        QCOMPARE(current_name(), std::string("target"));
        // The highlight moved with it, and the visit is in the history.
        QCOMPARE(box_of("target")->brush().color(), before);
        QVERIFY(box_of("home")->brush().color() != before);
        dispatch_command(CMD_BACK);
        QCOMPARE(current_name(), std::string("home"));
        // A click beside every box does nothing.
        QTest::mouseClick(web_map_view()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QCOMPARE(current_name(), std::string("home"));
    }

    void followsNewCellsLinksAndDeletions() {
        settle();
        QCOMPARE(names_drawn(), (std::set<std::string>{"home"}));
        // A link typed into the text pane shows before it is copied back.
        go("leaf");
        dispatch_command(CMD_BACK);
        set_pane(VIEW_TEXT, "see leaf");
        QTRY_COMPARE_WITH_TIMEOUT(edges_drawn().solid, 1, TICKS_MS);
        QCOMPARE(names_drawn(), (std::set<std::string>{"home", "leaf"}));
        // Removing the link removes the edge.
        set_pane(VIEW_TEXT, "see nothing");
        QTRY_COMPARE_WITH_TIMEOUT(edges_drawn().solid, 0, TICKS_MS);
        // Deleting a cell removes its box.
        go("leaf");
        g_answers.push_back(yes());
        dispatch_command(CMD_DELETE);
        QTRY_COMPARE_WITH_TIMEOUT(names_drawn(), (std::set<std::string>{"home"}), TICKS_MS);
    }

    void anUnchangedGraphIsNotLaidOutAgain() {
        go("other");
        dispatch_command(CMD_BACK);
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
    }

    void hiddenMapDoesNoWork() {
        // Closed from the script pane, where the editor has keys of its own.
        set_pane(VIEW_SCRIPT, "");
        shell_windows().script->setFocus();
        toggle();
        QVERIFY(!dock()->isVisible());
        int layouts = web_map_layout_count();
        go("unseen");
        QTest::qWait(TICKS_MS);
        QCOMPARE(web_map_layout_count(), layouts);
        // Shown again, it catches up at once.
        toggle();
        QVERIFY(dock()->isVisible());
        QTRY_VERIFY(names_drawn().count("unseen") == 1);
    }
};

QTEST_MAIN(WebMapTest)
#include "web_map_test.moc"
