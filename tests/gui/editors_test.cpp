// The editor panes, driven by keys and clicks on the focused widget: undo
// kept per cell across runs, saves and visits, edits committed by a tab
// switch, the script pane's line numbers and colouring, links followed by a
// click (a Ctrl+click in the script pane), and a double click that visits a
// link or makes a cell of a word. Rename Cell from the keyboard and the
// menu: the panes and the list follow the new name (what the web's fields
// become: RenameCellTest), and Undo Rename gives back the very bytes saved
// before. Typing help and finders: the script pane's completion list, call
// tips and closing brackets, the name fields' lists of names, the command
// palette and the quick switcher.
#include "gui_test_support.h"

#include "core/errors.h"
#include "core/value.h"
#include "script/run_engine.h"
#include "shell/completion.h"
#include "shell/script_style.h"
#include "shell/window_layout.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <fstream>
#include <set>
#include <sstream>

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

} // namespace

class EditorsTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

    std::string saved(const char* name) {
        std::string file = dir_.path().toStdString() + "/" + name;
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, file);
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    // The cells the typing help and the finders offer.
    void letters() {
        make_cell("alpha", "first of the letters");
        make_cell("beta", "notes about the alpha tree");
        make_cell("gamma_alpha");
    }

  private slots:
    void initTestCase() { window_open_active(); }

    void init() { fresh_web(true); }

    void cleanupTestCase() { window_close(window_); }

    // What a word typed in the script pane offers, and what each key then
    // leaves in the pane.
    void scriptPaneCompletesOnlyWhatIsChosen() {
        letters();
        struct Case {
            const char* typed;
            bool offered;
            int then; // a key pressed after typing, 0 for none
            Qt::KeyboardModifiers mods;
            const char* script;
        } cases[] = {
            {"alp", true, Qt::Key_Return, {}, "alpha"},
            {"alp", true, Qt::Key_Tab, {}, "alpha"},
            {"alp", true, Qt::Key_Escape, {}, "alp"},
            {"ALP", true, Qt::Key_Return, {}, "alpha"}, // names fold case
            {"gamma_a", true, Qt::Key_Return, {}, "gamma_alpha"},
            {"sqr", true, Qt::Key_Return, {}, "sqrt"},
            {"whi", true, Qt::Key_Return, {}, "while"},
            {"de", true, Qt::Key_Return, {}, "deg"},
            {"alpx", false, 0, {}, "alpx"},                    // typing on past every word
            {"alpha", false, Qt::Key_Return, {}, "alpha\r\n"}, // a whole word: Enter is a new line
            {"out('alp", false, 0, {}, "out('alp')"},          // inside a string
            {"# alp", false, 0, {}, "# alp"},                  // inside a comment
            {"12e", false, 0, {}, "12e"},                      // a number
            {"x ", true, Qt::Key_Escape, {}, "x "},            // typed on: Ctrl+Space below
        };
        for (const Case& c : cases) {
            cell_set_script(current_cell(), "");
            reshow_current();
            click_pane(VIEW_SCRIPT);
            type(c.typed);
            if (QByteArray(c.typed).endsWith(' ')) key(Qt::Key_Space, Qt::ControlModifier);
            QVERIFY2(list_open() == c.offered, c.typed);
            if (c.then) key(c.then, c.mods);
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
        click_box();
        key(Qt::Key_A, Qt::ControlModifier);
        type("AL");
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
        struct Case {
            const char* query;
            QStringList names;
        } cases[] = {
            {"alp", {"alpha", "gamma_alpha", "beta"}}, // prefix, inside, a word of the text
            {"TREE", {"beta"}},
            {"notes tr", {"beta"}}, // every word begins one of the text's
            {"zz", {}},
        };
        for (const Case& c : cases) {
            key(Qt::Key_K, Qt::ControlModifier);
            QTRY_VERIFY(finder("quick_switcher"));
            press_text(c.query);
            QStringList names;
            for (const QString& r : rows(finder("quick_switcher")))
                names << r.section('|', 0, 0);
            QCOMPARE(names, c.names);
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
        QCOMPARE(current_name(), std::string("other"));
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

    void scriptColouringFollowsTheLexer() {
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
        // The text pane keeps plain text and links only.
        set_pane(VIEW_TEXT, "set x to 'home' # not a comment");
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        QCOMPARE(style_at(t, 0), STYLE_PLAIN);
        QCOMPARE(style_at(t, 4), STYLE_LINK);
        QCOMPARE(style_at(t, 10), STYLE_LINK);
        QCOMPARE(style_at(t, 17), STYLE_PLAIN);
    }

    void everyCellNameLinksInTheText() {
        // More names than a 4,096-byte word list holds (about 680 of these).
        char name[8];
        for (int i = 0; i < 800; ++i) {
            std::snprintf(name, sizeof name, "n%04d", i);
            cell_create_unlimited(name, false);
        }
        cell_table_rebuild();
        link_refresh();
        set_pane(VIEW_TEXT, "first n0000, last n0799");
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        QCOMPARE(style_at(t, 6), STYLE_LINK);
        QCOMPARE(style_at(t, 19), STYLE_LINK);
        QCOMPARE(style_at(t, 13), STYLE_PLAIN);
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

        // The text pane follows a plain click.
        key(Qt::Key_Left, Qt::AltModifier);
        set_pane(VIEW_TEXT, "see target");
        QsciScintilla* t = shell_windows().text;
        QTRY_COMPARE(style_at(t, 6), STYLE_LINK);
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, point_of(t, 6));
        QTRY_COMPARE(current_name(), std::string("target"));
    }

    // A script naming a cell past the cell table: no link there (a Ctrl+click
    // stays put), and the run's error says which cell and why, in the status
    // line and under the line in the pane.
    void cellPastTheTableIsNoLinkAndItsErrorSaysWhy() {
        char name[8];
        for (int i = 0; i < CELL_TABLE_SIZE; ++i) {
            std::snprintf(name, sizeof name, "p%03d", i);
            cell_create_unlimited(name, false); // after home: p255 falls out
        }
        cell_table_rebuild();
        link_refresh();
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

        key(Qt::Key_R, Qt::AltModifier);
        QTRY_VERIFY(!run_active());
        const std::string why = "p255: only the first 256 cells in name order can be named in "
                                "scripts; a larger store lifts this";
        QCOMPARE(status(), why);
        char note[512] = {};
        s->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONGETTEXT, 1UL, note);
        QCOMPARE(std::string(note), "Lexical analysis (line 2, column 5)\n" + why);
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
            key(Qt::Key_R, Qt::AltModifier);
            QTRY_VERIFY(!run_active());
            long line = e->SendScintilla(QsciScintillaBase::SCI_MARKERNEXT, 0L, 1L << MARKER_ERROR);
            QVERIFY2(line >= 0, c.script);
            char note[256] = {};
            e->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONGETTEXT, uintptr_t(line), note);
            std::string told = *c.missing ? cell_missing_text(c.missing) : " is not a cell";
            QCOMPARE(std::string(note).find(told) != std::string::npos, *c.missing != 0);

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
            g_act = [on](const DialogRequest& r) {
                if (r.kind != DLG_PREFERENCES) return false;
                child<QCheckBox>(r, "codeFontFixed")->setChecked(on);
                return true;
            };
            menu_command(CMD_PREFERENCES);
            g_act = nullptr;
            QCOMPARE(font_of(w.script), on ? fixed : web);
            QCOMPARE(font_of(w.console), on ? fixed : web);
            QCOMPARE(font_of(w.text), web);
            QCOMPARE(font_of(w.value), web);
            QVERIFY(!web_modified());
        }
    }

    void f2InTheListRenamesAndCtrlZPutsTheSavedBytesBack() {
        make_cell("rate", "the rate", "out(rate)");
        make_cell("calc", "uses rate and rates", "x = rate * 2 # rate\r\nout('rate')");
        go("rate");
        const std::string before = saved("before.tvx");
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
        QCOMPARE(saved("undone.tvx"), before);
        key(Qt::Key_Z, Qt::ControlModifier); // nothing left to undo
        QCOMPARE(current_name(), std::string("rate"));
        // Renamed and undone with nothing between: the web is as saved.
        g_answers = {DialogAnswer{true, SAVE_NO, "speed"}, DialogAnswer{true, SAVE_NO, {}}};
        key(Qt::Key_F2);
        QCOMPARE(current_name(), std::string("speed"));
        QVERIFY(window_->isWindowModified());
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(current_name(), std::string("rate"));
        QVERIFY(!window_->isWindowModified());
    }

    void menuRenameRefusesWithTheSystemsMessages() {
        make_cell("rate", "rate");
        make_cell("calc");
        go("rate");
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
        QCOMPARE(text_of("rate"), std::string("rate"));
    }
};

QTEST_MAIN(EditorsTest)
#include "editors_test.moc"
