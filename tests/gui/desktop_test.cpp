// GUI tests of the desktop habits, driven by real keys and clicks: the
// cell-name box (Enter, its own editing keys), undo kept per cell across
// runs, saves and visits, a double click on a link, Save As adding the
// extension, the save question after a run that changed a value, and a
// script error kept marked in the script pane.
#include "gui_test_support.h"

#include "core/value.h"
#include "script/run_engine.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

QWidget* focused() {
    return QApplication::focusWidget();
}

void type(const char* text) {
    QTest::keyClicks(focused(), text);
}

QComboBox* box() {
    return shell_windows().name_box;
}

// Into the cell-name box as a user gets there: a click on it.
void click_box() {
    QTest::mouseClick(box()->lineEdit(), Qt::LeftButton);
    QTRY_VERIFY(box()->hasFocus() || box()->lineEdit()->hasFocus());
}

// Clicks into an editor pane at its end.
void click_pane(int view) {
    shell_show_view(view);
    QsciScintilla* e = slot_editor(view_slot(view));
    QTest::mouseClick(e->viewport(), Qt::LeftButton, {}, QPoint(4, 4));
    QTRY_COMPARE(focus_slot(), view_slot(view));
    key(Qt::Key_End, Qt::ControlModifier);
}

std::string pane_text(int view) {
    return editor_bytes(slot_editor(view_slot(view)));
}

// The middle of the byte at pos in an editor, in viewport coordinates.
QPoint point_of(QsciScintilla* e, long pos) {
    long x = e->SendScintilla(QsciScintillaBase::SCI_POINTXFROMPOSITION, 0UL, pos);
    long y = e->SendScintilla(QsciScintillaBase::SCI_POINTYFROMPOSITION, 0UL, pos);
    return QPoint(int(x) + 2, int(y) + 4);
}

// Acts on the modal window once it is up (the caller then opens it). One
// still up after a while is closed, so that a failing test does not hang.
void when_modal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QPointer<QWidget> w = QApplication::activeModalWidget();
        QTimer::singleShot(10000, [w] {
            if (w && w->isVisible()) w->close();
        });
        act(w);
    });
}

} // namespace

class DesktopTest : public WindowTest {
    Q_OBJECT

    QTemporaryDir dir_;

  private slots:
    void initTestCase() {
        window_ = window_open(frontend_, cancel());
        QApplication::setActiveWindow(window_);
    }

    void init() {
        // A dialog of the last test may have taken the activation with it.
        window_->activateWindow();
        QApplication::setActiveWindow(window_);
        fresh_web();
        // The clicks of one test are no double click with the last one's.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
    }

    // The dialogs' hook back after a test that showed real ones.
    void cleanup() { answer_from_queue(cancel()); }

    void cleanupTestCase() { window_close(window_); }

    void enterInTheNameBoxGoesToTheName() {
        click_box();
        key(Qt::Key_A, Qt::ControlModifier);
        type("fresh");
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("fresh"));
        QVERIFY(cell_find("fresh") != 0);
        QVERIFY(web_modified());
        // Keypad Enter visits an existing cell.
        click_box();
        key(Qt::Key_A, Qt::ControlModifier);
        type("home");
        QTest::keyClick(focused(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(current_name(), std::string("home"));
        // An invalid name is refused and the box shows the current cell.
        click_box();
        key(Qt::Key_A, Qt::ControlModifier);
        type("no good!");
        key(Qt::Key_Return);
        QCOMPARE(status_line_text(), std::string("Invalid cellname"));
        QCOMPARE(box()->currentText(), QString("home"));
        QCOMPARE(current_name(), std::string("home"));
        QVERIFY(cell_find("no") == 0);
    }

    void theNameBoxKeepsItsEditingKeys() {
        set_pane(VIEW_TEXT, "pane text");
        shell_windows().text->selectAll();
        click_box();
        key(Qt::Key_End);
        type("XYZ");
        for (int i = 0; i < 3; ++i)
            key(Qt::Key_Left);
        key(Qt::Key_Delete);
        key(Qt::Key_Delete);
        QCOMPARE(box()->currentText(), QString("homeZ"));
        key(Qt::Key_Backspace);
        key(Qt::Key_Home);
        key(Qt::Key_Delete);
        QCOMPARE(box()->currentText(), QString("omZ"));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box()->currentText(), QString("homZ"));
        key(Qt::Key_A, Qt::ControlModifier);
        key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString("homZ"));
        key(Qt::Key_End);
        key(Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box()->currentText(), QString("homZhomZ"));
        key(Qt::Key_A, Qt::ControlModifier);
        key(Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(box()->currentText(), QString());
        // None of it reached the pane.
        QCOMPARE(pane_text(VIEW_TEXT), std::string("pane text"));
        // In a pane the same keys are the commands.
        click_pane(VIEW_TEXT);
        key(Qt::Key_A, Qt::ControlModifier);
        key(Qt::Key_Delete);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
    }

