// Find and replace: the Replace dialog (its real controls, handed over by
// the dialogs' test hook) and the walk through the cells it starts, the
// search bar with its keys, its messages, and Replace All.
#include "gui_test_support.h"

#include <QPushButton>

#include <cstdio>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

void click(const char* name) {
    QPushButton* b = bar_child<QPushButton>(name);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

// Replace All from the search bar, typed into its fields and answered OK.
void replace_everywhere(const char* what, const char* with) {
    key(Qt::Key_F, Qt::ControlModifier);
    type(what); // over the field's text, which is selected
    key(Qt::Key_Tab);
    type(with);
    g_answers.push_back(yes());
    click("bar_replace_all");
    key(Qt::Key_Escape);
}

} // namespace

class SearchTest : public WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() { window_open_active(); }

    void init() {
        fresh_web();
        status_line_show("");
    }

    void cleanupTestCase() {
        search_bar_close();
        window_close(window_);
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
        QCOMPARE(sel_start(t), 0L);
        QCOMPARE(sel_end(t), 6L);
        // a has none, b has one: home wraps round to a, then b; c has none:
        // back round to home's first match.
        const std::pair<const char*, long> steps[] = {{"home", 12}, {"b", 2}, {"home", 0}};
        for (auto [cell, at] : steps) {
            click("bar_next");
            QCOMPARE(current_name(), std::string(cell));
            QCOMPARE(sel_start(t), at);
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
        QCOMPARE(sel_start(t), 0L);
        QCOMPARE(sel_end(t), 5L);
        QVERIFY(search_match_selected());
        // Nowhere at all: the start cell stays, caret at the start, and
        // "repl" after the failed search changes nothing.
        search_bar_close();
        set_sel(t, 3, 3);
        find("missing", "XX");
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(sel_start(t), 0L);
        QCOMPARE(sel_end(t), 0L);
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
        QCOMPARE(sel_start(shell_windows().script), 5L);
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
        QCOMPARE(sel_start(t), 0L);
        // Ticking "case" does not count for "repl": the replacement's own
        // search still ignores case.
        bar_child<QCheckBox>("bar_case")->setChecked(true);
        click("bar_repl");
        QCOMPARE(editor_bytes(t), std::string("X foo Foo"));
        QCOMPARE(sel_start(t), 2L);
        QCOMPARE(int(settings_search_case()), 0);
        // "next" takes the box: now only "Foo" matches.
        click("bar_next");
        QCOMPARE(int(settings_search_case()), 1);
        QCOMPARE(sel_start(t), 6L);
        click("bar_repl");
        QCOMPARE(editor_bytes(t), std::string("X foo X"));
        QVERIFY(web_modified());
        // No "Foo" left: the walk came back to the start of home's text.
        QVERIFY(!search_match_selected());
        QCOMPARE(sel_start(t), 0L);
    }

    void searchInProgressRefusesRunAndSecondFind() {
        cell_set_script(current_cell(), "out('ran')");
        reshow_current();
        shell_show_view(VIEW_TEXT);
        find("nothing here");
        QVERIFY(search_active());
        shell_windows().console->clear();
        key(Qt::Key_F5);
        QCOMPARE(status(), std::string("End search before running"));
        QVERIFY(editor_bytes(shell_windows().console).find("ran") == std::string::npos);
        g_seen.clear();
        key(Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(status(), std::string("Search or Replace already in progress"));
        QVERIFY(g_seen.empty());
        click("bar_cancel");
        QVERIFY(!search_active());
        QVERIFY(!search_bar());
        key(Qt::Key_F5);
        QVERIFY(editor_bytes(shell_windows().console).find("ran") != std::string::npos);
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
        cell_set_text(current_cell(), "x one");
        reshow_current();
        key(Qt::Key_2, Qt::ControlModifier);
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_SETSEL, 0UL, 0L);
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
        cell_set_text(current_cell(), "x one One");
        reshow_current();
        key(Qt::Key_2, Qt::ControlModifier);
        key(Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(focused(), "one");
        key(Qt::Key_Tab);
        QCOMPARE(focused(), static_cast<QWidget*>(bar_child<QLineEdit>("bar_replace")));
        QTest::keyClicks(focused(), "two");
        // Cancel leaves every cell as it was.
        g_answers.push_back(cancel());
        click("bar_replace_all");
        QVERIFY(seen(DLG_OK_CANCEL, "Replace 4 occurrences in 3 cells?"));
        QCOMPARE(text_of("beta"), std::string("none"));
        QCOMPARE(text_of("home"), std::string("x one One"));
        g_answers.push_back(yes());
        click("bar_replace_all");
        QCOMPARE(status(), std::string("Replaced 4 occurrences"));
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(editor_bytes(shell_windows().text), std::string("x two two"));
        QCOMPARE(text_of("alpha"), std::string("two"));
        QCOMPARE(text_of("beta"), std::string("ntwo"));
        QCOMPARE(text_of("gamma"), std::string("nothing"));
        QVERIFY(web_modified());
        // The cell's replacements are undone in one step.
        key(Qt::Key_Escape);
        shell_windows().text->setFocus();
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(editor_bytes(shell_windows().text), std::string("x one One"));
        // Nothing to replace: said, and no question.
        g_seen.clear();
        key(Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(focused(), "absent"); // the field's text is selected
        click("bar_replace_all");
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

QTEST_MAIN(SearchTest)
#include "search_test.moc"
