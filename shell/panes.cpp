// The main window's panes and the state that ties them to the engine: the
// focus slot and views, editor set-up and link styling, committing and
// loading the current cell, the cell list, the console and the status line.
#include "shell/panes.h"

#include "shell/search.h"

#include "core/guard.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "io/keyboard_queue.h"
#include "script/char_class.h"
#include "script/run_engine.h"
#include "shell/qt_frontend.h"
#include "shell/script_style.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "web/pane_state.h"
#include "webfile/settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <Qsci/qscidocument.h>
#include <Qsci/qsciscintilla.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace tarvex {

namespace {

// An editor document of a cell's pane; the name guards against a handle
// that has since been given to another cell.
struct PaneDocument {
    QsciDocument doc;
    std::string name;
};

// A script error as its cell's script document shows it.
struct ShownError {
    CellHandle cell = 0;
    uint32_t start = 0, end = 0;
    std::string message;
};

// The panes' state: the widgets, the focus and views, the status line,
// link words, the cell list, the console, the editor documents and the
// marks shown in them. One instance, reached through panes().
struct PanesState {
    ShellWindows windows;
    int focus_slot = SLOT_LIST;
    int view = VIEW_LIST;
    int previous_view = VIEW_LIST;

    // Status line.
    std::string persistent;
    std::string transient;
    bool transient_showing = false;
    QElapsedTimer transient_clock;
    std::string status_shown;

    // Link words: the list as the engine's names give it, and its folded set.
    std::string link_words;
    std::unordered_set<std::string> link_set;

    // Collapse requests of the text and script panes.
    // Whether the script pane's links answer clicks (only while Ctrl is held).
    bool script_links_live = false;
    bool collapse_text = false;
    bool collapse_script = false;

    // Cell list items by the number each cell records.
    std::unordered_map<uint32_t, QTreeWidgetItem*> items;
    uint32_t next_item = 1;
    bool list_filling = false;
    // The cell list's filter, folded; empty shows every cell.
    std::string list_filter;

    // Console: where the last typed line that went to the keyboard ended, and
    // whether the caret must still be moved to the end after output.
    int64_t console_fed_end = 0;
    bool console_caret_due = false;
    std::string console_pending;
    bool console_streaming = false;
    int console_pending_style = STYLE_OUTPUT;
    // Whether the console wraps, whether some line may be too wide for it, and
    // the first line not yet looked at for that.
    bool console_wrapped = true;
    bool console_long_line = false;
    long console_checked_line = 0;
    // What the console's characters measure (see console_measure_characters).
    long console_width_key[3] = {-1, -1, -1};
    long console_widths[128] = {};
    long console_widest = 1;
    long console_tab = 1;
    // When the console was last brought up to date during output, and how long
    // to wait before the next time.
    QElapsedTimer console_refresh_clock;
    qint64 console_refresh_gap_ms = 0;

    // Editor documents, one per cell and pane, kept for the session so that
    // each cell keeps its own undo history.
    std::unordered_map<uint64_t, PaneDocument> documents;
    // The document key each editor shows, 0 for none of ours.
    std::unordered_map<const QsciScintilla*, uint64_t> showing;
    bool loading = false;

    // The script error shown in its cell's script document until the script
    // is edited or run again.
    ShownError error;
    bool error_shown = false;
    std::unordered_set<uint64_t> stale_marks;

    // The pause mark as last put in the script pane: the document it went into
    // and its line (-1 when that document has none).
    uint64_t pause_marked_doc = 0;
    long pause_marked_line = -1;

    // Console output written while another tab was shown and not seen since,
    // and whether such output brings the console up instead.
    bool output_unseen = false;
    bool console_on_output = false;
    // Watches the console viewport's size (see ConsoleResizeWatch).
    QPointer<QObject> console_watch;
};

PanesState& panes() {
    static PanesState state;
    return state;
}

// The console is refreshed during output at most this often (25 frames a
// second is smooth to the eye) ...
constexpr qint64 CONSOLE_REFRESH_MIN_MS = 40;
// ... and takes at most one part in this many of the time output runs.
constexpr qint64 CONSOLE_REFRESH_SHARE = 4;

void status_put(const std::string& text);

constexpr int ROLE_CELL = Qt::UserRole;
// A cell list item's label: the bytes a tree item's label buffer holds
// (more than any cell name needs, so a name is never cut in practice).
constexpr size_t LIST_LABEL_MAX = 128;

long sci(QsciScintilla* e, unsigned msg, unsigned long w = 0, long l = 0) {
    return e->SendScintilla(msg, w, l);
}

std::string fold_word(std::string_view w) {
    std::string f(w);
    for (char& c : f) c = static_cast<char>(text_fold(static_cast<uint8_t>(c)));
    return f;
}

bool list_filter_hides(const std::string& name) {
    return !panes().list_filter.empty() &&
           fold_word(name).find(panes().list_filter) == std::string::npos;
}

bool word_start_char(uint8_t c) { return char_class(c) == CC_LETTER; }
bool word_char(uint8_t c) {
    CharClass k = char_class(c);
    return k == CC_LETTER || k == CC_DIGIT || k == CC_UNDERSCORE;
}

QColor link_colour() {
    switch (settings_link_colour()) {
    case 0: return QColor(0xC5, 0x12, 0x1B);
    case 1: return QColor(0x2B, 0x9B, 0x22);
    case 2: return QColor(0x18, 0x23, 0x69);
    default: return QColor(0, 0, 0);
    }
}

int editor_font_points() {
    int size = (settings_font_size() + 5) / 10;
    if (size == 0) return 12;
    if (size < 0) return -6 - size;
    return size;
}

// The default style from the web's font settings, copied to every style.
void apply_font_styles(QsciScintilla* e) {
    uint32_t font_style = settings_font_style();
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETFONT, uintptr_t(QsciScintillaBase::STYLE_DEFAULT),
                     settings_font_name());
    sci(e, QsciScintillaBase::SCI_STYLESETSIZE, QsciScintillaBase::STYLE_DEFAULT, editor_font_points());
    sci(e, QsciScintillaBase::SCI_STYLESETBOLD, QsciScintillaBase::STYLE_DEFAULT, (font_style & 1) != 0);
    sci(e, QsciScintillaBase::SCI_STYLESETITALIC, QsciScintillaBase::STYLE_DEFAULT,
        (font_style & 2) != 0);
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETFORE, QsciScintillaBase::STYLE_DEFAULT,
                     QColor(Qt::black));
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETBACK, QsciScintillaBase::STYLE_DEFAULT,
                     QColor(Qt::white));
    sci(e, QsciScintillaBase::SCI_STYLECLEARALL);
}

