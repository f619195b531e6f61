// Find and replace: the "Replace" dialog takes the search and replacement
// texts, the search bar ("next", "repl", "case", "cancel") stays open under
// the panes while the user steps through the matches, and the search walk
// goes through the text or script field of every cell in name order.
#include "shell/search.h"

#include "core/guard.h"
#include "core/node_store.h"
#include "frontend/frontend.h"
#include "settings/modified_mark.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/panes.h"
#include "shell/qt_frontend.h"
#include "web/cell.h"
#include "web/navigation.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTabBar>
#include <Qsci/qsciscintilla.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace tarvex {

namespace {

// The search's messages.
constexpr const char* NOTHING_TO_SEARCH_TEXT = "Nothing to search for";
constexpr const char* NOT_FOUND_TEXT = "Not found";
constexpr const char* SEARCH_WRAPPED_TEXT = "Search wrapped";
constexpr const char* REPLACE_ALL_QUESTION = "Replace %1 occurrences in %2 cells?";
constexpr const char* REPLACED_TEXT = "Replaced %1 occurrences";

bool g_in_progress = false;
bool g_match_selected = false;
QPointer<QFrame> g_bar;
QPointer<QLineEdit> g_find, g_replace;
QPointer<QPushButton> g_next, g_repl, g_all, g_cancel;
QPointer<QCheckBox> g_case;

long sci(QsciScintilla* e, unsigned msg, unsigned long w = 0, long l = 0) {
    return e->SendScintilla(msg, w, l);
}

// At most SEARCH_TEXT_CUT characters, never half of a surrogate pair.
std::string cut_text(const QString& s) {
    qsizetype n = std::min<qsizetype>(s.size(), SEARCH_TEXT_CUT);
    if (n > 0 && n < s.size() && s.at(n - 1).isHighSurrogate()) --n;
    return s.left(n).toStdString();
}

// The pane the search works in: that of the visible text or script tab.
QsciScintilla* search_pane() {
    int view = shell_current_view();
    if (view != VIEW_TEXT && view != VIEW_SCRIPT) return nullptr;
    return slot_editor(view_slot(view));
}

// From a pane to the bar; a user typing in the bar's fields stays there.
void focus_bar() {
    if (g_next && !search_bar_owns(QApplication::focusWidget()))
        g_next->setFocus(Qt::OtherFocusReason);
}

// The search text from position from to the end of the pane: its start, or
// -1; the target is left on the match.
long find_target(QsciScintilla* e, long from) {
    const char* what = settings_search_text();
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    if (from > length) from = length;
    sci(e, QsciScintillaBase::SCI_SETTARGETSTART, static_cast<unsigned long>(from));
    sci(e, QsciScintillaBase::SCI_SETTARGETEND, static_cast<unsigned long>(length));
    sci(e, QsciScintillaBase::SCI_SETSEARCHFLAGS,
        settings_search_case() ? QsciScintillaBase::SCFIND_MATCHCASE : 0);
    return e->SendScintilla(QsciScintillaBase::SCI_SEARCHINTARGET,
                            static_cast<unsigned long>(std::strlen(what)), what);
}

// Looks for the search text from position from to the end of the pane and
// selects the match.
bool find_from(QsciScintilla* e, long from) {
    long at = find_target(e, from);
    if (at < 0) return false;
    long end = sci(e, QsciScintillaBase::SCI_GETTARGETEND);
    sci(e, QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(at), end);
    g_match_selected = true;
    focus_bar();
    return true;
}

int live_cell_count() {
    int n = 0;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) ++n;
    return n;
}

// Whether the step to the next cell goes round to the first.
bool last_in_order(CellHandle c) {
    for (NodeHandle e = tree_next(c); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) return false;
    return true;
}

// The cell Next Cell steps to from c: the next in name order, round to the
// first.
CellHandle cell_after(CellHandle c) {
    for (NodeHandle e = tree_next(c); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) return e;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) return e;
    return c;
}

