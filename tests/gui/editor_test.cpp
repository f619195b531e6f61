// Typing help and finders, driven by keys: the script pane's completion
// list, call tips and closing brackets, the name fields' lists of names,
// the command palette and the quick switcher.
#include "gui_test_support.h"

#include "script/run_engine.h"
#include "shell/completion.h"
#include "shell/window_layout.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QTreeWidget>

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

class EditorTest : public WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() { window_open_active(); }

    void init() {
        fresh_web(true);
        make_cell("alpha", "first of the letters");
        make_cell("beta", "notes about the alpha tree");
        make_cell("gamma_alpha");
    }

    void cleanupTestCase() { window_close(window_); }

    // What a word typed in the script pane offers, and what each key then
    // leaves in the pane.
    void scriptPaneCompletesOnlyWhatIsChosen() {
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
};

QTEST_MAIN(EditorTest)
#include "editor_test.moc"