void restyle_whole(QsciScintilla* e);

void common_setup(QsciScintilla* e) {
    e->setUtf8(true);
    e->setEolMode(QsciScintilla::EolWindows);
    e->setWrapMode(QsciScintilla::WrapWord);
    e->setMarginWidth(0, 0);
    e->setMarginWidth(1, 2);
    e->setMarginWidth(2, 0);
    sci(e, QsciScintillaBase::SCI_SETLEXER, QsciScintillaBase::SCLEX_CONTAINER);
    sci(e, QsciScintillaBase::SCI_SETYCARETPOLICY,
        QsciScintillaBase::CARET_SLOP | QsciScintillaBase::CARET_EVEN, 1);
    apply_font_styles(e);
}

void apply_zoom(QsciScintilla* e) { sci(e, QsciScintillaBase::SCI_SETZOOM, settings_zoom()); }

QTreeWidgetItem* item_of_cell(NodeHandle cell) {
    auto it = panes().items.find(cell_list_item(cell));
    if (it != panes().items.end() && it->second->data(0, ROLE_CELL).toUInt() == cell)
        return it->second;
    QTreeWidget* list = panes().windows.list;
    for (int i = 0; list && i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        if (item->data(0, ROLE_CELL).toUInt() == cell) return item;
    }
    return nullptr;
}

// Items sort as the name tree does: case ignored, "_" equal to a space.
class CellItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        return fold_word(text(0).toStdString()) < fold_word(other.text(0).toStdString());
    }
};

void insert_item(NodeHandle cell) {
    std::string name = cell_name_string(cell);
    if (name.size() > LIST_LABEL_MAX) name.resize(LIST_LABEL_MAX);
    auto* item = new CellItem(QStringList{QString::fromUtf8(name.data(), int(name.size()))});
    item->setData(0, ROLE_CELL, uint(cell));
    panes().windows.list->addTopLevelItem(item);
    item->setHidden(list_filter_hides(name));
    uint32_t id = panes().next_item++;
    panes().items[id] = item;
    cell_set_list_item(cell, id);
}

void pane_state_save(QsciScintilla* e, CellHandle c, CellField field) {
    pane_state_put(c, field,
                   {uint32_t(sci(e, QsciScintillaBase::SCI_GETFIRSTVISIBLELINE)),
                    uint32_t(sci(e, QsciScintillaBase::SCI_GETSELECTIONSTART)),
                    uint32_t(sci(e, QsciScintillaBase::SCI_GETSELECTIONEND))});
}

void pane_state_restore(QsciScintilla* e, CellHandle c, CellField field) {
    PaneState p = pane_state_get(c, field);
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    long start = std::min<long>(p.sel_start, length);
    long end = std::min<long>(p.sel_end, length);
    sci(e, QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(start), end);
    sci(e, QsciScintillaBase::SCI_SCROLLCARET);
}

void set_editor_bytes(QsciScintilla* e, const std::string& bytes) {
    e->SendScintilla(QsciScintillaBase::SCI_SETTEXT, uintptr_t(0), bytes.c_str());
    sci(e, QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
    e->setModified(false);
}

uint64_t document_key(CellHandle c, int slot) { return (uint64_t(c) << 8) | uint64_t(slot); }

void marks_clear_shown(QsciScintilla* e);

// Shows the cell's document of a pane, made on the first visit, and fills
// it from the cell's field. A document whose text is the field's already
// is not touched; one that differs (a run, a replace) gets the new text as
// one step its undo can take back.
void load_document(QsciScintilla* e, CellHandle c, int slot, const std::string& bytes) {
    uint64_t key = document_key(c, slot);
    std::string name = cell_name_string(c);
    auto it = panes().documents.find(key);
    if (it != panes().documents.end() && it->second.name != name) {
        panes().documents.erase(it);
        it = panes().documents.end();
    }
    bool fresh = it == panes().documents.end();
    bool switched = panes().showing[e] != key || fresh;
    if (switched) {
        if (fresh) {
            e->setDocument(QsciDocument());
            it = panes().documents.emplace(key, PaneDocument{e->document(), name}).first;
        } else {
            e->setDocument(it->second.doc);
        }
        panes().showing[e] = key;
        // The code page, line ends and lexer belong to the document.
        e->setUtf8(true);
        e->setEolMode(QsciScintilla::EolWindows);
        sci(e, QsciScintillaBase::SCI_SETLEXER, QsciScintillaBase::SCLEX_CONTAINER);
        if (panes().stale_marks.erase(key)) marks_clear_shown(e);
    }
    if (fresh) {
        set_editor_bytes(e, bytes);
    } else if (editor_bytes(e) != bytes) {
        e->SendScintilla(QsciScintillaBase::SCI_SETTEXT, uintptr_t(0), bytes.c_str());
        e->setModified(false);
    }
    // Links may have come or gone while another cell was shown.
    if (switched) restyle_whole(e);
}

void marks_clear_shown(QsciScintilla* e) {
    sci(e, QsciScintillaBase::SCI_SETINDICATORCURRENT, INDICATOR_ERROR);
    sci(e, QsciScintillaBase::SCI_INDICATORCLEARRANGE, 0, sci(e, QsciScintillaBase::SCI_GETLENGTH));
    sci(e, QsciScintillaBase::SCI_ANNOTATIONCLEARALL);
    sci(e, QsciScintillaBase::SCI_MARKERDELETEALL, MARKER_ERROR);
}

// The error's indicator on its token and its message under its line, in
// the script pane when it shows the error's cell.
void error_mark_show() {
    QsciScintilla* e = panes().windows.script;
    if (!e || panes().error.cell == 0 || panes().error_shown) return;
    uint64_t key = document_key(panes().error.cell, SLOT_SCRIPT);
    if (panes().showing[e] != key) return;
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    long start = std::min<long>(panes().error.start, length);
    long end = std::min<long>(std::max(panes().error.end, panes().error.start + 1), length);
    sci(e, QsciScintillaBase::SCI_SETINDICATORCURRENT, INDICATOR_ERROR);
    sci(e, QsciScintillaBase::SCI_INDICATORFILLRANGE, static_cast<unsigned long>(start),
        end - start);
    long line = sci(e, QsciScintillaBase::SCI_LINEFROMPOSITION, static_cast<unsigned long>(start));
    e->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONSETTEXT, static_cast<uintptr_t>(line),
                     panes().error.message.c_str());
    sci(e, QsciScintillaBase::SCI_ANNOTATIONSETSTYLE, static_cast<unsigned long>(line),
        STYLE_ERROR_NOTE);
    sci(e, QsciScintillaBase::SCI_MARKERADD, static_cast<unsigned long>(line), MARKER_ERROR);
    panes().error_shown = true;
}

