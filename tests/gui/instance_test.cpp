// GUI tests of the single instance against the real main window
// (offscreen): the socket lives in the session's runtime folder, a later
// start hands its web file over and the running window opens it through
// File Open (save question answered through the dialogs' test hook), a
// later start without a file only raises the window, and a socket left by
// a crashed instance does not keep a new one from listening.
#include "gui_test_support.h"

#include "shell/instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
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

class InstanceTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir runtime_;
    QTemporaryDir webs_;
    QObject* owner_ = nullptr; // the running instance's server

    // A saved web holding one cell named name; the current web is new.
    std::string saved_web(const std::string& file, const char* name) {
        dispatch_command(CMD_NEW_WEB);
        go(name);
        dispatch_command(CMD_BACK);
        std::string path = QDir(webs_.path()).filePath(QString::fromStdString(file)).toStdString();
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, path);
        dispatch_command(CMD_NEW_WEB);
        return path;
    }

    void claim_as_running_instance() {
        delete owner_;
        owner_ = new QObject;
        QVERIFY(instance_claim(owner_, "", instance_serve));
    }

  private slots:
    void initTestCase() {
        QVERIFY(runtime_.isValid() && webs_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
        window_ = window_open(frontend_, DialogAnswer{});
        claim_as_running_instance();
    }

    void init() {
        g_answers.clear();
        g_seen.clear();
        web_set_modified(false);
        dispatch_command(CMD_NEW_WEB);
    }

    void cleanupTestCase() {
        delete owner_;
        instance_release();
        window_close(window_);
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
        std::string web = saved_web("handed\nover web.tvx", "handed");
        go("unsaved");
        QVERIFY(web_modified());
        window_->setWindowState(Qt::WindowMinimized);
        // A later start names the file relative to its own folder.
        QString here = QDir::currentPath();
        QVERIFY(QDir::setCurrent(webs_.path()));
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
        QString fifo = QDir(webs_.path()).filePath("fifo.tvx");
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0);
        QString page = QDir(webs_.path()).filePath("page.html");
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
        struct Case {
            std::string file;
            DialogAnswer save; // the answer to the save question
            const char* flash;
        };
        const Case cases[] = {
            {fifo.toStdString(), no(), "Not a web file (a device, folder, socket or pipe)"},
            {"/dev/null", no(), "Not a web file (a device, folder, socket or pipe)"},
            {page.toStdString(), no(), "The file is not a Tarvex web"},
            {saved_web("kept.tvx", "other"), cancel(), ""},
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
        std::string web = saved_web("after crash.tvx", "revived");
        QVERIFY(!instance_claim(nullptr, web, instance_serve));
        QTRY_COMPARE(web_file_name(), web);
        QVERIFY(cell_find("revived") != 0);
    }
};

QTEST_MAIN(InstanceTest)
#include "instance_test.moc"
