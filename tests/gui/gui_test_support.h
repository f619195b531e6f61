// Shared by the GUI tests that drive the real main window: the window opened
// and closed as the program does it, dialogs answered from a queue or acted
// on (and recorded), the exit codes asked for, a fresh web before each
// test, and the keys, clicks and looks the suites share.
#pragma once

#include "engine/engine_start.h"
#include "script/run_engine.h"
#include "settings/settings.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/main_window.h"
#include "shell/panes.h"
#include "shell/qt_frontend.h"
#include "shell/search.h"
#include "shell/workbench_docks.h"
#include "web/cell.h"
#include "web/navigation.h"
#include "webfile/web_file.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDockWidget>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPointer>
#include <QSettings>
#include <QTimer>
#include <Qsci/qsciscintilla.h>
#include <QtTest>

#include <deque>
#include <functional>
#include <string>
#include <utility>
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
    void window_open_active(DialogAnswer unanswered = DialogAnswer{false, SAVE_NO, {}});
};

// Answers for the dialogs, taken in order; every dialog asked is recorded.
// While g_act is set it answers instead: it may change the built dialog's
// controls, and true is OK.
inline std::deque<DialogAnswer> g_answers;
inline std::function<bool(const DialogRequest&)> g_act;
inline std::vector<DialogRequest> g_seen;
// The codes the program asked to end with (the window stays).
inline std::vector<int> g_exits;

inline DialogAnswer yes() { return DialogAnswer{true, SAVE_YES, {}}; }
inline DialogAnswer no() { return DialogAnswer{false, SAVE_NO, {}}; }
inline DialogAnswer cancel() { return DialogAnswer{false, SAVE_CANCEL, {}}; }
inline DialogAnswer named(const std::string& text) { return DialogAnswer{true, SAVE_YES, text}; }

// Whether a dialog of kind was asked (with that text, when one is given).
inline bool seen(DialogKind kind, const std::string& text = {}) {
    for (const DialogRequest& r : g_seen)
        if (r.kind == kind && (text.empty() || r.text == text)) return true;
    return false;
}

// How many dialogs of kind were asked (with a text that starts with prefix).
inline int times_seen(DialogKind kind, const std::string& prefix = {}) {
    int n = 0;
    for (const DialogRequest& r : g_seen)
        n += r.kind == kind && r.text.rfind(prefix, 0) == 0;
    return n;
}

inline std::string current_name() { return current_cell() ? cell_name_string(current_cell()) : ""; }

inline void set_pane(int view, const std::string& text) {
    shell_show_view(view);
    slot_editor(view_slot(view))->setText(QString::fromStdString(text));
}

// Dialogs answered from g_answers, in order (an empty queue gives
// unanswered); every dialog asked is recorded in g_seen.
inline void answer_from_queue(DialogAnswer unanswered) {
    dialogs_set_hook([unanswered](const DialogRequest& r) {
        g_seen.push_back(r);
        if (g_act) return DialogAnswer{g_act(r), SAVE_CANCEL, {}};
        if (g_answers.empty()) return unanswered;
        DialogAnswer a = g_answers.front();
        g_answers.pop_front();
        return a;
    });
}

// The engine started on frontend, the dialogs answered from g_answers and
// the exit codes recorded in g_exits (hooked before the window exists, so
// that its first questions reach them), and the main window shown as the
// program shows it.
inline MainWindow* window_open(QtFrontend& frontend, DialogAnswer unanswered) {
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
    answer_from_queue(unanswered);
    shell_set_exit_hook([](int code) { g_exits.push_back(code); });
    auto* window = new MainWindow;
    window->show();
    startup_message("");
    return window;
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

// Keys pressed and typed as a user does: to the widget that has the focus.
inline QWidget* focused() { return QApplication::focusWidget(); }
inline void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* w = focused();
    QVERIFY(w);
    QTest::keyClick(w, Qt::Key(k), mods);
}
inline void type(const QString& text) {
    QWidget* w = focused();
    QVERIFY(w);
    QTest::keyClicks(w, text);
}

