// The application side of recovery copies: when the copy is written or
// removed, the signals that end the program, and the question at start-up.
// A signal handler may only write a byte; the rest runs from the event loop.
#include "shell/recovery.h"

#include "core/guard.h"
#include "frontend/frontend.h"
#include "core/errors.h"
#include "script/run_engine.h"
#include "shell/commands.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "web/cell.h"
#include "webfile/recovery.h"
#include "webfile/web_file.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvex {

namespace {

constexpr const char* TIME_FORMAT = "yyyy-MM-dd hh:mm:ss";

std::string g_written;  // the copy this process wrote ("" when none)
std::string g_snapshot; // what it holds
bool g_keep = false;    // a signal ended the program: the copy stays
bool g_failed = false;  // the last write failed (said once per streak)
int g_signal_fds[2] = {-1, -1};

void forget_copy() {
    recovery_remove(g_written);
    g_written.clear();
    g_snapshot.clear();
}

void update_copy(bool always) {
    if (!web_modified()) {
        forget_copy();
        return;
    }
    // Pane edits not yet in their cell are committed, as any command would;
    // inside a command or a run the engine's own state is what is written.
    if (command_depth() == 0 && !run_active() && guard_depth() == 0)
        engine_guard([] { commit_all_panes(); });
    std::string path = recovery_path_of(web_file_name());
    if (path != g_written) forget_copy(); // the web has another name now
    std::string snapshot = recovery_snapshot();
    if (!always && path == g_written && snapshot == g_snapshot) return;
    if (recovery_write(path) != 0) {
        if (!g_failed) status_flash("Recovery Copy Not Written");
        g_failed = true;
        return;
    }
    g_failed = false;
    g_written = path;
    g_snapshot = std::move(snapshot);
}

void on_signal(int) {
    int saved = errno;
    char byte = 1;
    if (::write(g_signal_fds[0], &byte, 1) < 0) {
        // Nothing to do: a byte already waiting serves as well.
    }
    errno = saved;
}

void end_by_signal() {
    char buf[16];
    while (::read(g_signal_fds[1], buf, sizeof buf) > 0) {
    }
    update_copy(true);
    g_keep = web_modified();
    // No save question: nobody may be there to answer it.
    shell_mark_exiting();
    shell_exit(0);
}

void install_signals(QObject* owner) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signal_fds) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signal_fds[1], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] { end_by_signal(); });
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}

} // namespace

void recovery_install(QObject* owner) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [] { update_copy(false); });
    timer->start(RECOVERY_CHECK_MS);
    if (g_signal_fds[0] < 0) install_signals(owner);
    // The session manager may end the program without asking it first.
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, owner,
                     [](QSessionManager&) { update_copy(true); });
}

void recovery_update() { update_copy(false); }

void recovery_finish() {
    if (!g_keep) forget_copy();
}

void recovery_offer(const std::string& file_name) {
    std::string web = web_file_name();
    if (!file_name.empty() && web.empty()) return; // the named web did not open
    std::string copy = recovery_path_of(web);
    if (!recovery_newer(copy, web)) return;
    QString when = QDateTime::fromSecsSinceEpoch(recovery_time(copy)).toString(TIME_FORMAT);
    std::string question = "Recover unsaved changes from " + when.toStdString() + "?";
    bool yes = ask_yes_no(question.c_str(), "Tarvex");
    if (shell_exiting()) return; // ended while asking: the copy waits for the next start
    if (!yes) {
        recovery_remove(copy);
        return;
    }
    engine_guard([&] {
        int rc = recovery_read(copy);
        if (rc == 0) {
            g_written = copy;
        } else {
            // The copy stays where it is; the web comes back as it was opened.
            if (rc == SE_OPEN_WEB) status_error(rc);
            if (web.empty() || !web_open(web.c_str()).done()) web_new();
        }
        load_panes();
        link_refresh();
    });
}

} // namespace tarvex
