// Rename Cell from the keyboard and the menu: the panes and the list follow
// the new name (what the web's fields become: RenameCellTest), and Undo
// Rename gives back the very bytes saved before.
#include "gui_test_support.h"

#include "core/errors.h"

#include <QTemporaryDir>
#include <QTreeWidget>

#include <fstream>
#include <sstream>

using namespace tarvex;
using namespace tarvex::gui_test;

class RenameTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

    std::string saved(const char* name) {
        std::string file = dir_.path().toStdString() + "/" + name;
        dispatch_command(CMD_SAVE_AS, NOTE_NONE, file);
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    const DialogRequest* seen(DialogKind kind) {
        for (const DialogRequest& r : g_seen)
            if (r.kind == kind) return &r;
        return nullptr;
    }

  private slots:
    void initTestCase() { window_open_active(); }
    void init() { fresh_web(true); }
    void cleanupTestCase() { window_close(window_); }

    void f2InTheListRenamesAndCtrlZPutsTheSavedBytesBack() {
        make_cell("rate", "the rate", "out(rate)");
        make_cell("calc", "uses rate and rates", "x = rate * 2 # rate\r\nout('rate')");
        go("rate");
        const std::string before = saved("before.tvx");
        key(Qt::Key_1, Qt::ControlModifier);
        QTreeWidget* list = shell_windows().list;
        QCOMPARE(focused(), static_cast<QWidget*>(list));
        g_answers = {DialogAnswer{true, SAVE_NO, "speed"}, DialogAnswer{true, SAVE_NO, {}}};
        key(Qt::Key_F2);
        const DialogRequest* name = seen(DLG_RENAME_NAME);
        QVERIFY(name && name->text == "rate");
        const DialogRequest* preview = seen(DLG_RENAME_PREVIEW);
        QVERIFY(preview);
        QCOMPARE(QString::fromStdString(preview->text),
                 QString("Rename rate to speed?\ncalc text: 1 link\ncalc script: 1 name\n"
                         "rate text: 1 link\nrate script: 1 name\nalso named in 1 string"));
        QCOMPARE(current_name(), std::string("speed"));
        QCOMPARE(shell_windows().name_box->currentText(), QString("speed"));
        QCOMPARE(pane_text(VIEW_TEXT), std::string("the speed"));
        QVERIFY(list->findItems("speed", Qt::MatchExactly).size() == 1);
        QVERIFY(list->findItems("rate", Qt::MatchExactly).isEmpty());
        QVERIFY(window_->isWindowModified());
        QCOMPARE(focused(), static_cast<QWidget*>(list));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(current_name(), std::string("rate"));
        QCOMPARE(pane_text(VIEW_TEXT), std::string("the rate"));
        QCOMPARE(saved("undone.tvx"), before);
        key(Qt::Key_Z, Qt::ControlModifier); // nothing left to undo
        QCOMPARE(current_name(), std::string("rate"));
        // Renamed and undone with nothing between: the web is as saved.
        g_answers = {DialogAnswer{true, SAVE_NO, "speed"}, DialogAnswer{true, SAVE_NO, {}}};
        key(Qt::Key_F2);
        QCOMPARE(current_name(), std::string("speed"));
        QVERIFY(window_->isWindowModified());
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(current_name(), std::string("rate"));
        QVERIFY(!window_->isWindowModified());
    }

    void menuRenameRefusesWithTheSystemsMessages() {
        make_cell("rate", "rate");
        make_cell("calc");
        go("rate");
        g_answers = {DialogAnswer{true, SAVE_NO, "calc"}};
        menu_command(CMD_RENAME_CELL);
        QVERIFY(seen(DLG_WARN) && seen(DLG_WARN)->text == DUPLICATE_CELL_NAME_TEXT);
        QVERIFY(!seen(DLG_RENAME_PREVIEW));
        QCOMPARE(current_name(), std::string("rate"));
        go("home");
        g_seen.clear();
        menu_command(CMD_RENAME_CELL);
        QVERIFY(seen(DLG_WARN) && seen(DLG_WARN)->text == RENAME_HOME_TEXT);
        // A preview cancelled renames nothing.
        go("rate");
        g_answers = {DialogAnswer{true, SAVE_NO, "speed"}, DialogAnswer{false, SAVE_NO, {}}};
        menu_command(CMD_RENAME_CELL);
        QCOMPARE(current_name(), std::string("rate"));
        QCOMPARE(text_of("rate"), std::string("rate"));
    }
};

QTEST_MAIN(RenameTest)
#include "rename_test.moc"
