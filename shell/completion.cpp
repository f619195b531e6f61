// Completion, call tips and closing brackets. Where the caret stands (in a
// word, a string, a comment, after a builtin's name) is read with the
// lexer's own scan, so what is offered is what a run would read there.
#include "shell/completion.h"

#include "builtins/builtins.h"
#include "core/name_tree.h"
#include "core/text.h"
#include "core/value.h"
#include "lexer/lexer.h"
#include "script/run_engine.h"
#include "shell/help_topics.h"
#include "shell/panes.h"
#include "web/cell.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QStringListModel>
#include <Qsci/qsciscintilla.h>

#include <algorithm>
#include <cctype>
#include <tuple>
#include <vector>

namespace tarvex {

namespace {

using Sci = QsciScintillaBase;

// Marks the closing brackets and quotes put in for the user (a hidden
// indicator: it moves with the text), which a typed one steps over.
constexpr int INDICATOR_AUTO_CLOSE = 10;
// The mouse rests this long on a word before its tip shows, and a value's
// tip shows this many characters of it.
constexpr int HOVER_DWELL_MS = 500;
constexpr qsizetype HOVER_VALUE_MAX = 300;
// Rows the list shows before it scrolls.
constexpr int LIST_ROWS = 10;
// Typing any of these ends the list without choosing.
constexpr char LIST_STOPS[] = " ()[]{},+-*/%=<>!?^$'\"#";

QPointer<QsciScintilla> g_script;
std::string g_tip;        // the call tip shown
long g_tip_paren = -1;    // where the "(" of the call it describes is
bool g_tip_hover = false; // the tip is the mouse's, not the typing's

long sci(QsciScintilla* e, unsigned msg, unsigned long w = 0, long l = 0) {
    return e->SendScintilla(msg, w, l);
}

int char_at(QsciScintilla* e, long pos) {
    if (pos < 0 || pos >= sci(e, Sci::SCI_GETLENGTH)) return 0;
    return uint8_t(sci(e, Sci::SCI_GETCHARAT, static_cast<unsigned long>(pos)));
}

std::string bytes_before(QsciScintilla* e, long caret) { return editor_bytes(e).substr(0, caret); }

bool word_char(uint8_t c) { return std::isalnum(c) || c == '_'; }

char fold(char c) { return char(std::toupper(uint8_t(c))); }

bool starts_folded(std::string_view word, std::string_view prefix) {
    return word.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), word.begin(),
                      [](char a, char b) { return fold(a) == fold(b); });
}

bool same_folded(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_folded(a, b);
}

// The token (or comment) of script that holds byte pos, as the lexer reads
// it.
bool span_at(std::string_view script, long pos, LexSpan* out) {
    bool found = false;
    lex_scan(script, [&](const LexSpan& s) {
        if (!found && long(s.start) <= pos && pos < long(s.end)) {
            *out = s;
            found = true;
        }
    });
    return found;
}

// Where the word being typed before caret starts: the identifier the lexer
// reads there, or the caret itself between tokens. False inside a string, a
// comment or a number, where no name is typed.
bool word_start(QsciScintilla* e, long caret, long* start) {
    if (caret > LEX_SCRIPT_MAX) return false;
    *start = caret;
    if (caret == 0) return true;
    std::string script = bytes_before(e, caret);
    LexSpan s;
    if (!span_at(script, caret - 1, &s)) return true; // blanks
    if (std::isalpha(uint8_t(script[s.start]))) {
        *start = long(s.start);
        return true;
    }
    return s.kind != STRING && s.kind != NUMBER && s.kind != LEX_COMMENT;
}

// The words a script can use that start with prefix: reserved words,
// builtins and constants, and the cells a script can name (not those a
// reserved word or builtin hides).
std::vector<std::string> script_words(std::string_view prefix) {
    std::vector<std::string> words;
    auto offer = [&](std::string word) {
        if (starts_folded(word, prefix)) words.push_back(std::move(word));
    };
    for (std::string& w : lex_reserved_words())
        offer(std::move(w));
    for (NodeHandle e = tree_first(builtin_root()); e != 0; e = tree_next(e))
        offer(text_to_string(entry_name(e)));
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e)) {
        if (entry_kind(e) != NK_CELL) continue;
        std::string name = cell_name_string(e);
        if (lex_reserved_id(name.c_str()) == 0 && tree_find(name.c_str(), builtin_root()) == 0)
            offer(std::move(name));
    }
    return words;
}

