// The main window's panes and the state that ties them to the engine: the
// helpers the pane files share, the focus slot and the views. The panes
// themselves are in editor_panes.cpp, link_words.cpp, status_line.cpp,
// cell_list.cpp and console_pane.cpp.
#include "shell/panes.h"
#include "shell/panes_state.h"

#include "shell/preferences.h"
#include "shell/search.h"

#include "frontend/frontend.h"
#include "settings/settings.h"
#include "tokens/char_class.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "web/pane_state.h"

#include <QComboBox>
#include <QDockWidget>
#include <QFontDatabase>
#include <QMainWindow>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTabBar>
#include <QTreeWidget>
#include <Qsci/qscidocument.h>
#include <Qsci/qsciscintilla.h>

#include <algorithm>

namespace tarvex {

PanesState& panes() {
    static PanesState state;
    return state;
}

long sci(QsciScintilla* e, unsigned msg, unsigned long w, long l) {
    return e->SendScintilla(msg, w, l);
}

std::string fold_word(std::string_view w) {
    std::string f(w);
    for (char& c : f)
        c = static_cast<char>(text_fold(static_cast<uint8_t>(c)));
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
// Code (the script pane and the console) may take the desktop's
// fixed-width family instead, at the web's size and style.
void apply_font_styles(QsciScintilla* e) {
    uint32_t font_style = settings_font_style();
    bool code = e == panes().windows.script || e == panes().windows.console;
    QByteArray family = code && code_font_fixed()
                            ? QFontDatabase::systemFont(QFontDatabase::FixedFont).family().toUtf8()
                            : QByteArray(settings_font_name());
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETFONT,
                     uintptr_t(QsciScintillaBase::STYLE_DEFAULT), family.constData());
    sci(e, QsciScintillaBase::SCI_STYLESETSIZE, QsciScintillaBase::STYLE_DEFAULT,
        editor_font_points());
    sci(e, QsciScintillaBase::SCI_STYLESETBOLD, QsciScintillaBase::STYLE_DEFAULT,
        (font_style & 1) != 0);
    sci(e, QsciScintillaBase::SCI_STYLESETITALIC, QsciScintillaBase::STYLE_DEFAULT,
        (font_style & 2) != 0);
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETFORE, QsciScintillaBase::STYLE_DEFAULT,
                     QColor(Qt::black));
    e->SendScintilla(QsciScintillaBase::SCI_STYLESETBACK, QsciScintillaBase::STYLE_DEFAULT,
                     QColor(Qt::white));
    sci(e, QsciScintillaBase::SCI_STYLECLEARALL);
}

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

void insert_item(NodeHandle cell) {
    std::string name = cell_name_string(cell);
    if (name.size() > LIST_LABEL_MAX) name.resize(LIST_LABEL_MAX);
    auto* item = new CellItem(name);
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

// Shows the cell's document of a pane, made on the first visit, and fills
// it from the cell's field. A document whose text is the field's already
// is not touched; one that differs (a run, a replace) gets the new text as
// one step its undo can take back, after the texts the field went through
// meanwhile where they were kept (pane_document_before).
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
    // A text other than the document's goes in as one step its undo can
    // take back.
    auto step = [e](const std::string& text) {
        if (editor_bytes(e) == text) return;
        e->SendScintilla(QsciScintillaBase::SCI_SETTEXT, uintptr_t(0), text.c_str());
        e->setModified(false);
    };
    auto before = panes().befores.find(key);
    bool replayed = before != panes().befores.end() && before->second.name == name;
    if (fresh) set_editor_bytes(e, replayed ? before->second.texts.front() : bytes);
    if (replayed)
        for (const std::string& text : before->second.texts)
            step(text);
    if (replayed || !fresh) step(bytes);
    if (before != panes().befores.end()) panes().befores.erase(before);
    // Links may have come or gone while another cell was shown.
    if (switched) restyle_whole(e);
}

void pane_document_before(CellHandle c, int slot, std::string before) {
    uint64_t key = document_key(c, slot);
    std::string name = cell_name_string(c);
    FieldBefore& b = panes().befores[key];
    if (b.name != name) b = FieldBefore{name, {}};
    b.texts.push_back(std::move(before));
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

// Whether output written now is in sight: the console shown in the compact
// layout; in the desktop one its dock open, even when another dock's tab
// covers it (output brings it to the front).
bool console_in_view() {
    if (QDockWidget* dock = pane_dock(panes().windows.console)) return !dock->isHidden();
    return panes().view == VIEW_CONS;
}
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
    static const int pane_slots[] = {SLOT_LIST,   SLOT_TEXT,    SLOT_VALUE,
                                     SLOT_SCRIPT, SLOT_CONSOLE, SLOT_PLOT};
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

} // namespace tarvex
