// GUI tests of recovery copies: typed changes reach the copy within seconds
// while the web file stays as it was, saving or discarding removes it, the
// next start offers a copy that an ended instance left (saying when the file
// changed after it), and a damaged copy is set aside and reported. Two
// instances on one web (the real binary, ended by SIGTERM, and children)
// keep each other's copies, and one killed outright has its copy offered to
// the next.
#include "gui_test_support.h"

#include "shell/recovery.h"
#include "webfile/recovery.h"

#include <QDir>
#include <QElapsedTimer>
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

std::string text_or_none(const char* name) {
    CellHandle c = cell_find(name);
    return c ? text_to_string(cell_text(c)) : "<none>";
}

// This process's copy of web.
QString copy_of(const QString& web) {
    return QString::fromStdString(recovery_path_of(web.toStdString()));
}

// A copy of web as an instance that has ended would have left it (no
// process has that id, and it left no lock).
QString ended_copy_of(const QString& web) {
    return QString::fromStdString(recovery_folder() + "/" + recovery_key_of(web.toStdString()) +
                                  ".99999999-ended.tvx");
}

// Every copy of web in the folder, whichever instance wrote it.
QStringList copies_of(const QString& web) {
    QString key = QString::fromStdString(recovery_key_of(web.toStdString()));
    QDir folder(QString::fromStdString(recovery_folder()));
    QStringList all;
    for (const QString& name : folder.entryList({key + ".*.tvx"}, QDir::Files, QDir::Name))
        all << folder.filePath(name);
    return all;
}

QWidget* key_target() {
    QWidget* w = QApplication::focusWidget();
    return w ? w : shell_windows().text;
}

// As a user does: the text tab by mouse, then keys to the focused widget.
void type_into_text_pane(const char* keys) {
    QTabBar* tabs = shell_windows().tabs;
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(VIEW_TEXT).center());
    QWidget* target = key_target();
    QTest::keyClick(target, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(target, keys);
}

