// The editor panes (text, value, script and the console's editor): their
// set-up, the documents they show per cell, committing and loading the
// current cell, link styling and the script pane's marks.
#include "shell/panes_state.h"

#include "core/errors.h"
#include "core/value.h"
#include "frontend/frontend.h"
#include "script/run_engine.h"
#include "shell/breakpoints.h"
#include "shell/completion.h"
#include "shell/script_style.h"
#include "web/cell.h"
#include "web/links.h"
#include "web/navigation.h"
#include "web/pane_state.h"

#include <QComboBox>
#include <Qsci/qscidocument.h>
#include <Qsci/qsciscintilla.h>

#include <algorithm>

namespace tarvex {

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
    e->setMarginMarkerMask(MARGIN_SYMBOLS, (1 << MARKER_PAUSE) | (1 << MARKER_ERROR) |
                                               (1 << MARKER_BREAK) | (1 << MARKER_BREAK_OFF));
    e->setMarginWidth(MARGIN_SYMBOLS, SYMBOL_MARGIN_PIXELS);
    // A click there sets or removes a breakpoint rather than selecting.
    e->setMarginSensitivity(MARGIN_SYMBOLS, true);
    auto mark = [e](int marker, int symbol, QColor fore, QColor back) {
        sci(e, QsciScintillaBase::SCI_MARKERDEFINE, marker, symbol);
        e->SendScintilla(QsciScintillaBase::SCI_MARKERSETFORE, marker, fore);
        e->SendScintilla(QsciScintillaBase::SCI_MARKERSETBACK, marker, back);
    };
    mark(MARKER_BREAK, QsciScintillaBase::SC_MARK_CIRCLE, QColor(0x90, 0, 0),
         QColor(0xE0, 0x20, 0x20));
    mark(MARKER_BREAK_OFF, QsciScintillaBase::SC_MARK_CIRCLE, QColor(0x90, 0x90, 0x90),
         QColor(Qt::white));
    mark(MARKER_PAUSE, QsciScintillaBase::SC_MARK_SHORTARROW, QColor(0x80, 0x60, 0),
         QColor(0xFF, 0xD0, 0x30));
    // A whole line's background: only its back colour shows.
    mark(MARKER_PAUSE_LINE, QsciScintillaBase::SC_MARK_BACKGROUND, QColor(0xFF, 0xF4, 0xC0),
         QColor(0xFF, 0xF4, 0xC0));
    mark(MARKER_ERROR, QsciScintillaBase::SC_MARK_CIRCLE, QColor(0xA0, 0, 0), QColor(Qt::red));
}

