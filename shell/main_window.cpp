// The main window: menus, tool buttons, the cell-name box with the
// navigation strip on top, the panes, the tab strip and the status line;
// the keys they take. The layouts are in window_layout.cpp, the end of the
// program in shell_exit.cpp. Signals are connected in connect_signals() only.
#include "shell/main_window.h"

#include "commands/rename_cell.h"
#include "core/errors.h"
#include "core/guard.h"
#include "engine/web_fit.h"
#include "frontend/frontend.h"
#include "script/run_engine.h"
#include "shell/commands.h"
#include "shell/completion.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "shell/plot_view.h"
#include "shell/recent_webs.h"
#include "shell/search.h"
#include "shell/web_map.h"
#include "shell/window_layout.h"
#include "shell/workbench_docks.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_export.h"
#include "webfile/web_file.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QSettings>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <Qsci/qsciscintilla.h>

#include <cstdlib>
#include <memory>

// The icon's resource is compiled into this static library, where nothing
// refers to it: without this call the linker leaves it out.
static void init_shell_resources() { Q_INIT_RESOURCE(tarvex); }

namespace tarvex {

namespace {

struct MenuItem {
    const char* text; // nullptr: a separator
    int command;
};

struct Accelerator {
    int key;
    Qt::KeyboardModifiers mods;
    int command;
};

// The key table. Menus and tooltips name a command's keys in this order, so
// its first key comes first. No menu title may take Alt with a letter used
// here: Qt gives menu mnemonics the key before the window sees it.
const Accelerator ACCELERATORS[] = {
    {Qt::Key_A, Qt::ControlModifier, CMD_SELECT_ALL},
    {Qt::Key_B, Qt::AltModifier, CMD_RUN_TO_BRK},
    {Qt::Key_C, Qt::ControlModifier, CMD_COPY},
    {Qt::Key_C, Qt::AltModifier, CMD_CLONE},
    {Qt::Key_D, Qt::AltModifier, CMD_DELETE},
    {Qt::Key_E, Qt::ControlModifier, CMD_ERASE_PLOT},
    {Qt::Key_N, Qt::ControlModifier, CMD_NEW_WEB},
    {Qt::Key_N, Qt::AltModifier, CMD_NEW_CELL},
    {Qt::Key_Q, Qt::ControlModifier, CMD_QUIT},
    {Qt::Key_Up, Qt::AltModifier, CMD_PREVIOUS_CELL},
    {Qt::Key_Z, Qt::ControlModifier, CMD_UNDO},
    {Qt::Key_Y, Qt::ControlModifier, CMD_REDO},
    {Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, CMD_REDO},
    {Qt::Key_R, Qt::AltModifier, CMD_RUN},
    {Qt::Key_S, Qt::AltModifier, CMD_STOP},
    {Qt::Key_T, Qt::AltModifier, CMD_SETTINGS},
    {Qt::Key_V, Qt::ControlModifier, CMD_PASTE},
    {Qt::Key_Delete, Qt::NoModifier, CMD_CLEAR},
    {Qt::Key_Down, Qt::AltModifier, CMD_NEXT_CELL},
    {Qt::Key_Left, Qt::AltModifier, CMD_BACK},
    {Qt::Key_Right, Qt::AltModifier, CMD_FORWARD},
    {Qt::Key_Tab, Qt::NoModifier, CMD_SWITCH_FOCUS},
    {Qt::Key_X, Qt::ControlModifier, CMD_CUT},
    {Qt::Key_O, Qt::ControlModifier, CMD_OPEN},
    {Qt::Key_P, Qt::ControlModifier, CMD_PRINT},
    {Qt::Key_S, Qt::ControlModifier, CMD_SAVE},
    {Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier, CMD_SAVE_AS},
    // Desktop keys beside the handheld's.
    {Qt::Key_F5, Qt::ControlModifier, CMD_RUN},
    // The debugger's keys: F5 runs to a breakpoint, or goes on to the next
    // one from a pause.
    {Qt::Key_F5, Qt::NoModifier, CMD_RUN_TO_BRK},
    {Qt::Key_F5, Qt::ShiftModifier, CMD_STOP},
    {Qt::Key_F10, Qt::NoModifier, CMD_STEP_OVER},
    {Qt::Key_F11, Qt::NoModifier, CMD_STEP_INTO},
    {Qt::Key_F11, Qt::ShiftModifier, CMD_STEP_OUT},
    {Qt::Key_F10, Qt::ControlModifier, CMD_RUN_TO_CURSOR},
    {Qt::Key_F9, Qt::NoModifier, CMD_TOGGLE_BREAKPOINT},
    {Qt::Key_F6, Qt::NoModifier, CMD_SWITCH_FOCUS},
    {Qt::Key_L, Qt::ControlModifier, CMD_GO_TO_BOX},
    {Qt::Key_F4, Qt::NoModifier, CMD_GO_TO_BOX},
    {Qt::Key_F, Qt::ControlModifier, CMD_FIND_BAR},
    {Qt::Key_H, Qt::ControlModifier, CMD_FIND},
    {Qt::Key_1, Qt::ControlModifier, CMD_VIEW_LIST},
    {Qt::Key_2, Qt::ControlModifier, CMD_VIEW_TEXT},
    {Qt::Key_3, Qt::ControlModifier, CMD_VIEW_VALUE},
    {Qt::Key_4, Qt::ControlModifier, CMD_VIEW_SCRIPT},
    {Qt::Key_5, Qt::ControlModifier, CMD_VIEW_CONS},
    {Qt::Key_6, Qt::ControlModifier, CMD_VIEW_PLOT},
    {Qt::Key_Tab, Qt::ControlModifier, CMD_NEXT_TAB},
    {Qt::Key_PageDown, Qt::ControlModifier, CMD_NEXT_TAB},
    {Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier, CMD_PREVIOUS_TAB},
    {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, CMD_PREVIOUS_TAB},
    {Qt::Key_PageUp, Qt::ControlModifier, CMD_PREVIOUS_TAB},
    {Qt::Key_Equal, Qt::ControlModifier, CMD_ZOOM_IN},
    {Qt::Key_Plus, Qt::ControlModifier, CMD_ZOOM_IN},
    {Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier, CMD_ZOOM_IN},
    {Qt::Key_Minus, Qt::ControlModifier, CMD_ZOOM_OUT},
    {Qt::Key_0, Qt::ControlModifier, CMD_ZOOM_RESET},
    {Qt::Key_Period, Qt::ControlModifier, CMD_QUICK_FIX},
    {Qt::Key_F1, Qt::NoModifier, CMD_HELP_CONTENTS},
    {Qt::Key_F2, Qt::NoModifier, CMD_RENAME_CELL},
    {Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier, CMD_COMMAND_PALETTE},
    {Qt::Key_K, Qt::ControlModifier, CMD_QUICK_SWITCHER},
    {Qt::Key_Space, Qt::ControlModifier, CMD_COMPLETE},
};

// Type-ahead in the cell list: letters typed within the keyboard input
// interval of each other make one prefix.
QString g_typed;
QElapsedTimer g_typed_at;

void list_type_ahead(const QString& typed) {
    if (!g_typed_at.isValid() || g_typed_at.elapsed() > QApplication::keyboardInputInterval())
        g_typed.clear();
    g_typed_at.start();
    g_typed += typed;
    QTreeWidget* list = shell_windows().list;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        // Only the cells the filter shows.
        if (item->isHidden()) continue;
        if (item->text(0).startsWith(g_typed, Qt::CaseInsensitive)) {
            if (item != list->currentItem()) list->setCurrentItem(item);
            return;
        }
    }
}

QFont tahoma(int points, bool bold) {
    QFont f("Tahoma", points);
    f.setBold(bold);
    return f;
}

// A habit of the user, not of a web: kept with the user's settings, where
// the recent webs are.
const QString SHOW_CONSOLE_KEY = QStringLiteral("view/show_console_on_output");

// The view of a pane the user can put the keyboard in, or -1.
int view_of_slot(int slot) {
    switch (slot) {
    case SLOT_LIST: return VIEW_LIST;
    case SLOT_TEXT: return VIEW_TEXT;
    case SLOT_VALUE: return VIEW_VALUE;
    case SLOT_SCRIPT: return VIEW_SCRIPT;
    case SLOT_CONSOLE: return VIEW_CONS;
    default: return -1;
    }
}

// Enter in the cell filter: the first cell it shows is opened, as Enter in
// the list opens the cell picked there.
void filter_open_first() {
    auto* item = static_cast<QTreeWidgetItem*>(list_first_shown());
    if (!item) return;
    cell_list_picked(list_item_cell(item));
    if (current_cell() == list_item_cell(item)) dispatch_command(CMD_VIEW_TEXT);
}

// Home, End, Page Up and Page Down in the list: the first or last cell it
// shows, or a page of rows up or down from the current one.
QTreeWidgetItem* list_jump(QTreeWidget* list, int key) {
    if (key == Qt::Key_Home) return static_cast<QTreeWidgetItem*>(list_first_shown());
    QTreeWidgetItem* to = nullptr;
    if (key == Qt::Key_End) {
        for (int i = list->topLevelItemCount() - 1; i >= 0 && !to; --i)
            if (!list->topLevelItem(i)->isHidden()) to = list->topLevelItem(i);
        return to;
    }
    QTreeWidgetItem* from = list->currentItem();
    if (!from || from->isHidden()) return static_cast<QTreeWidgetItem*>(list_first_shown());
    int row = std::max(1, list->visualItemRect(from).height());
    int page = std::max(1, list->viewport()->height() / row - 1);
    to = from;
    for (int n = 0; n < page; ++n) {
        QTreeWidgetItem* next = key == Qt::Key_PageUp ? list->itemAbove(to) : list->itemBelow(to);
        if (!next) break;
        to = next;
    }
    return to;
}

// Up or Down from the filter: into the list, on a cell the filter shows.
void filter_into_list() {
    QTreeWidget* list = shell_windows().list;
    QTreeWidgetItem* item = list->currentItem();
    if (!item || item->isHidden()) item = static_cast<QTreeWidgetItem*>(list_first_shown());
    if (item && item != list->currentItem()) cell_list_picked(list_item_cell(item));
    list->setFocus(Qt::TabFocusReason);
}

void add_items(QMenu* menu, std::initializer_list<MenuItem> items) {
    for (const MenuItem& item : items) {
        if (!item.text) {
            menu->addSeparator();
            continue;
        }
        int id = item.command;
        QString text = QString::fromUtf8(item.text);
        QString keys = accelerator_text(id);
        // Named only: the key table, not a shortcut, acts on the keys.
        if (!keys.isEmpty()) text += "\t" + keys;
        QAction* a = menu->addAction(text);
        a->setData(id);
        QObject::connect(a, &QAction::triggered, menu, [id] { dispatch_command(id); });
    }
}

// File > Export...: the web as a page, a Markdown document or a link graph.
// A name ending in a format's suffix picks that format, else the chosen
// filter does and its suffix is added. Exporting leaves the web as it is
// (no modified mark, no new file name), after the panes are committed so
// that what is shown is what is exported.
void export_web() {
    static const ExportFormat formats[] = {EXPORT_HTML, EXPORT_MARKDOWN, EXPORT_DOT};
    const std::vector<std::string> filters = {"HTML page (*.html)", "Markdown (*.md)",
                                              "Graphviz graph (*.dot)"};
    std::string base = web_file_name().empty() ? "untitled" : web_display_name();
    QString folder = web_file_name().empty()
                         ? QString()
                         : QFileInfo(QString::fromStdString(web_file_name())).absolutePath() + "/";
    int chosen = 0;
    std::string name = dialog_export_name(
        (folder + QString::fromStdString(base)).toStdString() + ".html", filters, &chosen);
    if (name.empty()) return;
    ExportFormat fmt = formats[chosen];
    QString path = QString::fromStdString(name);
    QString suffix = QFileInfo(path).suffix();
    bool known = false;
    for (ExportFormat f : formats)
        if (suffix.compare(export_suffix(f), Qt::CaseInsensitive) == 0) {
            fmt = f;
            known = true;
        }
    if (!known) path += QString(".") + export_suffix(fmt);
    engine_guard([&] {
        commit_all_panes();
        int rc = web_export(fmt, path.toStdString());
        status_flash(rc == 0 ? "Exported" : export_error_text(rc));
    });
}

// The pane notification command of an editor slot.
int pane_command(int slot) {
    switch (slot) {
    case SLOT_TEXT: return CMD_TEXT_PANE;
    case SLOT_VALUE: return CMD_VALUE_PANE;
    case SLOT_SCRIPT: return CMD_SCRIPT_PANE;
    case SLOT_CONSOLE: return CMD_CONSOLE_PANE;
    default: return 0;
    }
}

// Ctrl, Alt or Meta held with a key that has a printable character.
bool chord_with_text(const QKeyEvent* key) {
    if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const QString text = key->text();
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

// The script pane's menu, with the quick fix first while a shown error
// names a cell that does not exist.
bool script_context_menu(const QContextMenuEvent* event) {
    std::string name = pane_error_missing_cell();
    QsciScintilla* e = shell_windows().script;
    if (name.empty() || !e) return false;
    std::unique_ptr<QMenu> menu(e->createStandardContextMenu());
    if (!menu) menu = std::make_unique<QMenu>();
    auto* fix = new QAction(QString::fromStdString(cell_missing_fix_text(name)), menu.get());
    fix->setObjectName("quick_fix");
    fix->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_Period));
    QObject::connect(fix, &QAction::triggered, [] { dispatch_command(CMD_QUICK_FIX); });
    QAction* first = menu->actions().value(0);
    menu->insertAction(first, fix);
    if (first) menu->insertSeparator(first);
    menu->exec(event->globalPos());
    return true;
}