// Offers the words for the word before the caret. Unasked, a list opens
// only for a word begun that something longer completes.
void list_offer(QsciScintilla* e, bool asked) {
    long caret = sci(e, Sci::SCI_GETCURRENTPOS);
    long start = caret;
    if (!word_start(e, caret, &start) || (!asked && start == caret)) {
        sci(e, Sci::SCI_AUTOCCANCEL);
        return;
    }
    std::string prefix = bytes_before(e, caret).substr(start);
    std::vector<std::string> words = script_words(prefix);
    bool complete = words.size() == 1 && same_folded(words.front(), prefix);
    if (words.empty() || (!asked && complete)) {
        sci(e, Sci::SCI_AUTOCCANCEL);
        return;
    }
    std::string list;
    for (const std::string& w : words)
        list += (list.empty() ? "" : " ") + w;
    sci(e, Sci::SCI_AUTOCSETSEPARATOR, ' ');
    e->SendScintilla(Sci::SCI_AUTOCSHOW, static_cast<unsigned long>(caret - start), list.c_str());
}

// ---- call tips ---------------------------------------------------------------------

// Highlights the argument the caret is in, or ends the tip once the call's
// ")" is behind the caret.
void tip_follow(QsciScintilla* e) {
    if (!sci(e, Sci::SCI_CALLTIPACTIVE)) return;
    if (g_tip_hover) {
        sci(e, Sci::SCI_CALLTIPCANCEL);
        return;
    }
    long caret = sci(e, Sci::SCI_GETCURRENTPOS);
    if (caret <= g_tip_paren) {
        sci(e, Sci::SCI_CALLTIPCANCEL);
        return;
    }
    std::string inside = bytes_before(e, caret).substr(g_tip_paren + 1);
    int depth = 0, argument = 0;
    for (char c : inside) {
        if (c == '(' || c == '[' || c == '{') ++depth;
        if (c == ')' || c == ']' || c == '}') --depth;
        if (depth < 0) {
            sci(e, Sci::SCI_CALLTIPCANCEL);
            return;
        }
        if (c == ',' && depth == 0) ++argument;
    }
    // The first form's arguments, split at their commas; past the last, a
    // trailing "..." stands for the rest.
    size_t open = g_tip.find('('), close = g_tip.find(')');
    if (open == std::string::npos || close == std::string::npos) return;
    std::vector<std::pair<size_t, size_t>> args;
    size_t from = open + 1;
    while (from < close) {
        size_t comma = std::min(g_tip.find(',', from), close);
        size_t s = g_tip.find_first_not_of(' ', from);
        if (s < comma) args.emplace_back(s, comma);
        from = comma + 1;
    }
    size_t hl_start = 0, hl_end = 0;
    if (size_t(argument) < args.size())
        std::tie(hl_start, hl_end) = args[argument];
    else if (!args.empty() && g_tip.compare(args.back().first, 3, "...") == 0)
        std::tie(hl_start, hl_end) = args.back();
    sci(e, Sci::SCI_CALLTIPSETHLT, hl_start, long(hl_end));
}

// A "(" typed at paren: the tip of the builtin named just before it.
void tip_open(QsciScintilla* e, long paren) {
    std::string script = bytes_before(e, paren);
    long end = long(script.find_last_not_of(" \t\r\n") + 1);
    LexSpan s;
    if (end == 0 || !span_at(script, end - 1, &s) || s.kind != BUILTIN) return;
    std::string tip = builtin_call_tip(std::string_view(script).substr(s.start, s.end - s.start));
    if (tip.empty()) return;
    g_tip = tip;
    g_tip_paren = paren;
    g_tip_hover = false;
    e->SendScintilla(Sci::SCI_CALLTIPSHOW, static_cast<unsigned long>(s.start), g_tip.c_str());
    tip_follow(e);
}

