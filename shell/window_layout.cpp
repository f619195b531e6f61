// The two layouts the main window's panes are arranged in: the desktop
// workbench with its docks and the compact one with six tabs, switched
// between and kept with the user's settings.
#include "shell/window_layout.h"

#include "frontend/frontend.h"
#include "shell/panes.h"

#include <QAction>
#include <QCoreApplication>
#include <QDockWidget>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <Qsci/qsciscintilla.h>

namespace tarvex {

namespace {

// The layout is kept with the user's settings. The version goes up whenever
// the docks change so that an arrangement saved before would put them
// wrong; an arrangement of another version is not restored.
const QString LAYOUT_COMPACT_KEY = QStringLiteral("layout/compact");
const QString LAYOUT_VERSION_KEY = QStringLiteral("layout/version");
const QString LAYOUT_STATE_KEY = QStringLiteral("layout/state");
const QString LAYOUT_GEOMETRY_KEY = QStringLiteral("layout/geometry");
constexpr int LAYOUT_VERSION = 1;

Layout g_layout;

// TARVEX_LAYOUT=compact or TARVEX_LAYOUT=desktop in the environment chooses
// the layout of this run over the user's setting, which it leaves as it is
// (the GUI tests run each suite in both layouts this way).
bool layout_from_environment(bool* compact) {
    QByteArray chosen = qgetenv("TARVEX_LAYOUT");
    if (chosen != "compact" && chosen != "desktop") return false;
    *compact = chosen == "compact";
    return true;
}

} // namespace

void layout_load(QMainWindow* window) {
    QSettings settings = user_settings();
    g_layout.compact = settings.value(LAYOUT_COMPACT_KEY, false).toBool();
    if (settings.value(LAYOUT_VERSION_KEY).toInt() == LAYOUT_VERSION)
        g_layout.desktop_state = settings.value(LAYOUT_STATE_KEY).toByteArray();
    g_layout.overridden = layout_from_environment(&g_layout.compact);
    QByteArray geometry = settings.value(LAYOUT_GEOMETRY_KEY).toByteArray();
    if (geometry.isEmpty() || !window->restoreGeometry(geometry))
        window->resize(g_layout.compact ? QSize(900, 680) : QSize(1000, 700));
}

void layout_save() {
    QMainWindow* window = shell_windows().main;
    if (!window || !g_layout.applied) return;
    if (!g_layout.compact) g_layout.desktop_state = window->saveState(LAYOUT_VERSION);
    QSettings settings = user_settings();
    if (!g_layout.overridden || g_layout.chosen)
        settings.setValue(LAYOUT_COMPACT_KEY, g_layout.compact);
    if (!g_layout.desktop_state.isEmpty()) {
        settings.setValue(LAYOUT_VERSION_KEY, LAYOUT_VERSION);
        settings.setValue(LAYOUT_STATE_KEY, g_layout.desktop_state);
    }
    settings.setValue(LAYOUT_GEOMETRY_KEY, window->saveGeometry());
}

namespace {

QDockWidget* dock_named(const char* name) {
    return shell_windows().main->findChild<QDockWidget*>(QString::fromLatin1(name));
}

// The desktop layout as it first opens: the cells with the links under them
// on the left, the plot with the values under it on the right (both the
// full height), the console under the editors with the call stack beside
// it. Docks that another part of the shell made are placed by name when
// they exist.
void layout_default() {
    QMainWindow* w = shell_windows().main;
    w->addDockWidget(Qt::LeftDockWidgetArea, g_layout.cells);
    w->addDockWidget(Qt::BottomDockWidgetArea, g_layout.console);
    w->addDockWidget(Qt::RightDockWidgetArea, g_layout.plot);
    QList<QDockWidget*> shown = {g_layout.cells, g_layout.console, g_layout.plot};
    auto beside = [&](QDockWidget* first, const char* name, Qt::Orientation how) {
        if (QDockWidget* dock = dock_named(name)) {
            w->splitDockWidget(first, dock, how);
            shown << dock;
        }
    };
    beside(g_layout.cells, "links_dock", Qt::Vertical);
    beside(g_layout.plot, "values_dock", Qt::Vertical);
    beside(g_layout.console, "stack_dock", Qt::Horizontal);
    // The breakpoints share the call stack's place, behind it.
    QDockWidget* stack = dock_named("stack_dock");
    if (QDockWidget* points = dock_named("breakpoints_dock"); stack && points) {
        w->tabifyDockWidget(stack, points);
        shown << points;
    }
    for (QDockWidget* dock : w->findChildren<QDockWidget*>())
        dock->setVisible(shown.contains(dock));
    if (stack) stack->raise();
    w->resizeDocks({g_layout.cells, g_layout.plot}, {200, 300}, Qt::Horizontal);
    w->resizeDocks({g_layout.console}, {230}, Qt::Vertical);
    if (stack) w->resizeDocks({g_layout.console, stack}, {300, 200}, Qt::Horizontal);
    if (QDockWidget* links = dock_named("links_dock"))
        w->resizeDocks({g_layout.cells, links}, {460, 200}, Qt::Vertical);
    if (QDockWidget* values = dock_named("values_dock"))
        w->resizeDocks({g_layout.plot, values}, {340, 320}, Qt::Vertical);
}

// The editor tab the desktop layout shows: the current view's when it is an
// editor's, else the one shown last.
int shown_editor_view() {
    int view = shell_current_view();
    if (view >= VIEW_TEXT && view <= VIEW_SCRIPT) return view;
    int tab = shell_windows().tabs->currentIndex();
    return tab >= VIEW_TEXT && tab <= VIEW_SCRIPT ? tab : VIEW_TEXT;
}

// The tab strip: all six tabs under the pane in the compact layout, the
// three editor tabs above the editors in the desktop one.
void tabs_arrange(bool compact) {
    ShellWindows& w = shell_windows();
    int view = shell_current_view();
    {
        // Hiding the selected tab would select another, which is a view switch.
        QSignalBlocker block(w.tabs);
        for (int v : {VIEW_LIST, VIEW_CONS, VIEW_PLOT})
            w.tabs->setTabVisible(v, compact);
        w.tabs->setCurrentIndex(compact ? view : shown_editor_view());
    }
    auto* layout = static_cast<QVBoxLayout*>(w.main->centralWidget()->layout());
    layout->removeWidget(w.tabs);
    int at = layout->indexOf(w.stack);
    layout->insertWidget(compact ? at + 1 : at, w.tabs);
}

void own_docks_enable(bool on) {
    for (QDockWidget* dock : {g_layout.cells, g_layout.console, g_layout.plot})
        dock->toggleViewAction()->setEnabled(on);
}

void layout_to_compact() {
    ShellWindows& w = shell_windows();
    if (g_layout.applied && !g_layout.compact)
        g_layout.desktop_state = w.main->saveState(LAYOUT_VERSION);
    for (QDockWidget* dock : w.main->findChildren<QDockWidget*>())
        dock->hide();
    own_docks_enable(false);
    // Back to the pages of the stack, in view order.
    for (auto [view, pane] :
         {std::pair{VIEW_LIST, static_cast<QWidget*>(w.list)},
          std::pair{VIEW_CONS, static_cast<QWidget*>(w.console)}, std::pair{VIEW_PLOT, w.plot}})
        if (w.stack->indexOf(pane) < 0) w.stack->insertWidget(view, pane);
    list_filter_set(QString());
    tabs_arrange(true);
    w.stack->setCurrentWidget(slot_window(view_slot(shell_current_view())));
}

void layout_to_desktop() {
    ShellWindows& w = shell_windows();
    tabs_arrange(false);
    w.stack->setCurrentWidget(slot_window(view_slot(shown_editor_view())));
    for (QWidget* pane : {static_cast<QWidget*>(w.list), static_cast<QWidget*>(w.console), w.plot})
        w.stack->removeWidget(pane);
    g_layout.cells_page->layout()->addWidget(w.list);
    g_layout.console->setWidget(w.console);
    g_layout.plot->setWidget(w.plot);
    // The stack hid the pages it did not show.
    for (QWidget* pane : {static_cast<QWidget*>(w.list), static_cast<QWidget*>(w.console), w.plot})
        pane->show();
    list_filter_set(g_layout.filter->text());
    own_docks_enable(true);
    if (g_layout.desktop_state.isEmpty() ||
        !w.main->restoreState(g_layout.desktop_state, LAYOUT_VERSION))
        layout_default();
}

// View > Reset Layout: the desktop layout's docks as it first opens, at the
// window's size (floating docks back in the window); in the compact layout,
// for its next showing.
void layout_reset() {
    g_layout.desktop_state.clear();
    if (!g_layout.compact) {
        for (QDockWidget* dock : shell_windows().main->findChildren<QDockWidget*>())
            dock->setFloating(false);
        layout_default();
    }
    layout_save();
}

// View > Compact Layout, checked or not.
void layout_choose(bool compact) {
    if (compact == g_layout.compact) return;
    if (compact)
        layout_to_compact();
    else
        layout_to_desktop();
    g_layout.compact = compact;
    g_layout.chosen = true;
    layout_save();
    focus_current();
}

} // namespace

// At the first show, when every dock exists: the dock toggles and the
// layout choice in the View menu, and the panes put in their places.
void layout_start() {
    QMainWindow* w = shell_windows().main;
    QMenu* view = g_layout.view_menu;
    view->addSeparator();
    QList<QDockWidget*> docks = {g_layout.cells, g_layout.console, g_layout.plot};
    for (QDockWidget* dock : w->findChildren<QDockWidget*>())
        if (!docks.contains(dock)) docks << dock;
    for (QDockWidget* dock : docks)
        if (!view->actions().contains(dock->toggleViewAction()))
            view->addAction(dock->toggleViewAction());
    view->addSeparator();
    QAction* compact = view->addAction("Co&mpact Layout");
    compact->setObjectName("compact_layout");
    compact->setCheckable(true);
    compact->setShortcut(QKeySequence("Ctrl+Shift+K"));
    compact->setChecked(g_layout.compact);
    g_layout.compact_action = compact;
    QObject::connect(compact, &QAction::toggled, w, [](bool on) { layout_choose(on); });
    QAction* reset = view->addAction("&Reset Layout");
    reset->setObjectName("reset_layout");
    QObject::connect(reset, &QAction::triggered, w, [] { layout_reset(); });
    if (g_layout.compact)
        layout_to_compact();
    else
        layout_to_desktop();
    g_layout.applied = true;
}

Layout& window_layout() { return g_layout; }

QString user_organization() {
    QString org = QCoreApplication::organizationName();
    return org.isEmpty() ? QStringLiteral("Tarvex") : org;
}

QSettings user_settings() { return QSettings(user_organization(), QStringLiteral("Tarvex")); }

} // namespace tarvex