// The keys a line edit edits its text with, which the key table would
// otherwise give to the pane commands.
bool line_edit_key(const QKeyEvent* key) {
    static const QKeySequence::StandardKey editing[] = {
        QKeySequence::Undo,
        QKeySequence::Redo,
        QKeySequence::Cut,
        QKeySequence::Copy,
        QKeySequence::Paste,
        QKeySequence::SelectAll,
        QKeySequence::Delete,
        QKeySequence::DeleteStartOfWord,
        QKeySequence::DeleteEndOfWord,
    };
    for (QKeySequence::StandardKey k : editing)
        if (key->matches(k)) return true;
    Qt::KeyboardModifiers mods = key->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    switch (key->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Left:
    case Qt::Key_Right: return mods == Qt::NoModifier || mods == Qt::ControlModifier;
    case Qt::Key_Y: return mods == Qt::ControlModifier; // redo where Undo is Ctrl+Z
    default: return false;
    }
}

} // namespace

void CellNameBox::showPopup() {
    emit dropDownOpening();
    QComboBox::showPopup();
}

int accelerator_command(int key, Qt::KeyboardModifiers modifiers) {
    modifiers &= ~Qt::KeypadModifier;
    for (const Accelerator& e : ACCELERATORS)
        if (e.key == key && e.mods == modifiers) return e.command;
    return 0;
}