    void undoOutlivesRunsSavesAndVisits() {
        click_pane(VIEW_TEXT);
        type("abc");
        key(Qt::Key_R, Qt::AltModifier); // Run reloads the panes
        QCOMPARE(text_to_string(cell_text(current_cell())), std::string("abc"));
        QCOMPARE(focused(), static_cast<QWidget*>(shell_windows().text));
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
        key(Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string("abc"));
        key(Qt::Key_Z, Qt::ControlModifier);
        key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string("abc"));

        // Save keeps it too.
        QString file = dir_.filePath("undo.tvx");
        g_answers.push_back(named(file.toStdString()));
        key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(QFile::exists(file));
        QVERIFY(!web_modified());
        click_pane(VIEW_TEXT);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
        QVERIFY(web_modified());
        key(Qt::Key_Y, Qt::ControlModifier);

        // Each cell has its own history: another cell's edits are not undone
        // here, and a cell's first text is not an edit.
        CellHandle other = cell_create("other");
        cell_set_text(other, "given");
        cell_list_add(other);
        click_box();
        key(Qt::Key_A, Qt::ControlModifier);
        type("other");
        key(Qt::Key_Return);
        QCOMPARE(current_name(), std::string("other"));
        click_pane(VIEW_TEXT);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string("given"));
        type("!");
        key(Qt::Key_Left, Qt::AltModifier); // back to home
        QCOMPARE(current_name(), std::string("home"));
        click_pane(VIEW_TEXT);
        key(Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(pane_text(VIEW_TEXT), std::string());
        QCOMPARE(text_to_string(cell_text(cell_find("other"))), std::string("given!"));

        // Redo sits next to Undo in the Edit menu.
        QStringList edit;
        for (QAction* a : window_->menuBar()->actions())
            if (a->text() == "&Edit")
                for (QAction* item : a->menu()->actions())
                    edit << item->text().section('\t', 0, 0); // without the keys shown
        int undo = int(edit.indexOf("&Undo"));
        QVERIFY(undo >= 0);
        QCOMPARE(edit.value(undo + 1), QString("Re&do"));
    }

    void doubleClickOnALinkOnlyVisits() {
        settings_set_create_on_double_click(1);
        make_current(cell_create("target"));
        cell_list_add(current_cell());
        cell_set_text(current_cell(), "plain words here and more");
        make_current(cell_root());
        set_pane(VIEW_TEXT, "target");
        link_refresh();
        QsciScintilla* t = shell_windows().text;
        t->SendScintilla(QsciScintillaBase::SCI_COLOURISE, 0UL, -1L);
        QCOMPARE(int(t->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, 2L)), STYLE_LINK);
        t->setFocus();
        QPoint at = point_of(t, 2);
        // The first click visits: the second lands in the visited cell's
        // text, on "plain".
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
        QTRY_COMPARE(current_name(), std::string("target"));
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
        QTest::qWait(100);
        QCOMPARE(current_name(), std::string("target"));
        QVERIFY(cell_find("plain") == 0);
        QVERIFY(status_line_text() != "Invalid Cellname");
        QVERIFY(!seen(DLG_YES_NO));

        // A plain word still offers itself as a new cell.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        settings_set_ask_before_create(1);
        g_answers.push_back(yes());
        at = point_of(t, 1);
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
        QTRY_VERIFY(seen(DLG_YES_NO, "No such cell. Create it?"));
        QTRY_COMPARE(current_name(), std::string("plain"));
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
        dispatch_command(CMD_SAVE_AS);
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
        dispatch_command(CMD_SAVE_AS);
        QVERIFY2(question.contains("plain.tvx"), qPrintable(question));
        QVERIFY(!QFile::exists(plain));
    }

    void quitAfterARunThatChangedAValueAsks() {
        make_current(cell_create("x"));
        cell_list_add(current_cell());
        make_current(cell_root());
        set_pane(VIEW_SCRIPT, "set x to 5");
        // Typing the script marked the web: save that first.
        QString file = dir_.filePath("quit.tvx");
        g_answers.push_back(named(file.toStdString()));
        click_pane(VIEW_SCRIPT);
        key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!web_modified());
        key(Qt::Key_R, Qt::AltModifier);
        QCOMPARE(value_display(cell_value(cell_find("x"))), std::string("5"));
        QVERIFY(web_modified());
        g_seen.clear();
        g_answers.push_back(cancel());
        key(Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(seen(DLG_SAVE_CHANGES));
        QVERIFY(g_exits.empty());
        // The same run again changes nothing: Quit goes without a question.
        key(Qt::Key_S, Qt::ControlModifier);
        key(Qt::Key_R, Qt::AltModifier);
        QVERIFY(!web_modified());
        g_seen.clear();
        key(Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!seen(DLG_SAVE_CHANGES));
        QCOMPARE(g_exits.size(), size_t(1));
    }

    void aScriptErrorStaysMarkedUntilEditedOrRunAgain() {
        QsciScintilla* s = shell_windows().script;
        const std::string script = "out(1)\r\nset q to q + ) ";
        make_current(cell_create("q"));
        cell_list_add(current_cell());
        make_current(cell_root());
        set_pane(VIEW_SCRIPT, script);
        click_pane(VIEW_SCRIPT);
        key(Qt::Key_R, Qt::AltModifier);
        const long at = long(script.find(')', 8));
        auto marked = [s](long pos) {
            return s->SendScintilla(QsciScintillaBase::SCI_INDICATORVALUEAT, INDICATOR_ERROR,
                                    pos) != 0;
        };
        auto note = [s](long line) {
            char buffer[256] = {};
            s->SendScintilla(QsciScintillaBase::SCI_ANNOTATIONGETTEXT,
                             static_cast<unsigned long>(line), buffer);
            return std::string(buffer);
        };
        const std::string message = "Invalid expression (line 2, column 14)";
        QCOMPARE(status_line_text(), message);
        QVERIFY(marked(at));
        QVERIFY(!marked(at - 2));
        QVERIFY(!marked(2));
        QCOMPARE(note(1), message);
        QCOMPARE(note(0), std::string());
        // Visiting another cell and coming back keeps the marks.
        click_box();
        key(Qt::Key_A, Qt::ControlModifier);
        type("q");
        key(Qt::Key_Return);
        QVERIFY(!marked(at));
        QCOMPARE(note(1), std::string());
        key(Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(current_name(), std::string("home"));
        QVERIFY(marked(at));
        QCOMPARE(note(1), message);
        // Editing the script takes them away.
        click_pane(VIEW_SCRIPT);
        type(" ");
        QVERIFY(!marked(at));
        QCOMPARE(note(1), std::string());
        // They come back with the next failing run, where it failed.
        key(Qt::Key_R, Qt::AltModifier);
        QVERIFY(marked(at));
        key(Qt::Key_A, Qt::ControlModifier);
        type("out(3 * )");
        key(Qt::Key_R, Qt::AltModifier);
        QVERIFY(marked(8)); // the ")"
        QVERIFY(!marked(2));
        QCOMPARE(note(0), std::string("Invalid expression (line 1, column 9)"));
    }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
