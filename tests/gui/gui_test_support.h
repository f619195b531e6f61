// Shared by the GUI tests that drive the real main window: the window opened
// and closed as the program does it, dialogs answered from a queue (and
// recorded), the exit codes asked for, and a fresh web before each test.
#pragma once

#include "engine/engine_start.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/qt_frontend.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>
#include <Qsci/qsciscintilla.h>
#include <QtTest>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace tarvex::gui_test {

// Base of the test classes that drive the main window: the window and the
// frontend it shows on, opened in initTestCase and closed in cleanupTestCase.
class WindowTest : public QObject {
  protected:
    MainWindow* window_ = nullptr;
    QtFrontend frontend_;
    // The window opened (dialogs nobody queued an answer for get No) and
    // active, so that keys reach it.
    void window_open_active();
};

// Answers for the dialogs, taken in order; every dialog asked is recorded.
inline std::deque<DialogAnswer> g_answers;
inline std::vector<DialogRequest> g_seen;
// The codes the program asked to end with (the window stays).
inline std::vector<int> g_exits;

inline DialogAnswer yes() {
    return DialogAnswer{true, SAVE_YES, {}};
}
inline DialogAnswer no() {
    return DialogAnswer{false, SAVE_NO, {}};
}
inline DialogAnswer cancel() {
    return DialogAnswer{false, SAVE_CANCEL, {}};
}
inline DialogAnswer named(const std::string& text) {
    return DialogAnswer{true, SAVE_YES, text};
}

// Whether a dialog of kind was asked (with that text, when one is given).
inline bool seen(DialogKind kind, const std::string& text = {}) {
    for (const DialogRequest& r : g_seen)
        if (r.kind == kind && (text.empty() || r.text == text)) return true;
    return false;
}

inline std::string current_name() {
    return current_cell() ? cell_name_string(current_cell()) : "";
}

inline void set_pane(int view, const std::string& text) {
    shell_show_view(view);
    slot_editor(view_slot(view))->setText(QString::fromStdString(text));
}

// Dialogs answered from g_answers, in order (an empty queue gives
// unanswered); every dialog asked is recorded in g_seen.
inline void answer_from_queue(DialogAnswer unanswered) {
    dialogs_set_hook([unanswered](const DialogRequest& r) {
        g_seen.push_back(r);
        if (g_answers.empty()) return unanswered;
        DialogAnswer a = g_answers.front();
        g_answers.pop_front();
        return a;
    });
}

// The engine started on frontend, the test's hooks installed (before the
// window exists, so that its first questions reach them), and the main
// window shown as the program shows it.
inline MainWindow* window_open_with(QtFrontend& frontend,
                                    const std::function<void()>& install_hooks) {
    // Each run starts from the default arrangement of the docks, not from
    // the one an earlier run left in the suite's settings folder.
    static bool first = true;
    if (first) {
        QString org = QCoreApplication::organizationName();
        QSettings(org.isEmpty() ? QStringLiteral("Tarvex") : org, QStringLiteral("Tarvex"))
            .remove(QStringLiteral("layout"));
        first = false;
    }
    frontend_install(&frontend);
    engine_start();
    install_hooks();
    auto* window = new MainWindow;
    window->show();
    startup_message("");
    return window;
}

// The main window with the dialogs answered from g_answers and the exit
// codes recorded in g_exits.
inline MainWindow* window_open(QtFrontend& frontend, DialogAnswer unanswered) {
    return window_open_with(frontend, [unanswered] {
        answer_from_queue(unanswered);
        shell_set_exit_hook([](int code) { g_exits.push_back(code); });
    });
}

inline void window_close(MainWindow* window) {
    web_set_modified(false);
    delete window;
    frontend_install(nullptr);
}

// Runs action from inside the event loop as soon as ready() holds (checked
// every every_ms), so a test can act while a script is paused, waits for
// input or writes output.
inline void when(std::function<bool()> ready, std::function<void()> action, int every_ms = 20) {
    auto* timer = new QTimer(shell_windows().main);
    timer->setInterval(every_ms);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, ready, action] {
        if (!ready()) return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

// A key pressed as a user presses it: to the widget that has the focus.
inline void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* w = QApplication::focusWidget();
    QVERIFY(w);
    QTest::keyClick(w, Qt::Key(k), mods);
}

// Before each test: nothing queued or recorded, a new web on "home", and
// cells made without the creation question.
inline void fresh_web() {
    g_answers.clear();
    g_seen.clear();
    g_exits.clear();
    web_set_modified(false);
    dispatch_command(CMD_NEW_WEB);
    settings_set_ask_before_create(0);
    QCOMPARE(current_name(), std::string("home"));
}

inline void WindowTest::window_open_active() {
    window_ = window_open(frontend_, no());
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
}

} // namespace tarvex::gui_test