// ---- hover tips ----------------------------------------------------------------------

// The mouse rests on a word of the script: a builtin's argument lists, or a
// cell's value, in the window the typing's tips use (which keeps its tip).
void hover_start(QsciScintilla* e, int pos) {
    if (pos < 0 || sci(e, Sci::SCI_CALLTIPACTIVE)) return;
    // A running script's values are read only once it pauses.
    if (run_active() && !(run_breakpoint_pause() && !run_ignore_breakpoints())) return;
    std::string word = editor_word_at(e, pos);
    if (word.empty()) return;
    std::string tip = builtin_call_tip(word);
    if (tip.empty()) {
        CellHandle c = cell_find(word.c_str());
        if (c == 0) return;
        QString value = QString::fromStdString(value_display(cell_value(c)));
        value.remove('\r');
        if (value.size() > HOVER_VALUE_MAX) value = value.left(HOVER_VALUE_MAX) + "...";
        tip = cell_name_string(c) + " = " + value.toStdString();
    }
    g_tip = tip;
    g_tip_paren = -1;
    g_tip_hover = true;
    long start = sci(e, Sci::SCI_WORDSTARTPOSITION, static_cast<unsigned long>(pos), 1);
    e->SendScintilla(Sci::SCI_CALLTIPSHOW, static_cast<unsigned long>(start), g_tip.c_str());
}

void hover_end(QsciScintilla* e) {
    if (!g_tip_hover) return;
    g_tip_hover = false;
    sci(e, Sci::SCI_CALLTIPCANCEL);
}

// ---- closing brackets and quotes -----------------------------------------------------

char closer_of(int c) {
    switch (c) {
    case '(': return ')';
    case '[': return ']';
    case '{': return '}';
    case '\'':
    case '"': return char(c);
    default: return 0;
    }
}

bool is_closer(int c) { return c == ')' || c == ']' || c == '}'; }

bool auto_closed(QsciScintilla* e, long pos) {
    return char_at(e, pos) != 0 &&
           sci(e, Sci::SCI_INDICATORVALUEAT, INDICATOR_AUTO_CLOSE, pos) != 0;
}

void auto_close_mark(QsciScintilla* e, long pos, bool on) {
    sci(e, Sci::SCI_SETINDICATORCURRENT, INDICATOR_AUTO_CLOSE);
    sci(e, on ? Sci::SCI_INDICATORFILLRANGE : Sci::SCI_INDICATORCLEARRANGE,
        static_cast<unsigned long>(pos), 1);
}

// An opening bracket or quote just typed before caret gets its closer
// when it starts a token of its own (not inside a string or comment) and
// nothing but a blank, a closer or a comma follows; a quote only when it
// opens a string, after no word.
void auto_close(QsciScintilla* e, int typed, long caret) {
    int next = char_at(e, caret);
    if (next != 0 && !std::isspace(next) && !is_closer(next) && next != ',') return;
    std::string script = bytes_before(e, caret);
    LexSpan s;
    if (!span_at(script, caret - 1, &s) || long(s.start) != caret - 1) return;
    bool quote = typed == '\'' || typed == '"';
    if (quote && (s.kind != STRING || (caret >= 2 && word_char(uint8_t(script[caret - 2])))))
        return;
    if (!quote && (s.kind == STRING || s.kind == LEX_COMMENT)) return;
    const char closer[2] = {closer_of(typed), 0};
    e->SendScintilla(Sci::SCI_INSERTTEXT, static_cast<unsigned long>(caret), closer);
    auto_close_mark(e, caret, true);
}

void char_added(QsciScintilla* e, int ch) {
    long caret = sci(e, Sci::SCI_GETCURRENTPOS);
    if (closer_of(ch)) auto_close(e, ch, caret);
    if (ch == '(') tip_open(e, caret - 1);
    tip_follow(e);
    if (ch < 0x80 && word_char(uint8_t(ch))) list_offer(e, false);
}