inline std::string status() { return status_line_text(); }
inline std::string console_text() { return editor_bytes(shell_windows().console); }
inline std::string pane_text(int view) { return editor_bytes(slot_editor(view_slot(view))); }
inline std::string text_of(const char* name) { return text_to_string(cell_text(cell_find(name))); }

// A file's bytes (none when it cannot be read), and a file written whole.
inline QByteArray file_bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline void put_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// To name as Enter in the cell-name box goes (made when missing).
inline void go(const char* name) {
    shell_windows().name_box->setEditText(name);
    go_to_name();
}
// A cell made with text and script, the current cell kept.
inline void make_cell(const char* name, const char* text = "", const char* script = "") {
    go(name);
    cell_set_text(current_cell(), text);
    cell_set_script(current_cell(), script);
    dispatch_command(CMD_BACK);
}

// Into the cell-name box with a click, its text selected as a user does
// before typing over it.
inline void click_box() {
    QComboBox* box = shell_windows().name_box;
    QTest::mouseClick(box->lineEdit(), Qt::LeftButton);
    QTRY_VERIFY(box->hasFocus() || box->lineEdit()->hasFocus());
}
// Typed over the box's text; and typed, then Enter.
inline void box_type(const char* name) {
    click_box();
    key(Qt::Key_A, Qt::ControlModifier);
    type(name);
}
inline void box_enter(const char* name) {
    box_type(name);
    key(Qt::Key_Return);
}

// The cell-name box's list, as a click on the box's arrow opens it.
inline QStringList box_list() {
    QComboBox* box = shell_windows().name_box;
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 6, box->height() / 2));
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    box->hidePopup();
    shell_windows().main->activateWindow();
    return items;
}

// Clicks into an editor pane and puts the caret at its end.
inline void click_pane(int view) {
    shell_show_view(view);
    QsciScintilla* e = slot_editor(view_slot(view));
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, QPoint(4, 4));
    QTRY_COMPARE(focus_slot(), view_slot(view));
    key(Qt::Key_End, Qt::ControlModifier);
}

// The middle of the byte at pos in an editor, in viewport coordinates.
inline QPoint point_of(QsciScintilla* e, long pos) {
    long x = e->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, pos);
    long y = e->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, pos);
    return QPoint(int(x) + 2, int(y) + 4);
}
inline int style_at(QsciScintilla* e, long pos) {
    return int(
        e->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, static_cast<unsigned long>(pos)));
}
// The selection's start and end.
inline std::pair<long, long> selection(QsciScintilla* e) {
    return {e->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONSTART),
            e->SendScintilla(QsciScintillaBase::SCI_GETSELECTIONEND)};
}
inline void set_sel(QsciScintilla* e, long a, long b) {
    e->SendScintilla(QsciScintillaBase::SCI_SETSEL, static_cast<unsigned long>(a), b);
}

// The note under line in an editor.
inline std::string note_on(QsciScintilla* e, long line) {
    char note[512] = {};
    e->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONGETTEXT, static_cast<unsigned long>(line),
                     note);
    return note;
}

template <class W> W* bar_child(const char* name) {
    return search_bar() ? search_bar()->findChild<W*>(name) : nullptr;
}

inline QMenu* menu_titled(QMainWindow* w, const QString& title) {
    for (QAction* a : w->menuBar()->actions())
        if (a->text() == title) return a->menu();
    return nullptr;
}

// A control of a dialog the hook was handed.
template <class T> T* child(const DialogRequest& r, const char* name) {
    T* w = r.dialog ? r.dialog->findChild<T*>(name) : nullptr;
    if (!w) qFatal("no control %s", name);
    return w;
}

// The current cell given text, shown in the text pane; caret_at puts the
// caret there.
inline QsciScintilla* show_text(const char* text, long caret_at = -1) {
    cell_set_text(current_cell(), text);
    reshow_current();
    shell_show_view(VIEW_TEXT);
    QsciScintilla* t = shell_windows().text;
    if (caret_at >= 0) set_sel(t, caret_at, caret_at);
    return t;
}