// Marks in a document the pane does not show stay until it is shown again
// (an editor reaches only the document it shows).
void error_mark_clear() {
    QsciScintilla* e = panes().windows.script;
    if (e && panes().error_shown) {
        uint64_t key = document_key(panes().error.cell, SLOT_SCRIPT);
        if (panes().showing[e] == key)
            marks_clear_shown(e);
        else
            panes().stale_marks.insert(key);
    }
    panes().error = ShownError{};
    panes().error_shown = false;
}

void commit_field(QsciScintilla* e, int view) {
    CellHandle c = current_cell();
    if (c == 0 || e == nullptr) return;
    if (view == VIEW_VALUE) {
        if (!e->isModified()) return;
        std::string bytes = editor_bytes(e);
        e->setModified(false);
        pane_value_store(c, bytes);
        return;
    }
    if (e->isModified()) {
        std::string bytes = editor_bytes(e);
        e->setModified(false);
        if (view == VIEW_TEXT)
            cell_set_text(c, bytes);
        else
            cell_set_script(c, bytes);
    }
    pane_state_save(e, c, view == VIEW_TEXT ? CF_TEXT_PANE : CF_SCRIPT_PANE);
}

void restyle_whole(QsciScintilla* e) {
    if (!e) return;
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, 0, 0xff);
    pane_style_links(e, sci(e, QsciScintillaBase::SCI_GETLENGTH));
}

long text_width(QsciScintilla* e, int style, const char* text) {
    return e->SendScintilla(QsciScintillaBase::SCI_TEXTWIDTH, static_cast<unsigned long>(style),
                            text);
}

// The pixel widths of the printable ASCII characters in the output style
// (the boldest the console uses) and the widest of them, rebuilt when the
// console's font or zoom changes (then true); and the distance between tab
// stops.
bool console_measure_characters(QsciScintilla* e) {
    long key[3] = {sci(e, QsciScintillaBase::SCI_GETZOOM), text_width(e, STYLE_OUTPUT, "W"),
                   text_width(e, STYLE_PLAIN, "i")};
    if (std::equal(key, key + 3, panes().console_width_key)) return false;
    std::copy(key, key + 3, panes().console_width_key);
    panes().console_widest = 1;
    for (int c = 32; c < 127; ++c) {
        char one[2] = {char(c), 0};
        panes().console_widths[c] = text_width(e, STYLE_OUTPUT, one);
        panes().console_widest = std::max(panes().console_widest, panes().console_widths[c]);
    }
    long space = std::max(panes().console_widths[' '], text_width(e, STYLE_PLAIN, " "));
    panes().console_tab = std::max(1L, sci(e, QsciScintillaBase::SCI_GETTABWIDTH)) * space;
    return true;
}

// An upper bound of a byte's width: the sum of the advances of a line's
// characters is its width (kerning and ligatures only take away). Other
// bytes may be parts of characters of several bytes, or be shown as a
// named blob (control characters, bytes that are no UTF-8).
long console_byte_width(uint8_t c) {
    return c >= 32 && c < 127 ? panes().console_widths[c] : 3 * panes().console_widest;
}

// The width of the console's text area, in pixels.
long console_text_width(QsciScintilla* e) {
    long width = e->viewport()->width() - sci(e, QsciScintillaBase::SCI_GETMARGINLEFT) -
                 sci(e, QsciScintillaBase::SCI_GETMARGINRIGHT);
    for (unsigned long m = 0; m < 5; ++m)
        width -= sci(e, QsciScintillaBase::SCI_GETMARGINWIDTHN, m);
    return std::max(0L, width);
}

void console_wrap_apply(bool wrap) {
    QsciScintilla* e = panes().windows.console;
    if (!e || wrap == panes().console_wrapped) return;
    panes().console_wrapped = wrap;
    e->setWrapMode(wrap ? QsciScintilla::WrapWord : QsciScintilla::WrapNone);
}

// Looks at the lines not seen yet (every line when full, or when the
// characters measure differently) and wraps the console once one may be too
// wide; never while output streams in.
void console_wrap_check(bool full) {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    // Another font or zoom: every line again.
    if (console_measure_characters(e) || full) {
        panes().console_long_line = false;
        panes().console_checked_line = 0;
    }
    long lines = sci(e, QsciScintillaBase::SCI_GETLINECOUNT);
    if (!panes().console_long_line) {
        // A character's width of slack for the caret and rounding.
        long room = console_text_width(e) - panes().console_widest;
        long from = sci(e, QsciScintillaBase::SCI_POSITIONFROMLINE,
                        static_cast<unsigned long>(panes().console_checked_line));
        long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
        const char* bytes = reinterpret_cast<const char*>(
            e->SendScintilla(QsciScintillaBase::SCI_GETCHARACTERPOINTER));
        long x = 0;
        for (long i = from; bytes && i < length && x <= room; ++i) {
            uint8_t c = uint8_t(bytes[i]);
            if (c == '\n' || c == '\r')
                x = 0;
            else if (c == '\t')
                x = (x / panes().console_tab + 1) * panes().console_tab;
            else
                x += console_byte_width(c);
        }
        panes().console_long_line = x > room;
    }
    // The last line may still grow.
    panes().console_checked_line = std::max(0L, lines - 1);
    if (!panes().console_streaming) console_wrap_apply(panes().console_long_line);
}

