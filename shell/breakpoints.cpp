// Breakpoints as the window keeps them. The list here is the truth for
// cells, conditions and switches; a line is the truth only until the
// script pane shows the cell, whose markers then carry it (so an edit above
// a breakpoint moves it), and it is read back from them whenever the list
// is needed. The list is kept per web file in the user's settings, never in
// the web.
#include "shell/breakpoints.h"

#include "frontend/frontend.h"
#include "script/run_engine.h"
#include "shell/commands.h"
#include "shell/panes.h"
#include "shell/window_layout.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <QContextMenuEvent>
#include <QDockWidget>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <Qsci/qsciscintilla.h>

#include <algorithm>

namespace tarvex {

namespace {

constexpr int COL_CELL = 0, COL_LINE = 1, COL_CONDITION = 2;

struct Point {
    LineBreakpoint bp;
    int marker = -1; // the marker's handle while the pane shows bp.cell
};

struct State {
    std::vector<Point> points;
    // The settings key the list belongs to ("" for a web not yet saved).
    QString key;
    QPointer<QDockWidget> dock;
    QPointer<QTableWidget> table;
    bool filling = false;
    // The cell whose markers the pane's document holds, 0 while it is
    // being given another document.
    CellHandle placed = 0;
};
State g;

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), int(s.size())); }

// One settings key per web file: its absolute path, escaped so that its
// slashes make no settings groups.
QString key_of_web() {
    const std::string& file = web_file_name();
    if (file.empty()) return {};
    QString path = QFileInfo(qs(file)).absoluteFilePath();
    return QStringLiteral("breakpoints/") + QString::fromLatin1(QUrl::toPercentEncoding(path));
}

int script_lines(CellHandle cell) {
    std::string script = text_to_string(cell_script(cell));
    return int(std::count(script.begin(), script.end(), '\n')) + 1;
}

QsciScintilla* pane() { return shell_windows().script; }

void sort_points() {
    std::stable_sort(g.points.begin(), g.points.end(), [](const Point& a, const Point& b) {
        std::string an = cell_name_string(a.bp.cell), bn = cell_name_string(b.bp.cell);
        return an != bn ? an < bn : a.bp.line < b.bp.line;
    });
}

// Lines from the markers of the script the pane shows. Two breakpoints
// whose lines were joined become one.
bool read_back() {
    QsciScintilla* e = pane();
    CellHandle shown = pane_script_cell();
    if (!e || shown == 0 || shown != g.placed) return false;
    bool changed = false;
    for (Point& p : g.points) {
        if (p.bp.cell != shown || p.marker < 0) continue;
        int line = int(e->SendScintilla(QsciScintillaBase::SCI_MARKERLINEFROMHANDLE, p.marker)) + 1;
        if (line >= 1 && line != p.bp.line) {
            p.bp.line = line;
            changed = true;
        }
    }
    if (!changed) return false;
    sort_points();
    auto same = [](const Point& a, const Point& b) {
        return a.bp.cell == b.bp.cell && a.bp.line == b.bp.line;
    };
    g.points.erase(std::unique(g.points.begin(), g.points.end(), same), g.points.end());
    return true;
}

void place_markers() {
    QsciScintilla* e = pane();
    CellHandle shown = pane_script_cell();
    if (!e) return;
    // Through the editor's messages: its own marker calls take only the
    // markers it defined itself.
    for (int m : {MARKER_BREAK, MARKER_BREAK_OFF})
        e->SendScintilla(QsciScintillaBase::SCI_MARKERDELETEALL, m);
    int lines = e->lines();
    g.placed = shown;
    for (Point& p : g.points) {
        p.marker = -1;
        if (p.bp.cell != shown || shown == 0) continue;
        int line = std::min(p.bp.line, lines) - 1;
        p.marker =
            int(e->SendScintilla(QsciScintillaBase::SCI_MARKERADD, static_cast<unsigned long>(line),
                                 p.bp.enabled ? MARKER_BREAK : MARKER_BREAK_OFF));
    }
}

void save_settings() {
    if (g.key.isEmpty()) return;
    QSettings s = user_settings();
    if (g.points.empty()) {
        s.remove(g.key);
        return;
    }
    QStringList rows;
    for (const Point& p : g.points)
        rows << QStringLiteral("%1\t%2\t%3\t%4")
                    .arg(p.bp.enabled ? 1 : 0)
                    .arg(p.bp.line)
                    .arg(qs(cell_name_string(p.bp.cell)), qs(p.bp.condition));
    s.setValue(g.key, rows);
}

