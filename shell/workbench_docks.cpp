// The Call Stack, Values and Links docks. Each is rebuilt from the engine's
// state when something that can change it happened (panes loaded, cells
// added or removed, a committed edit seen by the idle check), and during a
// run only from the output pump, at most every DOCK_RUN_REFRESH_MS. Rows are
// rewritten only where their text changed, so a refresh of an unchanged web
// repaints nothing.
#include "shell/workbench_docks.h"

#include "core/guard.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "reports/pointers.h"
#include "script/debugger.h"
#include "script/run_engine.h"
#include "shell/breakpoints.h"
#include "shell/commands.h"
#include "shell/panes.h"
#include "web/cell.h"
#include "web/links.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <QApplication>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <vector>

namespace tarvex {

namespace {

constexpr int ROLE_FULL_TEXT = Qt::UserRole;
const char* const NOT_PAUSED_NOTE = "Not paused at a brk";
const char* const LINKS_FROM_TITLE = "Links from here";

struct Docks {
    QPointer<QDockWidget> stack, values, links;
    QPointer<QListWidget> stack_list, links_here, links_from;
    QPointer<QLabel> links_from_label;
    QPointer<QTableWidget> values_table;
    QPointer<QTimer> idle_check;
    QElapsedTimer since_refresh;
    bool scheduled = false;
    // What the docks show now, so a refresh can tell what changed.
    bool stack_paused = false;
    std::vector<std::string> stack_names;
    std::vector<RunFrame> stack_frames;
    std::vector<CellHandle> value_cells;
    std::vector<std::string> value_names;
    bool values_editable = false;
    // The current cell's committed fields when the links were last read.
    CellHandle seen_cell = 0;
    std::string seen_fields;
};
Docks g;

QString qs(const std::string& s) { return QString::fromUtf8(s.data(), int(s.size())); }

bool shown(QDockWidget* d) { return d && d->isVisible(); }

// Paused and waiting for the user (a brk passed over by Run also raises
// the pause flag while it writes its line).
bool paused() { return run_active() && run_breakpoint_pause() && !run_ignore_breakpoints(); }

// A value on one row: line ends shown as a mark, and cut (the column
// elides the rest at its width).
QString value_row_text(const std::string& display) {
    QString s = qs(display.substr(0, DOCK_VALUE_ROW_MAX * 4)); // bytes of as many characters
    s.replace(QLatin1String("\r\n"), QStringLiteral("\u21b5"));
    for (QChar& ch : s)
        if (ch == '\n' || ch == '\r')
            ch = QChar(0x21b5);
        else if (ch == '\t')
            ch = ' ';
    if (s.size() > DOCK_VALUE_ROW_MAX) s = s.left(DOCK_VALUE_ROW_MAX) + QChar(0x2026);
    return s;
}

QString value_tip(const std::string& display) {
    QString s = qs(display.substr(0, DOCK_VALUE_TIP_MAX * 4));
    s.remove('\r');
    if (s.size() > DOCK_VALUE_TIP_MAX) s = s.left(DOCK_VALUE_TIP_MAX) + QChar(0x2026);
    return s;
}

// ---- call stack ---------------------------------------------------------------

// A frame as the dock shows it: its cell, and its arguments as a call
// would give them.
std::string frame_row(const RunFrame& f) {
    std::string row = cell_name_string(f.cell);
    if (f.args.empty()) return row;
    row += '(';
    for (size_t i = 0; i < f.args.size(); ++i) {
        std::string arg = f.args[i].substr(0, DOCK_FRAME_ARG_MAX);
        if (arg.size() < f.args[i].size()) arg += "...";
        row += (i ? ", " : "") + arg;
    }
    return row + ')';
}

void stack_refresh() {
    QListWidget* list = g.stack_list;
    if (!list) return;
    bool now_paused = paused();
    std::vector<std::string> rows;
    std::vector<RunFrame> frames;
    if (now_paused) frames = run_frames();
    for (const RunFrame& f : frames)
        rows.push_back(frame_row(f));
    g.stack_frames = frames;
    if (list->count() > 0 && now_paused == g.stack_paused && rows == g.stack_names) return;
    g.stack_paused = now_paused;
    g.stack_names = rows;
    list->clear();
    if (!now_paused) {
        auto* note = new QListWidgetItem(NOT_PAUSED_NOTE, list);
        note->setFlags(Qt::NoItemFlags); // greyed, and a click on it does nothing
        return;
    }
    for (const std::string& row : rows)
        new QListWidgetItem(qs(row), list);
}

// A frame picked: its cell's script shown with the frame's line marked and
// the caret there; the run itself stays where it paused.
void stack_frame_picked(int row) {
    if (!paused() || row < 0 || row >= int(g.stack_frames.size())) return;
    RunFrame f = g.stack_frames[size_t(row)];
    dispatch_command(CMD_NAME_BOX, NOTE_SELECTED, cell_name_string(f.cell));
    if (current_cell() != f.cell) return;
    engine_guard([&] {
        pane_state_select(f.cell, f.at.start, f.at.start);
        pane_frame_mark(f.cell, f.at.start);
    });
    shell_show_view(VIEW_SCRIPT);
}

// ---- values -------------------------------------------------------------------

// The current cell's row is the table's current row, as the cell list's
// item is; it is moved only when the cell changed, so a value being typed
// or a row the user scrolled to stays.
void values_follow_current(QTableWidget* table, const std::vector<CellHandle>& cells) {
    auto at = std::find(cells.begin(), cells.end(), current_cell());
    QWidget* editor = QApplication::focusWidget();
    bool editing = editor && editor != table && table->isAncestorOf(editor);
    if (at == cells.end() || editing) return;
    int row = int(at - cells.begin());
    if (table->currentRow() == row) return;
    table->setCurrentCell(row, 0);
    table->scrollToItem(table->item(row, 0));
}

void values_refresh() {
    QTableWidget* table = g.values_table;
    if (!table) return;
    std::vector<CellHandle> cells;
    std::vector<std::string> names;
    web_for_each_cell([&](CellHandle c) {
        cells.push_back(c);
        names.push_back(cell_name_string(c));
        return true;
    });
    bool editable = paused();
    // Names too: a deleted cell's handle may come back as another cell.
    if (cells != g.value_cells || names != g.value_names) {
        table->setRowCount(int(cells.size()));
        for (int row = 0; row < int(cells.size()); ++row) {
            auto* name = new QTableWidgetItem(qs(names[row]));
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            table->setItem(row, 0, name);
            if (!table->item(row, 1)) table->setItem(row, 1, new QTableWidgetItem);
        }
        g.value_cells = cells;
        g.value_names = names;
        g.values_editable = !editable; // flags of every row are set below
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (editable) flags |= Qt::ItemIsEditable;
    for (int row = 0; row < int(cells.size()); ++row) {
        QTableWidgetItem* item = table->item(row, 1);
        std::string display = value_display(cell_value(cells[row]));
        QString full = qs(display);
        if (item->data(ROLE_FULL_TEXT).toString() != full) {
            item->setData(ROLE_FULL_TEXT, full);
            item->setText(value_row_text(display));
            item->setToolTip(value_tip(display));
        }
        if (g.values_editable != editable) item->setFlags(flags);
    }
    g.values_editable = editable;
    values_follow_current(table, cells);
}

// A value typed into the Values dock: stored as the value pane stores what
// is typed there, and only while paused (the run sees it when it resumes).
void values_commit(const QString& name, const QString& typed) {
    engine_guard([&] {
        if (!paused()) return;
        CellHandle c = cell_find(name.toUtf8().constData());
        if (!c) return;
        std::string bytes = typed.toUtf8().toStdString();
        if (c == current_cell()) {
            // The value pane shows this cell: keep its other panes' edits,
            // then show the stored value there too.
            commit_all_panes();
            pane_value_store(c, bytes);
            load_panes();
        } else {
            pane_value_store(c, bytes);
        }
    });
    workbench_docks_changed();
}

// Edits the whole value, not the row's shortened text.
class ValueDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The row's flags follow the pause at the next refresh; this holds at
    // the moment of the double click.
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        if (!paused()) return nullptr;
        return QStyledItemDelegate::createEditor(parent, option, index);
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setText(index.data(ROLE_FULL_TEXT).toString());
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (!line) return;
        QString name = model->index(index.row(), 0).data().toString();
        if (line->text() == index.data(ROLE_FULL_TEXT).toString()) return; // nothing typed
        values_commit(name, line->text());
    }
};

// ---- links --------------------------------------------------------------------

std::string fields_of(CellHandle c) {
    return text_to_string(cell_text(c)) + '\0' + text_to_string(cell_script(c)) + '\0' +
           value_display(cell_value(c));
}

void fill_names(QListWidget* list, const std::vector<CellHandle>& cells) {
    // A set for the repeats: the hub of a big web has an entry from every
    // cell, and a scan of the list for each made the move quadratic.
    QStringList names;
    QSet<QString> seen;
    names.reserve(qsizetype(cells.size()));
    seen.reserve(qsizetype(cells.size()));
    for (CellHandle c : cells) {
        QString n = qs(cell_name_string(c));
        if (seen.contains(n)) continue;
        seen.insert(n);
        names << n;
    }
    QStringList was;
    for (int i = 0; i < list->count(); ++i)
        was << list->item(i)->text();
    if (was == names) return;
    list->clear();
    list->addItems(names);
}

void links_refresh() {
    if (!g.links_here || !g.links_from) return;
    CellHandle c = current_cell();
    if (c == 0) {
        g.links_here->clear();
        g.links_from->clear();
        return;
    }
    fill_names(g.links_here, in_pointers(c, PS_FIELDS));
    fill_names(g.links_from, out_pointers(c, PS_FIELDS));
    if (!g.links_from_label) return;
    // The text pane shades what lies past the mark; here it is said.
    QString title = LINKS_FROM_TITLE;
    if (text_length(cell_text(c)) > LINK_TEXT_MAX)
        title += QString(" (read from the text's first %1 characters only)")
                     .arg(QLocale(QLocale::English).toString(qlonglong(LINK_TEXT_MAX)));
    if (g.links_from_label->text() != title) g.links_from_label->setText(title);
}

// ---- refreshing ---------------------------------------------------------------

void refresh_all() {
    g.scheduled = false;
    g.since_refresh.start();
    if (shown(g.stack)) stack_refresh();
    if (shown(g.values)) values_refresh();
    if (shown(g.links)) links_refresh();
    if (CellHandle c = current_cell()) {
        g.seen_cell = c;
        g.seen_fields = fields_of(c);
    }
}

// A text, script or value of the current cell committed without a move
// (a tab switch, a save) loads no panes: seen here instead.
void idle_check() {
    if (run_active() && !paused()) return;
    CellHandle c = current_cell();
    if (c == 0 || (c == g.seen_cell && fields_of(c) == g.seen_fields)) return;
    refresh_all();
}

QListWidget* names_list(const char* object_name, QWidget* parent) {
    auto* list = new QListWidget(parent);
    list->setObjectName(object_name);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    return list;
}

QDockWidget* make_dock(QMainWindow* window, const char* title, const char* object_name,
                       QWidget* body, Qt::DockWidgetArea area) {
    auto* dock = new QDockWidget(title, window);
    dock->setObjectName(object_name);
    body->setParent(dock);
    dock->setWidget(body);
    window->addDockWidget(area, dock);
    // The window's layout decides which docks it shows; until it does they
    // take no room from the panes.
    dock->hide();
    QObject::connect(dock, &QDockWidget::visibilityChanged, dock, [](bool visible) {
        if (visible) workbench_docks_changed();
    });
    return dock;
}

QMenu* view_menu(QMainWindow* window) {
    for (QAction* a : window->menuBar()->actions())
        if (a->menu() && a->text().remove('&') == QLatin1String("View")) return a->menu();
    return nullptr;
}

} // namespace