// The script pane's keys before the editor's: a closer typed where the
// same one was put in steps over it; Backspace between a bracket and the
// closer put in for it takes both.
class ScriptKeys : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* e = qobject_cast<QsciScintilla*>(watched);
        if (!e || event->type() != QEvent::KeyPress) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        long caret = sci(e, Sci::SCI_GETCURRENTPOS);
        if (caret != sci(e, Sci::SCI_GETANCHOR)) return false;
        QString text = key->text();
        if (text.size() == 1 && (is_closer(text[0].unicode()) || text == "'" || text == "\"") &&
            char_at(e, caret) == text[0].unicode() && auto_closed(e, caret)) {
            sci(e, Sci::SCI_AUTOCCANCEL);
            auto_close_mark(e, caret, false);
            sci(e, Sci::SCI_SETEMPTYSELECTION, static_cast<unsigned long>(caret + 1));
            tip_follow(e);
            return true;
        }
        if (key->key() == Qt::Key_Backspace && caret > 0 &&
            closer_of(char_at(e, caret - 1)) == char_at(e, caret) && auto_closed(e, caret)) {
            sci(e, Sci::SCI_AUTOCCANCEL);
            sci(e, Sci::SCI_DELETERANGE, static_cast<unsigned long>(caret - 1), 2);
            tip_follow(e);
            return true;
        }
        return false;
    }
};

// ---- name fields -----------------------------------------------------------------------

QStringList cell_names() {
    QStringList names;
    for (NodeHandle e = tree_first(cell_root()); e != 0; e = tree_next(e))
        if (entry_kind(e) == NK_CELL) names << QString::fromStdString(cell_name_string(e));
    return names;
}

// The list of names shows beside its field without taking the keys (a
// tool-tip window: nothing is activated, the field keeps the focus), so the
// field's keys work it: Up and Down choose, Enter takes the chosen name and
// then acts as Enter in the field does (the name box goes to it, the
// filter opens it), Tab only takes it, Escape closes the list. It closes
// too when the field loses the focus.
class NameListKeys : public QObject {
  public:
    NameListKeys(QCompleter* completer, QLineEdit* edit)
        : QObject(completer), completer_(completer), edit_(edit) {}
    bool eventFilter(QObject*, QEvent* event) override {
        QAbstractItemView* list = completer_->popup();
        if (event->type() == QEvent::FocusOut) list->hide();
        if (event->type() != QEvent::KeyPress || !list->isVisible()) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        int rows = list->model()->rowCount();
        int row = list->currentIndex().isValid() ? list->currentIndex().row() : -1;
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
            row = std::clamp(row + (key->key() == Qt::Key_Up ? -1 : 1), 0, rows - 1);
            list->setCurrentIndex(list->model()->index(row, 0));
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: take(list); return false;
        case Qt::Key_Tab: take(list); return true;
        case Qt::Key_Escape: list->hide(); return true;
        default: return false;
        }
    }

  private:
    // Closes the list, the name chosen in it (if any) taken into the field.
    void take(QAbstractItemView* list) {
        QModelIndex chosen = list->currentIndex();
        list->hide();
        if (chosen.isValid()) edit_->setText(chosen.data().toString());
    }

    QCompleter* completer_;
    QLineEdit* edit_;
};

QCompleter* completer_of(QWidget* w) {
    if (auto* box = qobject_cast<QComboBox*>(w)) w = box->lineEdit();
    return qobject_cast<QLineEdit*>(w) ? w->findChild<QCompleter*>("cell_names") : nullptr;
}

} // namespace