// A narrower console may need wrapping where a wider one did not.
class ConsoleResizeWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) console_wrap_check(true);
        return QObject::eventFilter(watched, event);
    }
};

// Whether output written now is in sight: the console shown in the compact
// layout; in the desktop one its dock open, even when another dock's tab
// covers it (output brings it to the front).
bool console_in_view() {
    if (QDockWidget* dock = pane_dock(panes().windows.console)) return !dock->isHidden();
    return panes().view == VIEW_CONS;
}

} // namespace

ShellWindows& shell_windows() { return panes().windows; }

QWidget* slot_window(int slot) {
    switch (slot) {
    case SLOT_TEXT: return panes().windows.text;
    case SLOT_VALUE: return panes().windows.value;
    case SLOT_SCRIPT: return panes().windows.script;
    case SLOT_LIST: return panes().windows.list;
    case SLOT_PLOT: return panes().windows.plot;
    case SLOT_TABS: return panes().windows.tabs;
    case SLOT_CONSOLE: return panes().windows.console;
    default: return panes().windows.name_box;
    }
}

QsciScintilla* slot_editor(int slot) {
    switch (slot) {
    case SLOT_TEXT: return panes().windows.text;
    case SLOT_VALUE: return panes().windows.value;
    case SLOT_SCRIPT: return panes().windows.script;
    case SLOT_CONSOLE: return panes().windows.console;
    default: return nullptr;
    }
}

int slot_of_window(const QWidget* w) {
    for (const QWidget* p = w; p != nullptr; p = p->parentWidget()) {
        for (int slot = 0; slot < 8; ++slot)
            if (slot_window(slot) == p) return slot;
        if (p == panes().windows.main) break;
    }
    return -1;
}

int focus_slot() { return panes().focus_slot; }
void set_focus_slot(int slot) {
    if (slot >= 0 && slot < 8) panes().focus_slot = slot;
}

void focus_current() {
    // An open search bar takes the keyboard before any pane.
    if (QWidget* bar = search_bar()) {
        bar->setFocus(Qt::OtherFocusReason);
        return;
    }
    QWidget* w = slot_window(panes().focus_slot);
    if (w) w->setFocus(Qt::OtherFocusReason);
}

int view_slot(int view) {
    static const int pane_slots[] = {SLOT_LIST, SLOT_TEXT, SLOT_VALUE, SLOT_SCRIPT, SLOT_CONSOLE, SLOT_PLOT};
    return view >= 0 && view <= VIEW_PLOT ? pane_slots[view] : SLOT_LIST;
}

QDockWidget* pane_dock(const QWidget* pane) {
    for (const QWidget* p = pane; p && p != panes().windows.main; p = p->parentWidget())
        if (auto* dock = qobject_cast<QDockWidget*>(const_cast<QWidget*>(p))) return dock;
    return nullptr;
}

namespace {
// The view switch without the focus step.
void view_switch(int view) {
    pane_commit(panes().view);
    panes().previous_view = panes().view;
    panes().view = view;
    QWidget* pane = slot_window(view_slot(view));
    QDockWidget* dock = pane_dock(pane);
    if (dock) {
        // A closed dock opens again; one behind another dock's tab comes
        // to the front. The editor tab stays as it was.
        dock->show();
        dock->raise();
    } else {
        if (panes().windows.stack && pane) panes().windows.stack->setCurrentWidget(pane);
        if (panes().windows.tabs && panes().windows.tabs->currentIndex() != view) {
            QSignalBlocker block(panes().windows.tabs);
            panes().windows.tabs->setCurrentIndex(view);
        }
    }
    if (view == VIEW_CONS) console_pane_seen();
}
} // namespace

void shell_show_view(int view) {
    if (view < VIEW_LIST || view > VIEW_PLOT) return;
    view_switch(view);
    if (view != VIEW_PLOT) {
        set_focus_slot(view_slot(view));
        focus_current();
    }
}

void shell_view_followed(int view) {
    if (view < VIEW_LIST || view > VIEW_PLOT || view == panes().view) return;
    view_switch(view);
    if (view != VIEW_PLOT) set_focus_slot(view_slot(view));
}

int shell_current_view() { return panes().view; }
int shell_previous_view() { return panes().previous_view; }

// ---- editor panes -------------------------------------------------------------

namespace {
// Room for this many digits of line numbers; longer scripts widen nothing.
constexpr char LINE_NUMBER_ROOM[] = "_9999";
constexpr int SYMBOL_MARGIN_PIXELS = 14;

void script_margins_setup(QsciScintilla* e) {
    e->setMarginType(MARGIN_NUMBERS, QsciScintilla::NumberMargin);
    long digits = e->SendScintilla(QsciScintillaBase::SCI_TEXTWIDTH,
                                   static_cast<unsigned long>(QsciScintillaBase::STYLE_LINENUMBER),
                                   LINE_NUMBER_ROOM);
    e->setMarginWidth(MARGIN_NUMBERS, int(digits));
    // The gap takes no symbols, so the markers show only in their margin.
    e->setMarginMarkerMask(1, 0);
    e->setMarginType(MARGIN_SYMBOLS, QsciScintilla::SymbolMargin);
    e->setMarginMarkerMask(MARGIN_SYMBOLS, (1 << MARKER_PAUSE) | (1 << MARKER_ERROR));
    e->setMarginWidth(MARGIN_SYMBOLS, SYMBOL_MARGIN_PIXELS);
    sci(e, QsciScintillaBase::SCI_MARKERDEFINE, MARKER_PAUSE,
        QsciScintillaBase::SC_MARK_SHORTARROW);
    e->SendScintilla(QsciScintillaBase::SCI_MARKERSETFORE, MARKER_PAUSE, QColor(0x80, 0x60, 0));
    e->SendScintilla(QsciScintillaBase::SCI_MARKERSETBACK, MARKER_PAUSE, QColor(0xFF, 0xD0, 0x30));
    sci(e, QsciScintillaBase::SCI_MARKERDEFINE, MARKER_PAUSE_LINE,
        QsciScintillaBase::SC_MARK_BACKGROUND);
    e->SendScintilla(QsciScintillaBase::SCI_MARKERSETBACK, MARKER_PAUSE_LINE,
                     QColor(0xFF, 0xF4, 0xC0));
    sci(e, QsciScintillaBase::SCI_MARKERDEFINE, MARKER_ERROR, QsciScintillaBase::SC_MARK_CIRCLE);
    e->SendScintilla(QsciScintillaBase::SCI_MARKERSETFORE, MARKER_ERROR, QColor(0xA0, 0, 0));
    e->SendScintilla(QsciScintillaBase::SCI_MARKERSETBACK, MARKER_ERROR, QColor(Qt::red));
}
} // namespace

