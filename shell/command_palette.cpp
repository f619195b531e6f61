// The command palette and the quick switcher: one popup, a field over a
// list, filled afresh on every keystroke. What they run goes through the
// same doors as a menu click (dispatch_command) or a followed link, once
// the popup has closed and the focus is back where it was.
#include "shell/command_palette.h"

#include "core/name_tree.h"
#include "core/text.h"
#include "shell/commands.h"
#include "shell/help_topics.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "web/cell.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <vector>

namespace tarvex {

namespace {

constexpr int ROLE_COMMAND = Qt::UserRole;
constexpr int ROLE_CELL_NAME = Qt::UserRole + 1;
// The popup's width at most, and its list's rows.
constexpr int FINDER_WIDTH_MAX = 640;
constexpr int FINDER_ROWS = 14;
// How much of a cell's text the switcher shows beside its name.
constexpr int SNIPPET_CHARS = 60;

struct Row {
    int rank; // smaller first; equal ranks keep their order
    QStringList columns;
    QString refusal; // greyed with this reason when not empty
    int command = 0;
    QString cell;
};

using RowSource = std::function<std::vector<Row>(const QString& query)>;

QString menu_label(const QString& text) {
    QString label = text.section('\t', 0, 0);
    label.remove('&');
    return label;
}

// The menu item that runs a command, as "Menu: Item", "" for none.
QString menu_name_in(const QMenu* menu, const QString& title, int command) {
    for (QAction* a : menu->actions()) {
        if (a->menu()) {
            QString found = menu_name_in(a->menu(), menu_label(a->text()), command);
            if (!found.isEmpty()) return found;
        } else if (!a->isSeparator() && a->data().toInt() == command) {
            return title + ": " + menu_label(a->text());
        }
    }
    return {};
}

QString menu_name(int command) {
    QMainWindow* w = shell_windows().main;
    if (!w) return {};
    for (QAction* top : w->menuBar()->actions())
        if (top->menu()) {
            QString found = menu_name_in(top->menu(), menu_label(top->text()), command);
            if (!found.isEmpty()) return found;
        }
    return {};
}

// A command without a menu item is named as the help's key table names
// what its keys do.
QString key_row_name(const QString& keys) {
    if (keys.isEmpty()) return {};
    for (const HelpKey& k : help_keys())
        if (QString::fromStdString(k.keys) == keys) return QString::fromStdString(k.what);
    return {};
}

bool holds_words(const QString& text, const QStringList& words) {
    for (const QString& w : words)
        if (!text.contains(w, Qt::CaseInsensitive)) return false;
    return true;
}

std::vector<Row> command_rows(const QString& query) {
    QStringList words = query.split(' ', Qt::SkipEmptyParts);
    std::vector<Row> rows;
    for (int id : command_ids()) {
        QString keys = accelerator_text(id);
        QString name = menu_name(id);
        if (name.isEmpty()) name = key_row_name(keys);
        // Notifications of the panes, not commands a user gives.
        if (name.isEmpty() || !holds_words(name + " " + keys, words)) continue;
        QString item = name.section(": ", -1);
        int rank = query.isEmpty() || item.startsWith(query.trimmed(), Qt::CaseInsensitive) ? 0
                   : name.contains(query.trimmed(), Qt::CaseInsensitive)                    ? 1
                                                                                            : 2;
        const char* refusal = command_refusal(id);
        rows.push_back(Row{rank, {name, keys, refusal ? refusal : ""}, refusal, id, {}});
    }
    return rows;
}

// The words of a text (letters, digits, "_"), any of which a query word
// may begin.
bool words_begin(const QString& text, const QStringList& words) {
    QStringList own = text.split(QRegularExpression("[^A-Za-z0-9_]+"), Qt::SkipEmptyParts);
    for (const QString& w : words)
        if (std::none_of(own.begin(), own.end(),
                         [&](const QString& o) { return o.startsWith(w, Qt::CaseInsensitive); }))
            return false;
    return true;
}

QString snippet(const QString& text) {
    QString line = text.simplified();
    return line.size() > SNIPPET_CHARS ? line.left(SNIPPET_CHARS) + "..." : line;
}

// Cells whose name begins with the query first, then those whose name
// holds it, then those whose text has words beginning with each of its
// words; in name order within each.
std::vector<Row> cell_rows(const QString& query) {
    QString q = query.trimmed();
    QStringList words = q.split(' ', Qt::SkipEmptyParts);
    std::vector<Row> rows;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        QString name = QString::fromStdString(cell_name_string(e));
        QString text = QString::fromStdString(text_to_string(cell_text(e)));
        // Names compare with "_" as a space.
        QString folded = QString(q).replace(' ', '_');
        int rank = name.startsWith(folded, Qt::CaseInsensitive)   ? 0
                   : name.contains(folded, Qt::CaseInsensitive)   ? 1
                   : !words.isEmpty() && words_begin(text, words) ? 2
                                                                  : -1;
        if (rank >= 0) rows.push_back(Row{rank, {name, snippet(text)}, {}, 0, name});
    }
    return rows;
}

class Finder : public QFrame {
  public:
    Finder(QWidget* parent, const char* name, RowSource source)
        : QFrame(parent, Qt::Popup), source_(std::move(source)) {
        setObjectName(name);
        setAttribute(Qt::WA_DeleteOnClose);
        setFrameStyle(QFrame::Box | QFrame::Plain);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(4, 4, 4, 4);
        layout->setSpacing(2);
        field_ = new QLineEdit(this);
        field_->setObjectName("finder_field");
        list_ = new QTreeWidget(this);
        list_->setObjectName("finder_list");
        list_->setHeaderHidden(true);
        list_->setRootIsDecorated(false);
        list_->setFocusPolicy(Qt::NoFocus);
        list_->setColumnCount(3);
        list_->header()->setStretchLastSection(true);
        layout->addWidget(field_);
        layout->addWidget(list_);
        field_->installEventFilter(this);
        connect(field_, &QLineEdit::textChanged, this, [this] { refill(); });
        connect(list_, &QTreeWidget::itemActivated, this, [this] { run(); });
        refill();
    }

