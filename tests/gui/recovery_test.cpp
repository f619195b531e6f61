// GUI tests of recovery copies: typed changes reach the copy within seconds
// while the web file stays as it was, saving or discarding removes it, the
// next start offers it, and a SIGTERM to a running application (a child
// process started the way the application starts) leaves it behind. The
// real binary is checked to end cleanly on SIGTERM.
#include "gui_test_support.h"

#include "shell/recovery.h"
#include "webfile/recovery.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTabBar>
#include <QTemporaryDir>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

constexpr int CHILD_WAIT_MS = 120000; // start-up of a second process on a loaded machine

const char* const SAVED_WEB = "\n<cell>\n<cname>home</cname><text>saved text</text></cell>"
                              "\n<cell>\n<cname>other</cname></cell></eof>";

QByteArray file_bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void put_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

std::string text_of(const char* name) {
    CellHandle c = cell_find(name);
    return c ? text_to_string(cell_text(c)) : "<none>";
}

QString copy_of(const QString& web) {
    return QString::fromStdString(recovery_path_of(web.toStdString()));
}

QWidget* focused() {
    QWidget* w = QApplication::focusWidget();
    return w ? w : shell_windows().text;
}

// As a user does: the text tab by mouse, then keys to the focused widget.
void type_into_text_pane(const char* keys) {
    QTabBar* tabs = shell_windows().tabs;
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(VIEW_TEXT).center());
    QWidget* target = focused();
    QTest::keyClick(target, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(target, keys);
}

// The child process: the application's own start-up on argv[2], then a
// typed change, then "edited" on stdout; it waits for its signal.
int child_main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    static QtFrontend frontend;
    frontend_install(&frontend);
    engine_start();
    recovery_install(&app);
    MainWindow window;
    std::string file = argv[2];
    window.show();
    window.activateWindow();
    QTimer::singleShot(0, &window, [file] {
        startup_message(file);
        recovery_offer(file);
        type_into_text_pane(" typed before the end");
        std::printf(web_modified() ? "edited\n" : "unchanged\n");
        std::fflush(stdout);
    });
    int code = QApplication::exec();
    recovery_finish();
    return code;
}

} // namespace

class RecoveryTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const char* name) const { return dir_.path() + "/" + name; }
    QString state() const { return dir_.path() + "/state"; }

    // The children's session folder, where their instance sockets live.
    QString runtime() const {
        QString folder = dir_.path() + "/runtime";
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return folder;
    }

    QProcessEnvironment child_env(const char* instance) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_STATE_HOME", state());
        env.insert("XDG_CONFIG_HOME", dir_.path() + "/config");
        env.insert("TARVEX_INSTANCE", QString("%1-%2").arg(instance).arg(getpid()));
        env.insert("XDG_RUNTIME_DIR", runtime());
        return env;
    }

    // What the next start does: open the web, then offer its copy.
    void start_on(const QString& web) {
        std::string file = web.toStdString();
        startup_message(file);
        recovery_offer(file);
    }

    int recover_questions() const {
        int n = 0;
        for (const DialogRequest& r : g_seen)
            if (r.kind == DLG_YES_NO && r.text.rfind("Recover unsaved changes from ", 0) == 0 &&
                r.text.back() == '?')
                ++n;
        return n;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qputenv("XDG_STATE_HOME", state().toUtf8());
        frontend_install(&frontend_);
        engine_start();
        answer_from_queue(DialogAnswer{});
        shell_set_exit_hook([](int) {});
        window_ = new MainWindow;
        recovery_install(window_);
        window_->show();
        window_->activateWindow();
        // Keys go where the focus is once the window is active: with the
        // list in sight beside the panes, that is not always the text pane.
        QVERIFY(QTest::qWaitForWindowActive(window_));
        startup_message("");
    }

    void init() {
        g_answers.clear();
        g_seen.clear();
        web_set_modified(false);
        dispatch_command(CMD_NEW_WEB);
        recovery_update();
        QDir(state()).removeRecursively();
        put_file(path("web.tvx"), SAVED_WEB);
    }

    void cleanupTestCase() {
        web_set_modified(false);
        recovery_update();
        delete window_;
        frontend_install(nullptr);
    }

    void typedChangesReachTheCopyAndSavingRemovesIt() {
        dispatch_command(CMD_OPEN, NOTE_NONE, path("web.tvx").toStdString());
        QCOMPARE(text_of("home"), std::string("saved text"));
        QString copy = copy_of(path("web.tvx"));
        QVERIFY(copy.startsWith(state() + "/tarvex/recovery/web-"));

        type_into_text_pane(" and typed");
        QVERIFY(web_modified());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(copy), 4 * RECOVERY_CHECK_MS);
        QVERIFY(file_bytes(copy).contains("<text>saved text and typed</text>"));
        QCOMPARE(file_bytes(path("web.tvx")), QByteArray(SAVED_WEB));
        QCOMPARE(web_file_name(), path("web.tvx").toStdString());
        QCOMPARE(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"web.tvx"});

        // Further typing brings the copy up to date.
        type_into_text_pane(" more");
        QTRY_VERIFY_WITH_TIMEOUT(file_bytes(copy).contains("typed more</text>"),
                                 4 * RECOVERY_CHECK_MS);

        QTest::keyClick(focused(), Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!web_modified());
        QVERIFY(file_bytes(path("web.tvx")).contains("typed more"));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(copy), 4 * RECOVERY_CHECK_MS);
    }

    void discardingTheChangesRemovesTheCopy() {
        type_into_text_pane("untitled work");
        QString copy = copy_of("");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(copy), 4 * RECOVERY_CHECK_MS);
        QVERIFY(file_bytes(copy).contains("<text>untitled work</text>"));

        g_answers.push_back(DialogAnswer{false, SAVE_NO, {}});
        QTest::keyClick(focused(), Qt::Key_N, Qt::ControlModifier);
        QVERIFY(!g_seen.empty() && g_seen.back().kind == DLG_SAVE_CHANGES);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(copy), 4 * RECOVERY_CHECK_MS);

        // Save As from an untitled web: its copy goes once the save is done.
        type_into_text_pane("named later");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(copy), 4 * RECOVERY_CHECK_MS);
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, path("named.tvx").toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(copy), 4 * RECOVERY_CHECK_MS);
        QVERIFY(!QFile::exists(copy_of(path("named.tvx"))));
    }

    void theNextStartOffersANewerCopy() {
        const QString web = path("web.tvx");
        const QString copy = copy_of(web);
        auto leave_a_copy = [&] {
            dispatch_command(CMD_OPEN, NOTE_NONE, web.toStdString());
            cell_set_text(cell_find("home"), "recovered text");
            QCOMPARE(recovery_write(copy.toStdString()), 0);
            web_set_modified(false);
        };

        // No: the copy goes and the web is the file's.
        leave_a_copy();
        g_answers.push_back(DialogAnswer{false, SAVE_NO, {}});
        start_on(web);
        QCOMPARE(recover_questions(), 1);
        QVERIFY(!QFile::exists(copy));
        QCOMPARE(text_of("home"), std::string("saved text"));
        QVERIFY(!web_modified());

        // Yes: the copy's web, under the file's name and still to be saved.
        leave_a_copy();
        g_seen.clear();
        g_answers.push_back(DialogAnswer{true, SAVE_YES, {}});
        start_on(web);
        QCOMPARE(recover_questions(), 1);
        QCOMPARE(text_of("home"), std::string("recovered text"));
        QCOMPARE(web_file_name(), web.toStdString());
        QVERIFY(web_modified());
        QCOMPARE(shell_windows().text->text(), QString("recovered text"));
        QCOMPARE(file_bytes(web), QByteArray(SAVED_WEB));
        // Quitting without saving discards it: the copy goes.
        recovery_finish();
        QVERIFY(!QFile::exists(copy));

        // A copy older than the file (saved since) is not offered.
        web_set_modified(false);
        leave_a_copy();
        QFile::remove(web);
        QTest::qWait(20);
        put_file(web, SAVED_WEB);
        g_seen.clear();
        start_on(web);
        QCOMPARE(recover_questions(), 0);
        QVERIFY(QFile::exists(copy));
        QCOMPARE(text_of("home"), std::string("saved text"));

        // An untitled start offers the untitled copy.
        dispatch_command(CMD_NEW_WEB);
        cell_set_text(cell_find("home"), "untitled and recovered");
        QCOMPARE(recovery_write(copy_of("").toStdString()), 0);
        web_set_modified(false);
        g_answers.push_back(DialogAnswer{true, SAVE_YES, {}});
        start_on("");
        QCOMPARE(recover_questions(), 1);
        QCOMPARE(text_of("home"), std::string("untitled and recovered"));
        QCOMPARE(web_file_name(), std::string());
        QVERIFY(web_modified());
    }

    void aBadCopyLeavesTheWebAsOpened() {
        const QString web = path("web.tvx");
        QDir().mkpath(state() + "/tarvex/recovery");
        put_file(copy_of(web), "\n<cell>\n<cname> not a name</cname></cell></eof>");
        g_answers.push_back(DialogAnswer{true, SAVE_YES, {}});
        start_on(web);
        QCOMPARE(recover_questions(), 1);
        QCOMPARE(text_of("home"), std::string("saved text"));
        QCOMPARE(text_of("other"), std::string());
        QCOMPARE(web_file_name(), web.toStdString());
        QVERIFY(!web_modified());
        QVERIFY(QFile::exists(copy_of(web))); // kept for the user to look at
    }

    void sigtermLeavesTheCopyAndTheFileUntouched() {
        const QString web = path("web.tvx");
        QProcess child;
        child.setProcessEnvironment(child_env("recovery-child"));
        child.start(QCoreApplication::applicationFilePath(), {"--child", web});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child.readAllStandardOutput()).contains("\n"),
                                 CHILD_WAIT_MS);
        QCOMPARE(out, QByteArray("edited\n"));

        QCOMPARE(::kill(pid_t(child.processId()), SIGTERM), 0);
        QVERIFY(child.waitForFinished(CHILD_WAIT_MS));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(file_bytes(web), QByteArray(SAVED_WEB));
        QVERIFY(file_bytes(copy_of(web)).contains("<text>saved text typed before the end</text>"));

        // The next start takes it back.
        g_answers.push_back(DialogAnswer{true, SAVE_YES, {}});
        start_on(web);
        QCOMPARE(recover_questions(), 1);
        QCOMPARE(text_of("home"), std::string("saved text typed before the end"));
        QVERIFY(web_modified());
    }

    void theApplicationEndsCleanlyOnSigterm() {
        const QString web = path("web.tvx");
        // An old copy of this web from some earlier session is not this
        // process's to remove.
        QDir().mkpath(state() + "/tarvex/recovery");
        put_file(copy_of(web), SAVED_WEB);
        QFile::remove(web);
        QTest::qWait(20);
        put_file(web, SAVED_WEB);

        QProcessEnvironment env = child_env("recovery-app");
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(TARVEX_APP, {web});
        QVERIFY(app.waitForStarted());
        // Up once its instance socket answers.
        QString socket = runtime() + "/tarvex-" + env.value("TARVEX_INSTANCE") + ".sock";
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QLocalSocket probe;
                probe.connectToServer(socket);
                return probe.waitForConnected(200);
            }(),
            CHILD_WAIT_MS);
        QCOMPARE(::kill(pid_t(app.processId()), SIGTERM), 0);
        QVERIFY(app.waitForFinished(CHILD_WAIT_MS));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QCOMPARE(file_bytes(web), QByteArray(SAVED_WEB));
        QCOMPARE(file_bytes(copy_of(web)), QByteArray(SAVED_WEB));
        QCOMPARE(QDir(state() + "/tarvex/recovery").entryList(QDir::Files).size(), 1);
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--child") return child_main(argc, argv);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    RecoveryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "recovery_test.moc"