QString accelerator_text(int command) {
    QStringList keys;
    for (const Accelerator& e : ACCELERATORS)
        if (e.command == command && e.key != Qt::Key_Backtab)
            keys << QKeySequence(QKeyCombination(e.mods, Qt::Key(e.key)))
                        .toString(QKeySequence::NativeText);
    return keys.join(", ");
}

void window_modified_sync() {
    if (QMainWindow* w = shell_windows().main) w->setWindowModified(web_modified());
}

MainWindow::MainWindow() {
    setWindowTitle("Tarvex[*]");
    init_shell_resources();
    setWindowIcon(QIcon(":/tarvex/tarvex.png"));
    shell_windows().main = this;
    build_menus();
    build_children();
    connect_signals();
    workbench_docks_install(this);
    layout_load(this);
    idle_timer_.start(IDLE_TICK_MS);
    // A web that does not fit the store is measured before the web shown
    // is given up, and the user asked whether to reopen it in a larger one.
    web_open_set_check(web_fit_check);
}

MainWindow::~MainWindow() {
    layout_save();
    window_layout() = Layout{};
    qApp->removeEventFilter(this);
    panes_forget_documents();
    shell_windows() = ShellWindows{};
}

void MainWindow::build_menus() {
    // Mnemonics of the titles: F, E, L, V, U, H (see ACCELERATORS).
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu("&File");
    add_items(file, {{"&New", CMD_NEW_WEB},
                     {"&Open...", CMD_OPEN},
                     {"&Save", CMD_SAVE},
                     {"Save &As", CMD_SAVE_AS},
                     {"Save &Plot As...", CMD_SAVE_PLOT_AS}});
    QAction* export_action = file->addAction("&Export...");
    export_action->setObjectName("export");
    QObject::connect(export_action, &QAction::triggered, this, [] { export_web(); });
    QAction* quit_line = file->addSeparator();
    add_items(file, {{"&Quit", CMD_QUIT}});
    QAction* quit = file->actions().last();
    quit->setObjectName("quit");
    recent_webs_install(this, file);
    // The recent webs are listed afresh as the menu opens: Quit stays last.
    connect(file, &QMenu::aboutToShow, this, [file, quit_line, quit] {
        file->removeAction(quit_line);
        file->removeAction(quit);
        file->addAction(quit_line);
        file->addAction(quit);
    });
    add_items(bar->addMenu("&Edit"), {{"&Undo", CMD_UNDO},
                                      {"Re&do", CMD_REDO},
                                      {"Undo Rena&me", CMD_UNDO_RENAME},
                                      {nullptr, 0},
                                      {"Cu&t", CMD_CUT},
                                      {"&Copy", CMD_COPY},
                                      {"&Paste", CMD_PASTE},
                                      {"Select &All", CMD_SELECT_ALL},
                                      {"Co&mplete Word", CMD_COMPLETE},
                                      {nullptr, 0},
                                      {"&Find...", CMD_FIND_BAR},
                                      {"&Replace...", CMD_FIND},
                                      {nullptr, 0},
                                      {"&ErasePlot", CMD_ERASE_PLOT},
                                      {nullptr, 0},
                                      {"Set&tings...", CMD_SETTINGS},
                                      {"Pre&ferences...", CMD_PREFERENCES}});
    // Undo Rename is offered only while there is a rename to take back.
    QMenu* edit = bar->actions().last()->menu();
    connect(edit, &QMenu::aboutToShow, this, [edit] {
        for (QAction* a : edit->actions())
            if (a->data().toInt() == CMD_UNDO_RENAME) a->setEnabled(rename_can_undo());
    });
    add_items(bar->addMenu("Ce&ll"), {{"&New...", CMD_NEW_CELL},
                                      {"&Clone...", CMD_CLONE},
                                      {"&Rename...", CMD_RENAME_CELL},
                                      {"&Delete", CMD_DELETE},
                                      {"Create &Missing Cell", CMD_QUICK_FIX},
                                      {nullptr, 0},
                                      {"&Back", CMD_BACK},
                                      {"&Forward", CMD_FORWARD},
                                      {"&Previous Cell", CMD_PREVIOUS_CELL},
                                      {"Ne&xt Cell", CMD_NEXT_CELL},
                                      {nullptr, 0},
                                      {"&Go to Cell Name", CMD_GO_TO_BOX},
                                      {"&Quick Switcher...", CMD_QUICK_SWITCHER}});
    QMenu* view = bar->addMenu("&View");
    window_layout().view_menu = view;
    add_items(view, {{"&List", CMD_VIEW_LIST},
                     {"&Text", CMD_VIEW_TEXT},
                     {"&Value", CMD_VIEW_VALUE},
                     {"&Script", CMD_VIEW_SCRIPT},
                     {"&Console", CMD_VIEW_CONS},
                     {"&Plot", CMD_VIEW_PLOT},
                     {nullptr, 0},
                     {"&Next Tab", CMD_NEXT_TAB},
                     {"P&revious Tab", CMD_PREVIOUS_TAB},
                     {"S&witch Focus", CMD_SWITCH_FOCUS},
                     {"Comman&d Palette...", CMD_COMMAND_PALETTE},
                     {nullptr, 0},
                     {"&Zoom...", CMD_ZOOM},
                     {"Zoom &In", CMD_ZOOM_IN},
                     {"Zoom O&ut", CMD_ZOOM_OUT},
                     {"Reset Zoo&m", CMD_ZOOM_RESET}});
    // The map is a dock, not a view: its key only shows or hides it.
    QAction* map = web_map_create(this)->toggleViewAction();
    map->setShortcut(QKeySequence("Ctrl+Shift+M"));
    view->addSeparator();
    view->addAction(map);
    QAction* show_console = view->addAction("Show C&onsole on Output");
    show_console->setObjectName("show_console_on_output");
    show_console->setCheckable(true);
    show_console->setChecked(user_settings().value(SHOW_CONSOLE_KEY, false).toBool());
    console_show_on_output(show_console->isChecked());
    connect(show_console, &QAction::toggled, this, [](bool on) {
        console_show_on_output(on);
        user_settings().setValue(SHOW_CONSOLE_KEY, on);
    });
    QMenu* run = bar->addMenu("R&un");
    add_items(run, {{"&Run", CMD_RUN},
                    {"Run to &Brk / Continue", CMD_RUN_TO_BRK},
                    {"&Stop", CMD_STOP},
                    {nullptr, 0},
                    {"Step &Over", CMD_STEP_OVER},
                    {"Step &Into", CMD_STEP_INTO},
                    {"Step O&ut", CMD_STEP_OUT},
                    {"Run to &Cursor", CMD_RUN_TO_CURSOR},
                    {"&Toggle Breakpoint", CMD_TOGGLE_BREAKPOINT},
                    {nullptr, 0},
                    {"Re&port", CMD_REPORT}});
    // The stepping commands are offered only while a run is paused.
    connect(run, &QMenu::aboutToShow, this, [run] {
        for (QAction* a : run->actions()) {
            int id = a->data().toInt();
            if (id >= CMD_STEP_OVER && id <= CMD_RUN_TO_CURSOR)
                a->setEnabled(command_refusal(id) == nullptr);
        }
    });
    QMenu* help = bar->addMenu("&Help");
    // F1 opens the same window on the topic of the pane in use.
    QAction* contents = help->addAction("&Contents\t" + accelerator_text(CMD_HELP_CONTENTS));
    contents->setData(int(CMD_HELP_CONTENTS));
    connect(contents, &QAction::triggered, this,
            [] { dispatch_command(CMD_HELP_CONTENTS, NOTE_NONE, "contents"); });
    add_items(help->addMenu("&Help Topics"), {{"Overview", CMD_HELP_OVERVIEW},
                                              {"&Report Format", CMD_HELP_REPORT},
                                              {"&Builtin Functions", CMD_HELP_BUILTINS},
                                              {"&Script Language", CMD_HELP_LANGUAGE},
                                              {"Debugging", CMD_HELP_DEBUGGING},
                                              {"&Additional Info", CMD_HELP_INFO}});
    add_items(help, {{"&About Tarvex", CMD_ABOUT}});

    QToolBar* tools = addToolBar("Commands");
    tools->setObjectName("commands");
    tools->setMovable(false);
    tools->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    struct Button {
        const char* text;
        QStyle::StandardPixmap icon;
        int command;
    };
    for (const Button& b : {Button{"Report", QStyle::SP_FileDialogDetailedView, CMD_REPORT},
                            Button{"Run", QStyle::SP_MediaPlay, CMD_RUN},
                            Button{"Stop", QStyle::SP_MediaStop, CMD_STOP}}) {
        int id = b.command;
        QAction* a = tools->addAction(style()->standardIcon(b.icon), b.text);
        a->setObjectName(QString("tool_") + b.text);
        QString keys = accelerator_text(id);
        a->setToolTip(keys.isEmpty() ? QString(b.text) : QString("%1 (%2)").arg(b.text, keys));
        connect(a, &QAction::triggered, this, [id] { dispatch_command(id); });
    }
}