void table_fill() {
    QTableWidget* t = g.table;
    if (!t) return;
    g.filling = true;
    t->setRowCount(int(g.points.size()));
    for (int row = 0; row < int(g.points.size()); ++row) {
        const LineBreakpoint& bp = g.points[size_t(row)].bp;
        auto* cell = new QTableWidgetItem(qs(cell_name_string(bp.cell)));
        cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        cell->setCheckState(bp.enabled ? Qt::Checked : Qt::Unchecked);
        t->setItem(row, COL_CELL, cell);
        auto* line = new QTableWidgetItem(QString::number(bp.line));
        line->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        t->setItem(row, COL_LINE, line);
        t->setItem(row, COL_CONDITION, new QTableWidgetItem(qs(bp.condition)));
    }
    g.filling = false;
}

// After any change of the list: the markers, the dock (unless the change
// was made there), the settings, and a paused run's copy.
void changed(bool in_table = false) {
    place_markers();
    if (!in_table) table_fill();
    save_settings();
    if (run_active()) debug_set_breakpoints(breakpoints_list());
}

void table_edited(QTableWidgetItem* item) {
    if (g.filling || item->row() >= int(g.points.size())) return;
    read_back();
    LineBreakpoint& bp = g.points[size_t(item->row())].bp;
    if (item->column() == COL_CELL)
        bp.enabled = item->checkState() == Qt::Checked;
    else if (item->column() == COL_CONDITION)
        bp.condition = item->text().trimmed().toStdString();
    // The item that tells of the edit is not replaced under it.
    changed(true);
}

void remove_rows(bool all) {
    read_back();
    if (all) {
        g.points.clear();
    } else if (g.table) {
        int row = g.table->currentRow();
        if (row < 0 || row >= int(g.points.size())) return;
        g.points.erase(g.points.begin() + row);
    }
    changed();
}

// To the breakpoint's line in its cell's script, as a visit.
void go_to_row(int row) {
    if (row < 0 || row >= int(g.points.size())) return;
    read_back();
    LineBreakpoint bp = g.points[size_t(row)].bp;
    link_followed(cell_name_string(bp.cell));
    if (current_cell() != bp.cell) return;
    shell_show_view(VIEW_SCRIPT);
    QsciScintilla* e = pane();
    e->setCursorPosition(bp.line - 1, 0);
    e->ensureLineVisible(bp.line - 1);
    e->setFocus(Qt::OtherFocusReason);
}

// The margin's menu: the condition is edited in the dock's row.
void margin_menu(int line) {
    read_back();
    CellHandle shown = pane_script_cell();
    auto at = std::find_if(g.points.begin(), g.points.end(), [&](const Point& p) {
        return p.bp.cell == shown && p.bp.line == line + 1;
    });
    QMenu menu(pane());
    QAction* edit = menu.addAction("Edit Condition...");
    QAction* toggle = menu.addAction(at == g.points.end() ? "Add Breakpoint" : "Remove Breakpoint");
    QAction* chosen = menu.exec(QCursor::pos());
    if (chosen == toggle) {
        dispatch_command(CMD_TOGGLE_BREAKPOINT, NOTE_NONE, std::to_string(line + 1));
    } else if (chosen == edit) {
        if (at == g.points.end()) breakpoint_toggle(line + 1);
        read_back();
        for (size_t row = 0; row < g.points.size(); ++row)
            if (g.points[row].bp.cell == shown && g.points[row].bp.line == line + 1 && g.table) {
                g.dock->show();
                g.dock->raise();
                g.table->setFocus(Qt::OtherFocusReason);
                g.table->editItem(g.table->item(int(row), COL_CONDITION));
            }
    }
}

// A right click in the symbol margin opens the margin's menu instead of
// the editor's.
class MarginMenu : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        QsciScintilla* e = pane();
        if (event->type() != QEvent::ContextMenu || !e) return false;
        QPoint at = static_cast<QContextMenuEvent*>(event)->pos();
        long left = e->SendScintilla(QsciScintillaBase::SCI_GETMARGINLEFT);
        for (int m = 0; m < MARGIN_SYMBOLS; ++m)
            left += e->SendScintilla(QsciScintillaBase::SCI_GETMARGINWIDTHN, m);
        long right =
            left + e->SendScintilla(QsciScintillaBase::SCI_GETMARGINWIDTHN, MARGIN_SYMBOLS);
        if (at.x() < left || at.x() >= right) return false;
        long pos = e->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMPOINT,
                                    static_cast<unsigned long>(right), long(at.y()));
        margin_menu(int(e->SendScintilla(QsciScintillaBase::SCI_LINEFROMPOSITION,
                                         static_cast<unsigned long>(pos))));
        return true;
    }
};

} // namespace

