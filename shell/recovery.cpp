// The application side of recovery copies: when this instance's copy is
// written or removed, the signals that end the program, and the question,
// at start-up or once a web is opened, about copies that ended instances
// left. A signal handler may only write a byte; the rest runs from the
// event loop.
#include "shell/recovery.h"

#include "core/errors.h"
#include "core/guard.h"
#include "frontend/frontend.h"
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
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex {

namespace {

constexpr const char* TIME_FORMAT = "yyyy-MM-dd hh:mm:ss";

std::string g_written;   // the copy this process wrote ("" when none)
std::string g_snapshot;  // what it holds
ino_t g_written_ino = 0; // the file it was written as
std::string g_adopted;   // an ended instance's copy taken back, until ours holds it
bool g_keep = false;     // a signal ended the program: the copy stays
bool g_failed = false;   // the last write failed (said once per streak)
bool g_opened = false;   // a web was opened or started since the last offer
int g_signal_fds[2] = {-1, -1};

void forget_copy() {
    recovery_remove(g_written);
    // The user saved or discarded the work the adopted copy held.
    recovery_remove(g_adopted);
    g_written.clear();
    g_adopted.clear();
    g_snapshot.clear();
}

// False when the copy is gone or another file took its name: it is written
// again even though the web did not change.
bool copy_in_place() {
    struct stat st;
    return stat(g_written.c_str(), &st) == 0 && st.st_ino == g_written_ino;
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
    if (path != g_written) {
        // The web has another name now: only this instance's copy goes.
        recovery_remove(g_written);
        g_written.clear();
    }
    std::string snapshot = recovery_snapshot();
    if (!always && path == g_written && snapshot == g_snapshot && copy_in_place()) return;
    if (recovery_write(path, snapshot) != 0) {
        if (!g_failed) status_flash("Recovery Copy Not Written");
        g_failed = true;
        return;
    }
    g_failed = false;
    g_written = path;
    g_snapshot = std::move(snapshot);
    struct stat st;
    g_written_ino = stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    recovery_remove(g_adopted);
    g_adopted.clear();
}

std::string time_text(std::time_t t) {
    return QDateTime::fromSecsSinceEpoch(t).toString(TIME_FORMAT).toStdString();
}

// The question for one copy: from when, and whether the file changed after
// it was written (a save since, here or in another instance).
std::string question_for(const std::string& copy, const std::string& web) {
    std::string q = "Recover unsaved changes from " + time_text(recovery_time(copy)) + "?";
    if (!recovery_newer(copy, web))
        q += "\nThe file has changed since: it was written at " + time_text(recovery_time(web)) +
             ".";
    return q;
}

// Offers the copies that ended instances left of the web now open, newest
// first, until one is taken. No removes the copy asked about; a copy that
// cannot be read stays where it is.
void offer_copies() {
    g_opened = false;
    std::string web = web_file_name();
    RecoveryFinds finds = recovery_find(web);
    if (!finds.damaged.empty()) {
        std::string msg = "A damaged recovery copy was kept aside and not offered:";
        for (const std::string& d : finds.damaged)
            msg += "\n" + d;
        warn_box(msg.c_str(), "Tarvex");
    }
    for (const std::string& copy : finds.copies) {
        if (shell_exiting()) return; // the copies wait for the next start
        bool yes = ask_yes_no(question_for(copy, web).c_str(), "Tarvex");
        if (shell_exiting()) return; // ended while asking
        if (!yes) {
            recovery_remove(copy);
            continue;
        }
        engine_guard([&] {
            int rc = recovery_read(copy);
            if (rc == 0) {
                // Ours from now on; the old one goes once ours is written.
                g_adopted = copy;
                update_copy(true);
            } else {
                // The copy stays where it is; the web comes back as it was opened.
                status_error(rc);
                if (web.empty() || !web_open(web.c_str()).done()) web_new();
            }
            load_panes();
            link_refresh();
        });
        g_opened = false;
        return;
    }
}

void note_reset() { g_opened = true; }

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
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGHUP, SIGINT})
        sigaction(sig, &sa, nullptr);
}

} // namespace

void recovery_install(QObject* owner) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, owner, [] { update_copy(false); });
    timer->start(RECOVERY_CHECK_MS);
    if (g_signal_fds[0] < 0) install_signals(owner);
    web_add_reset_hook(note_reset);
    // The session manager may end the program without asking it first.
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, owner,
                     [](QSessionManager&) { update_copy(true); });
}

void recovery_update() {
    update_copy(false);
    // A web opened in a running instance is offered its copies too, once
    // the command that opened it is over. A new untitled web is not: the
    // untitled copies wait for an untitled start.
    bool opened = g_opened && !web_modified() && !web_file_name().empty();
    g_opened = false;
    if (opened) offer_copies();
}

void recovery_finish() {
    if (!g_keep) forget_copy();
    recovery_release();
}

void recovery_offer(const std::string& file_name) {
    g_opened = false;
    if (!file_name.empty() && web_file_name().empty()) return; // the named web did not open
    offer_copies();
}

} // namespace tarvex