void editor_setup(QsciScintilla* e) {
    common_setup(e);
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETFORE, STYLE_LINK, link_colour());
    sci(e, QsciScintillaBase::SCI_STYLESETBOLD, STYLE_LINK, 1);
    bool live = e != panes().windows.script || panes().script_links_live;
    sci(e, QsciScintillaBase::SCI_STYLESETHOTSPOT, STYLE_LINK, live ? 1 : 0);
    if (e == panes().windows.script) {
        script_style_setup(e);
        sci(e, QsciScintillaBase::SCI_INDICSETSTYLE, INDICATOR_ERROR,
            QsciScintillaBase::INDIC_SQUIGGLE);
        e->SendScintilla(QsciScintillaBase::SCI_INDICSETFORE, INDICATOR_ERROR, QColor(Qt::red));
        e->SendScintilla(QsciScintillaBase::SCI_STYLESETFORE, STYLE_ERROR_NOTE, QColor(0xA0, 0, 0));
        e->SendScintilla(QsciScintillaBase::SCI_STYLESETBACK, STYLE_ERROR_NOTE,
                         QColor(0xFF, 0xEE, 0xEE));
        sci(e, QsciScintillaBase::SCI_STYLESETITALIC, STYLE_ERROR_NOTE, 1);
        sci(e, QsciScintillaBase::SCI_ANNOTATIONSETVISIBLE, QsciScintillaBase::ANNOTATION_BOXED);
        script_margins_setup(e);
    }
    restyle_whole(e);
}

// A hotspot style is what gives the pointing hand and the click
// notification, so the script pane's link style is one only while Ctrl is
// down: a plain click there places the caret, to edit a name in a script.
void script_links_live(bool on) {
    if (on == panes().script_links_live) return;
    panes().script_links_live = on;
    if (QsciScintilla* e = panes().windows.script)
        sci(e, QsciScintillaBase::SCI_STYLESETHOTSPOT, STYLE_LINK, on ? 1 : 0);
}

bool script_links_are_live() { return panes().script_links_live; }

void console_setup(QsciScintilla* e) {
    common_setup(e);
    sci(e, QsciScintillaBase::SCI_SETENDATLASTLINE, 1);
    // No change notifications: nothing listens to the console's, and the
    // editor's accessibility support measures the whole text before every
    // insertion it is told about, which makes long output quadratic.
    sci(e, QsciScintillaBase::SCI_SETMODEVENTMASK, 0);
    sci(e, QsciScintillaBase::SCI_STYLESETBOLD, STYLE_OUTPUT, 1);
    sci(e, QsciScintillaBase::SCI_STYLESETCHANGEABLE, STYLE_OUTPUT, 0);
    // A console of a megabyte of output needs no undo history.
    sci(e, QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0);
    // Unwrapped, the horizontal scroll bar appears only for a line that
    // is really too wide.
    sci(e, QsciScintillaBase::SCI_SETSCROLLWIDTH, 1);
    sci(e, QsciScintillaBase::SCI_SETSCROLLWIDTHTRACKING, 1);
    panes().console_wrapped = true; // as the common set-up left it
    if (!panes().console_watch || panes().console_watch->parent() != e->viewport()) {
        panes().console_watch = new ConsoleResizeWatch(e->viewport());
        e->viewport()->installEventFilter(panes().console_watch);
    }
    console_wrap_check(true);
}

void panes_setup() {
    for (QsciScintilla* e : {panes().windows.text, panes().windows.value, panes().windows.script})
        if (e) editor_setup(e);
    if (panes().windows.console) console_setup(panes().windows.console);
    if (panes().windows.text) apply_zoom(panes().windows.text);
    if (panes().windows.console) apply_zoom(panes().windows.console);
}

void pane_style_links(QsciScintilla* e, int64_t end) {
    if (e == panes().windows.script) {
        script_style_pane(e, end);
        return;
    }
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    if (end > length || end < 0) end = length;
    long styled = sci(e, QsciScintillaBase::SCI_GETENDSTYLED);
    long line = sci(e, QsciScintillaBase::SCI_LINEFROMPOSITION, static_cast<unsigned long>(styled));
    long start = sci(e, QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    if (end <= start) return;
    // Finish the word the range ends in, so no link is cut in two.
    while (end < length && word_char(uint8_t(sci(e, QsciScintillaBase::SCI_GETCHARAT, end)))) ++end;
    const char* bytes = reinterpret_cast<const char*>(
        e->SendScintilla(QsciScintillaBase::SCI_GETRANGEPOINTER, static_cast<unsigned long>(start),
                         static_cast<long>(end - start)));
    if (!bytes) return;
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, static_cast<unsigned long>(start), 0xff);
    long n = end - start;
    long i = 0;
    long run = 0; // plain characters waiting to be styled
    while (i < n) {
        uint8_t ch = uint8_t(bytes[i]);
        if (!word_start_char(ch)) {
            ++i;
            ++run;
            continue;
        }
        long w = i;
        while (i < n && word_char(uint8_t(bytes[i]))) ++i;
        bool link =
            !panes().link_set.empty() &&
            panes().link_set.count(fold_word(std::string_view(bytes + w, size_t(i - w)))) != 0;
        if (!link) {
            run += i - w;
            continue;
        }
        if (run > 0) sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(run), STYLE_PLAIN);
        run = 0;
        sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(i - w), STYLE_LINK);
    }
    if (run > 0) sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(run), STYLE_PLAIN);
}