void MainWindow::build_children() {
    ShellWindows& w = shell_windows();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(2, 2, 2, 0);
    layout->setSpacing(2);

    auto* top = new QHBoxLayout();
    auto* box = new CellNameBox(central);
    box->setObjectName("name_box");
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setFont(tahoma(9, true));
    box->setMaxVisibleItems(12);
    w.name_box = box;
    top->addWidget(box, 1);
    for (auto [text, id] : {std::pair{"<", CMD_BACK}, std::pair{">", CMD_FORWARD}}) {
        auto* b = new QToolButton(central);
        b->setText(text);
        b->setObjectName(id == CMD_BACK ? "nav_back" : "nav_forward");
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(true);
        int command = id;
        connect(b, &QToolButton::clicked, this, [command] { dispatch_command(command); });
        top->addWidget(b);
    }
    layout->addLayout(top);

    w.stack = new QStackedWidget(central);
    auto* list = new QTreeWidget(w.stack);
    list->setObjectName("cell_list");
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    list->setSortingEnabled(true);
    list->sortByColumn(0, Qt::AscendingOrder);
    list->setFont(tahoma(9, false));
    w.list = list;
    auto make_editor = [&](const char* name) {
        auto* e = new QsciScintilla(w.stack);
        e->setObjectName(name);
        return e;
    };
    w.text = make_editor("text_pane");
    w.value = make_editor("value_pane");
    w.script = make_editor("script_pane");
    w.console = make_editor("console_pane");
    w.plot = plot_view_create(w.stack);
    // Stack pages in view order.
    for (QWidget* pane : {static_cast<QWidget*>(w.list), static_cast<QWidget*>(w.text),
                          static_cast<QWidget*>(w.value), static_cast<QWidget*>(w.script),
                          static_cast<QWidget*>(w.console), w.plot})
        w.stack->addWidget(pane);
    layout->addWidget(w.stack, 1);

    w.tabs = new QTabBar(central);
    w.tabs->setObjectName("tabs");
    w.tabs->setFont(tahoma(8, true));
    w.tabs->setExpanding(false);
    w.tabs->setFocusPolicy(Qt::NoFocus);
    for (const char* label : {"list", "text", "value", "script", "cons", "plot"})
        w.tabs->addTab(label);
    layout->addWidget(w.tabs);
    setCentralWidget(central);

    // The desktop layout's docks. Their panes join them when that layout is
    // chosen; till then they are pages of the stack.
    auto make_dock = [this](const char* name, const char* title) {
        auto* dock = new QDockWidget(title, this);
        dock->setObjectName(name);
        addDockWidget(Qt::LeftDockWidgetArea, dock);
        dock->hide();
        return dock;
    };
    window_layout().cells = make_dock("cells_dock", "Cells");
    window_layout().console = make_dock("console_dock", "Console");
    window_layout().plot = make_dock("plot_dock", "Plot");
    window_layout().cells_page = new QWidget(window_layout().cells);
    auto* cells_layout = new QVBoxLayout(window_layout().cells_page);
    cells_layout->setContentsMargins(2, 2, 2, 2);
    cells_layout->setSpacing(2);
    window_layout().filter = new QLineEdit(window_layout().cells_page);
    window_layout().filter->setObjectName("cell_filter");
    window_layout().filter->setPlaceholderText("Filter cells");
    window_layout().filter->setClearButtonEnabled(true);
    cells_layout->addWidget(window_layout().filter);
    window_layout().cells->setWidget(window_layout().cells_page);
    // Left and right docks take the whole height; the console sits under
    // the editors only.
    setCorner(Qt::TopLeftCorner, Qt::LeftDockWidgetArea);
    setCorner(Qt::BottomLeftCorner, Qt::LeftDockWidgetArea);
    setCorner(Qt::TopRightCorner, Qt::RightDockWidgetArea);
    setCorner(Qt::BottomRightCorner, Qt::RightDockWidgetArea);

    w.status = new QLabel(this);
    w.status->setObjectName("status_line");
    statusBar()->addWidget(w.status, 1);
    statusBar()->setSizeGripEnabled(true);
}

