// The editor panes, the keys and the dialogs, driven by keys and clicks on
// the focused widget: undo, colouring and links in the panes, Rename Cell
// (what the web's fields become: RenameCellTest), the typing help and the
// finders, the menus' and views' keys and the cell-name box, the help
// window, the zoom, about and settings dialogs, and find and replace. The
// dialogs' test hook hands over the built dialog so its real controls are
// used; a few tests run the dialogs for real and drive them with keys.
#include "gui_test_support.h"

#include "core/errors.h"
#include "core/value.h"
#include "plot/plot.h"
#include "shell/completion.h"
#include "shell/help_topics.h"
#include "shell/help_window.h"
#include "shell/script_style.h"
#include "shell/window_layout.h"
#include "tarvex_version.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <set>
#include <sstream>
#include <tuple>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

using Sci = QsciScintillaBase;

// Keys go where the platform sends them: to an open popup's focused child
// (or the popup) before the window's focus.
QWidget* key_target() {
    QWidget* w = QApplication::activePopupWidget();
    if (w && w->focusWidget()) w = w->focusWidget();
    return w ? w : focused();
}
void press(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QVERIFY(key_target());
    QTest::keyClick(key_target(), Qt::Key(k), mods);
}
void press_text(const QString& text) {
    QVERIFY(key_target());
    QTest::keyClicks(key_target(), text);
}

bool list_open() { return shell_windows().script->SendScintilla(Sci::SCI_AUTOCACTIVE) != 0; }

QTreeWidget* finder(const char* name) {
    QWidget* popup = QApplication::activePopupWidget();
    return popup && popup->objectName() == name ? popup->findChild<QTreeWidget*>("finder_list")
                                                : nullptr;
}

// The rows a finder shows, each as its columns joined by "|".
QStringList rows(QTreeWidget* list) {
    QStringList out;
    for (int i = 0; list && i < list->topLevelItemCount(); ++i) {
        QStringList cols;
        for (int c = 0; c < list->columnCount(); ++c)
            cols << list->topLevelItem(i)->text(c);
        while (!cols.isEmpty() && cols.last().isEmpty())
            cols.removeLast();
        out << cols.join('|');
    }
    return out;
}

// Cells named by format for 0 to n - 1, with the cell table and the links
// made again once for all of them.
void numbered_cells(const char* format, int n) {
    char name[8];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, format, i);
        cell_create_unlimited(name, false);
    }
    cell_table_rebuild();
    link_refresh();
}

QTextBrowser* browser() {
    return help_window() ? help_window()->findChild<QTextBrowser*>("help_browser") : nullptr;
}

QString page() { return browser() ? browser()->source().toString() : QString(); }

// A click on the first link to href, as a user makes it.
void click_link(const QString& href) {
    QTextBrowser* b = browser();
    for (QTextBlock block = b->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().anchorHref() != href) continue;
            QTextCursor c(b->document());
            c.setPosition(it.fragment().position() + 1);
            b->setTextCursor(c);
            b->ensureCursorVisible();
            QTest::mouseClick(b->viewport(), Qt::LeftButton, {}, b->cursorRect(c).center());
            return;
        }
    QFAIL(qPrintable("no link to " + href));
}

// The keys a menu item shows beside its text or acts on as its shortcut.
QStringList item_keys(const QAction* a) {
    QStringList keys;
    qsizetype tab = a->text().indexOf('\t');
    if (tab >= 0) keys = a->text().mid(tab + 1).split(", ");
    if (!a->shortcut().isEmpty()) keys << a->shortcut().toString(QKeySequence::NativeText);
    return keys;
}

// The settings that the dialog edits, as one comparable text.
std::string settings_snapshot() {
    std::ostringstream s;
    for (long v :
         {long(settings_link_colour()), long(settings_create_on_double_click()),
          long(settings_ask_before_create()), long(settings_report_type()),
          long(settings_report_all()), long(settings_output_dest()), long(settings_input_type()),
          long(settings_echo()), long(settings_decimals()), long(settings_number_style()),
          long(settings_trig_units()), long(settings_auto_output()), long(settings_iterations()),
          long(settings_list_format()), long(settings_x_intervals()), long(settings_y_intervals()),
          long(settings_plot_colour())})
        s << v << '|';
    s << settings_report_format() << '|' << settings_output_name() << '|' << settings_input_name()
      << '|' << settings_plot_cells();
    return s.str();
}

// Runs the settings dialog; act sees it with every page shown once.
void settings(std::function<void(const DialogRequest&, QTabWidget*)> act, bool ok = true,
              bool visit_all = true) {
    g_act = [=](const DialogRequest& r) {
        if (r.kind != DLG_SETTINGS) return false;
        auto* tabs = child<QTabWidget>(r, "settings_tabs");
        if (visit_all)
            for (int i = tabs->count() - 1; i >= 0; --i)
                tabs->setCurrentIndex(i);
        act(r, tabs);
        return ok;
    };
    key(Qt::Key_T, Qt::AltModifier);
}

QStringList entries(QComboBox* c) {
    QStringList l;
    for (int i = 0; i < c->count(); ++i)
        l << c->itemText(i);
    return l;
}

void click(const char* name) {
    QPushButton* b = bar_child<QPushButton>(name);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

// Replace All from the search bar, typed into its fields and answered.
void replace_everywhere(const char* what, const char* with, DialogAnswer answer = yes()) {
    key(Qt::Key_F, Qt::ControlModifier);
    type(what); // over the field's text, which is selected
    key(Qt::Key_Tab);
    type(with);
    g_answers.push_back(answer);
    click("bar_replace_all");
    key(Qt::Key_Escape);
}

} // namespace

class EditorsTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

    QByteArray saved(const char* name) {
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, dir_.filePath(name).toStdString());
        return file_bytes(dir_.filePath(name));
    }
    // The cells the typing help and the finders offer.
    void letters() {
        make_cell("alpha", "first of the letters");
        make_cell("beta", "notes about the alpha tree");
        make_cell("gamma_alpha");
    }

  private slots:
    void initTestCase() { window_open_active(); }

    void init() {
        if (help_window()) help_window()->close();
        // Back after a test that showed real dialogs.
        answer_from_queue(no());
        fresh_web(true);
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(window_));
        focus_current();
    }

    void cleanupTestCase() {
        search_bar_close();
        window_close(window_);
    }

    // What a word typed in the script pane offers, and what each key then
    // leaves in the pane.
    void scriptPaneCompletesOnlyWhatIsChosen() {
        letters();
        struct Case {
            const char* typed;
            bool offered;
            int then; // a key pressed after typing, 0 for none
            const char* script;
        } cases[] = {
            {"alp", true, Qt::Key_Return, "alpha"},
            {"alp", true, Qt::Key_Tab, "alpha"},
            {"alp", true, Qt::Key_Escape, "alp"},
            {"ALP", true, Qt::Key_Return, "alpha"}, // names fold case
            {"gamma_a", true, Qt::Key_Return, "gamma_alpha"},
            {"sqr", true, Qt::Key_Return, "sqrt"},
            {"whi", true, Qt::Key_Return, "while"},
            {"de", true, Qt::Key_Return, "deg"},
            {"alpx", false, 0, "alpx"},                    // typing on past every word
            {"alpha", false, Qt::Key_Return, "alpha\r\n"}, // a whole word: Enter is a new line
            {"out('alp", false, 0, "out('alp')"},          // inside a string
            {"# alp", false, 0, "# alp"},                  // inside a comment
            {"12e", false, 0, "12e"},                      // a number
            {"x ", true, Qt::Key_Escape, "x "},            // typed on: Ctrl+Space below
        };
        for (const Case& c : cases) {
            cell_set_script(current_cell(), "");
            reshow_current();
            click_pane(VIEW_SCRIPT);
            type(c.typed);
            if (QByteArray(c.typed).endsWith(' ')) key(Qt::Key_Space, Qt::ControlModifier);
            QVERIFY2(list_open() == c.offered, c.typed);
            if (c.then) key(c.then);
            QCOMPARE(pane_text(VIEW_SCRIPT), std::string(c.script));
            QVERIFY(!list_open());
        }
    }

    // Brackets and quotes typed: what the pane holds, and the call tip
    // shown at the end.
    void bracketsCloseAndBuiltinsShowTheirArguments() {
        letters();
        struct Case {
            const char* typed; // "\b" is Backspace
            const char* script;
            const char* tip;
            const char* after = ""; // the script behind the caret before typing
        } cases[] = {
            {"pow(", "pow()", "pow(a, b)"},
            {"pow(2, ", "pow(2, )", "pow(a, b)"},
            {"pow(2, 3)", "pow(2, 3)", ""},
            {"rand(", "rand()", "rand()\nrand(seed)"},
            {"min(max(1", "min(max(1))", "max(a, b, ...)"},
            {"alpha(", "alpha()", ""}, // a cell called: no tip
            {"x[1]", "x[1]", ""},
            {"{}", "{}", ""},
            {"out('a')", "out('a')", ""},
            {"\"", "\"\"", ""},
            {"it's", "it's", ""},   // a quote after a word stays single
            {"'(", "'('", ""},      // in a string nothing closes but the quote
            {"f(", "f(x", "", "x"}, // nor before a word
            {")", "))", "", ")"},   // a closer not put in is typed
            {"(\b", "", ""},        // Backspace takes the pair
        };
        for (const Case& c : cases) {
            cell_set_script(current_cell(), c.after);
            reshow_current();
            click_pane(VIEW_SCRIPT);
            key(Qt::Key_Home, Qt::ControlModifier);
            for (const char* p = c.typed; *p; ++p)
                if (*p == '\b')
                    key(Qt::Key_Backspace);
                else
                    type(QString(QChar(*p)));
            if (list_open()) key(Qt::Key_Escape);
            QCOMPARE(pane_text(VIEW_SCRIPT), std::string(c.script));
            QCOMPARE(completion_tip_shown(), std::string(c.tip));
        }
        QCOMPARE(builtin_call_tip("SQRT"), std::string("sqrt(x)"));
        QCOMPARE(builtin_call_tip("alpha"), std::string());
    }

    // The name box and the cell filter list the names that fit what is
    // typed; Enter takes one and goes on as Enter in the field does.
    void nameFieldsCompleteCellNames() {
        letters();
        box_type("AL");
        auto* box = shell_windows().name_box->lineEdit()->findChild<QCompleter*>("cell_names");
        QTRY_VERIFY(box->popup()->isVisible());
        QCOMPARE(box->completionCount(), 1);                              // "alpha" only: by prefix
        QCOMPARE(shell_windows().name_box->currentText(), QString("AL")); // nothing put in
        press(Qt::Key_Down);
        press(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("alpha"));
        QVERIFY(!box->popup()->isVisible());

        if (layout_compact()) return; // no filter there
        QLineEdit* filter = window_layout().filter;
        filter->setFocus(Qt::MouseFocusReason);
        type("alp");
        auto* names = filter->findChild<QCompleter*>("cell_names");
        QVERIFY(!names->popup()->isVisible()); // the list below narrows as typed
        key(Qt::Key_Space, Qt::ControlModifier);
        QTRY_VERIFY(names->popup()->isVisible());
        QCOMPARE(names->completionCount(), 2); // anywhere in the name
        press(Qt::Key_Down);
        press(Qt::Key_Down);
        press(Qt::Key_Tab);
        QCOMPARE(filter->text(), QString("gamma_alpha"));
        filter->clear();
    }

    void paletteListsFiltersRunsAndGreysCommands() {
        letters();
        key(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QTRY_VERIFY(finder("command_palette"));
        QVERIFY(rows(finder("command_palette")).contains("Edit: Complete Word|Ctrl+Space"));
        QVERIFY(rows(finder("command_palette"))
                    .contains("write the field of the visible view to the console|Ctrl+P"));
        press_text("view script");
        QCOMPARE(rows(finder("command_palette")), QStringList{"View: Script|Ctrl+4"});
        press(Qt::Key_Return);
        QTRY_COMPARE(shell_current_view(), int(VIEW_SCRIPT));
        QVERIFY(!QApplication::activePopupWidget());

        // While a run is paused the locked commands are grey, with why.
        cell_set_script(current_cell(), "brk('p')");
        reshow_current();
        click_pane(VIEW_SCRIPT);
        QStringList paused;
        when(run_breakpoint_pause, [&] {
            key(Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
            press_text("save");
            QTreeWidget* list = finder("command_palette");
            paused = rows(list);
            QVERIFY(list->topLevelItem(0)->foreground(0).color() !=
                    list->palette().color(QPalette::Text));
            press(Qt::Key_Escape);
            click_pane(VIEW_SCRIPT);
            key(Qt::Key_S, Qt::AltModifier);
        });
        key(Qt::Key_B, Qt::AltModifier);
        QVERIFY(!paused.isEmpty());
        QCOMPARE(paused.first(), QString("File: Save|Ctrl+S|Operation locked out"));
        QVERIFY(paused.contains("File: Save Plot As...")); // not locked
        QCOMPARE(status(), std::string("Run halted"));
    }

    void switcherFindsByNameThenTextAndVisits() {
        letters();
        const std::pair<const char*, QStringList> cases[] = {
            {"alp", {"alpha", "gamma_alpha", "beta"}}, // prefix, inside, a word of the text
            {"TREE", {"beta"}},
            {"notes tr", {"beta"}}, // every word begins one of the text's
            {"zz", {}},
        };
        for (const auto& [query, found] : cases) {
            key(Qt::Key_K, Qt::ControlModifier);
            QTRY_VERIFY(finder("quick_switcher"));
            press_text(query);
            QStringList names;
            for (const QString& r : rows(finder("quick_switcher")))
                names << r.section('|', 0, 0);
            QCOMPARE(names, found);
            press(Qt::Key_Escape);
        }
        key(Qt::Key_K, Qt::ControlModifier);
        press_text("alp");
        press(Qt::Key_Down);
        press(Qt::Key_Return);
        QTRY_COMPARE(current_name(), std::string("gamma_alpha"));
    }

    void undoOutlivesRunsSavesAndVisits() {
        click_pane(VIEW_TEXT);
        type("abc");
        key(Qt::Key_R, Qt::AltModifier); // Run reloads the panes
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("abc"));
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().text));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
        key(Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string("abc"));
        key(Qt::Key_Z, Qt::ControlModifier);
        key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string("abc"));

        // Save keeps it too.
        QString file = dir_.filePath("undo.tvx");
        g_answers.push_back(named(file.toStdString()));
        key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(QFile::exists(file));
        QVERIFY(!web_modified());
        click_pane(VIEW_TEXT);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
        QVERIFY(web_modified());
        key(Qt::Key_Y, Qt::ControlModifier);

        // Each cell has its own history: another cell's edits are not undone
        // here, and a cell's first text is not an edit.
        CellHandle other = cell_create("other");
        cell_set_text(other, "given");
        cell_list_add(other);
        box_enter("other");
        click_pane(VIEW_TEXT);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string("given"));
        type("!");
        key(Qt::Key_Left, Qt::AltModifier); // back to home
        QCOMPARE(current_name(), std::string("home"));
        click_pane(VIEW_TEXT);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
        QCOMPARE(text_of("other"), std::string("given!"));
    }

    void switchingTabsCommitsEdits() {
        set_pane(VIEW_TEXT, "some text");
        key(Qt::Key_3, Qt::ControlModifier);
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("some text"));
        QVERIFY(web_modified());
        set_pane(VIEW_VALUE, " 2.50");
        key(Qt::Key_4, Qt::ControlModifier);
        NodeHandle v = cell_value(current_cell());
        QVERIFY(v != 0);
        QCOMPARE(int(value_kind(v)), int(VK_NUMBER));
        // Loading the value back shows its own text without changing it.
        reshow_current();
        QCOMPARE(int(value_kind(cell_value(current_cell()))), int(VK_NUMBER));
        QCOMPARE(editor_bytes(shell_windows().value), std::string(" 2.50"));
    }

    void scriptColouringFollowsTheLexerAndEveryCellNameLinks() {
        make_cell("x");
        link_refresh();
        const std::string script = "# note\r\nset x to sqrt(2) + pi * 3.5\r\nout('hi', home, "
                                   "word)\r\nif (x > 1) { brk('b') }";
        set_pane(VIEW_SCRIPT, script);
        QsciScintilla* s = shell_windows().script;
        // Line numbers and the symbols beside them; the other panes keep a
        // plain narrow margin.
        QCOMPARE(s->marginType(MARGIN_NUMBERS), QsciScintilla::NumberMargin);
        QVERIFY(s->marginWidth(MARGIN_NUMBERS) > 0 && s->marginWidth(MARGIN_SYMBOLS) > 0);
        QCOMPARE(shell_windows().text->marginWidth(MARGIN_NUMBERS), 0);
        s->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        auto at = [&](const char* w, size_t from = 0) { return script.find(w, from); };
        const struct {
            const char* word; // "word" is a bare word, "(x >" holds a cell name
            size_t offset;
            int style;
        } styled[] = {
            {"# note", 0, STYLE_COMMENT}, {"note", 3, STYLE_COMMENT}, {"set", 0, STYLE_RESWORD},
            {"sqrt", 3, STYLE_BUILTIN},   {"pi", 0, STYLE_SYSCONST},  {"3.5", 2, STYLE_NUMBER},
            {"'hi'", 0, STYLE_STRING},    {"'hi'", 3, STYLE_STRING},  {"word", 0, STYLE_PLAIN},
            {"(2)", 0, STYLE_PLAIN},      {"if", 0, STYLE_RESWORD},   {"(x >", 1, STYLE_LINK},
            {"home", 0, STYLE_LINK},      {"home", 3, STYLE_LINK}};
        for (const auto& w : styled)
            QVERIFY2(style_at(s, at(w.word) + w.offset) == w.style, w.word);
        // Cell names still link, in bold.
        QVERIFY(s->SendScintilla(QsciScintillaBase::SCI_STYLEGETBOLD, STYLE_LINK) != 0);
        // The styles are distinct from each other and from the link.
        std::set<long> colours;
        for (int st :
             std::initializer_list<int>{STYLE_PLAIN, STYLE_LINK, STYLE_RESWORD, STYLE_BUILTIN,
                                        STYLE_SYSCONST, STYLE_NUMBER, STYLE_STRING, STYLE_COMMENT})
            colours.insert(s->SendScintilla(QsciScintillaBase::SCI_STYLEGETFORE, st));
        QCOMPARE(int(colours.size()), 8);
        // An edit that opens a quote restyles what follows it.
        s->SendScintilla(QsciScintillaBase::SCI_INSERTTEXT, at("set"), "'");
        s->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        QCOMPARE(style_at(s, at("sqrt") + 1), STYLE_STRING);
        // The text pane keeps plain text and links only; every cell name
        // links, more than a 4,096-byte word list holds (about 680 of these).
        numbered_cells("n%04d", 800);
        set_pane(VIEW_TEXT, "set x to 'home' # not a comment n0000 last n0799");
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        const std::pair<long, int> styles[] = {
            {0, STYLE_PLAIN}, {4, STYLE_LINK},   {10, STYLE_LINK}, {17, STYLE_PLAIN},
            {32, STYLE_LINK}, {38, STYLE_PLAIN}, {43, STYLE_LINK}};
        for (auto [pos, style] : styles)
            QVERIFY2(style_at(t, pos) == style, std::to_string(pos).c_str());
    }

    void scriptPaneFollowsLinksOnCtrlClickOnly() {
        make_cell("target");
        link_refresh();
        set_pane(VIEW_SCRIPT, "x := target");
        QsciScintilla* s = shell_windows().script;
        QTRY_COMPARE(style_at(s, 7), STYLE_LINK);
        QPoint at = point_of(s, 7);
        QTest::mouseClick(s->viewport(), Qt::LeftButton, {}, at);
        QTest::qWait(50);
        QCOMPARE(current_name(), std::string("home"));
        long caret = long(s->SendScintilla(QsciScintillaBase::SCI_GETCURRENTPOS));
        QVERIFY2(caret >= 6 && caret <= 8, std::to_string(caret).c_str());
        // Held Ctrl: the pointing hand over the link, and the click follows.
        QTest::keyPress(focused(), Qt::Key_Control, Qt::ControlModifier);
        QTest::mouseMove(s->viewport(), at);
        QTRY_COMPARE(s->viewport()->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseClick(s->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QTest::keyRelease(focused(), Qt::Key_Control);
        QTRY_COMPARE(current_name(), std::string("target"));
        QVERIFY(!script_links_are_live());
    }

    // A script naming a cell past the cell table: no link there (a Ctrl+click
    // stays put), and the run's error says which cell and why, in the status
    // line and under the line in the pane.
    void cellPastTheTableIsNoLinkAndItsErrorSaysWhy() {
        numbered_cells("p%03d", CELL_TABLE_SIZE); // after home: p255 falls out
        set_pane(VIEW_SCRIPT, "out(p001)\r\nout(P255)");
        QsciScintilla* s = shell_windows().script;
        s->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        QCOMPARE(style_at(s, 4), STYLE_LINK);
        QCOMPARE(style_at(s, 15), STYLE_PLAIN);
        click_pane(VIEW_SCRIPT);
        QTest::keyPress(focused(), Qt::Key_Control, Qt::ControlModifier);
        QTest::mouseClick(s->viewport(), Qt::LeftButton, Qt::ControlModifier, point_of(s, 15));
        QTest::keyRelease(focused(), Qt::Key_Control);
        QTest::qWait(50);
        QCOMPARE(current_name(), std::string("home"));

        run_key(Qt::Key_R, Qt::AltModifier);
        const std::string why = "p255: only the first 256 cells in name order can be named in "
                                "scripts; a larger store lifts this";
        QCOMPARE(status(), why);
        QCOMPARE(note_on(s, 1), "Lexical analysis (line 2, column 5)\n" + why);
    }

    void doubleClickOnALinkOnlyVisits() {
        settings_set_create_on_double_click(1);
        make_cell("target", "plain words here and more");
        set_pane(VIEW_TEXT, "target");
        link_refresh();
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        QCOMPARE(int(t->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, 2L)), STYLE_LINK);
        t->setFocus();
        QPoint at = point_of(t, 2);
        // The first click visits: the second lands in the visited cell's
        // text, on "plain".
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
        QTRY_COMPARE(current_name(), std::string("target"));
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
        QTest::qWait(100);
        QCOMPARE(current_name(), std::string("target"));
        QVERIFY(cell_find("plain") == 0);
        QVERIFY(status_line_text() != "Invalid Cellname");
        QVERIFY(!seen(DLG_YES_NO));

        // A plain word still offers itself as a new cell: No makes none.
        settings_set_ask_before_create(1);
        at = point_of(t, 1);
        for (DialogAnswer answer : {no(), yes()}) {
            QTest::qWait(QApplication::doubleClickInterval() + 50);
            g_seen.clear();
            g_answers.push_back(answer);
            QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
            QTRY_VERIFY(seen(DLG_YES_NO, "No such cell. Create it?"));
            QCOMPARE(g_seen.back().detail, std::string("Yes creates the cell plain."));
            QCOMPARE(cell_find("plain") != 0, answer.accepted);
        }
        QTRY_COMPARE(current_name(), std::string("plain"));
    }

    // A script error at a name no cell has says which name under the line
    // and offers to create that cell: Ctrl+. or the pane's menu makes it,
    // runs nothing and takes the marks away. Other errors offer nothing.
    void aNameThatIsNoCellIsCreatedByTheQuickFix() {
        const struct {
            const char* script;
            const char* missing; // "" when the error names no missing cell
            bool by_menu;
        } cases[] = {
            {"set x to 1", "x", false}, {"out(1)\r\nfor (k = 1 to 3) {out(k)}", "k", true},
            {"zz!", "zz", false},       {"out(1 +)", "", false},
            {"set 'q' to 1", "", true},
        };
        QsciScintilla* e = shell_windows().script;
        for (const auto& c : cases) {
            fresh_web();
            set_pane(VIEW_SCRIPT, c.script);
            run_key(Qt::Key_R, Qt::AltModifier);
            long line = e->SendScintilla(QsciScintillaBase::SCI_MARKERNEXT, 0L, 1L << MARKER_ERROR);
            QVERIFY2(line >= 0, c.script);
            std::string told = *c.missing ? cell_missing_text(c.missing) : " is not a cell";
            QCOMPARE(note_on(e, line).find(told) != std::string::npos, *c.missing != 0);

            click_pane(VIEW_SCRIPT);
            std::string console = console_text();
            int cells = cell_table_count();
            QString offered;
            if (c.by_menu) {
                // Watched from here, so a menu that never comes leaves no
                // watch behind.
                QTimer watch;
                watch.setInterval(20);
                QObject::connect(&watch, &QTimer::timeout, [&] {
                    QWidget* menu = QApplication::activePopupWidget();
                    if (!menu) return;
                    watch.stop();
                    if (auto* fix = menu->findChild<QAction*>("quick_fix")) offered = fix->text();
                    QTest::keyClick(menu, Qt::Key_Down);
                    QTest::keyClick(menu, *c.missing ? Qt::Key_Return : Qt::Key_Escape);
                });
                watch.start();
                QPoint at = point_of(e, 1);
                QContextMenuEvent menu_event(QContextMenuEvent::Mouse, at,
                                             e->viewport()->mapToGlobal(at));
                QApplication::sendEvent(e->viewport(), &menu_event);
                QCOMPARE(offered.toStdString(), *c.missing ? cell_missing_fix_text(c.missing) : "");
            } else {
                key(Qt::Key_Period, Qt::ControlModifier);
            }
            QCOMPARE(console_text(), console);
            if (*c.missing) {
                QVERIFY(cell_find(c.missing) != 0);
                QCOMPARE(cell_table_count(), cells + 1);
                QVERIFY(web_modified());
                QCOMPARE(
                    e->SendScintilla(QsciScintillaBase::SCI_MARKERNEXT, 0L, 1L << MARKER_ERROR),
                    -1L);
            } else {
                QCOMPARE(cell_table_count(), cells);
                if (!c.by_menu) QCOMPARE(status(), std::string(NO_QUICK_FIX_TEXT));
            }
            QCOMPARE(pane_text(VIEW_SCRIPT), std::string(c.script));
        }
    }

    // The script pane and the console show code in the desktop's
    // fixed-width font unless the user's Preferences say otherwise; the
    // text and value panes always show the web's font. The web is not
    // changed by the choice.
    void codeIsShownInAFixedWidthFontByChoice() {
        auto font_of = [](QsciScintilla* e) {
            char name[256] = {};
            e->SendScintilla(QsciScintillaBase::SCI_STYLEGETFONT,
                             uintptr_t(QsciScintillaBase::STYLE_DEFAULT), name);
            return QString::fromUtf8(name);
        };
        const QString fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
        const QString web = QString::fromUtf8(settings_font_name());
        QVERIFY(fixed != web);
        const ShellWindows& w = shell_windows();
        for (bool on : {false, true}) {
            preferences([on](const DialogRequest& r) {
                child<QCheckBox>(r, "codeFontFixed")->setChecked(on);
            });
            QCOMPARE(font_of(w.script), on ? fixed : web);
            QCOMPARE(font_of(w.console), on ? fixed : web);
            QCOMPARE(font_of(w.text), web);
            QCOMPARE(font_of(w.value), web);
            QVERIFY(!web_modified());
        }
    }

    void f2RenamesCtrlZPutsTheSavedBytesBackAndTheMenuRefuses() {
        make_cell("rate", "the rate", "out(rate)");
        make_cell("calc", "uses rate and rates", "x = rate * 2 # rate\r\nout('rate')");
        go("rate");
        const QByteArray before = saved("before.tvx");
        key(Qt::Key_1, Qt::ControlModifier);
        QTreeWidget* list = shell_windows().list;
        QCOMPARE(focused(), static_cast<QWidget*>(list));
        g_answers = {DialogAnswer{true, SAVE_NO, "speed"}, DialogAnswer{true, SAVE_NO, {}}};
        key(Qt::Key_F2);
        QVERIFY(seen(DLG_RENAME_NAME, "rate"));
        QVERIFY(seen(DLG_RENAME_PREVIEW, "Rename rate to speed?\ncalc text: 1 link\ncalc script: 1 "
                                         "name\nrate text: 1 link\nrate script: 1 name\nalso "
                                         "named in 1 string"));
        QCOMPARE(current_name(), std::string("speed"));
        QCOMPARE(shell_windows().name_box->currentText(), QString("speed"));
        QCOMPARE(pane_text(VIEW_TEXT), std::string("the speed"));
        QVERIFY(list->findItems("speed", Qt::MatchExactly).size() == 1);
        QVERIFY(list->findItems("rate", Qt::MatchExactly).isEmpty());
        QVERIFY(window_->isWindowModified());
        QCOMPARE(focused(), static_cast<QWidget*>(list));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(current_name(), std::string("rate"));
        QCOMPARE(pane_text(VIEW_TEXT), std::string("the rate"));
        // Renamed and undone with nothing between: the web is as saved.
        QVERIFY(!window_->isWindowModified());
        QCOMPARE(saved("undone.tvx"), before);
        key(Qt::Key_Z, Qt::ControlModifier); // nothing left to undo
        QCOMPARE(current_name(), std::string("rate"));

        // From the menu: refused with the system's messages.
        g_seen.clear();
        g_answers = {DialogAnswer{true, SAVE_NO, "calc"}};
        menu_command(CMD_RENAME_CELL);
        QVERIFY(seen(DLG_WARN, DUPLICATE_CELL_NAME_TEXT));
        QVERIFY(!seen(DLG_RENAME_PREVIEW));
        QCOMPARE(current_name(), std::string("rate"));
        go("home");
        g_seen.clear();
        menu_command(CMD_RENAME_CELL);
        QVERIFY(seen(DLG_WARN, RENAME_HOME_TEXT));
        // A preview cancelled renames nothing.
        go("rate");
        g_answers = {DialogAnswer{true, SAVE_NO, "speed"}, DialogAnswer{false, SAVE_NO, {}}};
        menu_command(CMD_RENAME_CELL);
        QCOMPARE(current_name(), std::string("rate"));
        QCOMPARE(text_of("rate"), std::string("the rate"));
    }

    void menusNameTheirKeysAndLeaveAltToTheKeyTable() {
        QStringList titles;
        for (QAction* a : window_->menuBar()->actions()) {
            titles << a->text();
            // A title's mnemonic must not take an Alt key of the key table.
            QKeySequence mnemonic = QKeySequence::mnemonic(a->text());
            if (mnemonic.isEmpty()) continue;
            int k = mnemonic[0].key();
            QVERIFY2(accelerator_command(k, Qt::AltModifier) == 0, qPrintable(a->text()));
        }
        QCOMPARE(titles, (QStringList{"&File", "&Edit", "Ce&ll", "&View", "R&un", "&Help"}));

        // Each item found in its menu, showing its keys (or just there).
        const struct {
            const char* menu;
            int command;
            QString keys;
        } items[] = {
            {"R&un", CMD_RUN, "&Run\tAlt+R, Ctrl+F5"},
            {"R&un", CMD_RUN_TO_BRK, "Run to &Brk / Continue\tAlt+B, F5"},
            {"R&un", CMD_STOP, "&Stop\tAlt+S, Shift+F5"},
            {"R&un", CMD_REPORT, ""},
            {"&Edit", CMD_UNDO, ""},
            {"&Edit", CMD_CUT, ""},
            {"&Edit", CMD_COPY, ""},
            {"&Edit", CMD_PASTE, ""},
            {"&Edit", CMD_SELECT_ALL, ""},
            {"&Edit", CMD_FIND_BAR, "\tCtrl+F"},
            {"&Edit", CMD_FIND, "\tCtrl+H"},
            {"&View", CMD_NEXT_TAB, "\tCtrl+Tab, Ctrl+PgDown"},
            {"&View", CMD_ZOOM, ""},
            {"&Help", CMD_HELP_CONTENTS, "&Contents\tF1"},
        };
        for (const auto& i : items) {
            QAction* a = item_of(menu_titled(window_, i.menu), i.command);
            QVERIFY2(a && a->text().endsWith(i.keys), qPrintable(i.keys));
        }
        for (int v = VIEW_LIST; v <= VIEW_PLOT; ++v)
            QVERIFY(item_of(menu_titled(window_, "&View"), CMD_VIEW_LIST + v)
                        ->text()
                        .endsWith(QString("\tCtrl+%1").arg(v + 1)));
        // Quit stays last when the recent webs are listed as File opens.
        QMenu* file = menu_titled(window_, "&File");
        emit file->aboutToShow();
        QCOMPARE(file->actions().last()->objectName(), QString("quit"));
        QVERIFY(file->actions().last()->text().endsWith("\tCtrl+Q"));

        auto* tools = window_->findChild<QToolBar*>("commands");
        QCOMPARE(tools->findChild<QAction*>("tool_Run")->toolTip(),
                 QString("Run (Alt+R, Ctrl+F5)"));
        QCOMPARE(tools->findChild<QAction*>("tool_Stop")->toolTip(),
                 QString("Stop (Alt+S, Shift+F5)"));
    }

    void viewKeysSwitchAndCycleTheTabs() {
        for (int v = VIEW_PLOT; v >= VIEW_LIST; --v) {
            key(Qt::Key_1 + v, Qt::ControlModifier);
            QCOMPARE(shell_current_view(), v);
            // The desktop layout has tabs for the editors only; the other
            // views are docks.
            if (layout_compact() || (v >= VIEW_TEXT && v <= VIEW_SCRIPT))
                QCOMPARE(shell_windows().tabs->currentIndex(), v);
            QVERIFY(slot_window(view_slot(v))->isVisible());
        }
        // On from the list, back, and round the ends.
        const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
        const std::tuple<int, Qt::KeyboardModifiers, int> cycle[] = {
            {Qt::Key_Tab, ctrl, VIEW_TEXT},
            {Qt::Key_PageDown, ctrl, VIEW_VALUE},
            {Qt::Key_Backtab, ctrl | Qt::ShiftModifier, VIEW_TEXT},
            {Qt::Key_PageUp, ctrl, VIEW_LIST},
            {Qt::Key_PageUp, ctrl, VIEW_PLOT},
            {Qt::Key_Tab, ctrl, VIEW_LIST}};
        for (auto [k, mods, view] : cycle) {
            key(k, mods);
            QCOMPARE(shell_current_view(), view);
        }
    }

    void ctrlLAndF4SelectTheCellName() {
        QLineEdit* edit = shell_windows().name_box->lineEdit();
        key(Qt::Key_2, Qt::ControlModifier);
        key(Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().name_box));
        QCOMPARE(edit->selectedText(), QString("home"));
        // Typing replaces the name, Enter goes there.
        QTest::keyClicks(focused(), "there");
        QCOMPARE(shell_windows().name_box->currentText(), QString("there"));
        key(Qt::Key_Return);
        key(Qt::Key_1, Qt::ControlModifier);
        key(Qt::Key_F4);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().name_box));
        QCOMPARE(edit->selectedText(), QString("there"));
    }

    void tabIndentsInEditorsAndF6SwitchesFocus() {
        for (int v : {VIEW_TEXT, VIEW_SCRIPT}) {
            key(Qt::Key_1 + v, Qt::ControlModifier);
            QsciScintilla* e = slot_editor(view_slot(v));
            e->clear();
            key(Qt::Key_Tab);
            QTest::keyClicks(focused(), "in");
            QCOMPARE(focused(), static_cast<QWidget*>(e));
            std::string bytes = editor_bytes(e);
            QVERIFY2(bytes == "\tin" ||
                         (bytes.size() > 2 && bytes.find_first_not_of(' ') == bytes.size() - 2),
                     bytes.c_str());
            key(Qt::Key_F6);
            QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().name_box));
            // Tab in the box goes back to the pane.
            key(Qt::Key_Tab);
            QCOMPARE(focused(), static_cast<QWidget*>(e));
        }
        // The plot leaves the focus where it was.
        key(Qt::Key_2, Qt::ControlModifier);
        key(Qt::Key_6, Qt::ControlModifier);
        QCOMPARE(focus_slot(), int(SLOT_TEXT));
        // Elsewhere Tab still switches.
        for (int v : {VIEW_LIST, VIEW_VALUE, VIEW_CONS}) {
            key(Qt::Key_1 + v, Qt::ControlModifier);
            QWidget* pane = slot_window(view_slot(v));
            QCOMPARE(focused(), pane);
            key(Qt::Key_Tab);
            QCOMPARE(focus_slot(), int(SLOT_NAME_BOX));
            key(Qt::Key_F6);
            QCOMPARE(focused(), pane);
        }
    }

    // Enter (or keypad Enter) goes to the typed name, made when missing; an
    // invalid name is refused and the box shows the current cell again. Its
    // list is the trail.
    void theNameBoxGoesToTheNameAndListsTheTrail() {
        for (const char* name : {"p", "q", "r"}) {
            box_enter(name);
            QCOMPARE(current_name(), std::string(name));
        }
        QVERIFY(web_modified());
        box_enter("no good!");
        QCOMPARE(status(), std::string("Invalid cellname"));
        QCOMPARE(shell_windows().name_box->currentText(), QString("r"));
        QCOMPARE(current_name(), std::string("r"));
        QVERIFY(cell_find("no") == 0);

        QCOMPARE(box_list(), (QStringList{"r", "q", "p", "home"}));
        box_type("home");
        QTest::keyClick(focused(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(current_name(), std::string("home"));
    }

    void theNameBoxKeepsItsEditingKeys() {
        set_pane(VIEW_TEXT, "pane text");
        shell_windows().text->selectAll();
        click_box();
        key(Qt::Key_End);
        type("XYZ");
        // Keys, and the box's text after them.
        const std::pair<std::vector<const char*>, const char*> steps[] = {
            {{"Left", "Left", "Left", "Del", "Del"}, "homeZ"},
            {{"Backspace", "Home", "Del"}, "omZ"},
            {{"Ctrl+Z"}, "homZ"},
            {{"Ctrl+A", "Ctrl+C", "End", "Ctrl+V"}, "homZhomZ"},
            {{"Ctrl+A", "Ctrl+X"}, ""},
        };
        for (const auto& [keys, box] : steps) {
            for (const char* k : keys)
                QTest::keySequence(focused(), QKeySequence(k));
            QCOMPARE(shell_windows().name_box->currentText(), QString(box));
        }
        // None of it reached the pane.
        QCOMPARE(pane_text(VIEW_TEXT), std::string("pane text"));
        // In a pane the same keys are the commands.
        click_pane(VIEW_TEXT);
        key(Qt::Key_A, Qt::ControlModifier);
        key(Qt::Key_Delete);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
    }

    // Alt+N and Alt+Right take the name from the pane's selection or the
    // cell-name box; a pane's selection comes back with its cell.
    void newCellAndForwardTakeTheSelectedOrTypedName() {
        make_cell("there");
        auto select = [](QsciScintilla* e, unsigned long from, long to) {
            e->setFocus();
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(e));
            e->SendScintilla(QsciScintillaBase::SCI_SETSEL, from, to);
        };
        set_pane(VIEW_TEXT, "see  9fresh_ and there");
        QsciScintilla* t = shell_windows().text;
        select(t, 3, 12);
        key(Qt::Key_N, Qt::AltModifier);
        QCOMPARE(current_name(), std::string("fresh"));
        QCOMPARE(text_of("home"), std::string("see  9fresh_ and there"));
        key(Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(current_name(), std::string("home"));
        // The selection was kept with home and is shown again.
        QCOMPARE(selection(t), std::pair(3L, 12L));
        select(t, 17, 22);
        key(Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(current_name(), std::string("there"));
        key(Qt::Key_Left, Qt::AltModifier);
        select(t, 0, 0); // nothing selected: forward in the history
        key(Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(current_name(), std::string("there"));
        select(t, 0, 0);
        key(Qt::Key_N, Qt::AltModifier); // nothing selected: the dialog asks
        QVERIFY(seen(DLG_CELL_NAME));

        // No valid name typed: the box shows the current name again.
        for (auto [typed, now] : {std::pair{"9bad", "there"}, {"typed_here", "typed_here"}}) {
            box_type(typed);
            key(Qt::Key_Right, Qt::AltModifier);
            QCOMPARE(current_name(), std::string(now));
            QCOMPARE(shell_windows().name_box->currentText(), QString(now));
        }
    }

    void cellListTypeAheadAndOpening() {
        make_cell("apple");
        make_cell("banana");
        make_cell("blueberry");
        key(Qt::Key_1, Qt::ControlModifier);
        QTreeWidget* list = shell_windows().list;
        QCOMPARE(focused(), static_cast<QWidget*>(list));
        QTest::keyClicks(list, "bl");
        QCOMPARE(current_name(), std::string("blueberry"));
        QTest::qWait(QApplication::keyboardInputInterval() + 100);
        QTest::keyClicks(list, "B");
        QCOMPARE(current_name(), std::string("banana"));
        QTest::qWait(QApplication::keyboardInputInterval() + 100);
        QTest::keyClicks(list, "x"); // no such name: stays
        QCOMPARE(current_name(), std::string("banana"));
        QCOMPARE(shell_current_view(), VIEW_LIST);
        // Home and End: the first and last cells; the page keys move by
        // more than a row and stop at the ends.
        key(Qt::Key_End);
        QCOMPARE(current_name(), std::string("home"));
        key(Qt::Key_Home);
        QCOMPARE(current_name(), std::string("apple"));
        key(Qt::Key_PageDown);
        QVERIFY(current_name() != "apple" && current_name() != "banana");
        key(Qt::Key_PageUp);
        QCOMPARE(current_name(), std::string("apple"));
        key(Qt::Key_Home);
        key(Qt::Key_Down);
        QCOMPARE(current_name(), std::string("banana"));
        key(Qt::Key_Return);
        QCOMPARE(shell_current_view(), VIEW_TEXT);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().text));
        QCOMPARE(current_name(), std::string("banana"));
        // A double click opens the cell clicked.
        key(Qt::Key_1, Qt::ControlModifier);
        QTreeWidgetItem* apple = list->findItems("apple", Qt::MatchExactly).value(0);
        QVERIFY(apple);
        QPoint at = list->visualItemRect(apple).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(current_name(), std::string("apple"));
        QCOMPARE(shell_current_view(), VIEW_TEXT);
    }

    // A chord with Ctrl or Alt types nothing into a pane or a field (the
    // editors took Ctrl+= as "="); the zoom chords step the zoom setting
    // through the Zoom dialog's entries.
    void chordsTypeNothingAndZoomKeysZoom() {
        make_cell("notes", "abc");
        // The panes, then the cell-name box (-1).
        for (int view : {int(VIEW_TEXT), int(VIEW_VALUE), int(VIEW_SCRIPT), int(VIEW_CONS), -1}) {
            auto content = [view] {
                return view < 0 ? shell_windows().name_box->currentText()
                                : QString::fromStdString(pane_text(view));
            };
            if (view < 0)
                key(Qt::Key_L, Qt::ControlModifier);
            else
                click_pane(view);
            QString before = content();
            for (char c : std::string("=+.,;'`[]\\/789"))
                for (Qt::KeyboardModifiers mods : {Qt::ControlModifier, Qt::AltModifier})
                    QTest::keyClick(focused(), c, mods);
            QCOMPARE(content(), before);
        }
        settings_set_zoom(0);
        const std::pair<char, int> steps[] = {{'=', 4}, {'=', 6}, {'-', 4}, {'0', 0}, {'-', -2}};
        for (auto [c, zoom] : steps) {
            QTest::keyClick(focused(), c, Qt::ControlModifier);
            QCOMPARE(settings_zoom(), zoom);
        }
        key(Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(text_of("notes"), std::string("abc"));
    }

    // The help topics go to the console; the overview and the tour web
    // name the desktop keys.
    void helpNamesTheKeys() {
        for (int topic = 1; topic <= HELP_TOPIC_COUNT; ++topic) {
            // Backslashes only inside double quotes, and no quote left open:
            // the output stream would otherwise change them.
            const char* text = help_topic_text(topic);
            char quote = 0;
            for (const char* p = text; *p; ++p) {
                if (quote == 0 && (*p == '"' || *p == '\''))
                    quote = *p;
                else if (quote != 0 && *p == quote)
                    quote = 0;
                QVERIFY2(*p != '\\' || quote != 0, text);
            }
            QCOMPARE(int(quote), 0);
        }
        menu_command(CMD_HELP_REPORT);
        QCOMPARE(shell_current_view(), VIEW_CONS);
        QVERIFY(console_text().find("REPORT FORMAT") != std::string::npos);
        QVERIFY(console_text().find("\"\\N\"") != std::string::npos);
        menu_command(CMD_HELP_DEBUGGING);
        QVERIFY(console_text().find("DEBUGGING") != std::string::npos);
        key(Qt::Key_2, Qt::ControlModifier);
        menu_command(CMD_HELP_OVERVIEW);
        std::string help = console_text();
        const QStringList keys = QString("Ctrl+L|F4|F5|Shift+F5|F6|Ctrl+F|Ctrl+H|Ctrl+1|Ctrl+Tab|"
                                         "Ctrl+click|Replace All|F1|Ctrl+Shift+S|Ctrl+Shift+M|"
                                         "Web Map|Reset Layout|differences.md")
                                     .split('|');
        for (const QString& named : keys + QStringList{"View menu", "Run menu"})
            QVERIFY2(help.find(named.toStdString()) != std::string::npos, qPrintable(named));
        // The tour web has a cell on them, linked from its home cell.
        std::string tour = std::string(TARVEX_SOURCE_DIR) + "/examples/tour.tvx";
        dispatch_command(CMD_OPEN, NOTE_NONE, tour); // as a file given at the start
        QCOMPARE(current_name(), std::string("home"));
        QVERIFY(text_of("home").find("desktop") != std::string::npos);
        std::string desktop = text_of("desktop");
        for (const QString& named : keys + QStringList{"View", "Run to Brk"})
            QVERIFY2(desktop.find(named.toStdString()) != std::string::npos, qPrintable(named));
        QVERIFY(!web_modified());
        // Every key of the key table and every key a menu item shows is in
        // the help's table of keys, which ends the overview.
        std::set<QString> listed;
        for (const HelpKey& k : help_keys())
            for (const QString& one : QString::fromStdString(k.keys).split(", "))
                listed.insert(one);
        QStringList missing;
        for (int id = 0; id < 1000; ++id)
            for (const QString& one : accelerator_text(id).split(", ", Qt::SkipEmptyParts))
                if (!listed.count(one)) missing << one;
        for (QMenu* menu : window_->menuBar()->findChildren<QMenu*>())
            for (QAction* a : menu->actions())
                for (const QString& one : item_keys(a))
                    if (!listed.count(one)) missing << a->text() + " " + one;
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join("; ")));
        std::string overview = help_topic_text(1);
        for (const HelpKey& k : help_keys())
            QVERIFY2(overview.find(k.keys) != std::string::npos, k.keys.c_str());
    }

    void f1OpensTheTopicOfTheFocusedPane() {
        const struct {
            std::function<void()> focus;
            const char* page;
            const char* shows;
        } cases[] = {
            {[] { click_pane(VIEW_SCRIPT); }, "help:script-language", "set x to expr"},
            {[] { click_pane(VIEW_CONS); }, "help:script-language#input-and-output", "intype"},
            {[] { click_pane(VIEW_TEXT); }, "help:overview", "Ctrl+Shift+S"},
            {[] { key(Qt::Key_1, Qt::ControlModifier); }, "help:overview#moving-around", "Home"},
        };
        for (const auto& c : cases) {
            if (help_window()) help_window()->close();
            window_->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(window_));
            c.focus();
            key(Qt::Key_F1);
            QVERIFY(help_window() && help_window()->isVisible());
            QCOMPARE(page(), QString(c.page));
            QVERIFY2(browser()->toPlainText().contains(c.shows), c.page);
        }
        // The topic text is the console's, read as a page: its table rows
        // are a table, not the spaces that line them up.
        QVERIFY(!browser()->toPlainText().contains("  Ctrl+L"));
    }

    void contentsLinksTheTopicsWhichTheSearchFinds() {
        menu_command(CMD_HELP_CONTENTS);
        QTRY_COMPARE(QApplication::activeWindow(), help_window());
        QCOMPARE(page(), QString("help:contents"));
        for (int t = 1; t <= HELP_TOPIC_COUNT; ++t)
            QVERIFY(browser()->toPlainText().contains(help_topic_title(t)));
        click_link("help:overview");
        QCOMPARE(page(), QString("help:overview"));
        // The overview names Report Format: a link to it.
        click_link("help:report-format");
        QCOMPARE(page(), QString("help:report-format"));
        QVERIFY(browser()->toPlainText().contains("the name of the cell"));
        key(Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(page(), QString("help:overview"));

        // The search finds the topics, and the places, that hold the words.
        QTest::keyClick(focused(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(focused()->objectName(), QString("help_search"));
        const std::pair<const char*, std::set<QString>> cases[] = {
            {"call stack", {"Overview", "Debugging"}},
            {"GAUSSJ", {"Builtin Functions"}},
            {"dragging fit", {"Overview"}},
            {"nothing-like-this", {}},
        };
        for (const auto& [words, topics] : cases) {
            QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(focused(), words);
            QTest::keyClick(focused(), Qt::Key_Return);
            QVERIFY(page().startsWith("help:search"));
            std::set<QString> found;
            for (int t = 1; t <= HELP_TOPIC_COUNT; ++t)
                if (browser()->toHtml().contains(
                        QString("help:%1\"")
                            .arg(QString(help_topic_title(t)).toLower().replace(' ', '-'))))
                    found.insert(help_topic_title(t));
            QCOMPARE(found, topics);
        }
        // A place leads into its topic.
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), "gaussj");
        QTest::keyClick(focused(), Qt::Key_Return);
        QString html = browser()->toHtml();
        qsizetype at = html.indexOf("help:builtin-functions#");
        QVERIFY(at > 0);
        QString place = html.mid(at, html.indexOf('"', at) - at);
        click_link(place);
        QCOMPARE(page(), place);
    }

    void realDialogsAnswerEnterAndEscape() {
        dialogs_set_hook(nullptr);
        show_text("find me");
        when_modal([](QWidget* d) {
            QTest::keyClicks(d->findChild<QLineEdit*>("search_for"), "me");
            QTest::keyClick(d->findChild<QLineEdit*>("search_for"), Qt::Key_Return);
        });
        key(Qt::Key_H, Qt::ControlModifier);
        QVERIFY(search_bar());
        QCOMPARE(selection(shell_windows().text).first, 5L);
        search_bar_close();
        // A window manager gives the window back its focus once a dialog
        // closes; the offscreen platform does not.
        auto refocus = [this] {
            window_->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window_));
            focus_current();
        };
        refocus();
        when_modal([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
        key(Qt::Key_H, Qt::ControlModifier);
        QVERIFY(!search_active());
        refocus();
        // Zoom: Down then Enter picks the next entry.
        settings_set_zoom(0);
        when_modal([](QWidget* d) {
            QTest::keyClick(d->findChild<QComboBox*>("zoom_list"), Qt::Key_Down);
            QTest::keyClick(d, Qt::Key_Return);
        });
        menu_command(CMD_ZOOM);
        QCOMPARE(settings_zoom(), 4);
        refocus();
        // Settings: Enter is OK.
        when_modal([](QWidget* d) {
            d->findChild<QRadioButton*>("link_colour_2")->setChecked(true);
            QTest::keyClick(d, Qt::Key_Return);
        });
        key(Qt::Key_T, Qt::AltModifier);
        QCOMPARE(int(settings_link_colour()), 2);
    }

    void zoomDialogMapsBothWays() {
        settings_set_zoom(3);
        std::string opened;
        g_act = [&](const DialogRequest& r) {
            opened = r.text;
            auto* list = child<QComboBox>(r, "zoom_list");
            opened += "/" + list->currentText().toStdString();
            list->setCurrentIndex(list->findText("330%"));
            return true;
        };
        menu_command(CMD_ZOOM);
        QCOMPARE(opened, std::string("127%/127%"));
        QCOMPARE(settings_zoom(), 20);
        const ShellWindows& w = shell_windows();
        for (auto [e, zoom] : {std::pair{w.text, 20}, {w.console, 20}, {w.value, 0}, {w.script, 0}})
            QCOMPARE(int(e->SendScintilla(QsciScintillaBase::SCI_GETZOOM)), zoom);
        // Cancel keeps the setting; no selection stores 0.
        g_act = [](const DialogRequest&) { return false; };
        menu_command(CMD_ZOOM);
        QCOMPARE(settings_zoom(), 20);
        g_act = [](const DialogRequest& r) {
            child<QComboBox>(r, "zoom_list")->setCurrentIndex(-1);
            return true;
        };
        menu_command(CMD_ZOOM);
        QCOMPARE(settings_zoom(), 0);
    }

    // A web naming a file outside its folder: the user is asked once per
    // path in a session, and a refusal touches nothing.
    void outsidePathAskedOncePerPath() {
        QTemporaryDir dir;
        const std::string refused = dir.filePath("refused.txt").toStdString();
        const std::string allowed = dir.filePath("allowed.txt").toStdString();
        g_act = [&](const DialogRequest& r) {
            return r.kind == DLG_ALLOW_PATH && r.text.find(allowed) != std::string::npos;
        };
        auto run_writing = [&](const std::string& path) {
            cell_set_script(current_cell(), ("set outname '" + path +
                                             "' set outtype 'file' out('x') set outtype 'screen'")
                                                .c_str());
            reshow_current();
            QTest::keyClick(window_, Qt::Key_R, Qt::AltModifier);
        };
        const struct {
            std::string path;
            int asked; // questions so far
            bool written;
        } runs[] = {
            {refused, 1, false}, {refused, 1, false}, {allowed, 2, true}, {allowed, 2, true}};
        for (const auto& r : runs) {
            QFile file(QString::fromStdString(r.path));
            file.remove();
            run_writing(r.path);
            QCOMPARE(times_seen(DLG_ALLOW_PATH), r.asked);
            QVERIFY(g_seen.back().text.find(r.path) != std::string::npos);
            QCOMPARE(file.open(QIODevice::ReadOnly) && file.readAll() == "x", r.written);
        }
    }

    void aboutBoxShowsIconAndVersion() {
        bool icon = false;
        g_act = [&](const DialogRequest& r) {
            auto* box = qobject_cast<QMessageBox*>(r.dialog);
            icon = box && !box->iconPixmap().isNull() && box->text() == "Tarvex   v" TARVEX_VERSION;
            return true;
        };
        menu_command(CMD_ABOUT);
        QVERIFY(icon);
    }

    void settingsOkWithoutChangesKeepsEverything() {
        make_cell("px");
        settings_set_plot_cells("px,home");
        settings_set_number_style(0);
        settings_set_decimals(1);
        settings_set_xmax_text("7.26");
        settings_set_ymin_text("-2");
        settings_set_iterations(12);
        settings_set_report_type(RPT_TRAIL);
        settings_set_input_type(IN_FILE);
        settings_set_link_colour(1);
        settings_set_plot_colour(2);
        settings_set_auto_output(AUTO_FORMATTED);
        settings_set_trig_units(TRIG_RADIANS);
        settings_set_output_dest(OUT_PRINTER); // no entry: stays the printer
        web_set_modified(false);
        std::string before = settings_snapshot();
        settings([](const DialogRequest& r, QTabWidget*) {
            QCOMPARE(child<QComboBox>(r, "output_dest")->currentIndex(), -1);
            QCOMPARE(child<QLineEdit>(r, "xmax")->text(), QString("7.3"));
        });
        QCOMPARE(settings_snapshot(), before);
        QCOMPARE(settings_xmax(), 7.3); // read back from its formatted text
        QCOMPARE(settings_ymin(), -2.0);
        QVERIFY(!web_modified());
        // Cancel after changes changes nothing.
        settings([](const DialogRequest& r,
                    QTabWidget*) { child<QLineEdit>(r, "iterations")->setText("3"); },
                 false);
        QCOMPARE(settings_iterations(), 12u);
        QVERIFY(!web_modified());
        // OK with a stored setting changed is a change to the web; one the
        // web file does not hold is not.
        settings([](const DialogRequest& r, QTabWidget*) {
            child<QRadioButton>(r, "link_colour_2")->setChecked(true);
        });
        QCOMPARE(int(settings_link_colour()), 2);
        QVERIFY(!web_modified());
        settings([](const DialogRequest& r, QTabWidget*) {
            child<QLineEdit>(r, "iterations")->setText("3");
        });
        QCOMPARE(settings_iterations(), 3u);
        QVERIFY(web_modified());
    }

    // Texts are cut, and limits read, by the setters: SettingsTest.
    void settingsClampsAndCuts() {
        auto numbers = [](const char* iterations, const char* intervals) {
            settings([=](const DialogRequest& r, QTabWidget*) {
                child<QLineEdit>(r, "iterations")->setText(iterations);
                child<QLineEdit>(r, "x_intervals")->setText(intervals);
                child<QLineEdit>(r, "y_intervals")->setText("");
            });
        };
        numbers("0", "50");
        QCOMPARE(settings_iterations(), 1u);
        QCOMPARE(int(settings_x_intervals()), 20);
        QCOMPARE(int(settings_y_intervals()), 1);
        numbers("99999", "0");
        QCOMPARE(settings_iterations(), 32767u);
        QCOMPARE(int(settings_x_intervals()), 1);
        settings([](const DialogRequest& r, QTabWidget*) {
            child<QRadioButton>(r, "plot_colour_3")->setChecked(true);
            child<QComboBox>(r, "digits")->setCurrentIndex(8);
            child<QRadioButton>(r, "exponential")->setChecked(true);
        });
        QCOMPARE(int(settings_plot_colour()), 3);
        QCOMPARE(int(settings_decimals()), 8);
        QCOMPARE(int(settings_number_style()), 1);
    }

    void onlyShownPagesApply() {
        settings_set_iterations(5);
        settings_set_output_dest(OUT_SCREEN);
        uint32_t generation = plot_surface_generation();
        // Only the first page is shown: the others' controls do not count.
        settings(
            [](const DialogRequest& r, QTabWidget*) {
                child<QLineEdit>(r, "iterations")->setText("9");
                child<QComboBox>(r, "output_dest")->setCurrentIndex(1);
                child<QRadioButton>(r, "link_colour_2")->setChecked(true);
            },
            true, false);
        QCOMPARE(settings_iterations(), 5u);
        QCOMPARE(int(settings_output_dest()), int(OUT_SCREEN));
        QCOMPARE(int(settings_link_colour()), 2);
        QCOMPARE(plot_surface_generation(), generation);
        // The link style of the panes follows at once.
        QsciScintilla* t = shell_windows().text;
        QColor blue(0x18, 0x23, 0x69);
        long fore = t->SendScintilla(QsciScintillaBase::SCI_STYLEGETFORE, STYLE_LINK);
        QCOMPARE(fore, long(blue.red() | (blue.green() << 8) | (blue.blue() << 16)));
        // A page is read again each time it is chosen: an edit made before
        // leaving it is replaced by the setting.
        settings(
            [](const DialogRequest& r, QTabWidget* tabs) {
                tabs->setCurrentIndex(5);
                child<QLineEdit>(r, "iterations")->setText("9");
                tabs->setCurrentIndex(0);
                tabs->setCurrentIndex(5);
                QCOMPARE(child<QLineEdit>(r, "iterations")->text(), QString("5"));
                child<QComboBox>(r, "output_dest")->setCurrentIndex(1); // not shown since the start
            },
            true, false);
        QCOMPARE(int(settings_output_dest()), int(OUT_SCREEN));
        // The Plot page gives the plot a fresh frame.
        settings([](const DialogRequest&, QTabWidget*) {});
        QVERIFY(plot_surface_generation() != generation);
    }

    void plotListsOfferLiveCellsOnce() {
        make_cell("apple");
        make_cell("berry");
        make_cell("cherry");
        cell_go_command("berry");
        cell_list_remove(current_cell());
        cell_delete(current_cell());
        cell_go_command("home");
        settings_set_plot_cells("cherry,nosuch");
        settings([](const DialogRequest& r, QTabWidget* tabs) {
            for (int round = 0; round < 3; ++round)
                for (int i = 0; i < tabs->count(); ++i)
                    tabs->setCurrentIndex(i);
            auto* x = child<QComboBox>(r, "x_cell");
            auto* y = child<QComboBox>(r, "y_cell");
            QCOMPARE(entries(x), (QStringList{"apple", "cherry", "home"}));
            QCOMPARE(entries(y), (QStringList{"apple", "cherry", "home"}));
            QCOMPARE(x->currentText(), QString("cherry"));
            QCOMPARE(y->currentText(), QString("apple")); // unknown name: the first
        });
        // Neither list changed: the pair is kept as it was.
        QCOMPARE(std::string(settings_plot_cells()), std::string("cherry,nosuch"));
        settings([](const DialogRequest& r, QTabWidget*) {
            child<QComboBox>(r, "x_cell")->setCurrentIndex(2);
        });
        QCOMPARE(std::string(settings_plot_cells()), std::string("home,nosuch"));
    }

    void searchWalksCellsAndWrapsToTheStartCell() {
        make_cell("b", "a target here");
        make_cell("c", "nothing");
        make_cell("a", "no match");
        QsciScintilla* t = show_text("target then target", 0);
        int history = back_count();
        web_set_modified(false);
        find("target");
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(selection(t), std::pair(0L, 6L));
        // a has none, b has one: home wraps round to a, then b; c has none:
        // back round to home's first match.
        const std::pair<const char*, long> steps[] = {{"home", 12}, {"b", 2}, {"home", 0}};
        for (auto [cell, at] : steps) {
            click("bar_next");
            QCOMPARE(current_name(), std::string(cell));
            QCOMPARE(selection(t).first, at);
            QVERIFY(search_match_selected());
        }
        // The walk changed no history and marked nothing modified.
        QVERIFY(!web_modified());
        QCOMPARE(back_count(), history);
    }

    void wordBeforeTheCaretIsFoundAfterAllOtherCells() {
        make_cell("x", "other");
        make_cell("y", "words");
        QsciScintilla* t = show_text("alpha beta", 10);
        web_set_modified(false);
        find("ALPHA");
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(selection(t), std::pair(0L, 5L));
        QVERIFY(search_match_selected());
        // Nowhere at all: the start cell stays, caret at the start, and
        // "repl" after the failed search changes nothing.
        search_bar_close();
        set_sel(t, 3, 3);
        find("missing", "XX");
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(selection(t), std::pair(0L, 0L));
        QVERIFY(!search_match_selected());
        click("bar_repl");
        QCOMPARE(editor_bytes(t), std::string("alpha beta"));
        QVERIFY(!web_modified());
    }

    void scriptTabSearchesScriptsOnlyAndValueTabNothing() {
        make_cell("p", "zeta in the text", "");
        make_cell("q", "", "out('zeta')");
        shell_show_view(VIEW_SCRIPT);
        web_set_modified(false);
        find("zeta");
        QCOMPARE(current_name(), std::string("q"));
        QCOMPARE(shell_current_view(), VIEW_SCRIPT);
        QCOMPARE(selection(shell_windows().script).first, 5L);
        search_bar_close();

        cell_go_command("home");
        shell_show_view(VIEW_VALUE);
        find("zeta", "eta");
        QVERIFY(search_bar()); // the bar opens, but nothing is searched
        QCOMPARE(current_name(), std::string("home"));
        QVERIFY(!search_match_selected());
        click("bar_next");
        click("bar_repl");
        QCOMPARE(current_name(), std::string("home"));
        QVERIFY(!web_modified());
    }

    void replThenNextAndCaseOnlyAfterNext() {
        QsciScintilla* t = show_text("foo foo Foo", 0);
        find("Foo", "X");
        QCOMPARE(selection(t).first, 0L);
        // Ticking "case" does not count for "repl": the replacement's own
        // search still ignores case.
        bar_child<QCheckBox>("bar_case")->setChecked(true);
        click("bar_repl");
        QCOMPARE(editor_bytes(t), std::string("X foo Foo"));
        QCOMPARE(selection(t).first, 2L);
        QCOMPARE(int(settings_search_case()), 0);
        // "next" takes the box: now only "Foo" matches.
        click("bar_next");
        QCOMPARE(int(settings_search_case()), 1);
        QCOMPARE(selection(t).first, 6L);
        click("bar_repl");
        QCOMPARE(editor_bytes(t), std::string("X foo X"));
        QVERIFY(web_modified());
        // No "Foo" left: the walk came back to the start of home's text.
        QVERIFY(!search_match_selected());
        QCOMPARE(selection(t).first, 0L);
    }

    void searchInProgressRefusesRunAndSecondFind() {
        cell_set_script(current_cell(), "out('ran')");
        show_text("");
        find("nothing here");
        QVERIFY(search_active());
        shell_windows().console->clear();
        key(Qt::Key_F5);
        QCOMPARE(status(), std::string("End search before running"));
        QVERIFY(console_text().find("ran") == std::string::npos);
        g_seen.clear();
        key(Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(status(), std::string("Search or Replace already in progress"));
        QVERIFY(g_seen.empty());
        click("bar_cancel");
        QVERIFY(!search_active());
        QVERIFY(!search_bar());
        key(Qt::Key_F5);
        QVERIFY(console_text().find("ran") != std::string::npos);
    }

    void replaceDialogFillsCutsAndRefusesEmpty() {
        settings_set_search_text("old");
        settings_set_replace_text("new");
        settings_set_search_case(1);
        bool filled = false;
        g_act = [&](const DialogRequest& r) {
            filled = child<QLineEdit>(r, "search_for")->text() == "old" &&
                     child<QLineEdit>(r, "replace_with")->text() == "new" &&
                     child<QCheckBox>(r, "case_sensitive")->isChecked() &&
                     r.dialog->windowTitle() == "Replace";
            filled = filled && search_active(); // set while the dialog is open
            child<QLineEdit>(r, "search_for")->setText("changed");
            return false;
        };
        key(Qt::Key_H, Qt::ControlModifier);
        QVERIFY(filled);
        QVERIFY(!search_active());
        QCOMPARE(std::string(settings_search_text()), std::string("old")); // Cancel keeps it
        find("");
        QCOMPARE(status(), std::string("Nothing to search for"));
        QVERIFY(!search_active());
        QVERIFY(!search_bar());
        find(QString(60, 'a'), QString(50, 'b'));
        QCOMPARE(std::string(settings_search_text()), std::string(47, 'a'));
        QCOMPARE(std::string(settings_replace_text()), std::string(47, 'b'));
        QCOMPARE(int(settings_search_case()), 0);
    }

    void findBarSaysNotFoundAndWrapped() {
        make_cell("alpha", "one");
        QsciScintilla* t = show_text("x one", 0);
        key(Qt::Key_2, Qt::ControlModifier);
        key(Qt::Key_F, Qt::ControlModifier);
        QLineEdit* field = bar_child<QLineEdit>("bar_find");
        QCOMPARE(focused(), static_cast<QWidget*>(field));
        QVERIFY(search_active());
        // The field keeps its editing keys.
        QTest::keyClicks(field, "zzz");
        key(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(field->selectedText(), QString("zzz"));
        QTest::keyClicks(field, "one");
        QCOMPARE(field->text(), QString("one"));
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(t->selectedText(), QString("one"));
        QVERIFY(status() != "Search wrapped" && status() != "Not found");
        QCOMPARE(focused(), static_cast<QWidget*>(field));
        // home is the last cell: the next match is in alpha, round the end.
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("alpha"));
        QCOMPARE(status(), std::string("Search wrapped"));
        field->selectAll();
        QTest::keyClicks(field, "absent");
        key(Qt::Key_Return);
        QCOMPARE(status(), std::string("Not found"));
        key(Qt::Key_Escape);
        QVERIFY(!search_active());
        QTRY_VERIFY(!window_->findChild<QWidget*>("search_bar"));
    }

    // Round cells that are all stepped over, the start cell's pane keeps
    // what was typed into it and not yet stored in the cell.
    void skippedCellsLeaveTheStartPaneAsTyped() {
        make_cell("x", "other");
        QsciScintilla* t = show_text("old words", 0);
        t->setText("typed target");
        set_sel(t, 12, 12);
        for (bool replace : {false, true}) {
            find("target", "goal");
            g_act = nullptr;
            g_answers.push_back(yes());
            if (replace) click("bar_replace_all");
            QCOMPARE(current_name(), std::string("home"));
            QCOMPARE(editor_bytes(t), std::string(replace ? "typed goal" : "typed target"));
            search_bar_close();
        }
    }

    // The walk counts from the fields, and skips the cells with none: only
    // what the pane's search would count, and -1 where only it can tell.
    void fieldsCountedAsThePaneCounts() {
        const struct {
            const char* field;
            const char* what;
            bool match_case;
            int count;
        } cases[] = {
            {"a Target, target", "target", false, 2},
            {"a Target, target", "target", true, 1},
            {"a Target here", "TARGET", false, 1},
            {"aaaaa", "aa", false, 2},
            {"tar get", "target", false, 0},
            {"targe", "target", false, 0},
            {"a\r\nb", "a b", false, 0},
            {"ab", "a\nb", true, -1},
            // Non-ASCII: the pane's Unicode case folding decides.
            {"\xC3\x84rger", "\xC3\xA4", false, -1},
            {"\xE2\x84\xAA", "k", false, -1},
            {"plain", "\xC3\xA4", false, -1},
            {"plain", "\xC3\xA4", true, 0},
        };
        for (const auto& c : cases)
            QVERIFY2(search_field_count(c.field, c.what, c.match_case) == c.count,
                     (std::string(c.field) + " / " + c.what).c_str());
    }

    void replaceAllAsksWithTheCountAndIsOneUndoPerCell() {
        make_cell("alpha", "one");
        make_cell("beta", "none");
        make_cell("gamma", "nothing");
        show_text("x one One");
        key(Qt::Key_2, Qt::ControlModifier);
        // Cancel leaves every cell as it was.
        replace_everywhere("one", "two", cancel());
        QVERIFY(seen(DLG_OK_CANCEL, "Replace 4 occurrences in 3 cells?"));
        QCOMPARE(text_of("beta"), std::string("none"));
        QCOMPARE(text_of("home"), std::string("x one One"));
        replace_everywhere("one", "two");
        QCOMPARE(status(), std::string("Replaced 4 occurrences"));
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(editor_bytes(shell_windows().text), std::string("x two two"));
        QCOMPARE(text_of("alpha"), std::string("two"));
        QCOMPARE(text_of("beta"), std::string("ntwo"));
        QCOMPARE(text_of("gamma"), std::string("nothing"));
        QVERIFY(web_modified());
        // The cell's replacements are undone in one step.
        shell_windows().text->setFocus();
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(editor_bytes(shell_windows().text), std::string("x one One"));
        // Nothing to replace: said, and no question.
        g_seen.clear();
        replace_everywhere("absent", "");
        QCOMPARE(status(), std::string("Not found"));
        QVERIFY(!seen(DLG_OK_CANCEL));
    }

    // The other cells change unshown, yet each keeps a step of undo per
    // Replace All, shown before (a) or not (b, and c, whose text only the
    // pane's search can read); what was typed in the current cell and not
    // yet stored is replaced with the rest.
    void replaceAllKeepsEveryCellsUndo() {
        const struct {
            const char* cell;
            const char* undone[3]; // as replaced twice, once, and at first
        } cells[] = {
            {"a", {"six a", "two a", "one a"}},
            {"b", {"six b", "two b", "one b"}},
            {"c", {"\xC3\x96ne six", "\xC3\x96ne two", "\xC3\x96ne ONE"}},
        };
        for (const auto& c : cells)
            cell_set_text(cell_create_listed(c.cell), c.undone[2]);
        box_enter("a");
        box_enter("home");
        click_pane(VIEW_TEXT);
        type("one");
        for (auto [what, with] : {std::pair{"one", "two"}, std::pair{"two", "six"}}) {
            g_seen.clear();
            replace_everywhere(what, with);
            QVERIFY(seen(DLG_OK_CANCEL, "Replace 4 occurrences in 4 cells?"));
            QCOMPARE(status(), std::string("Replaced 4 occurrences"));
        }
        QCOMPARE(editor_bytes(shell_windows().text), std::string("six"));
        for (const auto& c : cells) {
            QCOMPARE(text_of(c.cell), std::string(c.undone[0]));
            box_enter(c.cell);
            click_pane(VIEW_TEXT);
            for (const char* back : {c.undone[1], c.undone[2]}) {
                key(Qt::Key_Z, Qt::ControlModifier);
                QCOMPARE(editor_bytes(shell_windows().text), std::string(back));
            }
        }
        box_enter("home"); // leaving c stores what undo gave back
        QCOMPARE(text_of("c"), std::string(cells[2].undone[2]));
        QCOMPARE(text_of("home"), std::string("six"));
    }

    // Replace All takes no room of its own per cell: with a store nearly
    // full it still changes every cell; a replacement that outgrows the
    // store stops before the cell that would lose its text.
    void replaceAllFitsANearlyFullStore() {
        const int cells = 200;
        char name[8];
        for (int i = 0; i < cells; ++i) {
            std::snprintf(name, sizeof name, "n%03d", i);
            cell_set_text(cell_create_listed(name), "one");
        }
        int fill = nodes_free() - LOW_NODE_THRESHOLD - cells / 4;
        cell_set_text(cell_create_listed("fill"), std::string(size_t(fill) * TEXT_CHUNK, 'x'));
        click_pane(VIEW_TEXT);
        replace_everywhere("one", "two");
        QCOMPARE(status(), std::string("Replaced 200 occurrences"));
        QCOMPARE(text_of("n199"), std::string("two"));
        std::string longer(SEARCH_TEXT_CUT, 'w'); // a node more than "two"
        replace_everywhere("two", longer.c_str());
        QCOMPARE(status(), std::string("OUT OF MEMORY"));
        int changed = 0;
        for (int i = 0; i < cells; ++i) {
            std::snprintf(name, sizeof name, "n%03d", i);
            std::string text = text_of(name);
            QVERIFY2(text == "two" || text == longer, name);
            changed += text == longer;
        }
        QVERIFY(changed > 0 && changed < cells);
    }
};

QTEST_MAIN(EditorsTest)
#include "editors_test.moc"