// Find/Repl (Ctrl+H) answered with the given texts.
inline void find(const QString& what, const QString& with = {}, bool match_case = false) {
    g_act = [=](const DialogRequest& r) {
        if (r.kind != DLG_REPLACE) return false;
        child<QLineEdit>(r, "search_for")->setText(what);
        child<QLineEdit>(r, "replace_with")->setText(with);
        child<QCheckBox>(r, "case_sensitive")->setChecked(match_case);
        return true;
    };
    key(Qt::Key_H, Qt::ControlModifier);
}

// A command's item in a menu, and the command chosen from its menu, as a
// click on the item does.
inline QAction* item_of(QMenu* menu, int command) {
    for (QAction* a : menu->actions())
        if (a->data().toInt() == command && !a->isSeparator()) return a;
    return nullptr;
}
inline void menu_command(int command) {
    for (QMenu* menu : shell_windows().main->menuBar()->findChildren<QMenu*>())
        if (QAction* a = item_of(menu, command)) {
            a->trigger();
            return;
        }
    QFAIL("no menu item for the command");
}

// Edit > Preferences, its dialog changed by act and answered OK.
inline void preferences(std::function<void(const DialogRequest&)> act) {
    g_act = [act](const DialogRequest& r) {
        if (r.kind != DLG_PREFERENCES) return false;
        act(r);
        return true;
    };
    menu_command(CMD_PREFERENCES);
    g_act = nullptr;
}

// A run started by its key, waited for to its end.
inline void run_key(int k = Qt::Key_F5, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    key(k, mods);
    QTRY_VERIFY_WITH_TIMEOUT(!run_active(), 20000);
}

inline QDockWidget* dock(const char* name) {
    return shell_windows().main->findChild<QDockWidget*>(name);
}

// A workbench dock shown by its View menu item, and one closed by its close
// button, as a user does.
inline void show_dock(const char* name) {
    QDockWidget* d = workbench_dock(name);
    QVERIFY2(d, name);
    if (!d->isVisible()) d->toggleViewAction()->trigger();
}
inline void close_dock(const char* name) {
    QDockWidget* d = dock(name);
    QVERIFY(d && d->isVisible());
    auto* close = d->findChild<QAbstractButton*>("qt_dockwidget_closebutton");
    QVERIFY(close);
    QTest::mouseClick(close, Qt::LeftButton, {}, close->rect().center());
    QTRY_VERIFY(d->isHidden());
}

// The rows of a list, in its order.
inline QStringList texts(QListWidget* l) {
    QStringList r;
    for (int i = 0; i < l->count(); ++i)
        r << l->item(i)->text();
    return r;
}

// Acts on the modal window once it is up (the caller then opens it). One
// still up after a while is closed, so that a failing test does not hang.
inline void when_modal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QPointer<QWidget> w = QApplication::activeModalWidget();
        QTimer::singleShot(10000, [w] {
            if (w && w->isVisible()) w->close();
        });
        act(w);
    });
}

// Before each test: no search bar, nothing queued or recorded, a new web on
// "home", cells made without the creation question, an empty status line,
// and the window active;
// clicks_apart waits so that a test's first click is no double click with
// the last test's.
inline void fresh_web(bool clicks_apart = false) {
    search_bar_close();
    g_act = nullptr;
    g_answers.clear();
    g_seen.clear();
    g_exits.clear();
    web_set_modified(false);
    dispatch_command(CMD_NEW_WEB);
    settings_set_ask_before_create(0);
    QCOMPARE(current_name(), std::string("home"));
    status_line_show("");
    shell_windows().main->activateWindow();
    if (clicks_apart) QTest::qWait(QApplication::doubleClickInterval() + 50);
}

inline void WindowTest::window_open_active(DialogAnswer unanswered) {
    window_ = window_open(frontend_, unanswered);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
}

} // namespace tarvex::gui_test
