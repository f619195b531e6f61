// The zoom dialog, the about box and the settings dialog, against the real
// main window. The dialogs' test hook hands over the built dialog so its
// real controls are used; a few tests run the dialogs for real and drive
// them with keys.
#include "gui_test_support.h"

#include "plot/plot.h"
#include "tarvex_version.h"

#include <QMessageBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>

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
        QCOMPARE(sel_start(shell_windows().text), 5L);
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
};

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
