// The zoom dialog, the about box and the settings dialog, against the real
// main window. The dialogs' test hook hands over the built dialog so its
// real controls are used; a few tests run the dialogs for real and drive
// them with keys. Find and replace: the Replace dialog and the walk through
// the cells it starts, the search bar with its keys, its messages, and
// Replace All.
#include "gui_test_support.h"

#include "plot/plot.h"
#include "tarvex_version.h"

#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <sstream>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

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

class DialogsTest : public WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() { window_open_active(); }

    void init() {
        // Back after a test that showed real dialogs.
        answer_from_queue(no());
        fresh_web();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        focus_current();
    }

    void cleanupTestCase() {
        search_bar_close();
        window_close(window_);
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
        auto zoom_of = [](QsciScintilla* e) {
            return int(e->SendScintilla(QsciScintillaBase::SCI_GETZOOM));
        };
        QCOMPARE(zoom_of(shell_windows().text), 20);
        QCOMPARE(zoom_of(shell_windows().console), 20);
        QCOMPARE(zoom_of(shell_windows().value), 0);
        QCOMPARE(zoom_of(shell_windows().script), 0);
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

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