std::string editor_bytes(QsciScintilla* e) {
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    std::string bytes(static_cast<size_t>(length) + 1, '\0');
    e->SendScintilla(QsciScintillaBase::SCI_GETTEXT, static_cast<unsigned long>(length + 1),
                     static_cast<void*>(bytes.data()));
    bytes.resize(static_cast<size_t>(length));
    return bytes;
}

std::string editor_selected_bytes(QsciScintilla* e) {
    long start = sci(e, QsciScintillaBase::SCI_GETSELECTIONSTART);
    long end = sci(e, QsciScintillaBase::SCI_GETSELECTIONEND);
    if (end <= start) return {};
    const char* bytes = reinterpret_cast<const char*>(
        e->SendScintilla(QsciScintillaBase::SCI_GETRANGEPOINTER, static_cast<unsigned long>(start),
                         static_cast<long>(end - start)));
    return bytes ? std::string(bytes, static_cast<size_t>(end - start)) : std::string();
}

std::string editor_word_at(QsciScintilla* e, int64_t pos) {
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    if (pos < 0 || pos > length) return {};
    auto at = [&](long p) { return uint8_t(sci(e, QsciScintillaBase::SCI_GETCHARAT, static_cast<unsigned long>(p))); };
    long start = pos, end = pos;
    while (start > 0 && word_char(at(start - 1))) --start;
    while (end < length && word_char(at(end))) ++end;
    while (start < end && !word_start_char(at(start))) ++start;
    if (end - start >= CELL_NAME_MAX + 1 || start == end) return {};
    std::string word;
    for (long p = start; p < end; ++p) word.push_back(char(at(p)));
    return word;
}

void pane_collapse_request(int slot) {
    QsciScintilla* e = slot_editor(slot);
    if (!e) return;
    sci(e, QsciScintillaBase::SCI_HIDESELECTION, 1);
    if (slot == SLOT_TEXT) panes().collapse_text = true;
    if (slot == SLOT_SCRIPT) panes().collapse_script = true;
}

void pane_value_store(NodeHandle cell, std::string_view bytes) {
    cell_set_value_text(cell, bytes);
    web_set_modified(true);
}

void pane_commit(int view) {
    switch (view) {
    case VIEW_TEXT: commit_field(panes().windows.text, VIEW_TEXT); break;
    case VIEW_VALUE: commit_field(panes().windows.value, VIEW_VALUE); break;
    case VIEW_SCRIPT: commit_field(panes().windows.script, VIEW_SCRIPT); break;
    default: break;
    }
}

void panes_commit_all() {
    pane_commit(VIEW_TEXT);
    pane_commit(VIEW_VALUE);
    pane_commit(VIEW_SCRIPT);
}

void pane_state_select(NodeHandle cell, uint32_t start, uint32_t end) {
    pane_state_set_selection(cell, CF_SCRIPT_PANE, start, end);
    if (cell == current_cell() && panes().windows.script)
        pane_state_restore(panes().windows.script, cell, CF_SCRIPT_PANE);
}

void panes_load() {
    CellHandle c = current_cell();
    if (c == 0) return;
    bool modified = web_modified();
    panes().loading = true;
    std::string name = cell_name_string(c);
    if (panes().windows.name_box) {
        panes().windows.name_box->setEditText(QString::fromUtf8(name.data(), int(name.size())));
    }
    if (panes().windows.value)
        load_document(panes().windows.value, c, SLOT_VALUE, value_display(cell_value(c)));
    if (panes().windows.script) {
        load_document(panes().windows.script, c, SLOT_SCRIPT, text_to_string(cell_script(c)));
        pane_state_restore(panes().windows.script, c, CF_SCRIPT_PANE);
        error_mark_show();
        pane_pause_mark_sync();
    }
    if (panes().windows.text) {
        load_document(panes().windows.text, c, SLOT_TEXT, text_to_string(cell_text(c)));
        pane_state_restore(panes().windows.text, c, CF_TEXT_PANE);
    }
    panes().loading = false;
    web_set_modified(modified);
}

void panes_forget_documents() {
    error_mark_clear();
    for (QsciScintilla* e : {panes().windows.text, panes().windows.value, panes().windows.script}) {
        if (!e) continue;
        // The editor lets go of a document only for another one.
        e->setDocument(QsciDocument());
        panes().showing[e] = 0;
        e->setUtf8(true);
        e->setEolMode(QsciScintilla::EolWindows);
        sci(e, QsciScintillaBase::SCI_SETLEXER, QsciScintillaBase::SCLEX_CONTAINER);
    }
    panes().documents.clear();
    panes().stale_marks.clear();
}

void pane_forget_cell(CellHandle c) {
    if (panes().error.cell == c) error_mark_clear();
    for (int slot : {SLOT_TEXT, SLOT_VALUE, SLOT_SCRIPT}) {
        panes().documents.erase(document_key(c, slot));
        panes().stale_marks.erase(document_key(c, slot));
    }
}

void pane_error_show(CellHandle c, uint32_t start, uint32_t end, const std::string& message) {
    error_mark_clear();
    panes().error = ShownError{c, start, end, message};
    error_mark_show();
}

void pane_error_clear() { error_mark_clear(); }

void pane_script_edited() {
    if (!panes().loading) error_mark_clear();
}

bool pane_error_showing() { return panes().error_shown; }

// Markers live in the document, so a document shown again gets its marks
// put right here too: the mark follows the pane's document, the pause, and
// edits made while paused.
void pane_pause_mark_sync() {
    QsciScintilla* e = panes().windows.script;
    if (!e) return;
    uint64_t shown = panes().showing[e];
    long line = -1;
    CellHandle cell = 0;
    LexPosition at;
    if (run_breakpoint_pause() && run_pause_position(&cell, &at) &&
        document_key(cell, SLOT_SCRIPT) == shown) {
        line = sci(e, QsciScintillaBase::SCI_LINEFROMPOSITION, at.start);
    }
    if (shown == panes().pause_marked_doc && line == panes().pause_marked_line) return;
    for (int m : {MARKER_PAUSE, MARKER_PAUSE_LINE})
        sci(e, QsciScintillaBase::SCI_MARKERDELETEALL, m);
    if (line >= 0) {
        for (int m : {MARKER_PAUSE, MARKER_PAUSE_LINE})
            sci(e, QsciScintillaBase::SCI_MARKERADD, static_cast<unsigned long>(line), m);
        sci(e, QsciScintillaBase::SCI_ENSUREVISIBLE, static_cast<unsigned long>(line));
    }
    panes().pause_marked_doc = shown;
    panes().pause_marked_line = line;
}

