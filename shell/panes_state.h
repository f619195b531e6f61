// The state and helpers shared by the files that make up the panes
// (panes.cpp, editor_panes.cpp, link_words.cpp, status_line.cpp,
// cell_list.cpp, console_pane.cpp); nothing outside them includes it.
#pragma once

#include "shell/panes.h"

#include "frontend/frontend.h"
#include "web/cell.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTreeWidgetItem>
#include <Qsci/qscidocument.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QsciScintilla;

namespace tarvex {

// An editor document of a cell's pane; the name guards against a handle
// that has since been given to another cell.
struct PaneDocument {
    QsciDocument doc;
    std::string name;
};

// What a cell's field held before each change made while the pane showed
// another cell, oldest first.
struct FieldBefore {
    std::string name;
    std::vector<std::string> texts;
};

// A script error as its cell's script document shows it.
struct ShownError {
    CellHandle cell = 0;
    uint32_t start = 0, end = 0;
    std::string message;
    std::string missing_cell; // a name the failing token uses where no cell has it
};

// A frame of the call stack whose line the pause mark shows instead of the
// paused statement's, and the pause it was chosen in.
struct FrameMark {
    CellHandle cell = 0;
    uint32_t pos = 0;
    CellHandle paused_cell = 0;
    uint32_t paused_at = 0;
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
    // By document key, until the cell is shown.
    std::unordered_map<uint64_t, FieldBefore> befores;
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
    FrameMark frame_mark;

    // Console output written while another tab was shown and not seen since,
    // and whether such output brings the console up instead.
    bool output_unseen = false;
    bool console_on_output = false;
    // Watches the console viewport's size (see ConsoleResizeWatch).
    QPointer<QObject> console_watch;
};

PanesState& panes();

// The console is refreshed during output at most this often (25 frames a
// second is smooth to the eye) ...
inline constexpr qint64 CONSOLE_REFRESH_MIN_MS = 40;
// ... and takes at most one part in this many of the time output runs.
inline constexpr qint64 CONSOLE_REFRESH_SHARE = 4;
inline constexpr int ROLE_CELL = Qt::UserRole;
// A cell list item's label: the bytes a tree item's label buffer holds
// (more than any cell name needs, so a name is never cut in practice).
inline constexpr size_t LIST_LABEL_MAX = 128;

long sci(QsciScintilla* e, unsigned msg, unsigned long w = 0, long l = 0);
std::string fold_word(std::string_view w);
bool list_filter_hides(const std::string& name);
bool word_start_char(uint8_t c);
bool word_char(uint8_t c);
QColor link_colour();
int editor_font_points();
void apply_font_styles(QsciScintilla* e);
void common_setup(QsciScintilla* e);
void apply_zoom(QsciScintilla* e);
QTreeWidgetItem* item_of_cell(NodeHandle cell);
void insert_item(NodeHandle cell);
void pane_state_save(QsciScintilla* e, CellHandle c, CellField field);
void pane_state_restore(QsciScintilla* e, CellHandle c, CellField field);
void set_editor_bytes(QsciScintilla* e, const std::string& bytes);
uint64_t document_key(CellHandle c, int slot);
void load_document(QsciScintilla* e, CellHandle c, int slot, const std::string& bytes);
void marks_clear_shown(QsciScintilla* e);
void error_mark_show();
void error_mark_clear();
void commit_field(QsciScintilla* e, int view);
void restyle_whole(QsciScintilla* e);
long text_width(QsciScintilla* e, int style, const char* text);
bool console_measure_characters(QsciScintilla* e);
long console_byte_width(uint8_t c);
long console_text_width(QsciScintilla* e);
void console_wrap_apply(bool wrap);
void console_wrap_check(bool full);
bool console_in_view();
void status_put(const std::string& text);
const std::string& status_lasting();

// Items sort as the name tree does: case ignored, "_" equal to a space. The
// folded label is kept, since a sort compares each item many times.
class CellItem : public QTreeWidgetItem {
  public:
    explicit CellItem(const std::string& label)
        : QTreeWidgetItem(QStringList{QString::fromUtf8(label.data(), int(label.size()))}),
          key_(fold_word(label)) {}
    bool operator<(const QTreeWidgetItem& other) const override {
        if (const auto* cell = dynamic_cast<const CellItem*>(&other)) return key_ < cell->key_;
        return key_ < fold_word(other.text(0).toStdString());
    }

  private:
    std::string key_;
};

// A narrower console may need wrapping where a wider one did not.
class ConsoleResizeWatch : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) console_wrap_check(true);
        return QObject::eventFilter(watched, event);
    }
};

} // namespace tarvex