    void open() {
        QWidget* main = parentWidget();
        int width = std::min(FINDER_WIDTH_MAX, main->width() - 40);
        int height = field_->sizeHint().height() + FINDER_ROWS * list_->fontMetrics().height() + 16;
        setGeometry(QRect(main->mapToGlobal(QPoint((main->width() - width) / 2, 30)),
                          QSize(width, height)));
        show();
        field_->setFocus(Qt::PopupFocusReason);
    }

  protected:
    // The window keeps the keys once the popup is gone, on platforms that
    // would leave them with nobody.
    void closeEvent(QCloseEvent* event) override {
        if (QWidget* main = parentWidget()) main->activateWindow();
        QFrame::closeEvent(event);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != field_ || event->type() != QEvent::KeyPress)
            return QFrame::eventFilter(watched, event);
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: step(key->key()); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: run(); return true;
        case Qt::Key_Escape: close(); return true;
        default: return QFrame::eventFilter(watched, event);
        }
    }

  private:
    void refill() {
        std::vector<Row> rows = source_(field_->text());
        std::stable_sort(rows.begin(), rows.end(),
                         [](const Row& a, const Row& b) { return a.rank < b.rank; });
        list_->clear();
        QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
        for (const Row& r : rows) {
            auto* item = new QTreeWidgetItem(list_, r.columns);
            item->setData(0, ROLE_COMMAND, r.command);
            item->setData(0, ROLE_CELL_NAME, r.cell);
            if (!r.refusal.isEmpty())
                for (int c = 0; c < list_->columnCount(); ++c)
                    item->setForeground(c, grey);
        }
        for (int c = 0; c < list_->columnCount(); ++c)
            list_->resizeColumnToContents(c);
        if (list_->topLevelItemCount() > 0) list_->setCurrentItem(list_->topLevelItem(0));
    }

    void step(int key) {
        int n = list_->topLevelItemCount();
        if (n == 0) return;
        int row = list_->indexOfTopLevelItem(list_->currentItem());
        int by = key == Qt::Key_PageUp || key == Qt::Key_PageDown ? FINDER_ROWS : 1;
        row += key == Qt::Key_Up || key == Qt::Key_PageUp ? -by : by;
        list_->setCurrentItem(list_->topLevelItem(std::clamp(row, 0, n - 1)));
    }

    // A locked command is run all the same: its refusal is then flashed,
    // as from its menu.
    void run() {
        QTreeWidgetItem* item = list_->currentItem();
        int command = item ? item->data(0, ROLE_COMMAND).toInt() : 0;
        std::string cell = item ? item->data(0, ROLE_CELL_NAME).toString().toStdString() : "";
        QWidget* main = parentWidget();
        close();
        QTimer::singleShot(0, main, [command, cell] {
            if (command != 0)
                dispatch_command(command);
            else if (!cell.empty())
                link_followed(cell);
        });
    }

    RowSource source_;
    QLineEdit* field_;
    QTreeWidget* list_;
};

void finder_show(const char* name, RowSource source) {
    QMainWindow* main = shell_windows().main;
    if (!main) return;
    (new Finder(main, name, std::move(source)))->open();
}

} // namespace

void command_palette_show() { finder_show("command_palette", command_rows); }

void quick_switcher_show() { finder_show("quick_switcher", cell_rows); }

} // namespace tarvex