long pane_pause_mark_line() {
    QsciScintilla* e = panes().windows.script;
    if (!e) return -1;
    return sci(e, QsciScintillaBase::SCI_MARKERNEXT, 0, 1 << MARKER_PAUSE);
}

// ---- link words -----------------------------------------------------------------

const std::string& link_word_list() { return panes().link_words; }

void link_refresh() {
    std::string words;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        std::string name = cell_name_string(e);
        // A name that does not fit the list (with its separator and the
        // terminator) is left out.
        if (words.size() + name.size() + 1 >= LINK_WORD_LIST_MAX) continue;
        words += name;
        words += ' ';
    }
    if (!words.empty()) words.pop_back();
    if (words == panes().link_words) return;
    panes().link_words = words;
    panes().link_set.clear();
    size_t from = 0;
    while (from < words.size()) {
        size_t space = words.find(' ', from);
        if (space == std::string::npos) space = words.size();
        panes().link_set.insert(fold_word(std::string_view(words).substr(from, space - from)));
        from = space + 1;
    }
    for (QsciScintilla* e : {panes().windows.text, panes().windows.script, panes().windows.value})
        restyle_whole(e);
}

// ---- status line -----------------------------------------------------------------

namespace {
void status_put(const std::string& text) {
    panes().status_shown = text;
    if (!panes().windows.status) return;
    panes().windows.status->setText(QString::fromUtf8(text.data(), int(text.size())));
    panes().windows.status->repaint();
}
} // namespace

namespace {
// The lasting text: the pointer to unseen output outranks what commands
// and runs leave there.
const std::string& status_lasting() {
    static const std::string note = OUTPUT_IN_CONS_TEXT;
    return panes().output_unseen ? note : panes().persistent;
}
} // namespace

void status_line_show(const char* text) {
    panes().persistent = status_text_cut(text);
    if (!panes().transient_showing) status_put(status_lasting());
    // Pausing, resuming and ending a run each say so here.
    pane_pause_mark_sync();
}

void status_line_amend(const char* text) {
    if (!panes().transient_showing) {
        status_line_flash(text);
        return;
    }
    panes().transient = status_text_cut(text);
    status_put(panes().transient);
}

void status_line_flash(const char* text) {
    panes().transient = status_text_cut(text);
    panes().transient_showing = true;
    panes().transient_clock.start();
    status_put(panes().transient);
    QApplication::beep();
}

void status_tick() {
    if (panes().transient_showing && panes().transient_clock.elapsed() > TRANSIENT_STATUS_MS) {
        panes().transient_showing = false;
        status_put(status_lasting());
    }
}

const std::string& status_line_text() { return panes().status_shown; }

void idle_tick() {
    status_tick();
    pane_pause_mark_sync();
    engine_guard([] { link_refresh(); });
    bool collapse = false;
    if (panes().collapse_text) {
        panes().collapse_text = false;
        collapse = true;
    } else if (panes().collapse_script) {
        panes().collapse_script = false;
        collapse = true;
    }
    if (collapse) {
        if (QsciScintilla* e = slot_editor(panes().focus_slot)) {
            long caret = sci(e, QsciScintillaBase::SCI_GETCURRENTPOS);
            sci(e, QsciScintillaBase::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret));
        }
        for (QsciScintilla* e : {panes().windows.text, panes().windows.script})
            if (e) sci(e, QsciScintillaBase::SCI_HIDESELECTION, 0);
    }
    console_pane_settle();
    if (!output_pump_active()) console_pane_streaming(false);
}

// ---- cell list -------------------------------------------------------------------

void list_refill() {
    if (!panes().windows.list) return;
    list_clear();
    panes().list_filling = true;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) insert_item(e);
    panes().list_filling = false;
    list_select_current();
}

void list_add(NodeHandle cell) {
    if (!panes().windows.list || cell == 0) return;
    panes().list_filling = true;
    if (!item_of_cell(cell)) insert_item(cell);
    panes().list_filling = false;
    list_select_current();
}

void list_remove(NodeHandle cell) {
    if (!panes().windows.list || cell == 0) return;
    QTreeWidgetItem* item = item_of_cell(cell);
    if (!item) return;
    panes().list_filling = true;
    for (auto it = panes().items.begin(); it != panes().items.end(); ++it)
        if (it->second == item) {
            panes().items.erase(it);
            break;
        }
    delete item;
    panes().list_filling = false;
}

void list_clear() {
    if (!panes().windows.list) return;
    panes().list_filling = true;
    panes().windows.list->clear();
    panes().items.clear();
    panes().list_filling = false;
}

void list_select_current() {
    if (!panes().windows.list) return;
    CellHandle c = current_cell();
    QTreeWidgetItem* item = c ? item_of_cell(c) : nullptr;
    panes().list_filling = true;
    if (item) {
        panes().windows.list->setCurrentItem(item);
        panes().windows.list->scrollToItem(item);
    }
    panes().list_filling = false;
    panes().windows.list->viewport()->update();
}

bool list_filling() { return panes().list_filling; }

void list_filter_set(const QString& filter) {
    panes().list_filter = fold_word(filter.toStdString());
    QTreeWidget* list = panes().windows.list;
    if (!list) return;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = list->topLevelItem(i);
        item->setHidden(list_filter_hides(item->text(0).toStdString()));
    }
}

void* list_first_shown() {
    QTreeWidget* list = panes().windows.list;
    for (int i = 0; list && i < list->topLevelItemCount(); ++i)
        if (!list->topLevelItem(i)->isHidden()) return list->topLevelItem(i);
    return nullptr;
}