void completion_install(QsciScintilla* e) {
    sci(e, Sci::SCI_AUTOCSETIGNORECASE, 1);
    sci(e, Sci::SCI_AUTOCSETCASEINSENSITIVEBEHAVIOUR, Sci::SC_CASEINSENSITIVEBEHAVIOUR_IGNORECASE);
    sci(e, Sci::SCI_AUTOCSETCHOOSESINGLE, 0);
    sci(e, Sci::SCI_AUTOCSETAUTOHIDE, 1);
    sci(e, Sci::SCI_AUTOCSETORDER, Sci::SC_ORDER_PERFORMSORT);
    sci(e, Sci::SCI_AUTOCSETMAXHEIGHT, LIST_ROWS);
    e->SendScintilla(Sci::SCI_AUTOCSTOPS, 0UL, LIST_STOPS);
    e->SendScintilla(Sci::SCI_AUTOCSETFILLUPS, 0UL, "");
    sci(e, Sci::SCI_INDICSETSTYLE, INDICATOR_AUTO_CLOSE, Sci::INDIC_HIDDEN);
    if (g_script == e) return;
    g_script = e;
    QObject::connect(e, &QsciScintillaBase::SCN_CHARADDED, e, [e](int ch) { char_added(e, ch); });
    e->installEventFilter(new ScriptKeys(e));
    sci(e, Sci::SCI_SETMOUSEDWELLTIME, HOVER_DWELL_MS);
    QObject::connect(e, &QsciScintillaBase::SCN_DWELLSTART, e,
                     [e](int pos, int, int) { hover_start(e, pos); });
    QObject::connect(e, &QsciScintillaBase::SCN_DWELLEND, e, [e](int, int, int) { hover_end(e); });
}

void name_completion_install(QLineEdit* edit, bool as_typed) {
    auto* names = new QStringListModel(edit);
    auto* completer = new QCompleter(names, edit);
    completer->setObjectName("cell_names");
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setMaxVisibleItems(LIST_ROWS);
    if (as_typed) {
        // Brought up to date before the completer reads the edited text.
        QObject::connect(edit, &QLineEdit::textEdited, edit, [names] {
            QStringList now = cell_names();
            if (now != names->stringList()) names->setStringList(now);
        });
        edit->setCompleter(completer);
    } else {
        completer->setFilterMode(Qt::MatchContains);
        completer->setWidget(edit);
        QObject::connect(completer, qOverload<const QString&>(&QCompleter::activated), edit,
                         &QLineEdit::setText);
    }
    completer->popup()->setWindowFlags(Qt::ToolTip);
    auto* keys = new NameListKeys(completer, edit);
    // A combo box takes the keys for its line edit.
    QObject* field = qobject_cast<QComboBox*>(edit->parent()) ? edit->parent() : edit;
    field->installEventFilter(keys);
}

void completion_asked() {
    QWidget* w = QApplication::focusWidget();
    if (w && g_script && w == g_script.data()) {
        list_offer(g_script, true);
    } else if (QCompleter* c = completer_of(w)) {
        static_cast<QStringListModel*>(c->model())->setStringList(cell_names());
        c->setCompletionPrefix(static_cast<QLineEdit*>(c->widget())->text());
        c->complete();
    }
}

std::string builtin_call_tip(std::string_view name) {
    // The topic lists each builtin at the start of a line, its forms side by
    // side or on lines of their own: "name(args)" runs up to the first thing
    // that is no form.
    std::string tip;
    if (tree_find(std::string(name).c_str(), builtin_root()) == 0) return tip;
    std::string_view topic = help_topic_text(3);
    size_t line = 0;
    while (line < topic.size()) {
        size_t end = std::min(topic.find('\n', line), topic.size());
        size_t p = line;
        while (true) {
            while (p < end && topic[p] == ' ')
                ++p;
            size_t w = p;
            while (p < end && word_char(uint8_t(topic[p])))
                ++p;
            size_t close = topic.find(')', p);
            if (p == w || p >= end || topic[p] != '(' || close >= end) break;
            std::string_view form = topic.substr(w, close + 1 - w);
            if (same_folded(topic.substr(w, p - w), name))
                tip += (tip.empty() ? "" : "\n") + std::string(form);
            p = close + 1;
        }
        line = end + 1;
    }
    return tip;
}

std::string completion_tip_shown() {
    return g_script && sci(g_script, Sci::SCI_CALLTIPACTIVE) ? g_tip : std::string();
}

} // namespace tarvex