// The child process: the application's own start-up on the web argv[3],
// its questions answered Yes (Yes) or No (anything else) and counted, then
// what argv[2] says: "save" types a change, writes its copy, saves and
// quits; "quit" quits. Before that it reports on stdout what it was asked
// and the web it has.
int child_main(int argc, char** argv) {
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    static QtFrontend frontend;
    frontend_install(&frontend);
    engine_start();
    recovery_install(&app);
    static int asked = 0, warned = 0;
    static bool answer = qEnvironmentVariable("CHILD_ANSWER") == "yes";
    static std::string first_question;
    dialogs_set_hook([](const DialogRequest& r) {
        if (r.kind == DLG_YES_NO) {
            if (asked++ == 0) first_question = r.text;
        }
        warned += r.kind == DLG_WARN;
        return DialogAnswer{answer, answer ? SAVE_YES : SAVE_NO, {}};
    });
    MainWindow window;
    std::string mode = argv[2], file = argv[3];
    window.show();
    window.activateWindow();
    QTimer::singleShot(0, &window, [mode, file] {
        startup_message(file);
        recovery_offer(file);
        std::printf("asked=%d warned=%d modified=%d home=%s\n", asked, warned, web_modified(),
                    text_or_none("home").c_str());
        if (asked) std::printf("question=%s\n", first_question.c_str());
        if (mode == "quit") {
            QApplication::quit();
        } else {
            type_into_text_pane(" typed before the end");
            if (mode == "save") {
                recovery_update();
                std::printf("own copy=%d\n", QFile::exists(copy_of(QString::fromStdString(file))));
                dispatch_command(CMD_SAVE);
                QApplication::quit();
            }
            std::printf(web_modified() ? "edited\n" : "unchanged\n");
        }
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

    // The next start on web with the question answered; true when it was
    // asked once.
    bool start_answering(const QString& web, DialogAnswer answer) {
        g_seen.clear();
        g_answers.push_back(answer);
        start_on(web);
        return recover_questions() == 1;
    }

    int recover_questions() const {
        return times_seen(DLG_YES_NO, "Recover unsaved changes from ");
    }

    // Runs this executable as an application instance to its end (see
    // child_main); what it printed.
    QByteArray run_child(const char* instance, const char* mode, const QString& web,
                         const char* answer) {
        QProcess child;
        QProcessEnvironment env = child_env(instance);
        env.insert("CHILD_ANSWER", answer);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {"--child", mode, web});
        if (!child.waitForFinished(CHILD_WAIT_MS)) return "not finished";
        return child.readAllStandardOutput();
    }

    // Starts the real application on web as instance; true once it answers
    // on its instance socket.
    bool start_app(QProcess& app, const char* instance, const QString& web) {
        QProcessEnvironment env = child_env(instance);
        app.setProcessEnvironment(env);
        app.start(TARVEX_APP, {web});
        if (!app.waitForStarted()) return false;
        QString socket = runtime() + "/tarvex-" + env.value("TARVEX_INSTANCE") + ".sock";
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < CHILD_WAIT_MS) {
            QLocalSocket probe;
            probe.connectToServer(socket);
            if (probe.waitForConnected(200)) return true;
            QTest::qWait(50);
        }
        return false;
    }

  private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        qputenv("XDG_STATE_HOME", state().toUtf8());
        // Keys go where the focus is once the window is active: with the
        // list in sight beside the panes, that is not always the text pane.
        window_open_active(cancel());
        recovery_install(window_);
    }

    void init() {
        fresh_web();
        recovery_update();
        QDir(state()).removeRecursively();
        put_file(path("web.tvx"), SAVED_WEB);
    }

    void cleanupTestCase() {
        web_set_modified(false);
        recovery_update();
        window_close(window_);
    }

    void typedChangesReachTheCopyAndSavingRemovesIt() {
        dispatch_command(CMD_OPEN, NOTE_NONE, path("web.tvx").toStdString());
        QCOMPARE(text_or_none("home"), std::string("saved text"));
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

        QTest::keyClick(key_target(), Qt::Key_S, Qt::ControlModifier);
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
        QTest::keyClick(key_target(), Qt::Key_N, Qt::ControlModifier);
        QVERIFY(!g_seen.empty() && g_seen.back().kind == DLG_SAVE_CHANGES);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(copy), 4 * RECOVERY_CHECK_MS);

        // Save As from an untitled web: its copy goes once the save is done.
        type_into_text_pane("named later");
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(copy), 4 * RECOVERY_CHECK_MS);
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, path("named.tvx").toStdString());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(copy), 4 * RECOVERY_CHECK_MS);
        QVERIFY(!QFile::exists(copy_of(path("named.tvx"))));
    }

    void theNextStartOffersTheCopyAnEndedInstanceLeft() {
        const QString web = path("web.tvx");
        const QString copy = ended_copy_of(web);
        auto leave_a_copy = [&] {
            dispatch_command(CMD_OPEN, NOTE_NONE, web.toStdString());
            cell_set_text(cell_find("home"), "recovered text");
            QCOMPARE(recovery_write(copy.toStdString()), 0);
            web_set_modified(false);
        };

        // No: the copy goes and the web is the file's.
        leave_a_copy();
        QVERIFY(start_answering(web, no()));
        QVERIFY(!QFile::exists(copy));
        QCOMPARE(text_or_none("home"), std::string("saved text"));
        QVERIFY(!web_modified());

        // Yes: the copy's web, under the file's name and still to be saved;
        // this instance's own copy takes the ended one's place.
        leave_a_copy();
        QVERIFY(start_answering(web, yes()));
        QCOMPARE(text_or_none("home"), std::string("recovered text"));
        QCOMPARE(web_file_name(), web.toStdString());
        QVERIFY(web_modified());
        QCOMPARE(shell_windows().text->text(), QString("recovered text"));
        QCOMPARE(file_bytes(web), QByteArray(SAVED_WEB));
        QCOMPARE(copies_of(web), QStringList{copy_of(web)});
        // Quitting without saving discards it: the copy goes.
        recovery_finish();
        QVERIFY(copies_of(web).isEmpty());

        // An untitled start offers the untitled copy.
        dispatch_command(CMD_NEW_WEB);
        cell_set_text(cell_find("home"), "untitled and recovered");
        QCOMPARE(recovery_write(ended_copy_of("").toStdString()), 0);
        web_set_modified(false);
        QVERIFY(start_answering("", yes()));
        QCOMPARE(text_or_none("home"), std::string("untitled and recovered"));
        QCOMPARE(web_file_name(), std::string());
        QVERIFY(web_modified());

        // Opening a web in a running instance offers its copy too.
        web_set_modified(false);
        leave_a_copy();
        dispatch_command(CMD_NEW_WEB);
        g_seen.clear();
        g_answers.push_back(yes());
        dispatch_command(CMD_OPEN, NOTE_NONE, web.toStdString());
        QTRY_COMPARE(recover_questions(), 1);
        QCOMPARE(text_or_none("home"), std::string("recovered text"));
    }

    void aDamagedCopyIsSetAsideAndReported() {
        const QString web = path("web.tvx");
        dispatch_command(CMD_OPEN, NOTE_NONE, web.toStdString());
        QCOMPARE(recovery_write(ended_copy_of(web).toStdString()), 0);
        const QByteArray whole = file_bytes(ended_copy_of(web));
        const QByteArray half = whole.left(whole.size() / 2);
        put_file(ended_copy_of(web), half);
        g_answers.push_back(yes());
        start_on(web);
        QCOMPARE(recover_questions(), 0);
        QVERIFY(seen(DLG_WARN));
        QVERIFY(
            QString::fromStdString(g_seen.back().text).endsWith(ended_copy_of(web) + ".damaged"));
        QCOMPARE(file_bytes(ended_copy_of(web) + ".damaged"), half);
        QVERIFY(!QFile::exists(ended_copy_of(web)));
        QCOMPARE(text_or_none("home"), std::string("saved text"));
        QCOMPARE(web_file_name(), web.toStdString());
        QVERIFY(!web_modified());
    }

    // The real application (its web marked modified by a zero byte it
    // dropped) keeps a copy while other instances (the real application, and
    // a child that reports its questions) start on the same web, write, save
    // and quit; killed outright, its copy goes to the next.
    void twoInstancesOnOneWebKeepEachOthersCopies() {
        const QString web = path("web.tvx");
        put_file(web, QByteArray("\n<cell>\n<cname>home</cname><text>first") + '\0' +
                          QByteArray(" instance</text></cell></eof>"));
        QProcess first;
        QVERIFY(start_app(first, "recovery-first", web));
        QTRY_COMPARE_WITH_TIMEOUT(copies_of(web).size(), 1, 4 * RECOVERY_CHECK_MS);
        const QString first_copy = copies_of(web)[0];
        QTRY_VERIFY(file_bytes(first_copy).contains("<text>first instance</text>"));

        // Gone from under it, the copy is written again though nothing changed.
        QFile::remove(first_copy);
        QTRY_VERIFY_WITH_TIMEOUT(file_bytes(first_copy).contains("<text>first instance</text>"),
                                 4 * RECOVERY_CHECK_MS);
        const QByteArray first_bytes = file_bytes(first_copy);

        // A second application on the web keeps its own copy beside it (here
        // written on SIGTERM) and leaves the first one's alone.
        QProcess second_app;
        QVERIFY(start_app(second_app, "recovery-second-app", web));
        QCOMPARE(::kill(pid_t(second_app.processId()), SIGTERM), 0);
        QVERIFY(second_app.waitForFinished(CHILD_WAIT_MS));
        QCOMPARE(second_app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second_app.exitCode(), 0);
        QStringList both = copies_of(web);
        QCOMPARE(both.size(), 2);
        QCOMPARE(file_bytes(first_copy), first_bytes);
        both.removeOne(first_copy);
        QVERIFY(file_bytes(both[0]).contains("<text>first instance</text>"));
        QFile::remove(both[0]);

        // Nor is another instance offered it: its own copy, its save and its
        // quit leave it alone.
        QByteArray out = run_child("recovery-second", "save", web, "yes");
        QVERIFY2(out.startsWith("asked=0 warned=0 modified=1 home=first instance\n"
                                "own copy=1\nunchanged\n"),
                 out.constData());
        QVERIFY(file_bytes(web).contains("first instance typed before the end"));
        QCOMPARE(copies_of(web), QStringList{first_copy});
        QCOMPARE(file_bytes(first_copy), first_bytes);
        QCOMPARE(first.state(), QProcess::Running);

        // Killed outright: the next instance is offered its copy, older than
        // the file now, and takes it.
        QCOMPARE(::kill(pid_t(first.processId()), SIGKILL), 0);
        QVERIFY(first.waitForFinished(CHILD_WAIT_MS));
        out = run_child("recovery-third", "quit", web, "yes");
        QVERIFY2(out.startsWith("asked=1 warned=0 modified=1 home=first instance\n"
                                "question=Recover unsaved changes from "),
                 out.constData());
        QVERIFY2(out.contains("\nThe file has changed since: it was written at "), out.constData());
        QVERIFY(copies_of(web).isEmpty()); // taken, then discarded by its quit
    }
};

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--child") return child_main(argc, argv);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    RecoveryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "recovery_test.moc"