void MainWindow::connect_signals() {
    ShellWindows& w = shell_windows();
    watch(this);
    // Ctrl let go while another application had the keys.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [](Qt::ApplicationState state) {
        if (state != Qt::ApplicationActive) script_links_live(false);
    });

    connect(&idle_timer_, &QTimer::timeout, this, [] {
        idle_tick();
        window_modified_sync();
    });
    connect(&idle_timer_, &QTimer::timeout, this, [] { web_map_idle(); });

    connect(qApp, &QApplication::focusChanged, this, [](QWidget*, QWidget* now) {
        int slot = slot_of_window(now);
        if (slot == SLOT_NAME_BOX)
            set_focus_slot(SLOT_NAME_BOX);
        else if (int command = pane_command(slot))
            dispatch_command(command, NOTE_FOCUS);
        // With every pane in sight, the one the user works in is the shown
        // view, so that what the commands commit is what was edited.
        int view = view_of_slot(slot);
        if (window_layout().applied && !window_layout().compact && view >= 0)
            engine_guard([view] { shell_view_followed(view); });
    });
    connect(window_layout().console, &QDockWidget::visibilityChanged, this, [](bool visible) {
        if (visible) console_pane_seen();
    });
    connect(window_layout().filter, &QLineEdit::textChanged, this,
            [](const QString& text) { list_filter_set(text); });

    connect(w.tabs, &QTabBar::currentChanged, this,
            [](int index) { engine_guard([index] { shell_show_view(index); }); });
    // In the desktop layout the selected editor tab stays selected while a
    // dock's view is shown: a click on it shows its view again.
    connect(w.tabs, &QTabBar::tabBarClicked, this, [tabs = w.tabs](int index) {
        if (index >= 0 && index == tabs->currentIndex() && index != shell_current_view())
            engine_guard([index] { shell_show_view(index); });
    });

    connect(w.list, &QTreeWidget::currentItemChanged, this,
            [](QTreeWidgetItem* item, QTreeWidgetItem*) {
                if (item && !list_filling()) cell_list_picked(list_item_cell(item));
            });
    // A double click opens the cell (its first press has made it current).
    connect(w.list, &QTreeWidget::itemDoubleClicked, this,
            [](QTreeWidgetItem*, int) { dispatch_command(CMD_VIEW_TEXT); });

    auto* box = static_cast<CellNameBox*>(w.name_box);
    connect(box, &CellNameBox::dropDownOpening, this,
            [] { dispatch_command(CMD_NAME_BOX, NOTE_DROP_DOWN); });
    connect(box, qOverload<int>(&QComboBox::activated), this, [box](int index) {
        dispatch_command(CMD_NAME_BOX, NOTE_SELECTED, box->itemText(index).toStdString());
    });

    for (int slot : {SLOT_TEXT, SLOT_VALUE, SLOT_SCRIPT, SLOT_CONSOLE}) {
        QsciScintilla* e = slot_editor(slot);
        int command = pane_command(slot);
        if (slot != SLOT_CONSOLE) {
            connect(e, &QsciScintilla::textChanged, this,
                    [command] { dispatch_command(command, NOTE_CHANGED); });
            connect(e, &QsciScintillaBase::SCN_STYLENEEDED, this,
                    [e](int position) { pane_style_links(e, position); });
        }
        if (slot != SLOT_VALUE) {
            // In the script pane a link is followed with Ctrl only.
            connect(e, &QsciScintillaBase::SCN_HOTSPOTCLICK, this, [slot](int position, int mods) {
                if (slot == SLOT_SCRIPT && !(mods & QsciScintillaBase::SCMOD_CTRL)) return;
                link_pressed(slot, position);
            });
            connect(e, &QsciScintillaBase::SCN_DOUBLECLICK, this,
                    [slot](int, int, int) { pane_double_clicked(slot); });
        }
    }
    connect(w.console, &QsciScintillaBase::SCN_CHARADDED, this, [](int ch) {
        if (ch == '\n') console_enter_typed();
    });
    // After watch(): the lists of names see their fields' keys before the
    // key table does.
    name_completion_install(w.name_box->lineEdit(), true);
    name_completion_install(window_layout().filter, false);
}