// The text past the link scanner's reach, shaded: the first LINK_TEXT_MAX
// bytes of a text are all its links come from.
void link_limit_mark(QsciScintilla* e) {
    long length = sci(e, QsciScintillaBase::SCI_GETLENGTH);
    long from = long(LINK_TEXT_MAX);
    sci(e, QsciScintillaBase::SCI_SETINDICATORCURRENT, INDICATOR_LINK_LIMIT);
    // Edits move a range with the text: it is laid again from the mark.
    sci(e, QsciScintillaBase::SCI_INDICATORCLEARRANGE, 0, length);
    if (length > from)
        sci(e, QsciScintillaBase::SCI_INDICATORFILLRANGE, static_cast<unsigned long>(from),
            length - from);
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
        completion_install(e);
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
    if (e == panes().windows.text) {
        sci(e, QsciScintillaBase::SCI_INDICSETSTYLE, INDICATOR_LINK_LIMIT,
            QsciScintillaBase::INDIC_STRAIGHTBOX);
        e->SendScintilla(QsciScintillaBase::SCI_INDICSETFORE, INDICATOR_LINK_LIMIT,
                         QColor(0x80, 0x80, 0x80));
        sci(e, QsciScintillaBase::SCI_INDICSETALPHA, INDICATOR_LINK_LIMIT, 48);
        sci(e, QsciScintillaBase::SCI_INDICSETOUTLINEALPHA, INDICATOR_LINK_LIMIT, 0);
        sci(e, QsciScintillaBase::SCI_INDICSETUNDER, INDICATOR_LINK_LIMIT, 1);
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
    while (end < length && word_char(uint8_t(sci(e, QsciScintillaBase::SCI_GETCHARAT, end))))
        ++end;
    const char* bytes = reinterpret_cast<const char*>(
        e->SendScintilla(QsciScintillaBase::SCI_GETRANGEPOINTER, static_cast<unsigned long>(start),
                         static_cast<long>(end - start)));
    if (!bytes) return;
    sci(e, QsciScintillaBase::SCI_STARTSTYLING, static_cast<unsigned long>(start), 0xff);
    long n = end - start;
    // The text pane links what the link scanner reads: a word the mark
    // cuts is read up to the mark, and nothing after it.
    bool text = e == panes().windows.text;
    long scan = text ? std::clamp<long>(long(LINK_TEXT_MAX) - start, 0, n) : n;
    long i = 0;
    long run = 0; // plain characters waiting to be styled
    while (i < scan) {
        uint8_t ch = uint8_t(bytes[i]);
        if (!word_start_char(ch)) {
            ++i;
            ++run;
            continue;
        }
        long w = i;
        while (i < scan && word_char(uint8_t(bytes[i])))
            ++i;
        bool link =
            !panes().link_set.empty() &&
            panes().link_set.count(fold_word(std::string_view(bytes + w, size_t(i - w)))) != 0;
        if (!link) {
            run += i - w;
            continue;
        }
        if (run > 0)
            sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(run), STYLE_PLAIN);
        run = 0;
        sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(i - w), STYLE_LINK);
    }
    run += n - scan;
    if (run > 0)
        sci(e, QsciScintillaBase::SCI_SETSTYLING, static_cast<unsigned long>(run), STYLE_PLAIN);
    if (text) link_limit_mark(e);
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
    auto at = [&](long p) {
        return uint8_t(sci(e, QsciScintillaBase::SCI_GETCHARAT, static_cast<unsigned long>(p)));
    };
    long start = pos, end = pos;
    while (start > 0 && word_char(at(start - 1)))
        --start;
    while (end < length && word_char(at(end)))
        ++end;
    while (start < end && !word_start_char(at(start)))
        ++start;
    if (end - start >= CELL_NAME_MAX + 1 || start == end) return {};
    std::string word;
    for (long p = start; p < end; ++p)
        word.push_back(char(at(p)));
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
        breakpoints_pane_leaving();
        load_document(panes().windows.script, c, SLOT_SCRIPT, text_to_string(cell_script(c)));
        breakpoints_pane_shown(c);
        pane_state_restore(panes().windows.script, c, CF_SCRIPT_PANE);
        error_mark_show();
        pane_pause_mark_sync();
    }
    if (panes().windows.text) {
        load_document(panes().windows.text, c, SLOT_TEXT, text_to_string(cell_text(c)));
        pane_state_restore(panes().windows.text, c, CF_TEXT_PANE);
    }
    panes().loading = false;
    // Put back only a mark the loading moved: each setting of it counts as
    // an edit (Undo Rename asks whether any came since).
    if (web_modified() != modified) web_set_modified(modified);
}

void panes_forget_documents() {
    breakpoints_pane_leaving();
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
    panes().befores.clear();
    panes().stale_marks.clear();
}

void pane_forget_cell(CellHandle c) {
    if (panes().error.cell == c) error_mark_clear();
    for (int slot : {SLOT_TEXT, SLOT_VALUE, SLOT_SCRIPT}) {
        panes().documents.erase(document_key(c, slot));
        panes().befores.erase(document_key(c, slot));
        panes().stale_marks.erase(document_key(c, slot));
    }
}

void pane_error_show(CellHandle c, uint32_t start, uint32_t end, const std::string& message,
                     const std::string& missing_cell) {
    error_mark_clear();
    std::string note = message;
    if (!missing_cell.empty()) note += "\n" + cell_missing_text(missing_cell);
    panes().error = ShownError{c, start, end, note, missing_cell};
    error_mark_show();
}

void pane_error_clear() { error_mark_clear(); }

std::string pane_error_missing_cell() { return panes().error.missing_cell; }

void pane_edited(bool script) {
    if (panes().loading) return;
    web_set_modified(true);
    if (script) error_mark_clear();
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
    bool paused = run_breakpoint_pause() && run_pause_position(&cell, &at);
    FrameMark& frame = panes().frame_mark;
    if (!paused || frame.paused_cell != cell || frame.paused_at != at.start) frame = FrameMark{};
    if (frame.cell != 0) {
        cell = frame.cell;
        at.start = frame.pos;
    }
    if (paused && document_key(cell, SLOT_SCRIPT) == shown)
        line = sci(e, QsciScintillaBase::SCI_LINEFROMPOSITION, at.start);
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

void pane_frame_mark(CellHandle cell, uint32_t pos) {
    CellHandle paused_cell = 0;
    LexPosition at;
    if (!run_breakpoint_pause() || !run_pause_position(&paused_cell, &at)) return;
    panes().frame_mark = FrameMark{cell, pos, paused_cell, at.start};
    pane_pause_mark_sync();
}

CellHandle pane_script_cell() {
    QsciScintilla* e = panes().windows.script;
    uint64_t shown = e ? panes().showing[e] : 0;
    return (shown & 0xff) == uint64_t(SLOT_SCRIPT) ? CellHandle(shown >> 8) : 0;
}

long pane_pause_mark_line() {
    QsciScintilla* e = panes().windows.script;
    if (!e) return -1;
    return sci(e, QsciScintillaBase::SCI_MARKERNEXT, 0, 1 << MARKER_PAUSE);
}

} // namespace tarvex
