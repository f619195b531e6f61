// GUI tests of the find and replace walk with its search bar, the zoom
// dialog, the about box and the settings dialog, against the real main
// window (offscreen). The dialogs are answered through the dialogs' test
// hook, which hands over the built dialog so its real controls are used;
// a few tests run the dialogs for real and drive them with keys.
#include "gui_test_support.h"

#include "engine/engine_start.h"
#include "plot/plot.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/qt_frontend.h"
#include "shell/search.h"
#include "shell/zoom_dialog.h"
#include "tarvex_version.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <Qsci/qsciscintilla.h>
#include <QtTest>

#include <functional>
#include <type_traits>

using namespace tarvex;

namespace {

// What the next dialog does: change its controls and say OK (true) or not.
std::function<bool(const DialogRequest&)> g_answer;
std::vector<DialogRequest> g_seen;

std::string current_name() {
    return current_cell() ? cell_name_string(current_cell()) : "";
}
std::string status() {
    return status_line_text();
}

void make_cell(const char* name, const char* text = "", const char* script = "") {
    cell_new_command(name);
    cell_set_text(current_cell(), text);
    cell_set_script(current_cell(), script);
    reshow_current();
}

template <class T> T* child(const DialogRequest& r, const char* name) {
    T* w = r.dialog ? r.dialog->findChild<T*>(name) : nullptr;
    if (!w) qFatal("no control %s", name);
    return w;
}

template <class T> T* bar_child(const char* name) {
    return search_bar() ? search_bar()->findChild<T*>(name) : nullptr;
}

long sel_start(QsciScintilla* e) {
    return e->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART);
}
long sel_end(QsciScintilla* e) {
    return e->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND);
}
void set_sel(QsciScintilla* e, long a, long b) {
    e->SendScintilla(QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(a), b);
}

// The current cell given text, shown in the text pane; caret_at puts the
// caret there.
QsciScintilla* show_text(const char* text, long caret_at = -1) {
    cell_set_text(current_cell(), text);
    reshow_current();
    shell_show_view(VIEW_TEXT);
    QsciScintilla* t = shell_windows().text;
    if (caret_at >= 0) set_sel(t, caret_at, caret_at);
    return t;
}

// Find/Repl answered with the given texts.
void find(const QString& what, const QString& with = {}, bool match_case = false) {
    g_answer = [=](const DialogRequest& r) {
        if (r.kind != DLG_REPLACE) return false;
        child<QLineEdit>(r, "search_for")->setText(what);
        child<QLineEdit>(r, "replace_with")->setText(with);
        child<QCheckBox>(r, "case_sensitive")->setChecked(match_case);
        return true;
    };
    dispatch_command(CMD_FIND);
}

void click(const char* name) {
    QPushButton* b = bar_child<QPushButton>(name);
    QVERIFY(b);
    b->click();
}

// Values joined into one comparable text.
template <class... V> std::string joined(const V&... values) {
    std::string s;
    auto add = [&s](const auto& v) {
        if constexpr (std::is_convertible_v<decltype(v), std::string>)
            s += v;
        else
            s += std::to_string(v);
        s += "|";
    };
    (add(values), ...);
    return s;
}

// The settings that the dialog edits, as one comparable text.
std::string settings_snapshot() {
    return joined(settings_link_colour(), settings_create_on_double_click(),
                  settings_ask_before_create(), settings_report_type(), settings_report_format(),
                  settings_report_all(), settings_output_dest(), settings_output_name(),
                  settings_input_type(), settings_input_name(), settings_echo(),
                  settings_decimals(), settings_number_style(), settings_trig_units(),
                  settings_auto_output(), settings_iterations(), settings_list_format(),
                  settings_x_intervals(), settings_y_intervals(), settings_plot_cells(),
                  settings_plot_colour());
}

// Runs the settings dialog; act sees it with every page shown once.
void settings(std::function<void(const DialogRequest&, QTabWidget*)> act, bool ok = true,
              bool visit_all = true) {
    g_answer = [=](const DialogRequest& r) {
        if (r.kind != DLG_SETTINGS) return false;
        auto* tabs = child<QTabWidget>(r, "settings_tabs");
        if (visit_all)
            for (int i = tabs->count() - 1; i >= 0; --i)
                tabs->setCurrentIndex(i);
        act(r, tabs);
        return ok;
    };
    dispatch_command(CMD_SETTINGS);
}

QStringList entries(QComboBox* c) {
    QStringList l;
    for (int i = 0; i < c->count(); ++i)
        l << c->itemText(i);
    return l;
}

} // namespace

