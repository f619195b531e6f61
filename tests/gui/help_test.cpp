// The help window: F1 on the topic of the focused pane, Help > Contents,
// links between the pages, the search, and the key table that names every
// key the window takes.
#include "gui_test_support.h"

#include "shell/help_topics.h"
#include "shell/help_window.h"

#include <QTextBlock>
#include <QTextBrowser>

#include <set>

using namespace tarvex;
using namespace tarvex::gui_test;

namespace {

QTextBrowser* browser() {
    return help_window() ? help_window()->findChild<QTextBrowser*>("help_browser") : nullptr;
}

QString page() { return browser() ? browser()->source().toString() : QString(); }

// A click on the first link to href, as a user makes it.
void click_link(const QString& href) {
    QTextBrowser* b = browser();
    for (QTextBlock block = b->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().anchorHref() != href) continue;
            QTextCursor c(b->document());
            c.setPosition(it.fragment().position() + 1);
            b->setTextCursor(c);
            b->ensureCursorVisible();
            QTest::mouseClick(b->viewport(), Qt::LeftButton, {}, b->cursorRect(c).center());
            return;
        }
    QFAIL(qPrintable("no link to " + href));
}

// The keys a menu item shows beside its text or acts on as its shortcut.
QStringList item_keys(const QAction* a) {
    QStringList keys;
    qsizetype tab = a->text().indexOf('\t');
    if (tab >= 0) keys = a->text().mid(tab + 1).split(", ");
    if (!a->shortcut().isEmpty()) keys << a->shortcut().toString(QKeySequence::NativeText);
    return keys;
}

} // namespace

class HelpTest : public WindowTest {
    Q_OBJECT

  private slots:
    void initTestCase() { window_open_active(); }

    void init() {
        if (help_window()) help_window()->close();
        fresh_web();
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(window_));
    }

    void cleanupTestCase() { window_close(window_); }

    void f1OpensTheTopicOfTheFocusedPane() {
        const struct {
            std::function<void()> focus;
            const char* page;
            const char* shows;
        } cases[] = {
            {[] { click_pane(VIEW_SCRIPT); }, "help:script-language", "set x to expr"},
            {[] { click_pane(VIEW_CONS); }, "help:script-language#input-and-output", "intype"},
            {[] { click_pane(VIEW_TEXT); }, "help:overview", "Ctrl+Shift+S"},
            {[] { key(Qt::Key_1, Qt::ControlModifier); }, "help:overview#moving-around", "Home"},
        };
        for (const auto& c : cases) {
            if (help_window()) help_window()->close();
            window_->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(window_));
            c.focus();
            key(Qt::Key_F1);
            QVERIFY(help_window() && help_window()->isVisible());
            QCOMPARE(page(), QString(c.page));
            QVERIFY2(browser()->toPlainText().contains(c.shows), c.page);
        }
        // The topic text is the console's, read as a page: its table rows
        // are a table, not the spaces that line them up.
        QVERIFY(!browser()->toPlainText().contains("  Ctrl+L"));
    }

    void contentsLinksTheTopicsAndTheTopicsEachOther() {
        menu_command(CMD_HELP_CONTENTS);
        QTRY_COMPARE(QApplication::activeWindow(), help_window());
        QCOMPARE(page(), QString("help:contents"));
        for (int t = 1; t <= HELP_TOPIC_COUNT; ++t)
            QVERIFY(browser()->toPlainText().contains(help_topic_title(t)));
        click_link("help:overview");
        QCOMPARE(page(), QString("help:overview"));
        // The overview names Report Format: a link to it.
        click_link("help:report-format");
        QCOMPARE(page(), QString("help:report-format"));
        QVERIFY(browser()->toPlainText().contains("the name of the cell"));
        key(Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(page(), QString("help:overview"));
    }

    void searchFindsTheTopicsAndThePlaces() {
        menu_command(CMD_HELP_CONTENTS);
        QTRY_COMPARE(QApplication::activeWindow(), help_window());
        QTest::keyClick(focused(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(focused()->objectName(), QString("help_search"));
        const struct {
            const char* words;
            std::vector<const char*> topics;
        } cases[] = {
            {"call stack", {"Overview", "Debugging"}},
            {"GAUSSJ", {"Builtin Functions"}},
            {"dragging fit", {"Overview"}},
            {"nothing-like-this", {}},
        };
        for (const auto& c : cases) {
            QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(focused(), c.words);
            QTest::keyClick(focused(), Qt::Key_Return);
            QVERIFY(page().startsWith("help:search"));
            std::set<QString> found;
            for (int t = 1; t <= HELP_TOPIC_COUNT; ++t)
                if (browser()->toHtml().contains(
                        QString("help:%1\"")
                            .arg(QString(help_topic_title(t)).toLower().replace(' ', '-'))))
                    found.insert(help_topic_title(t));
            QCOMPARE(found, std::set<QString>(c.topics.begin(), c.topics.end()));
        }
        // A place leads into its topic.
        QTest::keyClick(focused(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(focused(), "gaussj");
        QTest::keyClick(focused(), Qt::Key_Return);
        QString html = browser()->toHtml();
        qsizetype at = html.indexOf("help:builtin-functions#");
        QVERIFY(at > 0);
        QString place = html.mid(at, html.indexOf('"', at) - at);
        click_link(place);
        QCOMPARE(page(), place);
    }

    // Every key of the key table and every key a menu item shows is in the
    // help's table of keys, which ends the overview.
    void theHelpListsEveryKey() {
        std::set<QString> listed;
        for (const HelpKey& k : help_keys())
            for (const QString& one : QString::fromStdString(k.keys).split(", "))
                listed.insert(one);
        QStringList missing;
        for (int id = 0; id < 1000; ++id)
            for (const QString& one : accelerator_text(id).split(", ", Qt::SkipEmptyParts))
                if (!listed.count(one)) missing << one;
        for (QMenu* menu : window_->menuBar()->findChildren<QMenu*>())
            for (QAction* a : menu->actions())
                for (const QString& one : item_keys(a))
                    if (!listed.count(one)) missing << a->text() + " " + one;
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join("; ")));
        std::string overview = help_topic_text(1);
        for (const HelpKey& k : help_keys())
            QVERIFY2(overview.find(k.keys) != std::string::npos, k.keys.c_str());
    }
};

QTEST_MAIN(HelpTest)
#include "help_test.moc"
