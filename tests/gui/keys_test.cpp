// The keys, driven on the focused widget as a user's are: the menus that
// name them, the view keys, the focus keys (Ctrl+L, F4, Tab, F6), the
// cell-name box with its own editing keys and its list, New Cell and
// Forward from a selection or a typed name, the cell list's keys, Delete,
// and the help that names all of it. The help window: F1 on the topic of
// the focused pane, Help > Contents, links between the pages and the search.
#include "gui_test_support.h"

#include "settings/settings.h"
#include "shell/help_topics.h"
#include "shell/help_window.h"

#include <QTabBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>

#include <functional>
#include <set>
#include <tuple>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

QAction* item_of(QMenu* menu, int command) {
    for (QAction* a : menu->actions())
        if (a->data().toInt() == command && !a->isSeparator()) return a;
    return nullptr;
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

} // namespace

class KeysTest : public WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() { window_open_active(); }

    void init() {
        if (help_window()) help_window()->close();
        fresh_web(true);
        status_line_show("");
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(window_));
    }

    void cleanupTestCase() { window_close(window_); }

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
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().text));
        key(Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().name_box));
        QCOMPARE(edit->selectedText(), QString("home"));
        // Typing replaces the name, Enter goes there.
        QTest::keyClicks(focused(), "there");
        QCOMPARE(shell_windows().name_box->currentText(), QString("there"));
        key(Qt::Key_Return);
        key(Qt::Key_1, Qt::ControlModifier);
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().list));
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
        QVERIFY(editor_bytes(shell_windows().value).find('\t') == std::string::npos);
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
        click_box();
        key(Qt::Key_A, Qt::ControlModifier);
        type("home");
        QTest::keyClick(focused(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(current_name(), std::string("home"));
    }

    void theNameBoxKeepsItsEditingKeys() {
        set_pane(VIEW_TEXT, "pane text");
        shell_windows().text->selectAll();
        click_box();
        key(Qt::Key_End);
        type("XYZ");
        const struct {
            std::vector<const char*> keys;
            const char* box; // the box's text after them
        } steps[] = {
            {{"Left", "Left", "Left", "Del", "Del"}, "homeZ"},
            {{"Backspace", "Home", "Del"}, "omZ"},
            {{"Ctrl+Z"}, "homZ"},
            {{"Ctrl+A", "Ctrl+C", "End", "Ctrl+V"}, "homZhomZ"},
            {{"Ctrl+A", "Ctrl+X"}, ""},
        };
        for (const auto& step : steps) {
            for (const char* k : step.keys)
                QTest::keySequence(focused(), QKeySequence(k));
            QCOMPARE(shell_windows().name_box->currentText(), QString(step.box));
        }
        // None of it reached the pane.
        QCOMPARE(pane_text(VIEW_TEXT), std::string("pane text"));
        // In a pane the same keys are the commands.
        click_pane(VIEW_TEXT);
        key(Qt::Key_A, Qt::ControlModifier);
        key(Qt::Key_Delete);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
    }

    // Delete (Alt+D) asks first, and refuses home (the question's answers:
    // CellCommandsTest.DeleteRefusesHomeAndAsksFirst).
    void deleteAsksAndHomeStays() {
        key(Qt::Key_D, Qt::AltModifier);
        QCOMPARE(status(), std::string("Can't Delete Home"));
        box_enter("doomed");
        g_answers.push_back(yes());
        key(Qt::Key_D, Qt::AltModifier);
        QVERIFY(seen(DLG_OK_CANCEL, "Delete current cell?"));
        QCOMPARE(cell_find("doomed"), NodeHandle(0));
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(shell_windows().list->topLevelItemCount(), 1);
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
        QCOMPARE(t->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART), 3L);
        QCOMPARE(t->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND), 12L);
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
            click_box();
            key(Qt::Key_A, Qt::ControlModifier);
            type(typed);
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
        ShellWindows& w = shell_windows();
        struct Field {
            std::function<void()> focus;
            std::function<QString()> content;
        };
        auto pane = [](int view) {
            return Field{[view] { click_pane(view); },
                         [view] { return QString::fromStdString(pane_text(view)); }};
        };
        std::vector<Field> fields = {pane(VIEW_TEXT),
                                     pane(VIEW_VALUE),
                                     pane(VIEW_SCRIPT),
                                     pane(VIEW_CONS),
                                     {[] { key(Qt::Key_L, Qt::ControlModifier); },
                                      [&w] { return w.name_box->currentText(); }}};
        for (const Field& f : fields) {
            f.focus();
            QString before = f.content();
            for (char c : std::string("=+.,;'`[]\\/789"))
                for (Qt::KeyboardModifiers mods : {Qt::ControlModifier, Qt::AltModifier})
                    QTest::keyClick(focused(), c, mods);
            QCOMPARE(f.content(), before);
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

    void contentsLinksTheTopicsAndTheTopicsEachOther() {
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
    }

    void searchFindsTheTopicsAndThePlaces() {
        menu_command(CMD_HELP_CONTENTS);
        QTRY_COMPARE(QApplication::activeWindow(), help_window());
        QTest::keyClick(focused(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(focused()->objectName(), QString("help_search"));
        const struct {
            const char* words;
            std::vector<const char*> topics;
        } cases[] = {
            {"call stack", {"Overview", "Debugging"}},
            {"GAUSSJ", {"Builtin Functions"}},
            {"dragging fit", {"Overview"}},
            {"nothing-like-this", {}},
        };
        for (const auto& c : cases) {
            QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(focused(), c.words);
            QTest::keyClick(focused(), Qt::Key_Return);
            QVERIFY(page().startsWith("help:search"));
            std::set<QString> found;
            for (int t = 1; t <= HELP_TOPIC_COUNT; ++t)
                if (browser()->toHtml().contains(
                        QString("help:%1\"")
                            .arg(QString(help_topic_title(t)).toLower().replace(' ', '-'))))
                    found.insert(help_topic_title(t));
            QCOMPARE(found, std::set<QString>(c.topics.begin(), c.topics.end()));
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
};

QTEST_MAIN(KeysTest)
#include "keys_test.moc"
