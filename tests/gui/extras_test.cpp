// GUI tests of the editor extras against the real main window (offscreen):
// the error position after a failed run, script colouring, the recent webs
// list and dropped web files, and the plot tab (painting, taps, ErasePlot,
// PNG export). Each recent-webs test keeps its settings in its own folder.
#include "gui_test_support.h"

#include "engine/engine_start.h"
#include "plot/plot.h"
#include "plot/plot_clip.h"
#include "plot/qt/plot_paint.h"
#include "plot/qt/plot_picture.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/plot_view.h"
#include "shell/qt_frontend.h"
#include "shell/recent_webs.h"
#include "shell/script_style.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <QComboBox>
#include <QDockWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <Qsci/qsciscintilla.h>
#include <QtTest>

#include <deque>
#include <set>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

void go(const char* name) {
    shell_windows().name_box->setEditText(name);
    go_to_name();
}

std::pair<long, long> script_selection() {
    QsciScintilla* s = shell_windows().script;
    return {s->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART),
            s->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND)};
}

int style_at(QsciScintilla* e, size_t pos) {
    return int(
        e->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, static_cast<unsigned long>(pos)));
}

// Pixels of the picture in (about) the plot's line colour.
int pen_pixels(const QImage& image) {
    PlotRgb pen = plot_pen_colour();
    QColor c(pen.r, pen.g, pen.b);
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor p = image.pixelColor(x, y);
            if (std::abs(p.red() - c.red()) + std::abs(p.green() - c.green()) +
                    std::abs(p.blue() - c.blue()) <
                60)
                ++n;
        }
    return n;
}

// The widget position of the centre of surface pixel s, in the view's
// layout (a pixel holds the plot points right of and above its position).
QPoint surface_to_widget(QWidget* w, QPoint s) {
    PlotLayout l = plot_layout(QSizeF(w->size()), w->devicePixelRatioF(), w->font());
    return plot_layout_point(l, s.x() + 0.5, s.y() - 0.5).toPoint();
}

} // namespace

class ExtrasTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;
    int settings_round_ = 0;

    QString path(const char* name) const { return dir_.path() + "/" + name; }

    // A settings folder of the test's own.
    void fresh_settings() {
        QString folder = dir_.path() + QString("/settings%1").arg(++settings_round_);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    }

    // The web as saved in name, with one cell of that name.
    std::string saved_web(const char* name) {
        dispatch_command(CMD_NEW_WEB);
        go(name);
        dispatch_command(CMD_BACK);
        std::string file = path(name).toStdString() + ".tvx";
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, file);
        return file;
    }

    // Runs home, which calls callee, whose script is script.
    void run_calling(const std::string& script) {
        go("callee");
        set_pane(VIEW_SCRIPT, script);
        dispatch_command(CMD_BACK);
        set_pane(VIEW_SCRIPT, "set r to callee!");
        dispatch_command(CMD_RUN);
        QCOMPARE(current_name(), std::string("home"));
    }

  private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-extras-tests");
        fresh_settings();
        window_ = window_open(frontend_, DialogAnswer{});
    }

    void init() { fresh_web(); }

    void cleanupTestCase() { window_close(window_); }

    void errorSelectsTheFailingTokenOfTheCalledCell() {
        go("r");
        dispatch_command(CMD_BACK);
        go("q");
        dispatch_command(CMD_BACK);
        struct Case {
            std::string script, token; // the token is found from the end
            const char* status;
        };
        const Case cases[] = {
            // On the first line; a comment right after the token is not
            // part of it.
            {"set q to 1 + *# star\r\nout(q)", "*", "Invalid expression (line 1, column 14)"},
            // On a later line.
            {"set q to 1\r\nset q to q + 1\r\n  out(q / )\r\n", ")",
             "Invalid expression (line 3, column 11)"},
            // After comments, at the end of the script.
            {"# set up\r\nset q to 2 # two\r\nset q to q * (3 +", "",
             "Unexpected end of script (line 3, column 18)"},
        };
        for (const Case& c : cases) {
            run_calling(c.script);
            QCOMPARE(status_line_text(), std::string(c.status));
            long start = c.token.empty() ? long(c.script.size()) : long(c.script.rfind(c.token));
            long end = start + long(c.token.size());
            // Home's own selection is untouched; visiting callee shows it.
            go("callee");
            QCOMPARE(shell_current_view(), VIEW_SCRIPT);
            QCOMPARE(script_selection(), std::make_pair(start, end));
            dispatch_command(CMD_BACK);
        }
        // A failing cell that is the one shown selects at once.
        set_pane(VIEW_SCRIPT, "out(1)\r\n# nothing\r\nset q to q + ) ");
        dispatch_command(CMD_RUN);
        long at = long(std::string("out(1)\r\n# nothing\r\nset q to q + ").size());
        QCOMPARE(script_selection(), std::make_pair(at, at + 1));
        QCOMPARE(status_line_text(), std::string("Invalid expression (line 3, column 14)"));
        // A run that ends well, or by exit, leaves the selection alone.
        set_pane(VIEW_SCRIPT, "set q to 1 exit");
        shell_windows().script->SendScintilla(QsciScintillaBase::SCI_SETSEL, 2UL, 3L);
        dispatch_command(CMD_RUN);
        QCOMPARE(script_selection(), std::make_pair(2L, 3L));
    }

    void scriptColouringFollowsTheLexer() {
        go("x");
        dispatch_command(CMD_BACK);
        link_refresh();
        const std::string script = "# note\r\nset x to sqrt(2) + pi * 3.5\r\nout('hi', home, "
                                   "word)\r\nif (x > 1) { brk('b') }";
        set_pane(VIEW_SCRIPT, script);
        QsciScintilla* s = shell_windows().script;
        s->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        auto at = [&](const char* w, size_t from = 0) { return script.find(w, from); };
        QCOMPARE(style_at(s, 0), STYLE_COMMENT);
        QCOMPARE(style_at(s, at("note") + 3), STYLE_COMMENT);
        QCOMPARE(style_at(s, at("set")), STYLE_RESWORD);
        QCOMPARE(style_at(s, at("sqrt") + 3), STYLE_BUILTIN);
        QCOMPARE(style_at(s, at("pi")), STYLE_SYSCONST);
        QCOMPARE(style_at(s, at("3.5") + 2), STYLE_NUMBER);
        QCOMPARE(style_at(s, at("'hi'")), STYLE_STRING);
        QCOMPARE(style_at(s, at("'hi'") + 3), STYLE_STRING);
        QCOMPARE(style_at(s, at("word")), STYLE_PLAIN); // a bare word
        QCOMPARE(style_at(s, at("(2)")), STYLE_PLAIN);
        QCOMPARE(style_at(s, at("if")), STYLE_RESWORD);
        QCOMPARE(style_at(s, at("(x >") + 1), STYLE_LINK);
        // Cell names still link: the link style is clickable (while Ctrl is
        // held) and visits.
        size_t home = at("home");
        QCOMPARE(style_at(s, home), STYLE_LINK);
        QCOMPARE(style_at(s, home + 3), STYLE_LINK);
        QVERIFY(s->SendScintilla(QsciScintillaBase::SCI_STYLEGETHOTSPOT, STYLE_LINK) == 0);
        QTest::keyPress(s, Qt::Key_Control, Qt::ControlModifier);
        QVERIFY(s->SendScintilla(QsciScintillaBase::SCI_STYLEGETHOTSPOT, STYLE_LINK) != 0);
        QTest::keyRelease(s, Qt::Key_Control);
        QVERIFY(s->SendScintilla(QsciScintillaBase::SCI_STYLEGETHOTSPOT, STYLE_LINK) == 0);
        QVERIFY(s->SendScintilla(QsciScintillaBase::SCI_STYLEGETBOLD, STYLE_LINK) != 0);
        // The styles are distinct from each other and from the link.
        std::set<long> colours;
        for (int st : std::initializer_list<int>{STYLE_PLAIN, STYLE_LINK, STYLE_RESWORD, STYLE_BUILTIN, STYLE_SYSCONST,
                                            STYLE_NUMBER, STYLE_STRING, STYLE_COMMENT})
            colours.insert(s->SendScintilla(QsciScintillaBase::SCI_STYLEGETFORE, st));
        QCOMPARE(int(colours.size()), 8);
        QString shot = qEnvironmentVariable("TARVEX_SCRIPT_SHOT");
        if (!shot.isEmpty()) QVERIFY(window_->grab().save(shot));
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
        link_clicked(SLOT_SCRIPT, long(home) + 1);
        QCOMPARE(current_name(), std::string("home"));
    }

    void recentWebsKeepTheLastEight() {
        fresh_settings();
        QVERIFY(recent_webs_list().empty());
        const char* names[] = {"w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "w9", "w10"};
        std::vector<std::string> files;
        for (const char* n : names)
            files.push_back(saved_web(n));
        std::vector<std::string> list = recent_webs_list();
        QCOMPARE(int(list.size()), RECENT_WEBS_MAX);
        QCOMPARE(list.front(), files[9]);
        QCOMPARE(list.back(), files[2]);
        // Opening one moves it to the front, once.
        dispatch_command(CMD_OPEN, NOTE_NONE, files[5]);
        list = recent_webs_list();
        QCOMPARE(list.front(), files[5]);
        QCOMPARE(int(std::count(list.begin(), list.end(), files[5])), 1);
        QCOMPARE(int(list.size()), RECENT_WEBS_MAX);
        // The File menu lists them, and they are on disk for the next start.
        QMenu* file = window_->menuBar()->actions().first()->menu();
        std::vector<std::string> shown;
        for (QAction* a : file->actions())
            if (a->objectName() == "recent_web")
                shown.push_back(a->data().toString().toStdString());
        QCOMPARE(shown, list);
        QSettings disk(QCoreApplication::organizationName(), "Tarvex");
        QCOMPARE(int(disk.value("recentWebs").toStringList().size()), RECENT_WEBS_MAX);
        QVERIFY(QFile::exists(disk.fileName()));
        QVERIFY(disk.fileName().startsWith(dir_.path()));
        // A fresh settings folder starts empty.
        fresh_settings();
        QVERIFY(recent_webs_list().empty());
    }

    void recentWebOpensWithTheSaveQuestion() {
        fresh_settings();
        std::string kept = saved_web("kept");
        dispatch_command(CMD_NEW_WEB);
        set_pane(VIEW_TEXT, "unsaved");
        QVERIFY(web_modified());
        QMenu* file = window_->menuBar()->actions().first()->menu();
        QAction* entry = nullptr;
        for (QAction* a : file->actions())
            if (a->objectName() == "recent_web") entry = entry ? entry : a;
        QVERIFY(entry);
        QCOMPARE(entry->data().toString().toStdString(), kept);
        g_answers.push_back(no());
        entry->trigger();
        QVERIFY(seen(DLG_SAVE_CHANGES));
        QCOMPARE(web_file_name(), kept);
        QVERIFY(cell_find("kept") != 0);
    }

    void droppedWebFileOpens() {
        fresh_settings();
        std::string web = saved_web("dropped");
        dispatch_command(CMD_NEW_WEB);
        set_pane(VIEW_SCRIPT, "edited");
        QVERIFY(web_modified());
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(web))});
        QCOMPARE(recent_webs_dropped_file(&data), web);
        // Dropped on an editor, which would otherwise take it as text.
        QWidget* target = shell_windows().script->viewport();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        g_answers.push_back(no());
        QApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
        QVERIFY(web_file_name() != web); // not from inside the drop
        QTRY_COMPARE(web_file_name(), web);
        QVERIFY(seen(DLG_SAVE_CHANGES));
        QVERIFY(cell_find("dropped") != 0);
        QCOMPARE(recent_webs_list().front(), web);
        // Other drops are not taken.
        QMimeData text;
        text.setUrls({QUrl::fromLocalFile(path("notes.txt"))});
        QCOMPARE(recent_webs_dropped_file(&text), std::string());
        QMimeData two;
        two.setUrls(
            {QUrl::fromLocalFile(QString::fromStdString(web)), QUrl::fromLocalFile(path("b.qlt"))});
        QCOMPARE(recent_webs_dropped_file(&two), std::string());
        QMimeData qlt;
        qlt.setUrls({QUrl::fromLocalFile(path("OLD.QLT"))});
        QCOMPARE(recent_webs_dropped_file(&qlt), path("OLD.QLT").toStdString());
        QMimeData remote;
        remote.setUrls({QUrl("https://example.org/a.tvx")});
        QCOMPARE(recent_webs_dropped_file(&remote), std::string());
    }

    void plotTabPaintsTapsErasesAndExports() {
        dispatch_command(CMD_OPEN, NOTE_NONE, TARVEX_SOURCE_DIR "/examples/curve.tvx");
        QCOMPARE(web_display_name(), std::string("curve"));
        dispatch_command(CMD_RUN);
        QWidget* plot = shell_windows().plot;
        shell_windows().tabs->setCurrentIndex(VIEW_PLOT);
        QCOMPARE(shell_current_view(), VIEW_PLOT);
        QImage shown = plot->grab().toImage();
        QVERIFY2(pen_pixels(shown) > 200, qPrintable(QString::number(pen_pixels(shown))));
        QString shot = qEnvironmentVariable("TARVEX_PLOT_SHOT");
        if (!shot.isEmpty()) QVERIFY(window_->grab().save(shot));

        // Taps read out at two window sizes; only the left button, only on
        // the plot tab.
        for (QSize size : {QSize(900, 680), QSize(520, 900)}) {
            window_->resize(size);
            QTest::qWait(20);
            status_line_show("");
            QTest::mouseClick(plot, Qt::LeftButton, {}, surface_to_widget(plot, QPoint(112, 94)));
            QCOMPARE(status_line_text(), std::string("( 0 , 0 )"));
            QTest::mouseClick(plot, Qt::LeftButton, {}, surface_to_widget(plot, QPoint(32, 174)));
            QCOMPARE(status_line_text(), std::string("( -5 , -5 )"));
            QTest::mouseClick(plot, Qt::LeftButton, {}, surface_to_widget(plot, QPoint(192, 14)));
            QCOMPARE(status_line_text(), std::string("( 5 , 5 )"));
            QTest::mouseClick(plot, Qt::RightButton, {}, surface_to_widget(plot, QPoint(112, 94)));
            QCOMPARE(status_line_text(), std::string("( 5 , 5 )"));
        }
        window_->resize(900, 680);

        // The export writes the surface itself.
        QMenu menu;
        plot_view_fill_menu(menu);
        QCOMPARE(menu.actions().size(), 1);
        QCOMPARE(menu.actions().first()->text(), QString("Save Plot As..."));
        g_answers.push_back(named(path("curve").toStdString()));
        menu.actions().first()->trigger();
        QCOMPARE(g_seen.back().kind, DLG_SAVE);
        QCOMPARE(g_seen.back().caption, std::string("Save Plot As"));
        QCOMPARE(g_seen.back().text, std::string(TARVEX_SOURCE_DIR "/examples/curve.png"));
        QImage written(path("curve.png"));
        QCOMPARE(written.size(), QSize(PLOT_SURFACE_WIDTH, PLOT_SURFACE_HEIGHT));
        QCOMPARE(written.convertToFormat(QImage::Format_RGB32),
                 plot_render_image(1.0).convertToFormat(QImage::Format_RGB32));
        QVERIFY(pen_pixels(written) > 100);
        // A file that cannot be written says so.
        g_answers.push_back(named(path("missing/folder/p.png").toStdString()));
        QVERIFY(!plot_view_save_as());
        QCOMPARE(status_line_text(), std::string("Cannot write the plot image"));

        // ErasePlot (Ctrl+E) leaves the frame only.
        QTest::keyClick(window_, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(pen_pixels(plot->grab().toImage()), 0);
        QVERIFY(plot_surface_present());

        // Out of sight (another tab, or the dock closed): taps do nothing.
        auto* dock = window_->findChild<QDockWidget*>("plot_dock");
        if (layout_compact())
            shell_windows().tabs->setCurrentIndex(VIEW_LIST);
        else
            dock->close();
        status_line_flash("marker");
        QTest::mouseClick(plot, Qt::LeftButton, {}, surface_to_widget(plot, QPoint(112, 94)));
        QCOMPARE(status_line_text(), std::string("marker"));
        if (!layout_compact()) dock->show();
    }

    void fileExportWritesTheChosenFormat() {
        std::string web = saved_web("shared");
        QAction* export_action =
            window_->menuBar()->actions().first()->menu()->findChild<QAction*>("export");
        QVERIFY(export_action);
        // An edit in the pane is exported, and the web stays as it was.
        shell_show_view(VIEW_TEXT);
        QsciScintilla* text = shell_windows().text;
        text->setFocus();
        QTest::keyClicks(text, "see <home>");
        g_answers.push_back(named(path("shared.md").toStdString()));
        export_action->trigger();
        QCOMPARE(g_seen.back().caption, std::string("Export"));
        QCOMPARE(g_seen.back().text, path("shared.html").toStdString());
        QCOMPARE(status_line_text(), std::string("Exported"));
        QFile md(path("shared.md"));
        QVERIFY(md.open(QIODevice::ReadOnly));
        QString written = QString::fromUtf8(md.readAll());
        QVERIFY(written.startsWith("# shared\n"));
        QVERIFY(written.contains("see \\<[home](#cell-home)\\>"));
        QCOMPARE(web_file_name(), web);
        // A name without a suffix gets the first filter's.
        g_answers.push_back(named(path("page").toStdString()));
        export_action->trigger();
        QVERIFY(QFile::exists(path("page.html")));
        // Cancelled: nothing is written; a folder that is not there says so.
        g_answers.push_back(no());
        export_action->trigger();
        g_answers.push_back(named(path("none/x.dot").toStdString()));
        export_action->trigger();
        QCOMPARE(status_line_text(), std::string("Cannot create the export file"));
        QCOMPARE(QDir(dir_.path()).entryList({"shared.*", "page*", "none"}).size(), 3);
    }
};

QTEST_MAIN(ExtrasTest)
#include "extras_test.moc"