void breakpoints_install(QMainWindow* window) {
    g = State{};
    auto* body = new QWidget(window);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* t = new QTableWidget(0, 3, body);
    t->setObjectName("breakpoints_table");
    t->setHorizontalHeaderLabels({"cell", "line", "condition"});
    t->verticalHeader()->hide();
    t->horizontalHeader()->setSectionResizeMode(COL_CELL, QHeaderView::ResizeToContents);
    t->horizontalHeader()->setSectionResizeMode(COL_LINE, QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    layout->addWidget(t, 1);
    auto* buttons = new QHBoxLayout;
    auto* remove = new QPushButton("Remove", body);
    remove->setObjectName("breakpoint_remove");
    auto* remove_all = new QPushButton("Remove All", body);
    remove_all->setObjectName("breakpoint_remove_all");
    buttons->addWidget(remove);
    buttons->addWidget(remove_all);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    g.table = t;
    QObject::connect(t, &QTableWidget::itemChanged, t, table_edited);
    QObject::connect(t, &QTableWidget::itemDoubleClicked, t, [](QTableWidgetItem* item) {
        if (item->column() != COL_CONDITION) go_to_row(item->row());
    });
    QObject::connect(remove, &QPushButton::clicked, t, [] { remove_rows(false); });
    QObject::connect(remove_all, &QPushButton::clicked, t, [] { remove_rows(true); });

    auto* dock = new QDockWidget("Breakpoints", window);
    dock->setObjectName("breakpoints_dock");
    body->setParent(dock);
    dock->setWidget(body);
    window->addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->hide();
    g.dock = dock;
    // Every web started or opened, recovered too, brings its own.
    web_add_reset_hook(breakpoints_web_opened);

    QsciScintilla* e = pane();
    if (!e) return;
    QObject::connect(e, &QsciScintilla::marginClicked, e, [](int margin, int line, auto) {
        if (margin == MARGIN_SYMBOLS)
            dispatch_command(CMD_TOGGLE_BREAKPOINT, NOTE_NONE, std::to_string(line + 1));
    });
    e->viewport()->installEventFilter(new MarginMenu(e));
    // Lines come or go: the dock shows where the breakpoints went.
    QObject::connect(e, &QsciScintilla::linesChanged, e, [] {
        if (read_back()) {
            table_fill();
            save_settings();
        }
    });
}

QDockWidget* breakpoints_dock() { return g.dock; }

void breakpoint_toggle(int line) {
    CellHandle shown = pane_script_cell();
    if (shown == 0 || line < 1) return;
    read_back();
    auto at = std::find_if(g.points.begin(), g.points.end(),
                           [&](const Point& p) { return p.bp.cell == shown && p.bp.line == line; });
    if (at != g.points.end()) {
        g.points.erase(at);
    } else {
        g.points.push_back(Point{LineBreakpoint{shown, line, {}, true}});
        sort_points();
    }
    changed();
}

int breakpoint_caret_line() {
    QsciScintilla* e = pane();
    if (!e) return 1;
    int line = 0, index = 0;
    e->getCursorPosition(&line, &index);
    return line + 1;
}

std::vector<LineBreakpoint> breakpoints_list() {
    read_back();
    std::vector<LineBreakpoint> list;
    for (const Point& p : g.points)
        list.push_back(p.bp);
    return list;
}

void breakpoints_hand_over() { debug_set_breakpoints(breakpoints_list()); }

void breakpoints_pane_leaving() {
    if (read_back()) {
        table_fill();
        save_settings();
    }
    g.placed = 0;
}

void breakpoints_pane_shown(CellHandle) { place_markers(); }

void breakpoints_web_opened() {
    g.points.clear();
    g.placed = 0; // the markers are put in as the panes are loaded
    g.key = key_of_web();
    if (!g.key.isEmpty()) {
        QStringList rows = user_settings().value(g.key).toStringList();
        for (const QString& row : rows) {
            QStringList f = row.split('\t');
            if (f.size() < 4) continue;
            CellHandle c = cell_find(f[2].toUtf8().constData());
            int line = f[1].toInt();
            if (c == 0 || line < 1 || line > script_lines(c)) continue;
            std::string condition = f.mid(3).join('\t').toStdString();
            g.points.push_back(Point{LineBreakpoint{c, line, condition, f[0] == "1"}});
        }
        sort_points();
        // What was dropped stays dropped.
        if (int(g.points.size()) != rows.size()) save_settings();
    }
    table_fill();
}

void breakpoints_store() {
    read_back();
    g.key = key_of_web();
    save_settings();
    table_fill();
}

void breakpoints_cell_gone(CellHandle cell) {
    auto gone = [&](const Point& p) { return p.bp.cell == cell; };
    if (std::none_of(g.points.begin(), g.points.end(), gone)) return;
    g.points.erase(std::remove_if(g.points.begin(), g.points.end(), gone), g.points.end());
    changed();
}

} // namespace tarvex
