// The main window: menus, tool buttons, the cell-name box with the
// navigation strip on top, one pane at a time, the tab strip and the status
// line at the bottom. Signals are connected in connect_signals() only.
#include "shell/main_window.h"

#include "core/guard.h"
#include "frontend/frontend.h"
#include "script/run_engine.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "shell/plot_view.h"
#include "shell/recent_webs.h"
#include "shell/search.h"
#include "webfile/web_export.h"
#include "webfile/web_file.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
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

// The icon's resource is compiled into this static library, where nothing
// refers to it: without this call the linker leaves it out.
static void init_shell_resources() { Q_INIT_RESOURCE(tarvex); }

namespace tarvex {

namespace {

bool g_exiting = false;
std::function<void(int)> g_exit_hook;

struct MenuItem {
    const char* text; // nullptr: a separator
    int command;
};

QFont tahoma(int points, bool bold) {
    QFont f("Tahoma", points);
    f.setBold(bold);
    return f;
}

void add_items(QMenu* menu, std::initializer_list<MenuItem> items) {
    for (const MenuItem& item : items) {
        if (!item.text) {
            menu->addSeparator();
            continue;
        }
        int id = item.command;
        QAction* a = menu->addAction(QString::fromUtf8(item.text));
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

// The keys a line edit edits its text with, which the key table would
// otherwise give to the pane commands.
bool line_edit_key(const QKeyEvent* key) {
    static const QKeySequence::StandardKey editing[] = {
        QKeySequence::Undo,  QKeySequence::Redo,      QKeySequence::Cut,
        QKeySequence::Copy,  QKeySequence::Paste,     QKeySequence::SelectAll,
        QKeySequence::Delete, QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord,
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
    struct Entry {
        int key;
        Qt::KeyboardModifiers mods;
        int command;
    };
    static const Entry table[] = {
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
    };
    for (const Entry& e : table)
        if (e.key == key && e.mods == modifiers) return e.command;
    return 0;
}

MainWindow::MainWindow() {
    setWindowTitle("Tarvex");
    init_shell_resources();
    setWindowIcon(QIcon(":/tarvex/tarvex.png"));
    shell_windows().main = this;
    build_menus();
    build_children();
    connect_signals();
    resize(900, 680);
    idle_timer_.start(IDLE_TICK_MS);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    panes_forget_documents();
    shell_windows() = ShellWindows{};
}

void MainWindow::build_menus() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu("File");
    add_items(file,
              {{"&New", CMD_NEW_WEB}, {"&Open...", CMD_OPEN}, {"&Save", CMD_SAVE}, {"Save &As", CMD_SAVE_AS}});
    QAction* export_action = file->addAction("&Export...");
    export_action->setObjectName("export");
    QObject::connect(export_action, &QAction::triggered, this, [] { export_web(); });
    recent_webs_install(this, file);
    add_items(bar->addMenu("Edit"), {{"Select All", CMD_SELECT_ALL},
                                     {nullptr, 0},
                                     {"Cut", CMD_CUT},
                                     {"&Copy", CMD_COPY},
                                     {"&Paste", CMD_PASTE},
                                     {"&Undo", CMD_UNDO},
                                     {"&Redo", CMD_REDO},
                                     {nullptr, 0},
                                     {"&Find/Repl", CMD_FIND},
                                     {nullptr, 0},
                                     {"&ErasePlot", CMD_ERASE_PLOT},
                                     {nullptr, 0},
                                     {"Zoom", CMD_ZOOM},
                                     {"Set&tings", CMD_SETTINGS}});
    add_items(bar->addMenu("Cell"), {{"&New ", CMD_NEW_CELL},
                                     {"&Clone ", CMD_CLONE},
                                     {"&Delete", CMD_DELETE},
                                     {"Run to &Brk", CMD_RUN_TO_BRK}});
    QMenu* help = bar->addMenu("Help");
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
    for (const char* label : {"list", "text", "value", "script", "cons", "plot"}) w.tabs->addTab(label);
    layout->addWidget(w.tabs);
    setCentralWidget(central);

    w.status = new QLabel(this);
    w.status->setObjectName("status_line");
    statusBar()->addWidget(w.status, 1);
    statusBar()->setSizeGripEnabled(true);
}

void MainWindow::connect_signals() {
    ShellWindows& w = shell_windows();
    qApp->installEventFilter(this);
    w.list->installEventFilter(this);
    w.name_box->lineEdit()->installEventFilter(this);

    connect(&idle_timer_, &QTimer::timeout, this, [] { idle_tick(); });

    connect(qApp, &QApplication::focusChanged, this, [](QWidget*, QWidget* now) {
        int slot = slot_of_window(now);
        if (slot == SLOT_NAME_BOX)
            set_focus_slot(SLOT_NAME_BOX);
        else if (int command = pane_command(slot))
            dispatch_command(command, NOTE_FOCUS);
    });

    connect(w.tabs, &QTabBar::currentChanged, this,
            [](int index) { engine_guard([index] { shell_show_view(index); }); });

    connect(w.list, &QTreeWidget::currentItemChanged, this,
            [](QTreeWidgetItem* item, QTreeWidgetItem*) {
                if (item && !list_filling()) cell_list_picked(list_item_cell(item));
            });

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
            connect(e, &QsciScintillaBase::SCN_HOTSPOTCLICK, this,
                    [slot](int position, int) { link_pressed(slot, position); });
            connect(e, &QsciScintillaBase::SCN_DOUBLECLICK, this,
                    [slot](int, int, int) { pane_double_clicked(slot); });
        }
    }
    connect(w.console, &QsciScintillaBase::SCN_CHARADDED, this, [](int ch) {
        if (ch == '\n') console_enter_typed();
    });
}

bool MainWindow::translate_accelerator(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    int command = accelerator_command(key->key(), key->modifiers());
    if (command == 0) return false;
    dispatch_command(command);
    return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    // The search bar sees the keys of its own controls before the key table.
    if (search_bar_owns(watched) && search_bar_key(static_cast<QKeyEvent*>(event))) return true;
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
    if (translate_accelerator(watched, event)) return true;
    if (watched == w.list) {
        // The cell list takes Up and Down only.
        if (key->key() == Qt::Key_Up && key->modifiers() == Qt::NoModifier)
            dispatch_command(CMD_PREVIOUS_CELL);
        else if (key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier)
            dispatch_command(CMD_NEXT_CELL);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (close_requested())
        event->accept();
    else
        event->ignore();
}

// ---- ending ------------------------------------------------------------------------

void shell_set_exit_hook(std::function<void(int)> hook) { g_exit_hook = std::move(hook); }
bool shell_exiting() { return g_exiting; }
void shell_mark_exiting() { g_exiting = true; }

void shell_exit(int code) {
    if (g_exit_hook) {
        g_exit_hook(code);
        return;
    }
    g_exiting = true;
    if (command_depth() <= 1 && !run_active()) {
        QApplication::exit(code);
        return;
    }
    std::exit(code);
}

} // namespace tarvex
