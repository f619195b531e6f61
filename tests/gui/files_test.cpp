// The window as it starts, and web files through it: opening, the save question on New, Open,
// Quit and closing the window, Save As adding the extension, the recent
// webs list and dropped web files, and File Export. Each recent-webs test
// keeps its settings in its own folder. The single instance: the socket
// lives in the session's runtime folder, a later start hands its web file
// over and the running window opens it through File Open, a later start
// without a file only raises the window, and a socket left by a crashed
// instance does not keep a new one from listening.
#include "gui_test_support.h"

#include "core/value.h"
#include "engine/engine_start.h"
#include "shell/instance.h"
#include "shell/preferences.h"
#include "shell/recent_webs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

// A socket file bound but never listened on, as a crash leaves it.
void leave_dead_socket(const std::string& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
}

} // namespace

class FilesTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;
    QTemporaryDir runtime_;
    QObject* owner_ = nullptr; // the running instance's server
    int settings_round_ = 0;

    QString path(const char* name) const { return dir_.path() + "/" + name; }

    // A settings folder of the test's own.
    void fresh_settings() {
        QString folder = dir_.path() + QString("/settings%1").arg(++settings_round_);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    }

    // The web as saved in file (name.tvx when none is given), with one
    // cell, name.
    std::string saved_web(const char* name, const char* file = nullptr) {
        dispatch_command(CMD_NEW_WEB);
        make_cell(name);
        std::string saved = (file ? path(file) : path(name) + ".tvx").toStdString();
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, saved);
        return saved;
    }

    void claim_as_running_instance() {
        delete owner_;
        owner_ = new QObject;
        QVERIFY(instance_claim(owner_, "", instance_serve));
    }

  private slots:
    void initTestCase() {
        QCoreApplication::setOrganizationName("tarvex-files-tests");
        QVERIFY(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        fresh_settings();
        window_open_active(cancel());
        QCOMPARE(status(), std::string("Ready"));
        claim_as_running_instance();
    }

    void init() { fresh_web(true); }

    // The dialogs' hook back after a test that showed real ones.
    void cleanup() { answer_from_queue(cancel()); }

    void cleanupTestCase() {
        delete owner_;
        instance_release();
        window_close(window_);
    }

    void startsOnTheListWithSixTabs() {
        QTabBar* tabs = shell_windows().tabs;
        QCOMPARE(tabs->count(), 6);
        QCOMPARE(shell_current_view(), VIEW_LIST);
        QCOMPARE(window_->windowTitle(), QString("Tarvex - (Untitled)[*]"));
    }

    // Opening a web shows each of its cells once in the list, home chosen.
    void openedWebListsEachCellOnce() {
        std::string path = (dir_.path() + "/three.tvx").toStdString();
        std::ofstream(path) << "<cell><cname>b</cname></cell><cell><cname>home</cname></cell>"
                               "<cell><cname>a</cname></cell><cell><cname>c</cname></cell></eof>";
        web_set_modified(false);
        g_answers.push_back(named(path));
        key(Qt::Key_O, Qt::ControlModifier);
        QTreeWidget* list = shell_windows().list;
        QCOMPARE(list->topLevelItemCount(), 4);
        std::vector<NodeHandle> listed;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            listed.push_back(list_item_cell(list->topLevelItem(i)));
        for (const char* name : {"a", "b", "c", "home"})
            QVERIFY(std::count(listed.begin(), listed.end(), cell_find(name)) == 1);
        QCOMPARE(list_item_cell(list->currentItem()), cell_find("home"));
    }

    // A web past the store: the question names the file and both sizes; No
    // keeps the web shown, Reopen starts the engine again at the size the
    // web needs and opens it there.
    void aWebPastTheStoreIsReopenedInALargerStore() {
        std::string big = path("big-web-of-cells.tvx").toStdString();
        {
            std::ofstream out(big);
            out << "<cell><cname>home</cname></cell>";
            for (int k = 1; k <= 3000; ++k)
                out << "<cell><cname>c" << k << "</cname><text>" << std::string(100, 't')
                    << "</text></cell>";
        }
        for (bool reopen : {false, true}) {
            set_pane(VIEW_TEXT, "shown");
            g_seen.clear();
            g_answers.push_back(no());
            g_answers.push_back(named(big));
            g_answers.push_back(DialogAnswer{reopen, SAVE_CANCEL, {}});
            key(Qt::Key_O, Qt::ControlModifier);
            QCOMPARE(times_seen(DLG_REOPEN_STORE, big + " needs a store of "), 1);
            if (!reopen) {
                QCOMPARE(node_count(), NODE_COUNT_DEFAULT);
                QCOMPARE(text_to_string(cell_text(cell_root())), std::string("shown"));
                QVERIFY(window_->isWindowModified());
                continue;
            }
            QVERIFY(node_count() > NODE_COUNT_DEFAULT && node_count() % 1000 == 0);
            // The whole name, where the handheld's title bar took ten characters.
            QCOMPARE(window_->windowTitle(), QString("Tarvex - big-web-of-cells[*]"));
            QCOMPARE(shell_windows().list->topLevelItemCount(), 3001);
            QCOMPARE(cell_table_count(), 3001);
        }
        panes_forget_documents();
        engine_restart(NODE_COUNT_DEFAULT);
        fresh_web(true);
    }

    // Edit > Preferences keeps the store's size in the user's settings for
    // the next start: the web is not marked modified; a size out of range in
    // the settings counts as none.
    void preferencesKeepTheStoreSizeForTheNextStart() {
        fresh_settings();
        QCOMPARE(store_preferred_nodes(), NODE_COUNT_DEFAULT);
        g_act = [](const DialogRequest& r) {
            if (r.kind != DLG_PREFERENCES) return false;
            child<QSpinBox>(r, "storeNodes")->setValue(30000);
            return true;
        };
        menu_command(CMD_PREFERENCES);
        g_act = nullptr;
        QCOMPARE(store_preferred_nodes(), 30000);
        QCOMPARE(node_count(), NODE_COUNT_DEFAULT);
        QVERIFY(!web_modified());
        QSettings(QCoreApplication::organizationName(), "Tarvex").setValue("store/nodes", 70000);
        QCOMPARE(store_preferred_nodes(), NODE_COUNT_DEFAULT);
    }

    // The question comes when the web is modified (a run's mark:
    // ModifiedMark.ARunMarksTheWebOnlyWhenAValueChanges), and only then.
    void saveQuestionOnNewOpenAndQuit() {
        std::string path = (dir_.path() + "/saved.tvx").toStdString();
        key(Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(g_seen.empty());
        set_pane(VIEW_TEXT, "keep me");
        QVERIFY(web_modified());
        QVERIFY(window_->isWindowModified());
        // New, Cancel: nothing changes.
        g_answers.push_back(cancel());
        key(Qt::Key_N, Qt::ControlModifier);
        QVERIFY(seen(DLG_SAVE_CHANGES, "Save current changes in (untitled)?"));
        QVERIFY(web_modified());
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("keep me"));
        // New, Yes on an untitled web: Save As, then the new web.
        g_answers.push_back(yes());
        g_answers.push_back(named(path));
        key(Qt::Key_N, Qt::ControlModifier);
        QVERIFY(seen(DLG_SAVE, ""));
        QVERIFY(QFile::exists(QString::fromStdString(path)));
        QVERIFY(!web_modified());
        QVERIFY(!window_->isWindowModified());
        QCOMPARE(cell_text(current_cell()), Text(0));
        // Open, No: the saved web comes back; its name is the title.
        set_pane(VIEW_TEXT, "throw away");
        shell_show_view(VIEW_LIST);
        g_answers.push_back(no());
        g_answers.push_back(named(path));
        key(Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("keep me"));
        QCOMPARE(window_->windowTitle(), QString("Tarvex - saved[*]"));
        QVERIFY(!web_modified());
        QCOMPARE(shell_current_view(), VIEW_LIST);
        // Open cancelled in the dialog: the web and its mark stay.
        set_pane(VIEW_TEXT, "edited");
        shell_show_view(VIEW_LIST);
        g_answers.push_back(no());
        g_answers.push_back(cancel());
        key(Qt::Key_O, Qt::ControlModifier);
        QVERIFY(web_modified());
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("edited"));
        // Quit, No: the program ends with 0.
        g_answers.push_back(no());
        key(Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(g_exits, (std::vector<int>{0, 0}));
    }

    void closingTheWindow() {
        set_pane(VIEW_TEXT, "unsaved");
        // Cancel keeps the window open.
        g_answers.push_back(cancel());
        QVERIFY(!window_->close());
        QVERIFY(window_->isVisible());
        QVERIFY(seen(DLG_SAVE_CHANGES));
        // A close during a paused run stops the run first, then asks.
        set_pane(VIEW_SCRIPT, "brk('wait') out('never')");
        g_seen.clear();
        when(run_breakpoint_pause, [&] { QVERIFY(!window_->close()); });
        g_answers.push_back(cancel());
        key(Qt::Key_B, Qt::AltModifier);
        QCOMPARE(status(), std::string("Run halted"));
        QTRY_VERIFY(seen(DLG_SAVE_CHANGES));
        QVERIFY(window_->isVisible());
        QVERIFY(console_text().find("never") == std::string::npos);
        // No closes it.
        g_answers.push_back(no());
        QVERIFY(window_->close());
        window_->show();
    }

    void saveAsAddsTheExtensionBeforeAskingToOverwrite() {
        dialogs_set_hook(nullptr);
        QString plain = dir_.filePath("plain");
        QFile::remove(plain + ".tvx");
        when_modal([plain](QWidget* d) {
            QVERIFY(qobject_cast<QFileDialog*>(d));
            QLineEdit* name = d->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            // Pasted, so that no completion list takes the Return.
            name->setText(plain);
            QTest::keyClick(name, Qt::Key_Return);
        });
        key(Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(QFile::exists(plain + ".tvx"));
        QVERIFY(!QFile::exists(plain));
        QCOMPARE(QString::fromStdString(web_file_name()), plain + ".tvx");

        // Again: the question names the real file; No leaves it as it was.
        cell_set_text(current_cell(), "changed");
        QString question;
        when_modal([plain, &question](QWidget* d) {
            QLineEdit* name = d->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText(plain);
            // The question runs its own loop from inside the Return.
            when_modal([&question](QWidget* q) {
                auto* box = qobject_cast<QMessageBox*>(q);
                QVERIFY(box);
                question = box->text();
                // No goes back to the file dialog, which Escape closes.
                when_modal([](QWidget* f) {
                    QVERIFY(qobject_cast<QFileDialog*>(f));
                    QTest::keyClick(f, Qt::Key_Escape);
                });
                box->button(QMessageBox::No)->click();
            });
            QTest::keyClick(name, Qt::Key_Return);
        });
        menu_command(CMD_SAVE_AS);
        QVERIFY2(question.contains("plain.tvx"), qPrintable(question));
        QVERIFY(!QFile::exists(plain));
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
        g_answers.push_back(named(files[5]));
        key(Qt::Key_O, Qt::ControlModifier);
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
    }

    // A recent web chosen from the File menu, or a web file dropped on an
    // editor (which would otherwise take it as text), opens after the save
    // question.
    void recentOrDroppedWebOpensWithTheSaveQuestion() {
        for (const char* name : {"kept", "dropped"}) {
            fresh_settings();
            std::string web = saved_web(name);
            key(Qt::Key_N, Qt::ControlModifier);
            set_pane(VIEW_SCRIPT, "edited");
            QVERIFY(web_modified());
            g_answers.push_back(no());
            if (std::string(name) == "kept") {
                QAction* entry = nullptr;
                for (QAction* a : menu_titled(window_, "&File")->actions())
                    if (a->objectName() == "recent_web") entry = entry ? entry : a;
                QVERIFY(entry);
                QCOMPARE(entry->data().toString().toStdString(), web);
                entry->trigger();
            } else {
                QMimeData data;
                data.setUrls({QUrl::fromLocalFile(QString::fromStdString(web))});
                QWidget* target = shell_windows().script->viewport();
                QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
                QApplication::sendEvent(target, &enter);
                QVERIFY(enter.isAccepted());
                QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
                QApplication::sendEvent(target, &drop);
                QVERIFY(drop.isAccepted());
                QVERIFY(web_file_name() != web); // not from inside the drop
            }
            QTRY_COMPARE(web_file_name(), web);
            QVERIFY(seen(DLG_SAVE_CHANGES));
            QVERIFY(cell_find(name) != 0);
            QCOMPARE(recent_webs_list().front(), web);
        }
        // Other drops are not taken; an old web file is.
        std::string web = path("dropped").toStdString() + ".tvx";
        const struct {
            QList<QUrl> urls;
            std::string taken;
        } drops[] = {
            {{QUrl::fromLocalFile(QString::fromStdString(web))}, web},
            {{QUrl::fromLocalFile(path("notes.txt"))}, ""},
            {{QUrl::fromLocalFile(QString::fromStdString(web)), QUrl::fromLocalFile(path("b.qlt"))},
             ""},
            {{QUrl::fromLocalFile(path("OLD.QLT"))}, path("OLD.QLT").toStdString()},
            {{QUrl("https://example.org/a.tvx")}, ""},
        };
        for (const auto& d : drops) {
            QMimeData other;
            other.setUrls(d.urls);
            QCOMPARE(recent_webs_dropped_file(&other), d.taken);
        }
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

    void socketLivesInTheSessionFolder() {
        std::string path = instance_socket_path();
        QCOMPARE(QFileInfo(QString::fromStdString(path)).absolutePath(),
                 QFileInfo(runtime_.path()).absoluteFilePath());
        QVERIFY(QFileInfo(QString::fromStdString(path))
                    .fileName()
                    .contains(QString::fromLocal8Bit(qgetenv("TARVEX_INSTANCE"))));
        QVERIFY(QFileInfo::exists(QString::fromStdString(path)));
    }

    void laterStartOpensItsWebInTheRunningWindow() {
        // Any character may be in the name, a line end included.
        std::string web = saved_web("handed", "handed\nover web.tvx");
        dispatch_command(CMD_NEW_WEB);
        go("unsaved");
        QVERIFY(web_modified());
        window_->setWindowState(Qt::WindowMinimized);
        // A later start names the file relative to its own folder.
        QString here = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir_.path()));
        g_answers.push_back(DialogAnswer{false, SAVE_NO, {}});
        bool ran = instance_claim(nullptr, "handed\nover web.tvx", instance_serve);
        QDir::setCurrent(here);
        QVERIFY(!ran);
        QTRY_COMPARE(web_file_name(), web);
        QCOMPARE(times_seen(DLG_SAVE_CHANGES), 1);
        QVERIFY(cell_find("handed") != 0);
        QVERIFY(cell_find("unsaved") == 0);
        QVERIFY(!(window_->windowState() & Qt::WindowMinimized));
        QCOMPARE(shell_current_view(), VIEW_LIST);
    }

    void refusedOrUnreadableHandOverLeavesTheWebAlone() {
        QString fifo = path("fifo.tvx");
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        QString page = path("not-a-web.html");
        QFile html(page);
        QVERIFY(html.open(QIODevice::WriteOnly));
        html.write("<!DOCTYPE html>\n<html><body><cell>x</cell></body></html>\n");
        html.close();
        // Should the open wait for a writer after all, one comes, with no web
        // (and is waited for however the test ends).
        std::jthread writer([path = fifo.toStdString()] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
        });
        std::string other = saved_web("other");
        dispatch_command(CMD_NEW_WEB);
        struct Case {
            std::string file;
            DialogAnswer save; // the answer to the save question
            const char* flash;
        };
        const Case cases[] = {
            {fifo.toStdString(), no(), "Not a web file (a device, folder, socket or pipe)"},
            {"/dev/null", no(), "Not a web file (a device, folder, socket or pipe)"},
            {page.toStdString(), no(), "The file is not a Tarvex web"},
            {other, cancel(), ""},
        };
        for (const Case& c : cases) {
            go("mine");
            QVERIFY(web_modified());
            g_seen.clear();
            g_answers.push_back(c.save);
            QElapsedTimer timer;
            timer.start();
            QVERIFY(!instance_claim(nullptr, c.file, instance_serve));
            QTRY_COMPARE(times_seen(DLG_SAVE_CHANGES), 1);
            if (*c.flash)
                QTRY_COMPARE(QString::fromStdString(status_line_text()), QString(c.flash));
            QTest::qWait(50);
            QVERIFY(web_file_name() != c.file);
            QVERIFY2(timer.elapsed() < 2000, c.file.c_str());
            QVERIFY(cell_find("mine") != 0);
            QVERIFY(web_modified());
        }
    }

    void oversizedRequestIsCutOffAtTheLimit() {
        go("stays");
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        QVERIFY(fd >= 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", instance_socket_path().c_str());
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        // 200 MB offered; the instance must stop taking them long before.
        constexpr size_t OFFERED = size_t(200) << 20;
        std::vector<char> block(size_t(1) << 16, 'a');
        size_t sent = 0;
        bool cut_off = false;
        while (sent < OFFERED && !cut_off) {
            ssize_t n = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
            if (n > 0)
                sent += size_t(n);
            else if (errno == EAGAIN)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            else
                cut_off = true;
        }
        ::close(fd);
        QVERIFY(cut_off);
        QVERIFY2(sent < (size_t(4) << 20), std::to_string(sent).c_str());
        QTest::qWait(50);
        QVERIFY(cell_find("stays") != 0);
        QVERIFY(g_seen.empty());
        // The instance still serves the next start, which without a file
        // only raises the window.
        window_->setWindowState(Qt::WindowMinimized);
        QVERIFY(!instance_claim(nullptr, "", instance_serve));
        QTRY_VERIFY(!(window_->windowState() & Qt::WindowMinimized));
        QTest::qWait(50);
        QVERIFY(g_seen.empty());
        QVERIFY(cell_find("stays") != 0);
    }

    void socketOfACrashedInstanceIsReplaced() {
        std::string path = instance_socket_path();
        delete owner_;
        owner_ = nullptr;
        instance_release();
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
        leave_dead_socket(path);
        QVERIFY(QFileInfo::exists(QString::fromStdString(path)));
        // Nobody answers there: this start becomes the running instance.
        claim_as_running_instance();
        std::string web = saved_web("revived", "after crash.tvx");
        dispatch_command(CMD_NEW_WEB);
        QVERIFY(!instance_claim(nullptr, web, instance_serve));
        QTRY_COMPARE(web_file_name(), web);
        QVERIFY(cell_find("revived") != 0);
    }
};

QTEST_MAIN(FilesTest)
#include "files_test.moc"