bool MainWindow::translate_accelerator(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    int command = accelerator_command(key->key(), key->modifiers());
    if (command == 0) return false;
    // Tab indents in the text and script panes, as in any editor; F6 is
    // their switch.
    int slot = slot_of_window(widget);
    if (key->key() == Qt::Key_Tab && command == CMD_SWITCH_FOCUS &&
        (slot == SLOT_TEXT || slot == SLOT_SCRIPT))
        return false;
    dispatch_command(command);
    return true;
}

// The cell list takes Up and Down, Enter to open the cell, and letters to
// jump to a name; no other key.
bool MainWindow::list_key(QKeyEvent* key) {
    Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    QTreeWidget* list = shell_windows().list;
    bool up = key->key() == Qt::Key_Up;
    if (mods == Qt::NoModifier && (up || key->key() == Qt::Key_Down) && !window_layout().compact &&
        !window_layout().filter->text().isEmpty()) {
        // Among the cells the filter shows only.
        QTreeWidgetItem* from = list->currentItem();
        QTreeWidgetItem* to = from && !from->isHidden()
                                  ? (up ? list->itemAbove(from) : list->itemBelow(from))
                                  : static_cast<QTreeWidgetItem*>(list_first_shown());
        if (to) cell_list_picked(list_item_cell(to));
        return true;
    }
    if (mods == Qt::NoModifier) {
        switch (key->key()) {
        case Qt::Key_Up: dispatch_command(CMD_PREVIOUS_CELL); return true;
        case Qt::Key_Down: dispatch_command(CMD_NEXT_CELL); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: dispatch_command(CMD_VIEW_TEXT); return true;
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            if (QTreeWidgetItem* to = list_jump(list, key->key()))
                cell_list_picked(list_item_cell(to));
            list->setFocus(Qt::OtherFocusReason);
            return true;
        default: break;
        }
    }
    QString typed = key->text();
    if ((mods & ~Qt::ShiftModifier) == Qt::NoModifier && typed.size() == 1 &&
        (typed[0].isLetterOrNumber() || typed[0] == '_'))
        list_type_ahead(typed);
    return true;
}