NodeHandle list_item_cell(const void* item) {
    auto* i = static_cast<const QTreeWidgetItem*>(item);
    return i ? NodeHandle(i->data(0, ROLE_CELL).toUInt()) : 0;
}

// ---- console -----------------------------------------------------------------------

// Output waits here and goes into the editor in one piece at the next
// pump: every insertion costs the editor time in proportion to the text
// before it, so 48-byte pieces would make a long output quadratic.
void console_pane_flush() {
    QsciScintilla* e = panes().windows.console;
    if (!e || panes().console_pending.empty()) return;
    if (output_pump_active()) console_pane_streaming(true);
    long start = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    e->SendScintilla(QsciScintillaBase::SCI_APPENDTEXT, uintptr_t(panes().console_pending.size()),
                     panes().console_pending.c_str());
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, static_cast<unsigned long>(start), 0xff);
    sci(e, QsciScintillaBase::SCI_SETSTYLING,
        static_cast<unsigned long>(panes().console_pending.size()), panes().console_pending_style);
    panes().console_pending.clear();
    if (!console_in_view()) {
        if (!panes().output_unseen) {
            panes().output_unseen = true;
            if (!panes().transient_showing) status_put(status_lasting());
        }
    } else if (QDockWidget* dock = pane_dock(e);
               dock && dock->window()->isVisible() && e->visibleRegion().isEmpty()) {
        dock->raise();
    }
}

void console_pane_seen() {
    if (!panes().output_unseen) return;
    panes().output_unseen = false;
    if (!panes().transient_showing) status_put(panes().persistent);
}

void console_show_on_output(bool on) { panes().console_on_output = on; }
bool console_shows_on_output() { return panes().console_on_output; }

void console_pane_append(std::string_view bytes, int style) {
    if (!panes().windows.console || bytes.empty()) return;
    // Everything the engine writes is output: bold and not editable; only
    // what the user types keeps the plain style.
    if (style == CONSOLE_STYLE_DEFAULT) style = STYLE_OUTPUT;
    if (!panes().console_pending.empty() && style != panes().console_pending_style)
        console_pane_flush();
    panes().console_pending_style = style;
    panes().console_pending.append(bytes);
}

// Wrapping measures every character of every line, which costs far more
// than the output itself. While output streams in, lines are left
// unwrapped; afterwards the console wraps only when some line may be wider
// than the pane, since otherwise wrapping changes nothing on the screen.
void console_pane_streaming(bool on) {
    QsciScintilla* e = panes().windows.console;
    if (!e || on == panes().console_streaming) return;
    panes().console_streaming = on;
    if (on)
        console_wrap_apply(false);
    else
        console_wrap_check(false);
}

void console_pane_clear() {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    panes().console_pending.clear();
    sci(e, QsciScintillaBase::SCI_CLEARALL);
    if (panes().output_unseen) {
        panes().output_unseen = false;
        if (!panes().transient_showing) status_put(panes().persistent);
    }
    panes().console_fed_end = 0;
    panes().console_caret_due = false;
    panes().console_long_line = false;
    panes().console_checked_line = 0;
    if (!panes().console_streaming) console_wrap_apply(false);
}

int64_t console_pane_length() {
    if (!panes().windows.console) return 0;
    return sci(panes().windows.console, QsciScintillaBase::SCI_GETLENGTH) +
           int64_t(panes().console_pending.size());
}

void console_pane_caret_to_end() { panes().console_caret_due = true; }

void console_pane_set_style(int64_t start, int64_t length, int style) {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    console_pane_flush();
    long size = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    if (start < 0) start = 0;
    if (start + length > size) length = size - start;
    if (length <= 0) return;
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, static_cast<unsigned long>(start), 0xff);
    sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(length), style);
}

// While output streams in, bringing the console up to date costs more the
// longer it is (the editor counts the characters before the caret for the
// accessibility layer at every change and every paint), so a refresh every
// pump would make a long output quadratic. Refreshes are spaced so that
// output gets at least CONSOLE_REFRESH_SHARE times the time the console
// takes: the total cost stays in proportion to the output.
void console_pane_settle() {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    bool streaming = output_pump_active();
    if (streaming && panes().console_refresh_clock.isValid() &&
        panes().console_refresh_clock.elapsed() < panes().console_refresh_gap_ms)
        return;
    QElapsedTimer cost;
    cost.start();
    console_pane_flush();
    // Brought up here rather than as the text arrives, which may be in the
    // middle of an engine call: showing a tab commits the pane it leaves.
    if (panes().output_unseen && panes().console_on_output) shell_show_view(VIEW_CONS);
    if (panes().console_caret_due) {
        panes().console_caret_due = false;
        long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
        sci(e, QsciScintillaBase::SCI_GOTOPOS, static_cast<unsigned long>(length));
    }
    if (!streaming) {
        // Output written outside the pump, and lines typed or pasted in.
        console_wrap_check(false);
        return;
    }
    // Painted now, so its cost is counted in the spacing.
    if (e->isVisible()) e->viewport()->repaint();
    panes().console_refresh_gap_ms =
        std::max<qint64>(CONSOLE_REFRESH_MIN_MS, CONSOLE_REFRESH_SHARE * cost.elapsed());
    panes().console_refresh_clock.start();
}

void console_enter_typed() {
    QsciScintilla* e = panes().windows.console;
    if (!e) return;
    console_pane_flush();
    long caret = sci(e, QsciScintillaBase::SCI_GETCURRENTPOS);
    // Back to the last output character, but never into a line already
    // handed over: a second line typed at the same prompt must not send the
    // first one again.
    long floor = std::min<long>(long(panes().console_fed_end), caret);
    long from = caret;
    while (from > floor &&
           (sci(e, QsciScintillaBase::SCI_GETSTYLEAT, static_cast<unsigned long>(from - 1)) & 0x1f) !=
               STYLE_OUTPUT)
        --from;
    keyboard_clear();
    for (long p = from; p < caret; ++p) {
        uint8_t ch = uint8_t(sci(e, QsciScintillaBase::SCI_GETCHARAT, static_cast<unsigned long>(p)));
        if (ch != '\n') keyboard_push(ch);
    }
    panes().console_fed_end = caret;
}

} // namespace tarvex