void workbench_docks_install(QMainWindow* window) {
    g = Docks{};

    g.stack_list = names_list("stack_list", window);
    g.stack = make_dock(window, "Call Stack", "stack_dock", g.stack_list, Qt::RightDockWidgetArea);
    QObject::connect(g.stack_list, &QListWidget::itemClicked, g.stack_list,
                     [](QListWidgetItem* item) {
                         // A list not yet refreshed after the run went on
                         // is no stack.
                         if (item->flags() & Qt::ItemIsEnabled)
                             stack_frame_picked(g.stack_list->row(item));
                     });

    auto* table = new QTableWidget(0, 2, window);
    table->setObjectName("values_table");
    table->setHorizontalHeaderLabels({"name", "value"});
    table->verticalHeader()->hide();
    // One text line a row, so that a small web's values all show at once.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    table->setTextElideMode(Qt::ElideRight);
    table->setWordWrap(false);
    table->setItemDelegateForColumn(1, new ValueDelegate(table));
    g.values_table = table;
    g.values = make_dock(window, "Values", "values_dock", table, Qt::RightDockWidgetArea);
    QObject::connect(table, &QTableWidget::itemDoubleClicked, table, [](QTableWidgetItem* item) {
        if (item->column() == 0) link_followed(item->text().toStdString());
    });

    auto* links = new QWidget(window);
    auto* layout = new QVBoxLayout(links);
    layout->setContentsMargins(2, 2, 2, 2);
    g.links_here = names_list("links_here", links);
    g.links_from = names_list("links_from", links);
    layout->addWidget(new QLabel("Links here", links));
    layout->addWidget(g.links_here, 1);
    g.links_from_label = new QLabel(LINKS_FROM_TITLE, links);
    g.links_from_label->setObjectName("links_from_label");
    g.links_from_label->setWordWrap(true);
    layout->addWidget(g.links_from_label);
    layout->addWidget(g.links_from, 1);
    for (QListWidget* list : {g.links_here.data(), g.links_from.data()})
        QObject::connect(list, &QListWidget::itemClicked, list,
                         [](QListWidgetItem* item) { link_followed(item->text().toStdString()); });
    g.links = make_dock(window, "Links", "links_dock", links, Qt::LeftDockWidgetArea);

    breakpoints_install(window);
    if (QMenu* view = view_menu(window)) {
        view->addSeparator();
        for (QDockWidget* d : {g.stack.data(), breakpoints_dock(), g.values.data(), g.links.data()})
            view->addAction(d->toggleViewAction());
    }

    g.idle_check = new QTimer(window);
    QObject::connect(g.idle_check, &QTimer::timeout, g.idle_check, idle_check);
    g.idle_check->start(DOCK_IDLE_CHECK_MS);
    workbench_docks_changed();
}

void workbench_docks_changed() {
    if (g.scheduled || !g.idle_check) return;
    g.scheduled = true;
    QTimer::singleShot(0, g.idle_check, refresh_all);
}

void workbench_docks_pumped() {
    if (!g.idle_check ||
        (g.since_refresh.isValid() && g.since_refresh.elapsed() < DOCK_RUN_REFRESH_MS))
        return;
    g.since_refresh.start();
    if (shown(g.values)) values_refresh();
    if (shown(g.stack)) stack_refresh();
}

QDockWidget* workbench_dock(const char* object_name) {
    for (QDockWidget* d : {g.stack.data(), breakpoints_dock(), g.values.data(), g.links.data()})
        if (d && d->objectName() == QLatin1String(object_name)) return d;
    return nullptr;
}

} // namespace tarvex