// The cell filter takes Enter to open the first cell it shows, Up and
// Down to move into the list, and Escape to clear it (when clear, back to
// the pane).
bool MainWindow::filter_key(QKeyEvent* key) {
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    switch (key->key()) {
    case Qt::Key_Escape:
        if (window_layout().filter->text().isEmpty())
            focus_current();
        else
            window_layout().filter->clear();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: filter_open_first(); return true;
    case Qt::Key_Up:
    case Qt::Key_Down: filter_into_list(); return true;
    default: return false;
    }
}

// The window's own widgets, each as it is added, are watched for their keys
// and for the mouse in the script pane: keys reach the key table before the
// widget that has them.
void MainWindow::watch(QObject* object) {
    object->installEventFilter(this);
    for (QObject* child : object->children())
        if (child->isWidgetType()) watch(child);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    QEvent::Type type = event->type();
    if (type == QEvent::ChildAdded) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        if (child->isWidgetType()) watch(child);
        return QMainWindow::eventFilter(watched, event);
    }
    if (type == QEvent::WindowActivate && watched == this) {
        // Ctrl pressed or let go while a dialog had the keys.
        script_links_live(QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier);
        return QMainWindow::eventFilter(watched, event);
    }
    if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Control)
            script_links_live(type == QEvent::KeyPress);
    } else if (type == QEvent::MouseMove || type == QEvent::MouseButtonPress) {
        // Ctrl pressed or released elsewhere.
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (auto* widget = qobject_cast<QWidget*>(watched);
            widget && slot_of_window(widget) == SLOT_SCRIPT)
            script_links_live(mouse->modifiers() & Qt::ControlModifier);
    }
    if (type == QEvent::ContextMenu && shell_windows().script &&
        watched == shell_windows().script->viewport() &&
        script_context_menu(static_cast<QContextMenuEvent*>(event)))
        return true;
    if (type != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    // The search bar sees the keys of its own controls before the key table.
    if (search_bar_owns(watched)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (search_bar_key(key)) return true;
        if (search_bar_edit_key(watched, key)) return QMainWindow::eventFilter(watched, event);
    }
    ShellWindows& w = shell_windows();
    auto* key = static_cast<QKeyEvent*>(event);
    // The cell-name box: keys reach the box itself, which hands them to its
    // line edit. Enter goes to the name; the line edit's own editing keys
    // stay with it rather than acting on a pane.
    if (w.name_box && (watched == w.name_box || watched == w.name_box->lineEdit())) {
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            go_to_name();
            return true;
        }
        if (line_edit_key(key)) return QMainWindow::eventFilter(watched, event);
    }
    if (watched == window_layout().filter) {
        if (filter_key(key)) return true;
        if (line_edit_key(key)) return QMainWindow::eventFilter(watched, event);
    }
    // Any other line edit (a value being edited in the Values dock) keeps
    // its editing keys too.
    if (qobject_cast<QLineEdit*>(watched) && line_edit_key(key))
        return QMainWindow::eventFilter(watched, event);
    // The list has no text to undo: its Undo takes back a rename.
    if (watched == w.list && key->matches(QKeySequence::Undo)) {
        dispatch_command(CMD_UNDO_RENAME);
        return true;
    }
    if (translate_accelerator(watched, event)) return true;
    // A chord the key table does not know types nothing: the editors and
    // fields would take its character as typed (Ctrl+= as "=").
    if (chord_with_text(key)) return true;
    if (watched == w.list) return list_key(key);
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (close_requested()) {
        layout_save();
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    if (!window_layout().applied) layout_start();
    QMainWindow::showEvent(event);
}

bool layout_compact() { return window_layout().compact; }

} // namespace tarvex
