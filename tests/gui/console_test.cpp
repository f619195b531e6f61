// GUI tests of the console pane's output path against the real main window
// (offscreen): output shows while it streams in, ends with the caret at the
// end in the output style, and the console wraps exactly when a line may
// not fit (long output, typed text, a narrower window).
#include "gui_test_support.h"

#include "script/run_engine.h"
#include "shell/window_layout.h"

#include <QDockWidget>
#include <QSettings>
#include <QStyle>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

QsciScintilla* console() { return shell_windows().console; }

// Clicks into the console's text and returns the widget that takes the keys:
// the focus widget, or the widget clicked where no window manager gives a
// window the focus.
QWidget* click_console() {
    QWidget* target = console()->viewport();
    QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus : target;
}

long sci(unsigned msg, unsigned long w = 0) { return console()->SendScintilla(msg, w); }

std::string line_of_console(long line) {
    long start = sci(QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    long end = sci(QsciScintillaBase::SCI_GETLINEENDPOSITION, static_cast<unsigned long>(line));
    return editor_bytes(console()).substr(size_t(start), size_t(end - start));
}

// Runs home's script with the console shown, as a user watching it does.
void run_script(const std::string& script) {
    shell_show_view(VIEW_SCRIPT);
    shell_windows().script->setText(QString::fromStdString(script));
    key(Qt::Key_5, Qt::ControlModifier);
    key(Qt::Key_F5);
    QCOMPARE(shell_current_view(), VIEW_CONS);
}

} // namespace

class ConsoleTest : public WindowTest {
    Q_OBJECT

  private slots:
    // The wrap measure is checked with the web's proportional font, where
    // narrow and wide characters differ.
    void initTestCase() {
        QSettings(user_organization(), "Tarvex").setValue("editor/fixed_width_code", false);
        window_open_active();
    }

    void init() {
        web_set_modified(false);
        dispatch_command(CMD_NEW_WEB);
        shell_show_view(VIEW_CONS);
        // In the desktop layout the console shares the width with the docks
        // beside it: the window is wider by theirs.
        auto beside = [this] {
            int width = 0;
            if (!layout_compact())
                for (const char* name : {"cells_dock", "plot_dock", "stack_dock"})
                    if (auto* dock = window_->findChild<QDockWidget*>(name);
                        dock && dock->isVisible())
                        width += dock->width() + window_->style()->pixelMetric(
                                                     QStyle::PM_DockWidgetSeparatorExtent);
            return width;
        };
        // Measured again until the docks have been laid out.
        QTRY_VERIFY((window_->resize(900 + beside(), 680), console()->width() > 800));
    }

    void cleanupTestCase() { window_close(window_); }

    void longOutputArrivesWholeAndUnwrapped() {
        run_script("for (home = 1 to 3000) {out('line ', home, ' of the output\\n')}");
        QCOMPARE(sci(QsciScintillaBase::SCI_GETLINECOUNT), 3001L);
        QCOMPARE(line_of_console(0), std::string("line 1 of the output"));
        QVERIFY(line_of_console(2999).find(" of the output") != std::string::npos);
        long length = sci(QsciScintillaBase::SCI_GETLENGTH);
        QCOMPARE(sci(QsciScintillaBase::SCI_GETCURRENTPOS), length);
        for (long pos : {0L, length / 2, length - 1})
            QCOMPARE(int(sci(QsciScintillaBase::SCI_GETSTYLEAT, static_cast<unsigned long>(pos))),
                     STYLE_OUTPUT);
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
    }

    void aLineTooWideForThePaneWraps() {
        run_script(
            "out('short\\n') for (home = 1 to 40) {out('wwwwwwwwww')} out('\\nshort again')");
        QCOMPARE(line_of_console(1), std::string(400, 'w'));
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapWord);
        // The next run starts on an empty console, with short lines only.
        run_script("out('short\\n')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        // Many narrow characters fit where as many wide ones would not.
        std::string narrow(120, 'i');
        QVERIFY(shell_windows().console->SendScintilla(
                    QsciScintillaBase::SCI_TEXTWIDTH, static_cast<unsigned long>(STYLE_OUTPUT),
                    std::string(120, 'W').c_str()) > console()->viewport()->width());
        run_script("out('" + narrow + "')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        QCOMPARE(line_of_console(0), narrow);
        // Tabs count to their stops: a few fit, forty do not.
        run_script("out('" + std::string(4, '\t') + "x')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        run_script("out('" + std::string(40, '\t') + "x')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapWord);
    }

    void narrowerWindowWrapsWhatNoLongerFits() {
        run_script("for (home = 1 to 50) {out('forty characters of text in every line.\\n')}");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        window_->resize(250, 680);
        QTRY_COMPARE(console()->wrapMode(), QsciScintilla::WrapWord);
    }

    void zoomingInWrapsWhatNoLongerFits() {
        run_script("for (home = 1 to 20) {out('sixty characters of text in every line of this "
                   "console pane.\\n')}");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        QWidget* keys = click_console();
        long zoom = sci(QsciScintillaBase::SCI_GETZOOM);
        for (int i = 0; i < 20; ++i)
            QTest::keyClick(keys, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
        QVERIFY(sci(QsciScintillaBase::SCI_GETZOOM) > zoom);
        QTRY_COMPARE_WITH_TIMEOUT(console()->wrapMode(), QsciScintilla::WrapWord, 3000);
        console()->SendScintilla(QsciScintillaBase::SCI_SETZOOM, static_cast<unsigned long>(zoom));
    }

    void typedLongLineWraps() {
        run_script("out('typed below:\\n')");
        QCOMPARE(console()->wrapMode(), QsciScintilla::WrapNone);
        QTest::keyClicks(click_console(), QString(200, 'k'));
        QVERIFY(editor_bytes(console()).find(std::string(200, 'k')) != std::string::npos);
        // The idle tick looks at what was typed.
        QTRY_COMPARE_WITH_TIMEOUT(console()->wrapMode(), QsciScintilla::WrapWord, 3000);
    }

    void outputShowsWhileItStreamsAndStopEndsIt() {
        // The console is brought up to date during the run, not only at its
        // end, and Stop still arrives.
        long seen = 0;
        when([] { return run_active() && output_pump_active() && console()->length() > 0; },
             [&] {
                 seen = console()->length();
                 key(Qt::Key_F5, Qt::ShiftModifier);
             },
             5);
        run_script("for (home = 1 to 10000000) {out('line ', home, ' of a long run\\n')}");
        QVERIFY(!run_active());
        QCOMPARE(status_line_text(), std::string("Run halted"));
        QVERIFY(seen > 0);
        QVERIFY(seen < console()->length());
    }
};

QTEST_MAIN(ConsoleTest)
#include "console_test.moc"