// Whether the walk should show c's field in the pane and search it there:
// loading every cell into the pane made a walk over a big web slow.
int field_count(CellHandle c) {
    Text field = shell_current_view() == VIEW_SCRIPT ? cell_script(c) : cell_text(c);
    return search_field_count(text_to_string(field), settings_search_text(),
                              settings_search_case() != 0);
}
bool worth_a_look(CellHandle c) { return field_count(c) != 0; }

// Moves on to c, which follows the current cell in Next Cell's order, as
// the steps of Next Cell would; the cells between them are not shown.
void step_to(CellHandle c) {
    if (c == cell_after(current_cell())) {
        next_cell();
        return;
    }
    // Back at the cell it began in without having left it: stored and shown
    // again, as leaving and coming back does.
    if (c == current_cell()) commit_all_panes();
    make_current(c);
    cell_list_select_current();
}

// Occurrences of the search text in the pane; replace_too replaces them
// as one undoable step.
int search_all_in(QsciScintilla* e, bool replace_too) {
    const char* with = settings_replace_text();
    long with_length = long(std::strlen(with));
    int n = 0;
    if (replace_too) e->beginUndoAction();
    for (long at = find_target(e, 0); at >= 0; ++n) {
        long next = sci(e, QsciScintillaBase::SCI_GETTARGETEND);
        if (replace_too) {
            e->SendScintilla(QsciScintillaBase::SCI_REPLACETARGET,
                             static_cast<unsigned long>(with_length), with);
            next = at + with_length;
        }
        at = find_target(e, next);
    }
    if (replace_too) e->endUndoAction();
    return n;
}

// The bar's fields give the search and replacement texts (and with_case,
// its "case" box: "repl" goes on with the case of the search it continues);
// false (with a message) when there is nothing to search for.
bool take_bar_texts(bool with_case) {
    if (with_case && g_case) settings_set_search_case(g_case->isChecked() ? 1 : 0);
    if (!g_find) return settings_search_text()[0] != 0;
    std::string what = cut_text(g_find->text());
    if (what.empty()) {
        status_flash(NOTHING_TO_SEARCH_TEXT);
        return false;
    }
    settings_set_search_text(what.c_str());
    if (g_replace) settings_set_replace_text(cut_text(g_replace->text()).c_str());
    return true;
}

// The bar's buttons reach the engine like commands do; not while output
// is being written, when the cells may be in use.
template <class F> void bar_action(F&& f) {
    if (output_pump_active() || is_locked_out()) {
        status_flash("Operation locked out");
        return;
    }
    engine_guard(std::forward<F>(f));
}

void relayout_main() {
    if (QMainWindow* w = shell_windows().main)
        if (QWidget* c = w->centralWidget())
            if (QLayout* l = c->layout()) l->activate();
}

// The bar's controls in Tab order.
std::vector<QWidget*> bar_order() {
    return {g_find.data(), g_replace.data(), g_next.data(),  g_repl.data(),
            g_all.data(),  g_case.data(),    g_cancel.data()};
}

QVBoxLayout* central_layout() {
    QMainWindow* w = shell_windows().main;
    if (!w || !w->centralWidget()) return nullptr;
    return qobject_cast<QVBoxLayout*>(w->centralWidget()->layout());
}

// The matches of what in field as the pane's search finds them (each
// search going on from the end of the last), their starts put in starts
// when given; -1 when only the pane can tell.
int field_matches(std::string_view field, std::string_view what, bool match_case,
                  std::vector<size_t>* starts) {
    // The pane may end lines otherwise than the field does.
    if (what.empty() || what.find_first_of("\r\n") != std::string_view::npos) return -1;
    // The pane folds the case of every Unicode letter: outside plain ASCII
    // only a text that is not there byte for byte is ruled out.
    auto plain = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char ch) { return uint8_t(ch) < 0x80; });
    };
    if (!plain(field) || !plain(what))
        return match_case && field.find(what) == std::string_view::npos ? 0 : -1;
    auto lower = [&](char ch) {
        return match_case || ch < 'A' || ch > 'Z' ? ch : char(ch + ('a' - 'A'));
    };
    auto same = [&](char a, char b) { return lower(a) == lower(b); };
    int n = 0;
    for (auto at = field.begin();; at += what.size(), ++n) {
        at = std::search(at, field.end(), what.begin(), what.end(), same);
        if (at == field.end()) return n;
        if (starts) starts->push_back(size_t(at - field.begin()));
    }
}