class DialogsTest : public gui_test::WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() { window_ = gui_test::window_open_with(frontend_, install_hook); }

    void init() {
        install_hook();
        g_answer = nullptr;
        g_seen.clear();
        if (search_bar()) search_bar_close();
        web_set_modified(false);
        dispatch_command(CMD_NEW_WEB);
        QCOMPARE(current_name(), std::string("home"));
    }

    void cleanupTestCase() {
        if (search_bar()) search_bar_close();
        gui_test::window_close(window_);
    }

    void searchWalksCellsAndWrapsToTheStartCell() {
        make_cell("b", "a target here");
        make_cell("c", "nothing");
        make_cell("a", "no match");
        cell_go_command("home");
        QsciScintilla* t = show_text("target then target", 0);
        int history = back_count();
        web_set_modified(false);
        find("target");
        QVERIFY(search_active());
        QVERIFY(search_bar());
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(sel_start(t), 0L);
        QCOMPARE(sel_end(t), 6L);
        click("bar_next");
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(sel_start(t), 12L);
        // a has none, b has one: home wraps round to a, then b.
        click("bar_next");
        QCOMPARE(current_name(), std::string("b"));
        QCOMPARE(sel_start(t), 2L);
        QVERIFY(search_match_selected());
        // c has none: back round to home's first match.
        click("bar_next");
        QCOMPARE(current_name(), std::string("home"));
        QCOMPARE(sel_start(t), 0L);
        // The walk changed no history and marked nothing modified.
        QVERIFY(!web_modified());
        QCOMPARE(back_count(), history);
    }

    void wordBeforeTheCaretIsFoundAfterAllOtherCells() {
        make_cell("x", "other");
        make_cell("y", "words");
        cell_go_command("home");
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
        cell_go_command("home");
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
        shell_show_view(VIEW_VALUE);
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("X foo X"));
    }

    void searchInProgressRefusesRunAndSecondFind() {
        cell_set_script(current_cell(), "out('ran')");
        reshow_current();
        shell_show_view(VIEW_TEXT);
        find("nothing here");
        QVERIFY(search_active());
        shell_windows().console->clear();
        dispatch_command(CMD_RUN);
        QCOMPARE(status(), std::string("End search before running"));
        QVERIFY(editor_bytes(shell_windows().console).find("ran") == std::string::npos);
        g_seen.clear();
        dispatch_command(CMD_FIND);
        QCOMPARE(status(), std::string("Search or Replace already in progress"));
        QVERIFY(g_seen.empty());
        click("bar_cancel");
        QVERIFY(!search_active());
        QVERIFY(!search_bar());
        dispatch_command(CMD_RUN);
        QVERIFY(editor_bytes(shell_windows().console).find("ran") != std::string::npos);
    }

    void replaceDialogFillsCutsAndRefusesEmpty() {
        settings_set_search_text("old");
        settings_set_replace_text("new");
        settings_set_search_case(1);
        bool filled = false;
        g_answer = [&](const DialogRequest& r) {
            filled = child<QLineEdit>(r, "search_for")->text() == "old" &&
                     child<QLineEdit>(r, "replace_with")->text() == "new" &&
                     child<QCheckBox>(r, "case_sensitive")->isChecked() &&
                     r.dialog->windowTitle() == "Replace";
            filled = filled && search_active(); // set while the dialog is open
            child<QLineEdit>(r, "search_for")->setText("changed");
            return false;
        };
        dispatch_command(CMD_FIND);
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

    void searchBarKeys() {
        QsciScintilla* t = show_text("one two one", 0);
        window_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window_));
        find("one");
        QPushButton* next = bar_child<QPushButton>("bar_next");
        QCOMPARE(sel_start(t), 0L);
        // Enter is "next"; Tab steps through the bar's own controls.
        QTest::keyClick(next, Qt::Key_Return);
        QCOMPARE(sel_start(t), 8L);
        next->setFocus();
        QTest::keyClick(next, Qt::Key_Tab);
        QVERIFY(bar_child<QPushButton>("bar_repl")->hasFocus());
        QTest::keyClick(bar_child<QPushButton>("bar_repl"), Qt::Key_Backtab);
        QVERIFY(next->hasFocus());
        QTest::keyClick(next, Qt::Key_Escape);
        QVERIFY(!search_active());
        QTRY_VERIFY(!window_->findChild<QWidget*>("search_bar"));
    }

    void realDialogsAnswerEnterAndEscape() {
        dialogs_set_hook(nullptr);
        auto modal = [](std::function<void(QWidget*)> act) {
            QTimer::singleShot(0, [act] {
                QWidget* w = QApplication::activeModalWidget();
                QVERIFY(w);
                act(w);
            });
        };
        show_text("find me");
        modal([](QWidget* d) {
            QTest::keyClicks(d->findChild<QLineEdit*>("search_for"), "me");
            QTest::keyClick(d->findChild<QLineEdit*>("search_for"), Qt::Key_Return);
        });
        dispatch_command(CMD_FIND);
        QVERIFY(search_bar());
        QCOMPARE(sel_start(shell_windows().text), 5L);
        search_bar_close();
        modal([](QWidget* d) { QTest::keyClick(d, Qt::Key_Escape); });
        dispatch_command(CMD_FIND);
        QVERIFY(!search_active());
        // Zoom: Down then Enter picks the next entry.
        settings_set_zoom(0);
        modal([](QWidget* d) {
            QTest::keyClick(d->findChild<QComboBox*>("zoom_list"), Qt::Key_Down);
            QTest::keyClick(d, Qt::Key_Return);
        });
        dispatch_command(CMD_ZOOM);
        QCOMPARE(settings_zoom(), 4);
        // Settings: Enter is OK.
        modal([](QWidget* d) {
            d->findChild<QRadioButton*>("link_colour_2")->setChecked(true);
            QTest::keyClick(d, Qt::Key_Return);
        });
        dispatch_command(CMD_SETTINGS);
        QCOMPARE(int(settings_link_colour()), 2);
    }

    void zoomDialogMapsBothWays() {
        settings_set_zoom(3);
        std::string opened;
        QStringList shown;
        g_answer = [&](const DialogRequest& r) {
            opened = r.text;
            auto* list = child<QComboBox>(r, "zoom_list");
            shown = entries(list);
            opened += "/" + list->currentText().toStdString();
            list->setCurrentIndex(list->findText("330%"));
            return true;
        };
        dispatch_command(CMD_ZOOM);
        QCOMPARE(opened, std::string("127%/127%"));
        QCOMPARE(shown, (QStringList{"42%", "70%", "100%", "127%", "165%", "180%", "220%", "275%",
                                     "330%"}));
        QCOMPARE(settings_zoom(), 20);
        auto zoom_of = [](QsciScintilla* e) {
            return int(e->SendScintilla(QsciScintillaBase::SCI_GETZOOM));
        };
        QCOMPARE(zoom_of(shell_windows().text), 20);
        QCOMPARE(zoom_of(shell_windows().console), 20);
        QCOMPARE(zoom_of(shell_windows().value), 0);
        QCOMPARE(zoom_of(shell_windows().script), 0);
        // Cancel keeps the setting; no selection stores 0.
        g_answer = [](const DialogRequest&) { return false; };
        dispatch_command(CMD_ZOOM);
        QCOMPARE(settings_zoom(), 20);
        g_answer = [](const DialogRequest& r) {
            child<QComboBox>(r, "zoom_list")->setCurrentIndex(-1);
            return true;
        };
        dispatch_command(CMD_ZOOM);
        QCOMPARE(settings_zoom(), 0);
        // Every setting opens on the entry whose range holds it.
        const int first[] = {-10, -3, -1, 2, 5, 7, 9, 11, 17};
        const int last[] = {-4, -2, 1, 4, 6, 8, 10, 16, 20};
        for (int i = 0; i < ZOOM_ENTRIES; ++i) {
            QCOMPARE(zoom_entry_of(first[i]), i);
            QCOMPARE(zoom_entry_of(last[i]), i);
            QCOMPARE(zoom_entry_of(zoom_entry_value(i)), i);
        }
        QCOMPARE(zoom_entry_of(-11), 2);
        QCOMPARE(zoom_entry_of(21), 2);
    }

    // A web naming a file outside its folder: the user is asked once per
    // path in a session, and a refusal touches nothing.
    void outsidePathAskedOncePerPath() {
        QTemporaryDir dir;
        const std::string refused = dir.filePath("refused.txt").toStdString();
        const std::string allowed = dir.filePath("allowed.txt").toStdString();
        g_answer = [&](const DialogRequest& r) {
            return r.kind == DLG_ALLOW_PATH && r.text.find(allowed) != std::string::npos;
        };
        auto run_writing = [&](const std::string& path) {
            cell_set_script(current_cell(), ("set outname '" + path +
                                             "' set outtype 'file' out('x') set outtype 'screen'")
                                                .c_str());
            reshow_current();
            QTest::keyClick(window_, Qt::Key_R, Qt::AltModifier);
        };
        auto asked = [&] {
            int n = 0;
            for (const DialogRequest& r : g_seen) n += r.kind == DLG_ALLOW_PATH;
            return n;
        };
        run_writing(refused);
        QCOMPARE(asked(), 1);
        QVERIFY(g_seen.back().text.find(refused) != std::string::npos);
        QVERIFY(!QFile::exists(QString::fromStdString(refused)));
        run_writing(refused);
        QCOMPARE(asked(), 1);
        QVERIFY(!QFile::exists(QString::fromStdString(refused)));

        run_writing(allowed);
        QCOMPARE(asked(), 2);
        QFile written(QString::fromStdString(allowed));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll(), QByteArray("x"));
        written.remove();
        run_writing(allowed);
        QCOMPARE(asked(), 2);
        QVERIFY(QFile::exists(QString::fromStdString(allowed)));
    }

    void aboutBoxShowsIconAndVersion() {
        bool icon = false;
        g_answer = [&](const DialogRequest& r) {
            auto* box = qobject_cast<QMessageBox*>(r.dialog);
            icon = box && !box->iconPixmap().isNull() && box->text() == "Tarvex   v" TARVEX_VERSION;
            return true;
        };
        dispatch_command(CMD_ABOUT);
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
        settings([](const DialogRequest& r,
                    QTabWidget*) { child<QLineEdit>(r, "iterations")->setText("3"); });
        QCOMPARE(settings_iterations(), 3u);
        QVERIFY(web_modified());
    }

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
            child<QLineEdit>(r, "report_format")->setText(QString(300, 'r'));
            child<QLineEdit>(r, "xmin")->setText("-3junk");
            child<QLineEdit>(r, "ymax")->setText("junk");
            child<QRadioButton>(r, "plot_colour_3")->setChecked(true);
            child<QComboBox>(r, "digits")->setCurrentIndex(8);
            child<QRadioButton>(r, "exponential")->setChecked(true);
        });
        QCOMPARE(std::string(settings_report_format()), std::string(256, 'r'));
        QCOMPARE(settings_xmin(), -3.0);
        QCOMPARE(settings_ymax(), 0.0);
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
            QCOMPARE(entries(child<QComboBox>(r, "report_type")),
                     (QStringList{"Formatted", "In Pointers", "Out Pointers", "Trail"}));
            QCOMPARE(child<QComboBox>(r, "digits")->count(), 9);
            QCOMPARE(entries(child<QComboBox>(r, "input_source")),
                     (QStringList{"Console", "Cell", "File"}));
            QCOMPARE(entries(child<QComboBox>(r, "output_dest")), (QStringList{"Console", "File"}));
        });
        // Neither list changed: the pair is kept as it was.
        QCOMPARE(std::string(settings_plot_cells()), std::string("cherry,nosuch"));
        settings([](const DialogRequest& r, QTabWidget*) {
            child<QComboBox>(r, "x_cell")->setCurrentIndex(2);
        });
        QCOMPARE(std::string(settings_plot_cells()), std::string("home,nosuch"));
    }

    // TARVEX_SCREENSHOTS=dir writes the settings pages and the search bar
    // in use as PNG files, to be looked at.
    void screenshots() {
        QString dir = qEnvironmentVariable("TARVEX_SCREENSHOTS");
        if (dir.isEmpty()) QSKIP("set TARVEX_SCREENSHOTS=dir to write screenshots");
        QDir().mkpath(dir);
        settings(
            [&](const DialogRequest& r, QTabWidget* tabs) {
                r.dialog->adjustSize();
                r.dialog->show();
                for (int i = 0; i < tabs->count(); ++i) {
                    tabs->setCurrentIndex(i);
                    QCoreApplication::processEvents();
                    QVERIFY(r.dialog->grab().save(
                        dir + QString("/settings_%1_%2.png").arg(i).arg(tabs->tabText(i))));
                }
                r.dialog->hide();
            },
            false);
        for (DialogKind kind : {DLG_REPLACE, DLG_ZOOM}) {
            bool saved = false;
            g_answer = [&](const DialogRequest& r) {
                r.dialog->adjustSize();
                r.dialog->show();
                QCoreApplication::processEvents();
                saved = r.dialog->grab().save(dir + (kind == DLG_REPLACE ? "/replace.png" : "/zoom.png"));
                r.dialog->hide();
                return false;
            };
            dispatch_command(kind == DLG_REPLACE ? CMD_FIND : CMD_ZOOM);
            QVERIFY(saved);
        }
        make_cell("second", "the word is here");
        cell_go_command("home");
        show_text("a word to find, and second");
        find("word");
        click("bar_next");
        QCoreApplication::processEvents();
        QVERIFY(search_bar());
        QVERIFY(window_->grab().save(dir + "/search_bar.png"));
    }

  private:
    // Every dialog asks g_answer; a test that shows dialogs for real
    // removes the hook, and the next test puts it back.
    static void install_hook() {
        dialogs_set_hook([](const DialogRequest& r) {
            g_seen.push_back(r);
            DialogAnswer a;
            a.accepted = g_answer ? g_answer(r) : false;
            return a;
        });
    }
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
