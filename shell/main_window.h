// The main window: builds its children in code, connects their signals in
// one place, and turns keys, clicks and notifications into the commands of
// the command table. Everything else lives in the panes and commands.
#pragma once

#include <QComboBox>
#include <QKeyEvent>
#include <QMainWindow>
#include <QTimer>

#include <functional>

namespace tarvex {

// The cell-name box: tells when its list is about to open, so the list can
// be filled with the history or the call stack first.
class CellNameBox : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    void showPopup() override;
  signals:
    void dropDownOpening();
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow();
    ~MainWindow() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void build_menus();
    void build_children();
    void connect_signals();
    bool translate_accelerator(QObject* watched, QEvent* event);
    bool list_key(QKeyEvent* key);
    bool filter_key(QKeyEvent* key);
    void watch(QObject* object);

    QTimer idle_timer_;
};

// The key table: the command of a key with its modifiers, or 0.
int accelerator_command(int key, Qt::KeyboardModifiers modifiers);
// The keys of a command as menus and tooltips name them ("Alt+R, F5"), ""
// when it has none.
QString accelerator_text(int command);

// The title's modified mark follows the web's.
void window_modified_sync();

// The layout: the desktop workbench (the cell list, console and plot in
// docks around the text, value and script tabs) or the compact one (one
// pane at a time behind six tabs). Either is chosen by the user and kept
// with the user's settings, with the docks' places and sizes.
bool layout_compact();

// Ending the program: at the top level the event loop ends with code, from
// inside a nested loop the process ends at once. Tests replace the ending.
void shell_exit(int code);
bool shell_exiting();
void shell_mark_exiting();
void shell_set_exit_hook(std::function<void(int)> hook);

} // namespace tarvex