// Counts the search text in a field as the pane would and, with out, puts
// there the field with each match replaced: by itself where the field
// tells, else in an editor that is never shown, made on the first need.
int search_field(const std::string& field, std::string* out,
                 std::unique_ptr<QsciScintilla>& scratch) {
    std::string_view what = settings_search_text();
    std::vector<size_t> starts;
    int n = field_matches(field, what, settings_search_case() != 0, out ? &starts : nullptr);
    if (n >= 0) {
        if (out == nullptr || n == 0) return n;
        out->clear();
        size_t from = 0;
        for (size_t at : starts) {
            out->append(field, from, at - from).append(settings_replace_text());
            from = at + what.size();
        }
        out->append(field, from);
        return n;
    }
    if (!scratch) {
        scratch = std::make_unique<QsciScintilla>();
        scratch->setUtf8(true);
        sci(scratch.get(), QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0);
    }
    scratch->SendScintilla(QsciScintillaBase::SCI_SETTEXT, uintptr_t(0), field.c_str());
    n = search_all_in(scratch.get(), out != nullptr);
    if (out && n > 0) *out = editor_bytes(scratch.get());
    return n;
}

// The store gives back a field's old text before it takes the new one:
// whether that leaves room for bytes.
bool field_fits(Text old, size_t bytes) {
    if (bytes == 0) return true;
    size_t held = 0;
    for (NodeHandle n = old; n != 0; n = chain_next(n))
        ++held;
    long room = long(nodes_free()) - FREE_COUNT_WHEN_EMPTY + long(held);
    return long(bytes / CHAIN_PAYLOAD_SIZE) + 1 <= room;
}

} // namespace

int search_field_count(std::string_view field, std::string_view what, bool match_case) {
    return field_matches(field, what, match_case, nullptr);
}

bool search_active() { return g_in_progress; }
bool search_match_selected() { return g_match_selected; }
QWidget* search_bar() { return g_bar.data(); }

void open_find_dialog() {
    if (g_in_progress) {
        status_flash("Search or Replace already in progress");
        return;
    }
    g_in_progress = true;

    QDialog dialog(shell_windows().main);
    dialog.setWindowTitle("Replace");
    auto* grid = new QGridLayout(&dialog);
    auto* search_for = new QLineEdit(QString::fromUtf8(settings_search_text()), &dialog);
    search_for->setObjectName("search_for");
    auto* replace_with = new QLineEdit(QString::fromUtf8(settings_replace_text()), &dialog);
    replace_with->setObjectName("replace_with");
    auto* match_case = new QCheckBox("Case sensitive", &dialog);
    match_case->setObjectName("case_sensitive");
    match_case->setChecked(settings_search_case() != 0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    auto* label_for = new QLabel("Search for:", &dialog);
    label_for->setBuddy(search_for);
    auto* label_with = new QLabel("Replace with:", &dialog);
    label_with->setBuddy(replace_with);
    grid->addWidget(label_for, 0, 0);
    grid->addWidget(search_for, 0, 1);
    grid->addWidget(label_with, 1, 0);
    grid->addWidget(replace_with, 1, 1);
    grid->addWidget(match_case, 2, 1);
    grid->addWidget(buttons, 3, 0, 1, 2);
    grid->setColumnMinimumWidth(1, 220);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    search_for->setFocus();
    search_for->selectAll();

    if (!dialog_run(DLG_REPLACE, dialog, settings_search_text())) {
        g_in_progress = false;
        relayout_main();
        return;
    }
    std::string what = cut_text(search_for->text());
    if (what.empty()) {
        status_flash(NOTHING_TO_SEARCH_TEXT);
        g_in_progress = false;
        return;
    }
    settings_set_search_text(what.c_str());
    settings_set_replace_text(cut_text(replace_with->text()).c_str());
    settings_set_search_case(match_case->isChecked() ? 1 : 0);
    search_bar_open();
    search_next();
}

void search_next() {
    g_match_selected = false;
    QsciScintilla* e = search_pane();
    if (!e || settings_search_text()[0] == 0) return;
    if (find_from(e, sci(e, QsciScintillaBase::SCI_GETSELECTIONEND))) return;
    // Not in the rest of this field: the same field of the following cells,
    // round to the beginning of this one.
    CellHandle start = current_cell();
    if (start == 0) return;
    bool wrapped = false;
    CellHandle at = start;
    for (int left = live_cell_count(); left > 0; --left) {
        wrapped = wrapped || last_in_order(at);
        at = cell_after(at);
        if (at != start && !worth_a_look(at)) continue;
        step_to(at);
        sci(e, QsciScintillaBase::SCI_SETSEL, 0, 0);
        if (find_from(e, 0)) {
            if (wrapped) status_flash(SEARCH_WRAPPED_TEXT);
            return;
        }
        if (current_cell() == start) break;
    }
    status_flash(NOT_FOUND_TEXT);
    focus_bar();
}

void replace_all() {
    QsciScintilla* e = search_pane();
    CellHandle start = current_cell();
    if (!e || settings_search_text()[0] == 0 || start == 0) return;
    bool script = shell_current_view() == VIEW_SCRIPT;
    auto field_of = [script](CellHandle c) {
        return text_to_string(script ? cell_script(c) : cell_text(c));
    };
    std::unique_ptr<QsciScintilla> scratch;
    // The start cell counted in its pane, with what was typed there.
    int found = search_all_in(e, false), cells = found > 0;
    for (CellHandle at = cell_after(start); at != start; at = cell_after(at)) {
        int n = search_field(field_of(at), nullptr, scratch);
        found += n;
        cells += n > 0;
    }
    g_match_selected = false;
    if (found == 0) {
        status_flash(NOT_FOUND_TEXT);
        return;
    }
    QString question = QString(REPLACE_ALL_QUESTION).arg(found).arg(cells);
    if (!ask_ok_cancel(question.toUtf8().constData(), "Tarvex")) return;
    // The other cells are replaced in their fields, unshown (showing each
    // in the panes made this slow on a big web); their panes' undo still
    // takes the change back.
    std::string replaced;
    for (CellHandle at = cell_after(start); at != start; at = cell_after(at)) {
        std::string field = field_of(at);
        if (search_field(field, &replaced, scratch) == 0) continue;
        // Stopped before a cell that would lose its text to a full store.
        if (!field_fits(script ? cell_script(at) : cell_text(at), replaced.size()))
            throw NodeExhausted{};
        if (script)
            cell_set_script(at, replaced);
        else
            cell_set_text(at, replaced);
        pane_document_before(at, script ? SLOT_SCRIPT : SLOT_TEXT, std::move(field));
        web_set_modified(true);
        // An edited script drops the error shown, whichever cell it is in.
        if (script) pane_error_clear();
    }
    // Stored and shown again, as leaving the start cell and coming back
    // does (the docks read the fields changed), then replaced in its pane
    // as its own undoable step.
    step_to(start);
    search_all_in(e, true);
    status_flash(QString(REPLACED_TEXT).arg(found).toUtf8().constData());
}

void find_bar_command() {
    search_bar_open();
    if (!g_find) return;
    g_find->setFocus(Qt::ShortcutFocusReason);
    g_find->selectAll();
}

void repl_then_search_next() {
    QsciScintilla* e = search_pane();
    if (!e || !g_match_selected) return;
    e->SendScintilla(QsciScintillaBase::SCI_REPLACESEL, 0UL, settings_replace_text());
    search_next();
}

void search_bar_open() {
    g_in_progress = true;
    if (g_bar) return;
    QVBoxLayout* layout = central_layout();
    if (!layout) return;
    QWidget* parent = layout->parentWidget();
    auto* bar = new QFrame(parent);
    bar->setObjectName("search_bar");
    bar->setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(4, 2, 4, 2);
    g_find = new QLineEdit(QString::fromUtf8(settings_search_text()), bar);
    g_find->setObjectName("bar_find");
    g_find->setPlaceholderText("Find");
    g_replace = new QLineEdit(QString::fromUtf8(settings_replace_text()), bar);
    g_replace->setObjectName("bar_replace");
    g_replace->setPlaceholderText("Replace with");
    g_next = new QPushButton("next", bar);
    g_next->setObjectName("bar_next");
    g_next->setDefault(true);
    g_repl = new QPushButton("repl", bar);
    g_repl->setObjectName("bar_repl");
    g_all = new QPushButton("Replace All", bar);
    g_all->setObjectName("bar_replace_all");
    g_case = new QCheckBox("case", bar);
    g_case->setObjectName("bar_case");
    g_case->setChecked(settings_search_case() != 0);
    g_cancel = new QPushButton("cancel", bar);
    g_cancel->setObjectName("bar_cancel");
    for (QWidget* w : bar_order())
        row->addWidget(w);
    row->addStretch(1);
    QObject::connect(g_next, &QPushButton::clicked, bar, [] {
        bar_action([] {
            if (take_bar_texts(true)) search_next();
        });
    });
    QObject::connect(g_repl, &QPushButton::clicked, bar, [] {
        bar_action([] {
            if (take_bar_texts(false)) repl_then_search_next();
        });
    });
    QObject::connect(g_all, &QPushButton::clicked, bar, [] {
        bar_action([] {
            if (take_bar_texts(true)) replace_all();
        });
    });
    QObject::connect(g_cancel, &QPushButton::clicked, bar, [] { search_bar_close(); });
    // Above the tab strip, so the panes give up the room it takes.
    int at = layout->indexOf(shell_windows().tabs);
    layout->insertWidget(at < 0 ? layout->count() : at, bar);
    g_bar = bar;
    bar->show();
    relayout_main();
}

void search_bar_close() {
    g_in_progress = false;
    g_match_selected = false;
    QFrame* bar = g_bar.data();
    if (!bar) return;
    g_bar = nullptr;
    bar->hide();
    if (QVBoxLayout* layout = central_layout()) layout->removeWidget(bar);
    // It may be closing from inside its own button's signal.
    bar->deleteLater();
    relayout_main();
    focus_current();
}

bool search_bar_edit_key(const QObject* watched, QKeyEvent* key) {
    if (!g_bar || (watched != g_find.data() && watched != g_replace.data())) return false;
    Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    switch (key->key()) {
    case Qt::Key_A:
    case Qt::Key_C:
    case Qt::Key_V:
    case Qt::Key_X:
    case Qt::Key_Z: return mods == Qt::ControlModifier;
    case Qt::Key_Delete: return mods == Qt::NoModifier;
    default: return false;
    }
}

bool search_bar_owns(const QObject* watched) {
    if (!g_bar) return false;
    for (const QObject* o = watched; o != nullptr; o = o->parent())
        if (o == g_bar.data()) return true;
    return false;
}

bool search_bar_key(QKeyEvent* key) {
    if (!g_bar) return false;
    Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    std::vector<QWidget*> order = bar_order();
    int count = int(order.size());
    switch (key->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        if (mods & ~Qt::ShiftModifier) return false;
        bool back = key->key() == Qt::Key_Backtab || (mods & Qt::ShiftModifier);
        int at = 0;
        for (int i = 0; i < count; ++i)
            if (order[size_t(i)] && order[size_t(i)]->hasFocus()) at = i;
        int to = (at + (back ? count - 1 : 1)) % count;
        if (order[size_t(to)])
            order[size_t(to)]->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        if (mods != Qt::NoModifier) return false;
        // A focused button is the one Enter presses; elsewhere "next".
        auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        if (focused && search_bar_owns(focused))
            focused->click();
        else if (g_next)
            g_next->click();
        return true;
    }
    case Qt::Key_Escape:
        if (mods != Qt::NoModifier) return false;
        search_bar_close();
        return true;
    default: return false;
    }
}

} // namespace tarvex
